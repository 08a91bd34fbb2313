// The real message boxes and the four-button confirmation, answered by a
// helper thread that finds the box, reads it and presses a button. They need
// a display: the plain unit run skips them, the end-to-end script
// env_dialogs.sh runs them under a virtual X server.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "env/MessageBoxes.h"
#include "env/Text.h"
#include "platform/WindowsSupport.h"

namespace {

struct SeenBox {
    HWND owner = nullptr;
    std::string caption;
    std::string text;  // of the first static control without SS_ICON
    std::vector<std::string> buttons;
    bool hasIcon = false;
    RECT rect{};
};

std::string WindowText(HWND h) {
    char buffer[1024] = {};
    int n = GetWindowTextA(h, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? std::size_t(n) : 0);
}

std::string ClassOf(HWND h) {
    char buffer[64] = {};
    GetClassNameA(h, buffer, sizeof buffer);
    return buffer;
}

BOOL CALLBACK FindBox(HWND h, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(h, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(h) || ClassOf(h) != "#32770") return TRUE;
    *reinterpret_cast<HWND*>(found) = h;
    return FALSE;
}

BOOL CALLBACK ReadChild(HWND h, LPARAM seen) {
    SeenBox& box = *reinterpret_cast<SeenBox*>(seen);
    std::string cls = ClassOf(h);
    LONG style = GetWindowLongA(h, GWL_STYLE);
    if (cls == "Button") box.buttons.push_back(WindowText(h));
    bool icon = cls == "Static" && (style & SS_TYPEMASK) == SS_ICON;
    if (icon && IsWindowVisible(h) && SendMessageA(h, STM_GETICON, 0, 0) != 0) box.hasIcon = true;
    if (cls == "Static" && !icon && box.text.empty()) box.text = WindowText(h);
    return TRUE;
}

// Waits on its own thread for a dialog box of this process, records it and
// presses the button with the given id (WM_CLOSE when the id is 0).
class Responder {
public:
    explicit Responder(int buttonId) : thread_([this, buttonId] { run(buttonId); }) {}
    ~Responder() {
        if (thread_.joinable()) thread_.join();
    }
    const SeenBox& seen() {
        if (thread_.joinable()) thread_.join();
        return seen_;
    }
    bool found() {
        seen();
        return found_;
    }

private:
    void run(int buttonId) {
        HWND box = nullptr;
        for (int i = 0; i < 200 && box == nullptr; ++i) {
            Sleep(50);
            EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
        }
        if (box == nullptr) return;
        // The box is moved once it is shown: at least 200 ms, then until it stays put (5 s at most).
        RECT last = {};
        for (int i = 0; i < 100; ++i) {
            Sleep(50);
            GetWindowRect(box, &seen_.rect);
            if (i >= 3 && EqualRect(&seen_.rect, &last)) break;
            last = seen_.rect;
        }
        found_ = true;
        seen_.owner = GetWindow(box, GW_OWNER);
        seen_.caption = WindowText(box);
        EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&seen_));
        if (buttonId == 0) {
            PostMessageA(box, WM_CLOSE, 0, 0);
            return;
        }
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
    }

    SeenBox seen_;
    bool found_ = false;
    std::thread thread_;
};

LRESULT CALLBACK PlainWindowProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

std::string ApplicationTitle() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = NamePart(path);
    return name.substr(0, name.rfind('.'));
}

class EnvDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = PlainWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "EnvDialogsMain";
        RegisterClassA(&wc);
        main_ = CreateWindowExA(0, "EnvDialogsMain", "Hauptfenster", WS_OVERLAPPEDWINDOW, 60, 50, 600, 420, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
        if (main_ == nullptr) GTEST_SKIP() << "no display: run by env_dialogs.sh under Xvfb";
        ShowWindow(main_, SW_SHOW);
        SetForegroundWindow(main_);
        SetActiveWindow(main_);
        Pump();
    }
    void TearDown() override {
        if (main_) DestroyWindow(main_);
        Pump();
    }

    static void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }

    HWND main_ = nullptr;
};

TEST_F(EnvDialogs, MessageBoxIsOwnedByTheActiveWindow) {
    Responder responder(IDNO);
    EXPECT_EQ(AskYesNoCancel("Datei ist jünger!\r\rTrotzdem kopieren?"), kAnswerNo);
    ASSERT_TRUE(responder.found());
    EXPECT_EQ(responder.seen().caption, "Hauptfenster");
    EXPECT_TRUE(responder.seen().hasIcon);
    EXPECT_EQ(responder.seen().buttons.size(), 3u);
}

TEST_F(EnvDialogs, MessageBoxWithoutOwnerHasTheApplicationTitle) {
    DestroyWindow(main_);
    main_ = nullptr;
    Pump();
    Responder responder(IDOK);
    EXPECT_EQ(InfoOk("Hinweis"), kAnswerOk);
    ASSERT_TRUE(responder.found());
    EXPECT_EQ(responder.seen().caption, ApplicationTitle());
}

// The foreground belongs to a window of another thread: this thread has no
// active window, as when the updater is not the active application. The
// question is still owned by the main window and carries its title.
TEST_F(EnvDialogs, MessageBoxIsOwnedByTheMainWindowWhenTheUpdaterIsNotActive) {
    std::atomic<HWND> other{nullptr};
    std::atomic<bool> done{false};
    std::thread foreign([&] {
        HWND h = CreateWindowExA(0, "EnvDialogsMain", "Andere Anwendung", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 50,
                                 200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetForegroundWindow(h);
        other = h;
        while (!done) {
            Pump();
            Sleep(10);
        }
        DestroyWindow(h);
    });
    for (int i = 0; i < 100 && (other == nullptr || GetActiveWindow() != nullptr); ++i) {
        Pump();
        Sleep(20);
    }
    ASSERT_EQ(GetActiveWindow(), nullptr) << "the other thread's window did not take the foreground";
    Responder responder(IDNO);
    EXPECT_EQ(AskYesNoCancel("Datei ist jünger!\r\rTrotzdem kopieren?"), kAnswerNo);
    done = true;
    foreign.join();
    ASSERT_TRUE(responder.found());
    EXPECT_EQ(responder.seen().owner, main_);
    EXPECT_EQ(responder.seen().caption, "Hauptfenster");
}

TEST_F(EnvDialogs, ConfirmationWithFourButtons) {
    struct Case {
        int button;
        int answer;
    } cases[] = {{IDYES, kAnswerYes}, {IDNO, kAnswerNo}, {IDCANCEL, kAnswerCancel}, {kAnswerAll, kAnswerAll},
                 {0, kAnswerCancel}};
    for (const Case& c : cases) {
        Responder responder(c.button);
        EXPECT_EQ(ConfirmYesNoCancelAll("C:\\Ziel\\a.ttf\rist jünger!\r\rÜberschreiben?"), c.answer) << c.button;
        ASSERT_TRUE(responder.found());
        EXPECT_EQ(responder.seen().caption, "Bestätigen");
        EXPECT_EQ(responder.seen().text, "C:\\Ziel\\a.ttf\r\nist jünger!\r\n\r\nÜberschreiben?");
        EXPECT_EQ(responder.seen().buttons, (std::vector<std::string>{"Ja", "Nein", "Abbrechen", "Alle"}));
        EXPECT_TRUE(responder.seen().hasIcon);
    }
}

TEST_F(EnvDialogs, InformationBoxIsCentredOnTheMainWindow) {
    Responder responder(IDOK);
    ShowInfo("Das Update ist beschädigt oder unvollständig.");
    ASSERT_TRUE(responder.found());
    const SeenBox& box = responder.seen();
    EXPECT_EQ(box.caption, ApplicationTitle());
    EXPECT_FALSE(box.hasIcon);
    EXPECT_EQ(box.buttons.size(), 1u);
    RECT main;
    GetWindowRect(main_, &main);
    EXPECT_NEAR((box.rect.left + box.rect.right) / 2, (main.left + main.right) / 2, 1);
    EXPECT_NEAR((box.rect.top + box.rect.bottom) / 2, (main.top + main.bottom) / 2, 1);
}

}  // namespace
