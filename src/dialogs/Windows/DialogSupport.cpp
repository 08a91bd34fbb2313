#include "dialogs/Windows/DialogSupport.h"

#include <commctrl.h>

#include <algorithm>

#include "env/System.h"

const char* const kPanelClass = "TPanel";

namespace {

struct DcTraits {
    using handle_type = HDC;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::ReleaseDC(nullptr, h); }
};
using ScopedScreenDc = ScopedHandle<DcTraits>;

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

// Registers the class once: a second call finds it in the system's list.
void RegisterDialogClass(const char* name) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExA(Instance(), name, &wc)) return;
    wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefDlgProcA;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    RegisterClassExA(&wc);
}

LRESULT CALLBACK PanelProc(HWND panel, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
        return SendMessageA(GetParent(panel), msg, wParam, lParam);
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(panel, &ps);
        if (GetWindowLongPtrA(panel, GWLP_USERDATA) == kPanelLowered) {
            RECT r;
            GetClientRect(panel, &r);
            DrawEdge(dc, &r, BDR_SUNKENINNER, BF_RECT);
        }
        EndPaint(panel, &ps);
        return 0;
    }
    }
    return DefWindowProcA(panel, msg, wParam, lParam);
}

void RegisterPanelClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PanelProc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kPanelClass;
    registered = RegisterClassExA(&wc) != 0;
}

}  // namespace

HFONT CreatePointFont(const char* face, int points, int weight) {
    ScopedScreenDc dc(GetDC(nullptr));
    int dpi = dc ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 96;
    return CreatePixelFont(face, MulDiv(points, dpi, 72), weight);
}

HFONT CreatePixelFont(const char* face, int pixels, int weight) {
    return CreateFontA(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

Extent MeasureText(HFONT font, const std::string& text) {
    ScopedScreenDc dc(GetDC(nullptr));
    if (!dc) return Extent{};
    HGDIOBJ previous = SelectObject(dc.get(), font);
    const std::string measured = text.empty() ? std::string(" ") : text;
    RECT r = {0, 0, 0, 0};
    DrawTextA(dc.get(), measured.c_str(), static_cast<int>(measured.size()), &r,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc.get(), previous);
    return Extent{text.empty() ? 0 : r.right - r.left, r.bottom - r.top};
}

HWND CreateChild(HWND parent, const char* className, const std::string& text, DWORD style, int id, const Box& box,
                 HFONT font, DWORD exStyle) {
    HWND child = CreateWindowExA(exStyle, className, text.c_str(), WS_CHILD | style, box.left, box.top, box.width,
                                 box.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(),
                                 nullptr);
    if (child && font) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

void MoveChild(HWND child, const Box& box) { MoveWindow(child, box.left, box.top, box.width, box.height, TRUE); }

void SetClientSize(HWND window, int width, int height) {
    RECT frame = {0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CentreOnWindow(HWND window, HWND anchor) {
    RECT box, area, work;
    GetWindowRect(window, &box);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    if (anchor == nullptr || !GetWindowRect(anchor, &area)) area = work;
    int width = box.right - box.left, height = box.bottom - box.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    x = std::max<int>(work.left, std::min<int>(x, work.right - width));
    y = std::max<int>(work.top, std::min<int>(y, work.bottom - height));
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

Extent ClientSize(HWND window) {
    RECT r = {0, 0, 0, 0};
    GetClientRect(window, &r);
    return Extent{r.right, r.bottom};
}

HWND CreateToolTips(HWND owner) {
    return CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, Instance(), nullptr);
}

void AddToolTip(HWND toolTips, HWND tool, const std::string& text) {
    if (!toolTips || !tool) return;
    TOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = GetParent(tool);
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = const_cast<char*>(text.c_str());  // copied by the control
    SendMessageA(toolTips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void ShowErrorBox(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), ProgramTitle(OwnExePath).c_str(), MB_OK | MB_ICONHAND);
}

INT_PTR DialogResult(HWND dialog, LRESULT result) {
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR RunCodeBuiltDialog(const char* className, DWORD style, HWND owner, DLGPROC proc, LPARAM param) {
    RegisterDialogClass(className);
    // DLGTEMPLATE: style, extended style, no items, position and size (set when
    // the window starts), no menu, the class name, an empty title.
    std::vector<WORD> words;
    auto dword = [&](DWORD d) {
        words.push_back(LOWORD(d));
        words.push_back(HIWORD(d));
    };
    dword(style);
    dword(0);
    for (int i = 0; i < 5; ++i) words.push_back(0);
    words.push_back(0);
    for (const char* c = className; *c; ++c) words.push_back(static_cast<WORD>(static_cast<unsigned char>(*c)));
    words.push_back(0);
    words.push_back(0);
    return DialogBoxIndirectParamA(Instance(), reinterpret_cast<const DLGTEMPLATE*>(words.data()), owner, proc,
                                   param);
}

HWND CreatePanel(HWND parent, int id, const Box& box, LONG_PTR bevel, DWORD style) {
    RegisterPanelClass();
    HWND panel = CreateChild(parent, kPanelClass, "", style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, id, box, nullptr,
                             WS_EX_CONTROLPARENT);
    if (panel) SetWindowLongPtrA(panel, GWLP_USERDATA, bevel);
    return panel;
}
