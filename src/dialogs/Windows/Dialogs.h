// The main window's dialogs: the about box and the directory chooser.
#pragma once

#include <string>

#include "platform/WindowsSupport.h"

// What the about box shows; texts are cut to their capacities by the box.
struct AboutFields {
    std::string head1, head2, copyright, email, www;
};

void ShowAboutBox(HWND owner, const AboutFields& fields);
// Lets the user pick or create a folder; `folder` is the start and, on true,
// the choice (ending with "\").
bool ChooseDirectory(HWND owner, std::string& folder);
