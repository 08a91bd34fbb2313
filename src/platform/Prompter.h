// Questions and messages to the user. Everything goes through one Prompter:
// real message boxes on Windows, a scripted one in tests and silent runs, and
// natively one that answers safely without asking anybody.
#pragma once

#include <cstdint>
#include <string>

// Answer codes as Windows defines them; kAnswerAll for the four-button confirmation.
enum : int {
    kAnswerNone = 0,
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerRetry = 4,
    kAnswerYes = 6,
    kAnswerNo = 7,
    kAnswerAll = 100,
};

// Message-box styles, as Windows defines them.
enum : std::uint32_t {
    kMbOk = 0x00,
    kMbOkCancel = 0x01,
    kMbYesNoCancel = 0x03,
    kMbYesNo = 0x04,
    kMbRetryCancel = 0x05,  // "Wiederholen" and "Abbrechen"
    kMbButtonMask = 0x0F,
    kMbIconHand = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconExclamation = 0x30,
    kMbIconInformation = 0x40,
    kMbIconMask = 0xF0,
};

class Prompter {
protected:
    // Never deleted through the interface: the services live as long as the
    // process, and a static instance with a trivial destructor needs no exit handler.
    ~Prompter() = default;

public:
    // A message box with the given text and style; returns the answer code.
    virtual int messageBox(const std::string& text, std::uint32_t style) = 0;
    // The confirmation with Yes, No, Cancel and All.
    virtual int confirmYesNoCancelAll(const std::string& text) = 0;
    // The driver's information box: no icon, OK, centred on the main window.
    virtual void showInfo(const std::string& text) = 0;
};

Prompter& Prompts();
Prompter* SetPrompter(Prompter* prompter);  // nullptr: the platform's own; returns the previous
Prompter& PlatformPrompter();

// The answer that changes nothing, for a box of the given style: OK for a
// message, Cancel for OK/Cancel, No for questions (so an existing file is kept).
int SafeAnswer(std::uint32_t style);
