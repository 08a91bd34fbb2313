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
//   win32driver exit CODE [SECONDS [MARK]]      ends with exit code CODE, after SECONDS; with MARK, only
//                                               when the file MARK is not there yet (it is made first)
//   win32driver waitlocked SECONDS              wait until another process holds the updaters' lock
//   win32driver squat SECONDS                   holds a mutex of the updaters' lock's name, made as any user's
//   win32driver swap HOLD PACKAGE ALTERED MODE SECONDS
//                                               keeps HOLD open (no sharing) until an updater holds its
//                                               lock (SECONDS at most) and 2 s more, then changes PACKAGE as
//                                               its owner could: MODE "write" writes ALTERED's bytes over it,
//                                               "rename" renames it to PACKAGE.away and copies ALTERED in its
//                                               place; prints Windows' answer to each step ("rename: refused,
//                                               error 32"), then lets HOLD go
//   win32driver clickid CAPTION ID              BN_CLICKED (STN_CLICKED) of control ID
//   win32driver settext CAPTION ID TEXT         WM_SETTEXT to control ID
//   win32driver key CAPTION ID NAME...          posts key presses (Return, Escape, F2, Tab, Down, Up,
//                                               Left, Right, Home, End or a character) to control ID
//   win32driver point CAPTION ID                screen position "x y" of control ID's centre
//   win32driver rect CAPTION [ID]               control ID: "left top width height" in its parent's
//                                               client area; the window: "left top width height
//                                               clientwidth clientheight" on the screen
//   win32driver resize CAPTION WIDTH HEIGHT     sets the window's size
//   win32driver tree CAPTION ID                 the items of tree-view ID: "depth|selected|label"
//   win32driver treepoint CAPTION ID LABEL      screen position "x y" of the first item with that label
//   win32driver answers CAPTION SECONDS MS [ID] sends WM_NULL every 50 ms for SECONDS, or until control ID
//                                               is enabled; fails when the window takes more than MS to
//                                               answer one; prints the longest answer time in ms
//   win32driver run SECONDS PROGRAM [ARG...]    starts PROGRAM with the arguments joined by blanks (one with
//                                               a blank in quotes); one line "window CLASS|CAPTION" for each
//                                               visible top-level window it shows, then "exit CODE", the code
//                                               whole (a Unix parent of a Windows program sees only its low
//                                               8 bits), or "still running" after SECONDS (the program is
//                                               then ended and the driver exits with 1)
//
// CAPTION may also be "class=NAME" for the top-level window of that class. ID
// may be "ID/CLASS": the first window of that class inside control ID.
// Exit code 0 on success, 1 when a window or control is not found in time.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/UpdaterLock.h"
#include "platform/WindowsSupport.h"

#include <commctrl.h>

namespace {

// A time limit that stays right when the tick count wraps (every 49.7 days).
class Deadline {
public:
    explicit Deadline(double seconds) : start_(GetTickCount()), span_(static_cast<DWORD>(seconds * 1000)) {}
    bool passed() const { return GetTickCount() - start_ > span_; }

private:
    DWORD start_, span_;
};

std::string TextOf(HWND h) {
    char buffer[65536];
    LRESULT n = SendMessageA(h, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return std::string(buffer, static_cast<std::size_t>(n));
}

HWND FindByCaptionOrClass(const std::string& caption) {
    if (caption.rfind("class=", 0) == 0) return FindWindowA(caption.substr(6).c_str(), nullptr);
    return FindWindowA(nullptr, caption.c_str());
}

HWND FindTopLevel(const std::string& caption, double seconds) {
    Deadline deadline(seconds);
    for (;;) {
        HWND h = FindByCaptionOrClass(caption);
        if (h) return h;
        if (deadline.passed()) return nullptr;
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

std::string ClassOf(HWND h) {
    char name[64] = {};
    GetClassNameA(h, name, sizeof name);
    return name;
}

// "ID" or "ID/CLASS" (the first window of that class inside control ID).
HWND FindControl(HWND top, const std::string& address) {
    std::size_t slash = address.find('/');
    HWND h = ChildWithId(top, std::atoi(address.substr(0, slash).c_str()));
    if (!h || slash == std::string::npos) return h;
    for (HWND inner : Children(h))
        if (ClassOf(inner) == address.substr(slash + 1)) return inner;
    return nullptr;
}

using ScopedProcess = ScopedHandle<KernelObjectTraits>;

// A block of memory inside the process that owns a window, for messages whose
// parameters point to memory (tree-view items and rectangles).
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, std::size_t size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
        if (process_) address_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (address_) VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
    }
    bool ok() const { return address_ != nullptr; }
    char* at(std::size_t offset) const { return static_cast<char*>(address_) + offset; }
    void write(const void* data, std::size_t n, std::size_t offset = 0) {
        WriteProcessMemory(process_.get(), at(offset), data, n, nullptr);
    }
    void read(void* data, std::size_t n, std::size_t offset = 0) {
        ReadProcessMemory(process_.get(), at(offset), data, n, nullptr);
    }

private:
    ScopedProcess process_;
    void* address_ = nullptr;
    std::size_t size_;
};

struct TreeItem {
    HTREEITEM handle;
    int depth;
    bool selected;
    std::string label;
};

// Every item of a tree-view in display order, collapsed branches included.
std::vector<TreeItem> TreeItems(HWND tree) {
    std::vector<TreeItem> items;
    RemoteBuffer remote(tree, 1024);
    if (!remote.ok()) return items;
    auto walk = [&](auto&& self, HTREEITEM item, int depth) -> void {
        for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                         reinterpret_cast<LPARAM>(item)))) {
            TVITEMA tv = {};
            tv.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE;
            tv.hItem = item;
            tv.stateMask = TVIS_SELECTED;
            tv.pszText = remote.at(512);
            tv.cchTextMax = 500;
            remote.write(&tv, sizeof tv);
            SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.at(0)));
            remote.read(&tv, sizeof tv);
            char text[501] = {};
            remote.read(text, 500, 512);
            items.push_back(TreeItem{item, depth, (tv.state & TVIS_SELECTED) != 0, text});
            self(self, reinterpret_cast<HTREEITEM>(
                           SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))),
                 depth + 1);
        }
    };
    walk(walk, reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), 0);
    return items;
}

// The screen position of the middle of an item's label; false when it is not shown.
bool TreeItemPoint(HWND tree, HTREEITEM item, POINT& out) {
    RemoteBuffer remote(tree, sizeof(RECT));
    if (!remote.ok()) return false;
    remote.write(&item, sizeof item);
    if (!SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(remote.at(0)))) return false;
    RECT r;
    remote.read(&r, sizeof r);
    out = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    return ClientToScreen(tree, &out) != 0;
}

UINT KeyCode(const std::string& name) {
    const std::pair<const char*, UINT> names[] = {
        {"Return", VK_RETURN}, {"Escape", VK_ESCAPE}, {"F2", VK_F2},     {"Tab", VK_TAB},   {"Down", VK_DOWN},
        {"Up", VK_UP},         {"Left", VK_LEFT},     {"Right", VK_RIGHT}, {"Home", VK_HOME}, {"End", VK_END},
    };
    for (const auto& n : names)
        if (name == n.first) return n.second;
    return name.size() == 1 ? static_cast<UINT>(VkKeyScanA(name[0]) & 0xFF) : 0;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "win32driver: %s\n", what.c_str());
    return 1;
}

// The visible top-level windows of one process, each printed when first seen.
struct WindowWatch {
    DWORD processId;
    std::vector<HWND> seen;
};

BOOL CALLBACK NoteWindow(HWND h, LPARAM p) {
    auto* watch = reinterpret_cast<WindowWatch*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner != watch->processId || !IsWindowVisible(h)) return TRUE;
    for (HWND known : watch->seen)
        if (known == h) return TRUE;
    watch->seen.push_back(h);
    std::printf("window %s|%s\n", ClassOf(h).c_str(), OneLine(TextOf(h)).c_str());
    std::fflush(stdout);
    return TRUE;
}

// Starts a command line and watches it until it ends, looking for its windows every 50 ms.
int RunWatched(double seconds, std::string commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Under load Wine now and then fails to start a process that starts on the next try;
    // each failure is printed with its code, so a lasting one still shows its cause.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            break;
        std::string failure = "cannot start " + commandLine + " (error " + std::to_string(GetLastError()) + ")";
        if (attempt == 3) return Fail(failure);
        Fail(failure + ", trying again");
        Sleep(1000);
    }
    ScopedProcess process(info.hProcess), thread(info.hThread);
    WindowWatch watch{info.dwProcessId, {}};
    Deadline deadline(seconds);
    for (;;) {
        EnumWindows(NoteWindow, reinterpret_cast<LPARAM>(&watch));
        if (WaitForSingleObject(process.get(), 50) == WAIT_OBJECT_0) break;
        if (deadline.passed()) {
            TerminateProcess(process.get(), 1);
            std::printf("still running\n");
            return 1;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
    return 0;
}

// Waits until another process holds the updaters' lock; false after `seconds`.
bool WaitLocked(double seconds) {
    Deadline deadline(seconds);
    while (TryLockUpdater()) {  // taken and let go at once while it is free
        if (deadline.passed()) return false;
        Sleep(100);
    }
    return true;
}

void Report(const char* step, bool done) {
    if (done) std::printf("%s: done\n", step);
    else std::printf("%s: refused, error %lu\n", step, static_cast<unsigned long>(GetLastError()));
    std::fflush(stdout);
}

// Writes the bytes of `from` over the start of the existing file `to`, sharing it as an editor does.
bool WriteOver(const std::string& from, const std::string& to) {
    ScopedFileHandle out(CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    if (!out) return false;
    ScopedFileHandle in(CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[65536];
    DWORD got = 0, put = 0;
    while (in && ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        if (!WriteFile(out.get(), buffer, got, &put, nullptr) || put != got) return false;
    return true;
}

int Swap(const std::vector<std::string>& a) {
    const std::string &hold = a[1], &package = a[2], &altered = a[3], &mode = a[4];
    ScopedFileHandle h(CreateFileA(hold.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h) return Fail("cannot open " + hold);
    std::printf("holding\n");
    std::fflush(stdout);
    if (!WaitLocked(std::atof(a[5].c_str()))) return Fail("no updater took its lock");
    Sleep(2000);  // the updater checks its publisher, then waits for HOLD
    if (mode == "write") {
        Report("write", WriteOver(altered, package));
        return 0;
    }
    bool moved = MoveFileA(package.c_str(), (package + ".away").c_str()) != 0;
    Report("rename", moved);
    if (moved) Report("copy", CopyFileA(altered.c_str(), package.c_str(), FALSE) != 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() < 2) return Fail("usage: see the head of Driver.cpp");
    const std::string& cmd = a[0];
    double seconds = 10;
    if (cmd == "run" && a.size() > 2) {
        std::string commandLine = a[2];
        for (std::size_t i = 3; i < a.size(); ++i)
            commandLine += a[i].find(' ') == std::string::npos ? " " + a[i] : " \"" + a[i] + "\"";
        return RunWatched(std::atof(a[1].c_str()), commandLine);
    }
    if (cmd == "exit") {
        const bool marked = a.size() > 3 && GetFileAttributesA(a[3].c_str()) != INVALID_FILE_ATTRIBUTES;
        if (a.size() > 3 && !marked) ScopedFileHandle(CreateFileA(a[3].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        if (a.size() > 2 && !marked) Sleep(static_cast<DWORD>(std::atof(a[2].c_str()) * 1000));
        return std::atoi(a[1].c_str());
    }
    if (cmd == "hold" && a.size() > 2) {
        ScopedFileHandle h(CreateFileA(a[1].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!h) return Fail("cannot open " + a[1]);
        std::printf("holding\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::atof(a[2].c_str()) * 1000));
        return 0;
    }
    if (cmd == "squat") {
        ScopedKernelObject mutex(CreateMutexA(nullptr, TRUE, "Global\\Mevo.Tarnix.Update.Apply"));
        if (!mutex) return Fail("cannot make the mutex");
        std::printf("squatting\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::atof(a[1].c_str()) * 1000));
        return 0;
    }
    if (cmd == "waitlocked") return WaitLocked(std::atof(a[1].c_str())) ? 0 : Fail("no updater took its lock");
    if (cmd == "swap" && a.size() > 5) return Swap(a);
    if (cmd == "waitgone") {
        if (a.size() > 2) seconds = std::atof(a[2].c_str());
        Deadline deadline(seconds);
        while (FindByCaptionOrClass(a[1])) {
            if (deadline.passed()) return Fail("window still there: " + a[1]);
            Sleep(100);
        }
        return 0;
    }
    if (cmd == "wait" && a.size() > 2) seconds = std::atof(a[2].c_str());
    HWND top = FindTopLevel(a[1], seconds);
    if (!top) return Fail("no window: " + a[1]);
    if (cmd == "wait") return 0;
    if (cmd == "answers" && a.size() > 3) {
        Deadline deadline(std::atof(a[2].c_str()));
        DWORD limit = static_cast<DWORD>(std::atoi(a[3].c_str())), longest = 0;
        HWND done = a.size() > 4 ? FindControl(top, a[4]) : nullptr;
        while (!deadline.passed() && IsWindow(top) && !(done && IsWindowEnabled(done))) {
            DWORD start = GetTickCount();
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutA(top, WM_NULL, 0, 0, SMTO_NORMAL, limit, &result) && IsWindow(top))
                return Fail("no answer within " + a[3] + " ms");
            longest = std::max<DWORD>(longest, GetTickCount() - start);
            Sleep(50);
        }
        std::printf("%lu\n", static_cast<unsigned long>(longest));
        return 0;
    }
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
        HWND h = FindControl(top, a[2]);
        if (!h) return Fail("no control " + a[2]);
        std::printf("%s\n", TextOf(h).c_str());
        return 0;
    }
    if (cmd == "waittext" && a.size() > 3) {
        if (a.size() > 4) seconds = std::atof(a[4].c_str());
        Deadline deadline(seconds);
        for (;;) {
            HWND h = FindControl(top, a[2]);
            if (h && TextOf(h).find(a[3]) != std::string::npos) return 0;
            if (deadline.passed()) return Fail("text not seen: " + a[3]);
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
    if (cmd == "clickid" && a.size() > 2) {
        HWND h = FindControl(top, a[2]);
        if (!h) return Fail("no control " + a[2]);
        PostMessageA(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), BN_CLICKED), reinterpret_cast<LPARAM>(h));
        return 0;
    }
    if (cmd == "settext" && a.size() > 3) {
        HWND h = FindControl(top, a[2]);
        if (!h) return Fail("no control " + a[2]);
        SendMessageA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[3].c_str()));
        return 0;
    }
    if (cmd == "key" && a.size() > 3) {
        HWND h = FindControl(top, a[2]);
        if (!h) return Fail("no control " + a[2]);
        for (std::size_t i = 3; i < a.size(); ++i) {
            UINT vk = KeyCode(a[i]);
            if (vk == 0) return Fail("unknown key " + a[i]);
            LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(vk, 0)) << 16;
            PostMessageA(h, WM_KEYDOWN, vk, 1 | scan);
            PostMessageA(h, WM_KEYUP, vk, 1 | scan | 0xC0000000);
            Sleep(50);
        }
        return 0;
    }
    if (cmd == "point" && a.size() > 2) {
        HWND h = FindControl(top, a[2]);
        RECT r;
        if (!h || !GetWindowRect(h, &r)) return Fail("no control " + a[2]);
        std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        return 0;
    }
    if (cmd == "rect") {
        RECT r, client;
        if (a.size() > 2) {
            HWND h = FindControl(top, a[2]);
            if (!h || !GetWindowRect(h, &r)) return Fail("no control " + a[2]);
            MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
            std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
            return 0;
        }
        GetWindowRect(top, &r);
        GetClientRect(top, &client);
        std::printf("%ld %ld %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top, client.right,
                    client.bottom);
        return 0;
    }
    if (cmd == "resize" && a.size() > 3) {
        SetWindowPos(top, nullptr, 0, 0, std::atoi(a[2].c_str()), std::atoi(a[3].c_str()),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    if ((cmd == "tree" || cmd == "treepoint") && a.size() > 2) {
        HWND tree = FindControl(top, a[2]);
        if (!tree) return Fail("no control " + a[2]);
        for (const TreeItem& item : TreeItems(tree)) {
            if (cmd == "tree") {
                std::printf("%d|%d|%s\n", item.depth, item.selected ? 1 : 0, item.label.c_str());
                continue;
            }
            if (a.size() < 4 || item.label != a[3]) continue;
            POINT p;
            if (!TreeItemPoint(tree, item.handle, p)) return Fail("item not shown: " + a[3]);
            std::printf("%ld %ld\n", p.x, p.y);
            return 0;
        }
        return cmd == "tree" ? 0 : Fail("no item " + (a.size() > 3 ? a[3] : std::string()));
    }
    if (cmd == "close") {
        PostMessageA(top, WM_CLOSE, 0, 0);
        return 0;
    }
    return Fail("unknown command " + cmd);
}
