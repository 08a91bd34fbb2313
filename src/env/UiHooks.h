// What the update logic asks of the window while it works. The window
// implements these; tests and silent runs keep the defaults (which do nothing).
#pragma once

#include <cstdint>
#include <string>

// Never deleted through this interface, so without a virtual destructor.
class UiHooks {
public:
    // Lets the message loop run once (the careful copy does so between blocks).
    virtual void pumpMessages() {}
    // Sets the caption of the progress label and repaints it at once.
    virtual void setProgress(const std::string& text) {}
    // Shows the hourglass (true) or the default cursor (false).
    virtual void setBusyCursor(bool busy) {}
    // Brings the log area up to date at once: a message box is about to open.
    virtual void showLog() {}
    // Shows how far the run's work has got (`done` of `total` bytes) and lets
    // the message loop run, so that the window answers during long work.
    virtual void showWork(std::uint64_t done, std::uint64_t total) {}
};

UiHooks& Ui();
UiHooks* SetUiHooks(UiHooks* hooks);  // nullptr: the do-nothing hooks; returns the previous

// The bytes a run inflates and writes, from the check before its first change
// to its last part, of all it is going to: reported to the window as the work
// goes on, in small steps, so that the window answers while a large entry is
// inflated. Outside a run (total 0) it reports nothing.
class RunProgress {
public:
    void begin(std::uint64_t total);
    void advance(std::uint64_t bytes);
    void end();

private:
    std::uint64_t total_ = 0, done_ = 0;
};
RunProgress& Progress();
