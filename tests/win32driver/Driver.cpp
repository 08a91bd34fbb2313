// A small Win32 test driver for GUI tests under Wine. It finds a top-level
// window by its caption and reads or drives its controls through messages:
//
//   win32driver wait  CAPTION [SECONDS]         wait until the window exists
//   win32driver dump  CAPTION                   one line per child: id|class|enabled|visible|text
//   win32driver text  CAPTION ID                the text of control ID (WM_GETTEXT)
//   win32driver click CAPTION TEXT              BN_CLICKED of the button with that caption
//   win32driver check CAPTION TEXT              ticks a check box
//   win32driver close CAPTION                   WM_CLOSE to the window
//   win32driver waittext CAPTION ID TEXT [SECONDS]   wait until control ID contains TEXT
//   win32driver waitgone CAPTION [SECONDS]      wait until the window is gone
//   win32driver hold FILE SECONDS               keeps FILE open (no sharing) for a while
//
// Exit code 0 on success, 1 when a window or control is not found in time.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/WindowsSupport.h"

namespace {

std::string TextOf(HWND h) {
    char buffer[65536];
    LRESULT n = SendMessageA(h, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return std::string(buffer, static_cast<std::size_t>(n));
}

HWND FindTopLevel(const std::string& caption, double seconds) {
    DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        HWND h = FindWindowA(nullptr, caption.c_str());
        if (h) return h;
        if (GetTickCount() > until) return nullptr;
        Sleep(100);
    }
}

BOOL CALLBACK CollectChild(HWND h, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&out));
    return out;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = '~';
    return text;
}

HWND ChildWithText(HWND parent, const std::string& text) {
    for (HWND h : Children(parent))
        if (TextOf(h) == text) return h;
    return nullptr;
}

HWND ChildWithId(HWND parent, int id) {
    for (HWND h : Children(parent))
        if (GetDlgCtrlID(h) == id) return h;
    return nullptr;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "win32driver: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() < 2) return Fail("usage: see the head of Driver.cpp");
    const std::string& cmd = a[0];
    double seconds = 10;
    if (cmd == "hold" && a.size() > 2) {
        ScopedFileHandle h(CreateFileA(a[1].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!h) return Fail("cannot open " + a[1]);
        std::printf("holding\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::atof(a[2].c_str()) * 1000));
        return 0;
    }
    if (cmd == "waitgone") {
        if (a.size() > 2) seconds = std::atof(a[2].c_str());
        DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000);
        while (FindWindowA(nullptr, a[1].c_str())) {
            if (GetTickCount() > until) return Fail("window still there: " + a[1]);
            Sleep(100);
        }
        return 0;
    }
    if (cmd == "wait" && a.size() > 2) seconds = std::atof(a[2].c_str());
    HWND top = FindTopLevel(a[1], seconds);
    if (!top) return Fail("no window: " + a[1]);
    if (cmd == "wait") return 0;
    if (cmd == "dump") {
        for (HWND h : Children(top)) {
            char cls[64] = {};
            GetClassNameA(h, cls, sizeof cls);
            std::printf("%d|%s|%d|%d|%s\n", GetDlgCtrlID(h), cls, IsWindowEnabled(h) ? 1 : 0,
                        IsWindowVisible(h) ? 1 : 0, OneLine(TextOf(h)).c_str());
        }
        return 0;
    }
    if (cmd == "text" && a.size() > 2) {
        HWND h = ChildWithId(top, std::atoi(a[2].c_str()));
        if (!h) return Fail("no control " + a[2]);
        std::printf("%s\n", TextOf(h).c_str());
        return 0;
    }
    if (cmd == "waittext" && a.size() > 3) {
        if (a.size() > 4) seconds = std::atof(a[4].c_str());
        DWORD until = GetTickCount() + static_cast<DWORD>(seconds * 1000);
        for (;;) {
            HWND h = ChildWithId(top, std::atoi(a[2].c_str()));
            if (h && TextOf(h).find(a[3]) != std::string::npos) return 0;
            if (GetTickCount() > until) return Fail("text not seen: " + a[3]);
            Sleep(100);
        }
    }
    if ((cmd == "click" || cmd == "check") && a.size() > 2) {
        HWND h = ChildWithText(top, a[2]);
        if (!h) return Fail("no control with text " + a[2]);
        if (cmd == "check") SendMessageA(h, BM_SETCHECK, BST_CHECKED, 0);
        if (cmd == "click")
            PostMessageA(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), BN_CLICKED),
                         reinterpret_cast<LPARAM>(h));
        return 0;
    }
    if (cmd == "close") {
        PostMessageA(top, WM_CLOSE, 0, 0);
        return 0;
    }
    return Fail("unknown command " + cmd);
}
