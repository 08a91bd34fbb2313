// Questions and messages to the user, through the process's Prompter
// (platform/Prompter.h: real message boxes on Windows, scripted ones in tests).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Prompter.h"

// The "$tag " and "!" rules, then the box; 0 when nothing was shown.
int ShowMessageBox(const std::string& text, std::uint32_t style);
int WarnOkCancel(const std::string& text);    // OK and Cancel, exclamation icon (0x31)
int InfoOk(const std::string& text);          // OK, information icon (0x40)
int AskYesNoCancel(const std::string& text);  // Yes, No and Cancel, question icon (0x23)
int AskRetryCancel(const std::string& text);  // "Wiederholen" and "Abbrechen", exclamation icon (0x35)
int ConfirmYesNoCancelAll(const std::string& text);
void ShowInfo(const std::string& text);
