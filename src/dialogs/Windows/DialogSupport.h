// Helpers shared by the about box and the directory chooser: modal windows
// built in code from an empty in-memory dialog template, fonts, text sizes,
// child controls, tool tips, a plain panel control and the error display.
#pragma once

#include <string>
#include <vector>

#include "dialogs/About.h"
#include "platform/WindowsSupport.h"

struct IconTraits {
    using handle_type = HICON;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::DestroyIcon(h); }
};
using ScopedIcon = ScopedHandle<IconTraits>;

// A font of the given face; `points` converted with the screen's resolution.
HFONT CreatePointFont(const char* face, int points, int weight = FW_NORMAL);
// A font of the given face and character height in pixels.
HFONT CreatePixelFont(const char* face, int pixels, int weight = FW_NORMAL);
// The size of a one-line text in the font (the height of a blank for the empty text).
Extent MeasureText(HFONT font, const std::string& text);

HWND CreateChild(HWND parent, const char* className, const std::string& text, DWORD style, int id, const Box& box,
                 HFONT font, DWORD exStyle = 0);
void MoveChild(HWND child, const Box& box);
// The window's size for the client size, then centred on `anchor` (the screen
// without one) and kept inside the work area.
void SetClientSize(HWND window, int width, int height);
void CentreOnWindow(HWND window, HWND anchor);
Extent ClientSize(HWND window);

// A tool-tip control owned by `owner`, and one tool for a child window.
HWND CreateToolTips(HWND owner);
void AddToolTip(HWND toolTips, HWND tool, const std::string& text);

// The program's general error display: a box with the text, the program's title and a stop icon.
void ShowErrorBox(HWND owner, const std::string& text);
// The result of a message in a dialog procedure (DWLP_MSGRESULT); returns TRUE.
INT_PTR DialogResult(HWND dialog, LRESULT result);

// A modal window of a class of its own (registered once, dialog procedure
// behind it), without controls: they are created when it starts
// (WM_INITDIALOG). Runs the dialog and returns EndDialog's value, -1 on failure.
INT_PTR RunCodeBuiltDialog(const char* className, DWORD style, HWND owner, DLGPROC proc, LPARAM param);

// "TPanel": a container without a frame, or with a lowered inner bevel; it passes
// its children's commands and notifications on to its own parent.
extern const char* const kPanelClass;
enum : LONG_PTR { kPanelPlain = 0, kPanelLowered = 1 };
HWND CreatePanel(HWND parent, int id, const Box& box, LONG_PTR bevel, DWORD style = 0);
