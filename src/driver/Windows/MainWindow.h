// TForm1: the updater's one window, a thin view over UpdateSession.
#pragma once

#include <string>

#include "driver/UpdateSession.h"
#include "env/UiHooks.h"
#include "platform/WindowsSupport.h"

class TForm1 final : public SessionView, public UiHooks {
public:
    // With `undo` (/UNDO), "Start" undoes the package's last run after a question.
    explicit TForm1(bool undo);
    ~TForm1();
    // Creates and shows the window and runs the message loop until it closes.
    int run(HINSTANCE instance);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void createControls();
    void layout(int width, int height);
    void relayout();  // the layout for the current client size
    int textWidth(int id, HGDIOBJ font = nullptr) const;
    void fitHeading(int room);
    bool preview(MSG& msg);

    void FormCreate();
    void ApplicationEvents1Idle();
    void ButtonStartClick();
    bool FormCloseQuery();
    void FormKeyDown(WPARAM key);
    void ButtonUnpackClick();
    void Label1Click();
    void onCommand(int id, int code);

    // SessionView
    void showUpdateName(const std::string& text) override;
    void showVersionText(const std::string& text) override;
    void showCoriText(const std::string& text) override;
    void showCompleted() override;
    bool readsLogInWindow() const override { return true; }
    // UiHooks
    void pumpMessages() override;
    void setProgress(const std::string& text) override;
    void setBusyCursor(bool busy) override;
    void showLog() override { syncLog(); }
    void showWork(std::uint64_t done, std::uint64_t total) override;

    void syncLog();
    void showError(const std::string& text);
    HWND control(int id) const { return GetDlgItem(hwnd_, id); }

    HWND hwnd_ = nullptr;
    HINSTANCE instance_ = nullptr;
    UpdateSession session_;
    StringList log_;
    // What the log area shows: the number of lines, and the first and last of them.
    std::size_t shownLines_ = 0;
    std::string shownFirst_, shownLast_;
    std::string unpackFolder_;
    bool busy_ = false;
    bool firstIdle_ = true;
    DWORD lastPump_ = 0;  // when showWork last let the message loop run (GetTickCount)
    ScopedGdiObject font_, headFont_, boldFont_, blueBrush_;
    int headingSize_ = 0;  // pixels of headFont_
};
