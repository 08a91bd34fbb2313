// The main window's dialogs: the about box and the directory chooser.
#pragma once

#include <string>

#include "platform/WindowsSupport.h"

// What the about box shows; texts are cut to their capacities by the box.
struct AboutFields {
    std::string head1, head2, copyright, email, www;
};

// The about box (About1) with the update's texts, centred on `owner`.
void ShowAboutBox(HWND owner, const AboutFields& fields);
// The directory chooser (DirDlg1) started at `folder`. Afterwards `folder` is
// the selection at closing (ending with "\"), also after a cancel, so the next
// call starts there. True only when the user chose a folder with OK.
bool ChooseDirectory(HWND owner, std::string& folder);
