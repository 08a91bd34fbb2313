#include "dialogs/Windows/Dialogs.h"

#include "dialogs/DirChooser.h"
#include "dialogs/Windows/AboutBox.h"
#include "dialogs/Windows/FormDirSel.h"
#include "env/System.h"

namespace {

// The main window's about box: no help button, title "Info", the built-in
// picture, centred lines. It lives as long as the process: never destroyed,
// so the program's exit has nothing to take down.
TAbout& About1() {
    static TAbout& about = *new TAbout([] {
        TAbout a(OwnExePath);
        a.HelpContext = 0;
        a.Caption = "Info";
        a.ImageName = "VRN_TOKA";
        a.Alignment = TAlignment::taCenter;
        a.helpBtnText = "&Hilfe";
        return a;
    }());
    return about;
}

// The main window's directory chooser, 350 x 400 at first; never destroyed either.
TDirDlg& DirDlg1() {
    static TDirDlg& dialog = *new TDirDlg([] {
        TDirDlg d;
        d.FontSize = 0;
        d.Width = 350;
        d.Height = 400;
        return d;
    }());
    return dialog;
}

}  // namespace

void ShowAboutBox(HWND owner, const AboutFields& fields) {
    TAbout& about = About1();
    about.Head1 = fields.head1;
    about.Head2 = fields.head2;
    about.setCopyright(fields.copyright);
    about.eMail = fields.email;
    about.WWW = fields.www;
    about.Execute(owner);
}

bool ChooseDirectory(HWND owner, std::string& folder) {
    TDirDlg& chooser = DirDlg1();
    chooser.Directory = folder;
    bool chosen = chooser.Execute(owner);
    folder = chooser.Directory;
    return UnpackFolderChosen(chosen, folder);
}
