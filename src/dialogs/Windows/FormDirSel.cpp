#include "dialogs/Windows/FormDirSel.h"

#include <shellapi.h>

#include <exception>

#include "dialogs/DirChooser.h"
#include "dialogs/Windows/DialogIds.h"
#include "env/MessageBoxes.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
#include "update/Folders.h"

namespace {

// The window's design: client area, and each control's place and anchors in it.
const Extent kDesignClient{310, 334};
const Extent kDesignPanelNewFolder{278, 41};

struct Placement {
    int id;
    Box box;
    unsigned anchors;
};

const Placement kPlacements[] = {
    {kIdShellTreeView1, {0, 32, 310, 257}, akLeft | akTop | akRight | akBottom},
    {kIdPanel1, {0, 0, 310, 33}, akLeft | akTop | akRight},
    {kIdPanelNewFolder, {32, 290, 278, 41}, akLeft | akRight | akBottom},
    {kIdBitBtnCancel, {33, 304, 132, 25}, akRight | akBottom},
    {kIdBitBtnOK, {177, 304, 132, 25}, akRight | akBottom},
    {kIdSpeedButton1, {5, 306, 23, 22}, akLeft | akBottom},
};
const Box kLabelDirectory{0, 8, 310, 16};  // in Panel1, stretched with it
const Box kLabelNewFolder{8, 9, 120, 16};
const Box kEditNewFolder{136, 6, 134, 21};  // in PanelNewFolder: left, top, right

Box DesignBox(int id) {
    for (const Placement& p : kPlacements)
        if (p.id == id) return p.box;
    return Box{};
}

}  // namespace

bool TDirDlg::Execute(HWND owner) {
    TFormDirSel form(*this, owner);
    return form.ShowModal();
}

bool TFormDirSel::ShowModal() {
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN | DS_MODALFRAME;
    return RunCodeBuiltDialog("TFormDirSel", style, owner_, Proc, reinterpret_cast<LPARAM>(this)) == IDOK;
}

INT_PTR CALLBACK TFormDirSel::Proc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    auto* self = reinterpret_cast<TFormDirSel*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!self) return FALSE;
    try {
        if (msg == WM_INITDIALOG) self->dialog_ = dialog;
        return self->handle(msg, wParam, lParam);
    } catch (const std::exception& e) {
        ShowErrorBox(dialog, e.what());
    } catch (...) {
        ShowErrorBox(dialog, "Unbekannter Fehler");
    }
    // A window that could not be built ends; otherwise the dialog stays open.
    if (msg == WM_INITDIALOG) EndDialog(dialog, IDCANCEL);
    return TRUE;
}

INT_PTR TFormDirSel::handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        FormCreate();
        return FALSE;  // the focus is set
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) FormActivate();
        return FALSE;
    case WM_SIZE:
        layout();
        return TRUE;
    case WM_WINDOWPOSCHANGING:
        FormCanResize(*reinterpret_cast<WINDOWPOS*>(lParam));
        return FALSE;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        Extent least = minimumSize();
        info->ptMinTrackSize = POINT{least.width, least.height};
        return TRUE;
    }
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!ShellTreeView1.notify(*reinterpret_cast<const NMHDR*>(lParam), result)) return FALSE;
        return DialogResult(dialog_, result);
    }
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) != ShellTreeView1.handle()) return FALSE;
        ShellTreeView1.showContextMenu(POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        return TRUE;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        close(IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

void TFormDirSel::onCommand(int id, int code) {
    switch (id) {
    case kIdBitBtnOK: close(IDOK); break;
    case kIdBitBtnCancel: close(IDCANCEL); break;
    // Enter and Escape, as the dialog manager reports them.
    case IDOK:
        if (buttonsActive_) close(IDOK);
        break;
    case IDCANCEL:
        if (buttonsActive_) close(IDCANCEL);
        break;
    case kIdSpeedButton1: SpeedButton1Click(); break;
    case kIdMenuNewFolder: NewFolderItemClick(); break;
    case kIdEditNewFolder:
        if (code == EN_KILLFOCUS) EditNewFolderExit();
        break;
    }
}

// Steps of Execute before the window is shown: font and title, controls, size,
// the tree at the kept folder with its menu, the new-folder button.
void TFormDirSel::FormCreate() {
    font_.reset(dlg_.FontSize != 0 ? CreatePointFont("MS Sans Serif", dlg_.FontSize)
                                   : CreatePixelFont("MS Sans Serif", 13));
    SetWindowTextA(dialog_, dlg_.Caption.c_str());
    SetClientSize(dialog_, kDesignClient.width, kDesignClient.height);
    createControls();
    if (dlg_.Width != 0 || dlg_.Height != 0) {
        RECT r;
        GetWindowRect(dialog_, &r);
        int width = dlg_.Width != 0 ? dlg_.Width : r.right - r.left;
        int height = dlg_.Height != 0 ? dlg_.Height : r.bottom - r.top;
        SetWindowPos(dialog_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    layout();
    CentreOnWindow(dialog_, owner_);
    startTree();
    ShowWindow(control(kIdSpeedButton1), dlg_.NewFolderVisible ? SW_SHOW : SW_HIDE);
    ShellTreeView1Change();
    SetFocus(ShellTreeView1.handle());
}

// In tab order: the tree, Panel1, PanelNewFolder, Cancel, OK; then the flat new-folder button.
void TFormDirSel::createControls() {
    HFONT font = static_cast<HFONT>(font_.get());
    const Box tree = DesignBox(kIdShellTreeView1);
    ShellTreeView1.create(dialog_, kIdShellTreeView1, tree.left, tree.top, tree.width, tree.height, font);
    ShellTreeView1.onChange = {[](void* form) { static_cast<TFormDirSel*>(form)->ShellTreeView1Change(); }, this};

    HWND panel1 = CreatePanel(dialog_, kIdPanel1, DesignBox(kIdPanel1), kPanelPlain, WS_VISIBLE);
    labelDirectory_ = CreateChild(panel1, "STATIC", "LabelDirectory", WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS,
                                  kIdLabelDirectory, kLabelDirectory, font);

    panelNewFolder_ = CreatePanel(dialog_, kIdPanelNewFolder, DesignBox(kIdPanelNewFolder), kPanelLowered);
    CreateChild(panelNewFolder_, "STATIC", "Neuer Ordner:", WS_VISIBLE | SS_LEFT, kIdLabelNewFolder, kLabelNewFolder,
                font);
    editNewFolder_ = CreateChild(panelNewFolder_, "EDIT", "neuerOrdner", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                                 kIdEditNewFolder, kEditNewFolder, font, WS_EX_CLIENTEDGE);
    SetWindowLongPtrA(editNewFolder_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    editProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(editNewFolder_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TFormDirSel::EditProc)));

    CreateChild(dialog_, "BUTTON", "Abbrechen", WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_PUSHBUTTON,
                kIdBitBtnCancel, DesignBox(kIdBitBtnCancel), font);
    CreateChild(dialog_, "BUTTON", "OK", WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_DEFPUSHBUTTON, kIdBitBtnOK,
                DesignBox(kIdBitBtnOK), font);
    SendMessageA(dialog_, DM_SETDEFID, kIdBitBtnOK, 0);

    HWND speed = CreateChild(dialog_, "BUTTON", "", WS_CLIPSIBLINGS | BS_PUSHBUTTON | BS_FLAT | BS_ICON,
                             kIdSpeedButton1, DesignBox(kIdSpeedButton1), font);
    SHFILEINFOA info = {};
    if (SHGetFileInfoA("Ordner", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info,
                       SHGFI_ICON | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES))
        folderIcon_.reset(info.hIcon);
    SendMessageA(speed, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(folderIcon_.get()));
    toolTips_ = CreateToolTips(dialog_);
    AddToolTip(toolTips_, speed, "neuen Ordner anlegen");
}

// The kept folder, when it exists: selected, with the context menu and the
// notifications of name editing. A folder the tree cannot show is reported
// and the window opens all the same.
void TFormDirSel::startTree() {
    if (dlg_.Directory.empty() || !FolderExists(dlg_.Directory)) return;
    menu_.reset(CreatePopupMenu());
    AppendMenuA(menu_.get(), MF_STRING, kIdMenuNewFolder, kNewFolderMenuText);
    ShellTreeView1.contextMenu = menu_.get();
    ShellTreeView1.onEditStart = {[](void* form) { static_cast<TFormDirSel*>(form)->ShellTreeView1Editing(); }, this};
    ShellTreeView1.onEditEnd = {[](void* form) { static_cast<TFormDirSel*>(form)->ShellTreeView1Edited(); }, this};
    try {
        ShellTreeView1.setPath(dlg_.Directory);
    } catch (const std::exception& e) {
        ShowErrorBox(dialog_, e.what());
    }
}

void TFormDirSel::layout() {
    const Extent client = ClientSize(dialog_);
    if (!labelDirectory_ || client.width == 0 || client.height == 0) return;  // not built yet, or minimised
    for (const Placement& p : kPlacements) {
        HWND h = control(p.id);
        if (h) MoveChild(h, AnchoredBox(p.box, kDesignClient, p.anchors, client));
    }
    const Extent panel1 = ClientSize(control(kIdPanel1));
    MoveChild(labelDirectory_, AnchoredBox(kLabelDirectory, kDesignClient, akLeft | akTop | akRight,
                                           Extent{panel1.width, kDesignClient.height}));
    MoveChild(editNewFolder_, AnchoredBox(kEditNewFolder, kDesignPanelNewFolder, akLeft | akTop | akRight,
                                          ClientSize(panelNewFolder_)));
}

Extent TFormDirSel::minimumSize() const {
    return MinimumChooserSize(DesignBox(kIdBitBtnCancel).width, DesignBox(kIdSpeedButton1).width);
}

void TFormDirSel::FormCanResize(WINDOWPOS& pos) const {
    if (pos.flags & SWP_NOSIZE) return;
    const Extent least = minimumSize();
    if (pos.cx < least.width) pos.cx = least.width;
    if (pos.cy < least.height) pos.cy = least.height;
}

// On the first activation: the kept folder, or its nearest existing ancestor.
// Later activations (after a message box, or coming back from another program)
// leave the user's selection alone.
void TFormDirSel::FormActivate() {
    if (activated_) return;
    activated_ = true;
    if (dlg_.Directory.empty()) return;
    std::string folder = NearestExistingFolder(dlg_.Directory);
    if (!folder.empty()) ShellTreeView1.setPath(folder);
}

void TFormDirSel::ShellTreeView1Change() { SetWindowTextA(labelDirectory_, ShellTreeView1.path().c_str()); }

void TFormDirSel::ShellTreeView1Editing() {
    setDefaultButtons(false);
    ShellTreeView1.setPath(FolderPart(ShellTreeView1.path()));
}

void TFormDirSel::ShellTreeView1Edited() { setDefaultButtons(true); }

void TFormDirSel::SpeedButton1Click() {
    setDefaultButtons(false);
    ShowWindow(panelNewFolder_, SW_SHOW);
    SetFocus(editNewFolder_);
}

void TFormDirSel::EditNewFolderKeyPress(char key) {
    if (key == '\r') {
        char text[MAX_PATH] = {};
        GetWindowTextA(editNewFolder_, text, sizeof text);
        std::string path = NewFolderPath(ShellTreeView1.path(), text);
        if (path.empty() || !Fs().createFolder(path)) {
            ShowInfo(kFolderNotCreatedText);
        } else {
            ShellTreeView1.refresh(ShellTreeView1.selected());
            ShellTreeView1.expand(ShellTreeView1.selected());  // the new folder in sight
        }
    }
    hideNewFolderPanel();
}

// Leaving the name box closes the panel; Enter and Escape work on the buttons again.
void TFormDirSel::EditNewFolderExit() {
    ShowWindow(panelNewFolder_, SW_HIDE);
    setDefaultButtons(true);
}

void TFormDirSel::hideNewFolderPanel() {
    ShowWindow(panelNewFolder_, SW_HIDE);
    setDefaultButtons(true);
    SetFocus(ShellTreeView1.handle());
}

void TFormDirSel::NewFolderItemClick() {
    std::string path = NewFolderPath(ShellTreeView1.path(), kNewFolderName);
    if (path.empty()) return;  // no folder to create it in
    Fs().createFolder(path);
    ShellTreeView1.refresh(ShellTreeView1.selected());
    ShellTreeView1.setPath(path);
}

void TFormDirSel::setDefaultButtons(bool active) {
    buttonsActive_ = active;
    SendMessageA(dialog_, DM_SETDEFID, active ? kIdBitBtnOK : 0, 0);
    SendMessageA(control(kIdBitBtnOK), BM_SETSTYLE, active ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TFormDirSel::close(int result) {
    RECT r;
    if (GetWindowRect(dialog_, &r)) {
        dlg_.Width = r.right - r.left;
        dlg_.Height = r.bottom - r.top;
    }
    dlg_.Directory = ChosenDirectory(ShellTreeView1.path());
    EndDialog(dialog_, result);
}

// Enter and Escape in the name box belong to it: Enter creates the folder,
// both close the panel. Everything else edits the text as usual.
LRESULT CALLBACK TFormDirSel::EditProc(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TFormDirSel*>(GetWindowLongPtrA(edit, GWLP_USERDATA));
    const bool enterOrEscape = wParam == VK_RETURN || wParam == VK_ESCAPE;
    if (msg == WM_GETDLGCODE) {
        LRESULT code = CallWindowProcA(self->editProc_, edit, msg, wParam, lParam);
        const MSG* m = reinterpret_cast<const MSG*>(lParam);
        if (m && (m->message == WM_KEYDOWN || m->message == WM_CHAR) && (m->wParam == VK_RETURN || m->wParam == VK_ESCAPE))
            code |= DLGC_WANTALLKEYS;
        return code;
    }
    if ((msg == WM_CHAR || msg == WM_KEYDOWN) && enterOrEscape) {
        if (msg == WM_KEYDOWN) return 0;  // acted on as a character
        try {
            self->EditNewFolderKeyPress(wParam == VK_RETURN ? '\r' : '\x1B');
        } catch (const std::exception& e) {
            ShowErrorBox(GetParent(GetParent(edit)), e.what());
        } catch (...) {
            ShowErrorBox(GetParent(GetParent(edit)), "Unbekannter Fehler");
        }
        return 0;
    }
    return CallWindowProcA(self->editProc_, edit, msg, wParam, lParam);
}
