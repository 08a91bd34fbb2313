// The directory chooser: the component TDirDlg, which keeps its settings and
// the chosen folder between calls, and its window TFormDirSel, which exists
// only during Execute.
#pragma once

#include <string>

#include "dialogs/Windows/DialogSupport.h"
#include "dialogs/Windows/ShellTreeView.h"

class TDirDlg {
public:
    // Shows the chooser modally, centred on `owner`; true when it was closed
    // with OK. Either way Directory becomes the selection at closing (ending
    // with "\", a lone "\" for an entry without a path) and Width and Height the
    // window's last size.
    bool Execute(HWND owner);

    std::string Directory;
    std::string Caption;
    int FontSize = 0;  // points; 0: the font's own height
    int Width = 350;
    int Height = 400;
    bool NewFolderVisible = true;
};

struct MenuTraits {
    using handle_type = HMENU;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::DestroyMenu(h); }
};
using ScopedMenu = ScopedHandle<MenuTraits>;

class TFormDirSel {
public:
    TFormDirSel(TDirDlg& component, HWND owner) : dlg_(component), owner_(owner) {}
    TFormDirSel(const TFormDirSel&) = delete;
    TFormDirSel& operator=(const TFormDirSel&) = delete;
    bool ShowModal();

private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK EditProc(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void onCommand(int id, int code);

    void FormCreate();
    void createControls();
    void startTree();
    void layout();
    void FormActivate();
    void FormCanResize(WINDOWPOS& pos) const;
    Extent minimumSize() const;
    void ShellTreeView1Change();
    void ShellTreeView1Editing();
    void ShellTreeView1Edited();
    void SpeedButton1Click();
    void EditNewFolderKeyPress(char key);
    void EditNewFolderExit();
    void NewFolderItemClick();
    void setDefaultButtons(bool active);
    void hideNewFolderPanel();
    void close(int result);
    HWND control(int id) const { return GetDlgItem(dialog_, id); }

    TDirDlg& dlg_;
    HWND owner_;
    HWND dialog_ = nullptr;
    HWND panelNewFolder_ = nullptr, editNewFolder_ = nullptr, labelDirectory_ = nullptr, toolTips_ = nullptr;
    TShellTreeView ShellTreeView1;
    ScopedGdiObject font_;
    ScopedIcon folderIcon_;
    ScopedMenu menu_;
    WNDPROC editProc_ = nullptr;
    bool buttonsActive_ = true;  // OK is the default button, Cancel the cancel button
    bool activated_ = false;
};
