// Questions and messages to the user. Everything goes through one Prompter:
// real message boxes on Windows, a scripted one in tests and silent runs.
#pragma once

#include <cstdint>
#include <string>

// Answer codes as Windows defines them; kAnswerAll for the four-button confirmation.
enum : int {
    kAnswerNone = 0,
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerYes = 6,
    kAnswerNo = 7,
    kAnswerAll = 100,
};

// Message-box styles, as Windows defines them.
enum : std::uint32_t {
    kMbOk = 0x00,
    kMbOkCancel = 0x01,
    kMbYesNoCancel = 0x03,
    kMbIconHand = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconExclamation = 0x30,
    kMbIconInformation = 0x40,
    kMbIconMask = 0xF0,
};

class Prompter {
public:
    virtual ~Prompter() = default;
    // A message box with the given text and style; returns the answer code.
    virtual int messageBox(const std::string& text, std::uint32_t style) = 0;
    // The confirmation with Yes, No, Cancel and All.
    virtual int confirmYesNoCancelAll(const std::string& text) = 0;
    // The driver's information box: no icon, OK, centred on the main window.
    virtual void showInfo(const std::string& text) = 0;
};

Prompter& Prompts();
Prompter* SetPrompter(Prompter* prompter);  // nullptr: the platform's own; returns the previous

// The "$tag " and "!" rules, then the box; 0 when nothing was shown.
int ShowMessageBox(const std::string& text, std::uint32_t style);
int WarnOkCancel(const std::string& text);
int InfoOk(const std::string& text);
int AskYesNoCancel(const std::string& text);
int ConfirmYesNoCancelAll(const std::string& text);
void ShowInfo(const std::string& text);
