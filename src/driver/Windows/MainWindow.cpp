#include "driver/Windows/MainWindow.h"

#include <commctrl.h>
#include <exception>

#include "dialogs/Windows/Dialogs.h"
#include "driver/CommandLine.h"
#include "driver/Windows/MainWindowIds.h"
#include "env/MessageBoxes.h"
#include "env/System.h"
#include "env/Text.h"
#include "update/UpdateParts.h"

namespace {

constexpr UINT kMsgFirstIdle = WM_APP + 1;
constexpr int kProgressSteps = 1000;
constexpr DWORD kPumpInterval = 40;  // milliseconds between two turns of the message loop during work
constexpr const char* kClassName = "TForm1";
constexpr COLORREF kYellow = RGB(255, 255, 0), kBlue = RGB(0, 0, 160);
constexpr const char* kHeadingFace = "Times New Roman";
constexpr int kHeadingSizes[] = {24, 22, 20, 18, 16};  // pixels, largest first

std::string ApplicationTitle() {
    std::string name = NamePart(OwnExePath);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

HFONT MakeFont(const char* face, int height, int weight) {
    return CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
}

std::string Joined(const StringList& lines, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < lines.size(); ++i) text += (i == 0 ? "" : "\r\n") + lines[i];
    return text;
}

}  // namespace

TForm1::TForm1(bool undo) : session_(*this) { session_.Undo = undo; }
TForm1::~TForm1() { SetUiHooks(nullptr); }

int TForm1::run(HINSTANCE instance) {
    instance_ = instance;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "MAINICON");
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassExA(&wc);

    hwnd_ = CreateWindowExA(WS_EX_CONTROLPARENT, kClassName, "Update", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                            CW_USEDEFAULT, CW_USEDEFAULT, 600, 460, nullptr, nullptr, instance, this);
    if (!hwnd_) return 3;
    SetUiHooks(this);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    PostMessageA(hwnd_, kMsgFirstIdle, 0, 0);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (preview(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

// Key preview and dialog navigation (Tab, Enter for the default button, Esc for "Abbrechen").
bool TForm1::preview(MSG& msg) {
    if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return false;
    if (msg.message == WM_KEYDOWN) FormKeyDown(msg.wParam);
    return IsDialogMessageA(hwnd_, &msg) != 0;
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcA(hwnd, msg, wParam, lParam);
    try {
        return form->handle(msg, wParam, lParam);
    } catch (const std::exception& e) {
        form->setBusyCursor(false);
        form->showError(e.what());
    } catch (...) {
        form->setBusyCursor(false);
        form->showError("Unbekannter Fehler");
    }
    return 0;
}

LRESULT TForm1::handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        createControls();
        FormCreate();
        return 0;
    case kMsgFirstIdle:
        ApplicationEvents1Idle();
        return 0;
    case WM_SIZE:
        layout(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_GETMINMAXINFO:
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(session_.Completed ? kIdButtonComplete : kIdButtonStart, DC_HASDEFID);
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC:
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kIdLabelCopyright) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kYellow);
            SetBkColor(dc, kBlue);
            return reinterpret_cast<LRESULT>(blueBrush_.get());
        }
        break;
    case WM_SETCURSOR:
        if (busy_) {
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
            return TRUE;
        }
        break;
    case WM_CLOSE:
        // While a run is under way the window stays: the run is on the stack below this message.
        if (session_.running()) return 0;
        if (FormCloseQuery()) DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

void TForm1::createControls() {
    font_.reset(MakeFont("Arial", 16, FW_NORMAL));
    boldFont_.reset(MakeFont("Arial", 16, FW_BOLD));
    headFont_.reset(MakeFont(kHeadingFace, kHeadingSizes[0], FW_BOLD));
    headingSize_ = kHeadingSizes[0];
    blueBrush_.reset(CreateSolidBrush(kBlue));
    struct ControlSpec {
        int id;
        const char* cls;
        const char* text;
        DWORD style;
        HGDIOBJ font;
    } specs[] = {
        {kIdLabelUpdateName, "STATIC", "Das Update wird vorbereitet.", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS,
         headFont_.get()},
        {kIdLabelVersion, "STATIC", "bitte warten!", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, font_.get()},
        {kIdLabelCopyright, "STATIC", " © ", SS_CENTER | SS_NOTIFY | SS_NOPREFIX, boldFont_.get()},
        {kIdLabelCoriText, "STATIC", "   ", SS_RIGHT | SS_NOPREFIX | SS_ENDELLIPSIS, font_.get()},
        {kIdButtonStart, "BUTTON", "Start", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED, font_.get()},
        {kIdButtonComplete, "BUTTON", "Fertigstellen", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, font_.get()},
        {kIdButtonCancel, "BUTTON", "Abbrechen", BS_PUSHBUTTON | WS_TABSTOP, font_.get()},
        {kIdButtonUnpack, "BUTTON", "alles auspacken", BS_PUSHBUTTON | WS_TABSTOP, font_.get()},
        {kIdCheckBoxLongLog, "BUTTON", "erweitertes Protokoll", BS_AUTOCHECKBOX | WS_TABSTOP, font_.get()},
        {kIdLabelProgress, "STATIC", "", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, font_.get()},
        {kIdProgressBar, "msctls_progress32", "", 0, nullptr},
        {kIdMemoProtokoll, "EDIT", "",
         ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP, font_.get()},
    };
    for (const ControlSpec& s : specs) {
        DWORD visible = s.id == kIdButtonUnpack ? 0 : WS_VISIBLE;
        HWND h = CreateWindowExA(0, s.cls, s.text, WS_CHILD | visible | s.style, 0, 0, 10, 10, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(s.id)), instance_, nullptr);
        SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
    }
    SendMessageA(control(kIdMemoProtokoll), EM_SETLIMITTEXT, 0, 0);
    SendMessageA(control(kIdProgressBar), PBM_SETRANGE, 0, MAKELPARAM(0, kProgressSteps));
    relayout();
}

// The headings take one line each and never overlap: a text too long for its
// room ends in an ellipsis. The version and the credit share the line under
// the heading while both fit side by side; otherwise the credit takes a line
// of its own, right-aligned under the copyright sign, and everything below
// moves down by one line.
void TForm1::layout(int width, int height) {
    auto place = [&](int id, int x, int y, int w, int h) { MoveWindow(control(id), x, y, w, h, TRUE); };
    const int room = width - 24, gap = 16, line = 22;
    fitHeading(width - 68);
    place(kIdLabelUpdateName, 12, 8, width - 68, 30);
    place(kIdLabelCopyright, width - 48, 8, 36, 22);
    int versionWidth = textWidth(kIdLabelVersion), coriWidth = textWidth(kIdLabelCoriText);
    bool shared = versionWidth + gap + coriWidth <= room;
    place(kIdLabelVersion, 12, 40, shared ? room - coriWidth - gap : room, line);
    int coriTop = shared ? 40 : 40 + line;
    place(kIdLabelCoriText, shared ? width - 12 - coriWidth : 12, coriTop, shared ? coriWidth : room, line);
    int top = coriTop + line + 10;
    int x = 12;
    for (int id : {kIdButtonStart, kIdButtonComplete, kIdButtonCancel}) {
        place(id, x, top, 120, 30);
        x += 130;
    }
    place(kIdButtonUnpack, x, top, 150, 30);
    place(kIdCheckBoxLongLog, 12, top + 38, 260, 22);
    const int bar = room / 3;
    place(kIdLabelProgress, 12, top + 64, room - bar - 8, 20);
    place(kIdProgressBar, 12 + room - bar, top + 66, bar, 16);
    int memoTop = top + 88;
    place(kIdMemoProtokoll, 12, memoTop, room, height - memoTop - 12 > 40 ? height - memoTop - 12 : 40);
}

// The width in pixels of the control's text in `font` (its own when nullptr),
// with a little room for the control's own margins.
int TForm1::textWidth(int id, HGDIOBJ font) const {
    HWND label = control(id);
    char text[256] = {};
    int length = GetWindowTextA(label, text, sizeof text);
    HDC dc = GetDC(label);
    if (!dc) return 0;
    if (!font) font = reinterpret_cast<HGDIOBJ>(SendMessageA(label, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32A(dc, text, length, &size);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    return size.cx + 12;
}

// The heading keeps its large type while the name fits; a longer name is set
// in smaller type, down to that of the other texts, before it is cut.
void TForm1::fitHeading(int room) {
    int size = kHeadingSizes[0];
    for (int candidate : kHeadingSizes) {
        size = candidate;
        ScopedGdiObject font(MakeFont(kHeadingFace, candidate, FW_BOLD));
        if (textWidth(kIdLabelUpdateName, font.get()) <= room) break;
    }
    if (size == headingSize_) return;
    headingSize_ = size;
    headFont_.reset(MakeFont(kHeadingFace, size, FW_BOLD));
    SendMessageA(control(kIdLabelUpdateName), WM_SETFONT, reinterpret_cast<WPARAM>(headFont_.get()), TRUE);
}

void TForm1::relayout() {
    RECT client;
    GetClientRect(hwnd_, &client);
    layout(client.right, client.bottom);
    // Controls that moved leave their old places, and those that moved onto
    // them their new ones, to be painted anew.
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TForm1::FormCreate() { LogThreshold = 2; }

void TForm1::ApplicationEvents1Idle() {
    if (!firstIdle_) return;
    firstIdle_ = false;
    if (session_.load(OwnExePath) == UpdateSession::LoadResult::NoArchive) {
        ShowInfo(kDamagedUpdateText);
        ExitProcess(kExitNotLoadable);
    }
    if (session_.Undo) SetWindowTextA(control(kIdButtonStart), "Zurücknehmen");
    EnableWindow(control(kIdButtonStart), TRUE);
    SetFocus(control(kIdButtonStart));
}

void TForm1::ButtonStartClick() {
    if (session_.running() || !session_.loaded()) return;
    bool extended = SendMessageA(control(kIdCheckBoxLongLog), BM_GETCHECK, 0, 0) == BST_CHECKED;
    // Each run begins with an empty log: nothing of an earlier run stays on screen.
    log_.clear();
    syncLog();
    try {
        session_.start(log_, extended);
    } catch (...) {
        syncLog();
        throw;
    }
    syncLog();
    SetWindowTextA(control(kIdLabelProgress), "");
    if (!session_.RunSucceeded) SendMessageA(control(kIdProgressBar), PBM_SETPOS, 0, 0);
}

bool TForm1::FormCloseQuery() { return session_.closeQuery(); }

void TForm1::FormKeyDown(WPARAM key) {
    if (key != VK_F3 || (GetKeyState(VK_CONTROL) & 0x8000) == 0) return;
    HWND button = control(kIdButtonUnpack);
    ShowWindow(button, IsWindowVisible(button) ? SW_HIDE : SW_SHOW);
}

void TForm1::ButtonUnpackClick() {
    if (!session_.archiveOpen() || session_.running()) return;
    if (!ChooseDirectory(hwnd_, unpackFolder_)) return;
    setBusyCursor(true);
    try {
        session_.unpackAll(unpackFolder_);
    } catch (...) {
        setBusyCursor(false);
        throw;
    }
    setBusyCursor(false);
}

void TForm1::Label1Click() {
    AboutFields fields;
    fields.head1 = session_.UpdateName;
    fields.head2 = "Update auf " + session_.VersionText + "°";
    fields.copyright = session_.CoriText;
    fields.email = session_.EMail;
    fields.www = session_.Www;
    ShowAboutBox(hwnd_, fields);
}

void TForm1::onCommand(int id, int code) {
    switch (id) {
    case kIdButtonStart: ButtonStartClick(); break;
    case kIdButtonComplete:
    case kIdButtonCancel: PostMessageA(hwnd_, WM_CLOSE, 0, 0); break;
    case kIdButtonUnpack: ButtonUnpackClick(); break;
    case kIdLabelCopyright:
        if (code == STN_CLICKED) Label1Click();
        break;
    }
}

void TForm1::showUpdateName(const std::string& text) {
    SetWindowTextA(control(kIdLabelUpdateName), text.c_str());
    relayout();
}
void TForm1::showVersionText(const std::string& text) {
    SetWindowTextA(control(kIdLabelVersion), text.c_str());
    relayout();
}
void TForm1::showCoriText(const std::string& text) {
    SetWindowTextA(control(kIdLabelCoriText), text.c_str());
    relayout();
}

void TForm1::showCompleted() {
    EnableWindow(control(kIdButtonComplete), TRUE);
    EnableWindow(control(kIdButtonStart), FALSE);
    SendMessageA(control(kIdButtonStart), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageA(control(kIdButtonComplete), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    SetFocus(control(kIdButtonComplete));
}

void TForm1::pumpMessages() {
    syncLog();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (preview(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void TForm1::setProgress(const std::string& text) {
    HWND label = control(kIdLabelProgress);
    SetWindowTextA(label, text.c_str());
    UpdateWindow(label);
    syncLog();
}

void TForm1::showWork(std::uint64_t done, std::uint64_t total) {
    WPARAM position = total ? WPARAM(done * kProgressSteps / total) : 0;
    HWND bar = control(kIdProgressBar);
    if (SendMessageA(bar, PBM_GETPOS, 0, 0) != LRESULT(position)) SendMessageA(bar, PBM_SETPOS, position, 0);
    DWORD now = GetTickCount();
    if (now - lastPump_ < kPumpInterval) return;
    lastPump_ = now;
    pumpMessages();
}

void TForm1::setBusyCursor(bool busy) {
    busy_ = busy;
    SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(busy ? IDC_WAIT : IDC_ARROW)));
}

// Brings the log area up to date with the log's lines: when the log only grew
// since the last time, its new lines are appended; otherwise (a new run
// emptied it and wrote other lines, of any number) the area is written anew.
// The log grows only at its end, so its first line and the last line shown
// tell whether what is shown is still its beginning.
void TForm1::syncLog() {
    HWND memo = control(kIdMemoProtokoll);
    bool grew = shownLines_ > 0 && shownLines_ <= log_.size() && log_.front() == shownFirst_ &&
                log_[shownLines_ - 1] == shownLast_;
    if (!grew) {
        SetWindowTextA(memo, Joined(log_, 0).c_str());
    } else if (log_.size() > shownLines_) {
        int end = GetWindowTextLengthA(memo);
        SendMessageA(memo, EM_SETSEL, end, end);
        SendMessageA(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(Joined(log_, shownLines_).c_str()));
    }
    shownLines_ = log_.size();
    shownFirst_ = log_.empty() ? std::string() : log_.front();
    shownLast_ = log_.empty() ? std::string() : log_.back();
    SendMessageA(memo, EM_SCROLLCARET, 0, 0);
    UpdateWindow(memo);
}

void TForm1::showError(const std::string& text) {
    MessageBoxA(hwnd_, text.c_str(), ApplicationTitle().c_str(), MB_OK | MB_ICONHAND);
}
