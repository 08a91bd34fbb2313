// What the update logic asks of the window while it works. The window
// implements these; tests and silent runs keep the defaults (which do nothing).
#pragma once

#include <string>

class UiHooks {
public:
    virtual ~UiHooks() = default;
    // Lets the message loop run once (the careful copy does so between blocks).
    virtual void pumpMessages() {}
    // Sets the caption of the progress label and repaints it at once.
    virtual void setProgress(const std::string& text) {}
    // Shows the hourglass (true) or the default cursor (false).
    virtual void setBusyCursor(bool busy) {}
    // Brings the log area up to date at once: a message box is about to open.
    virtual void showLog() {}
};

UiHooks& Ui();
UiHooks* SetUiHooks(UiHooks* hooks);  // nullptr: the do-nothing hooks; returns the previous
