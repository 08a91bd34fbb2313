#include "dialogs/Windows/AboutBox.h"

#include <shellapi.h>

#include <cstring>
#include <exception>
#include <vector>

#include "archive/Decompress.h"
#include "base/Exception.h"
#include "dialogs/Windows/DialogIds.h"
#include "dialogs/Windows/DialogSupport.h"
#include "env/System.h"
#include "env/Text.h"

namespace {

constexpr COLORREF kLinkColour = RGB(0, 0, 255);
constexpr int kCursorHand = 32649;  // IDC_HAND

struct MemoryDcTraits {
    using handle_type = HDC;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::DeleteDC(h); }
};
using ScopedMemoryDc = ScopedHandle<MemoryDcTraits>;

struct Picture {
    ScopedGdiObject bitmap;  // none: an empty area of the picture's size
    Extent size;
};

Extent BitmapSize(HGDIOBJ bitmap) {
    BITMAP info = {};
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info)) return Extent{};
    return Extent{info.bmWidth, info.bmHeight};
}

// A picture file beside the program; a missing or unreadable one gives an empty 280 x 5 area.
Picture PictureFromFile(const std::string& name) {
    Picture picture;
    picture.bitmap.reset(LoadImageA(nullptr, (OwnExeFolder + name).c_str(), IMAGE_BITMAP, 0, 0,
                                    LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    picture.size = BitmapSize(picture.bitmap.get());
    if (picture.size.width == 0) picture.size.width = 280;
    if (picture.size.height == 0) picture.size.height = 5;
    return picture;
}

// A .bmp file kept as a zlib stream in an RCDATA resource of that name: the
// built-in 256-colour picture shrinks from 26 KB to 4 KB that way. Empty when
// the program has no such resource.
std::vector<unsigned char> PackedBitmapFile(const std::string& name) {
    std::vector<unsigned char> file;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, name.c_str(), MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL resource = found ? LoadResource(module, found) : nullptr;
    const void* packed = resource ? LockResource(resource) : nullptr;
    if (!packed) return file;
    decompressBuffer(static_cast<const unsigned char*>(packed), static_cast<std::int32_t>(SizeofResource(module, found)),
                     0, file);
    return file;
}

// A device-dependent bitmap of a .bmp file's bytes; nullptr when the header
// and the pixels do not fit into the bytes.
HGDIOBJ BitmapOfFile(const std::vector<unsigned char>& file) {
    BITMAPFILEHEADER head;
    BITMAPINFOHEADER info;
    if (file.size() < sizeof head + sizeof info) return nullptr;
    std::memcpy(&head, file.data(), sizeof head);
    std::memcpy(&info, file.data() + sizeof head, sizeof info);
    const std::size_t stride = (static_cast<std::size_t>(info.biWidth) * info.biBitCount + 31) / 32 * 4;
    const std::size_t height = static_cast<std::size_t>(info.biHeight < 0 ? -info.biHeight : info.biHeight);
    if (head.bfType != 0x4D42 || info.biWidth <= 0 || info.biCompression != BI_RGB || head.bfOffBits > file.size() ||
        stride * height > file.size() - head.bfOffBits)
        return nullptr;
    const auto* header = reinterpret_cast<const BITMAPINFO*>(file.data() + sizeof head);
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBitmap(screen, &header->bmiHeader, CBM_INIT, file.data() + head.bfOffBits, header,
                                    DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

// A bitmap resource of the program (packed or plain), drawn at 0, 0 into a
// picture of its size and then released; none (0 x 0) when the program has no such resource.
Picture PictureFromResource(const std::string& name) {
    Picture picture;
    std::vector<unsigned char> file = PackedBitmapFile(name);
    HGDIOBJ loaded = file.empty()
                         ? LoadImageA(GetModuleHandleA(nullptr), name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)
                         : BitmapOfFile(file);
    if (!loaded) return picture;
    picture.size = BitmapSize(loaded);
    {
        HDC screen = GetDC(nullptr);
        picture.bitmap.reset(CreateCompatibleBitmap(screen, picture.size.width, picture.size.height));
        ScopedMemoryDc from(CreateCompatibleDC(screen)), to(CreateCompatibleDC(screen));
        ReleaseDC(nullptr, screen);
        if (from && to && picture.bitmap) {
            HGDIOBJ oldFrom = SelectObject(from.get(), loaded);
            HGDIOBJ oldTo = SelectObject(to.get(), picture.bitmap.get());
            BitBlt(to.get(), 0, 0, picture.size.width, picture.size.height, from.get(), 0, 0, SRCCOPY);
            SelectObject(from.get(), oldFrom);
            SelectObject(to.get(), oldTo);
        }
    }
    if (!DeleteObject(loaded)) throw Exception("deleteObject gescheitert");
    return picture;
}

Picture LoadPicture(const std::string& imageName) {
    if (EndsWithText(".BMP", imageName)) return PictureFromFile(imageName);
    if (!imageName.empty()) return PictureFromResource(imageName);
    return Picture{};
}

// The window of one Execute: built when it starts, destroyed when it closes.
class AboutWindow {
public:
    AboutWindow(const TAbout& about, Picture& picture, HWND owner) : about_(about), picture_(picture), owner_(owner) {}

    bool run() {
        INT_PTR result = RunCodeBuiltDialog("TAbout", DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, owner_,
                                            Proc, reinterpret_cast<LPARAM>(this));
        return result == IDOK;
    }

private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_INITDIALOG) SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        auto* self = reinterpret_cast<AboutWindow*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (!self) return FALSE;
        try {
            if (msg == WM_INITDIALOG) self->dialog_ = dialog;
            return self->handle(msg, wParam, lParam);
        } catch (const std::exception& e) {
            ShowErrorBox(dialog, e.what());
        } catch (...) {
            ShowErrorBox(dialog, "Unbekannter Fehler");
        }
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }

    INT_PTR handle(UINT msg, WPARAM wParam, LPARAM lParam) {
        switch (msg) {
        case WM_INITDIALOG:
            build();
            return TRUE;
        case WM_COMMAND:
            onCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_CTLCOLORSTATIC:
            if (!isLink(reinterpret_cast<HWND>(lParam))) return FALSE;
            SetTextColor(reinterpret_cast<HDC>(wParam), kLinkColour);
            SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        case WM_SETCURSOR:
            if (!isLink(reinterpret_cast<HWND>(wParam))) return FALSE;
            SetCursor(handCursor());
            return DialogResult(dialog_, TRUE);
        case WM_CLOSE:
            EndDialog(dialog_, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }

    bool isLink(HWND h) const { return h != nullptr && (h == www_ || h == email_); }

    static HCURSOR handCursor() {
        HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(kCursorHand));
        return hand ? hand : LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    }

    HWND label(int id, const std::string& text, HFONT font, DWORD style = 0) {
        return CreateChild(dialog_, "STATIC", text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX | style, id, Box{}, font);
    }

    HWND button(int id, const std::string& caption, DWORD style) {
        return CreateChild(dialog_, "BUTTON", caption, WS_VISIBLE | WS_TABSTOP | style, id, Box{},
                           static_cast<HFONT>(buttonFont_.get()));
    }

    // The window top-down: icon, headings, picture, credit line, links, buttons,
    // date line; then every part is moved to its place and the window sized.
    void build() {
        SetWindowTextA(dialog_, about_.Caption.str().c_str());
        SetWindowContextHelpId(dialog_, static_cast<DWORD>(about_.HelpContext));
        textFont_.reset(CreatePointFont("Arial", 12));
        dateFont_.reset(CreatePointFont("Arial", 9));
        buttonFont_.reset(CreatePixelFont("MS Sans Serif", 13));
        HFONT text = static_cast<HFONT>(textFont_.get());
        AboutMeasures m;
        m.alignment = about_.Alignment;

        HWND icon = label(kIdAboutIcon, "", nullptr, SS_ICON);
        SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(GetModuleHandleA(nullptr), "MAINICON")), 0);
        m.icon = Extent{GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};

        const std::string head2 = SecondHeadingText(about_.Head2, ProgramFileVersion(OwnExePath));
        label(kIdAboutHead1, about_.Head1, text);
        m.head1 = MeasureText(text, about_.Head1);
        label(kIdAboutHead2, head2, text);
        m.head2 = MeasureText(text, head2);

        HWND picture = label(kIdAboutPicture, "", nullptr, picture_.bitmap ? SS_BITMAP : 0);
        if (picture_.bitmap) SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.bitmap.get()));
        m.picture = picture_.size;

        label(kIdAboutCredit, about_.Copyright(), text);
        m.credit = MeasureText(text, about_.Copyright());
        www_ = label(kIdAboutWww, about_.WWW, text, SS_NOTIFY);
        m.www = MeasureText(text, about_.WWW);
        email_ = label(kIdAboutEmail, about_.shownEmail(), text, SS_NOTIFY);
        m.email = MeasureText(text, about_.shownEmail());
        tips_ = CreateToolTips(dialog_);
        AddToolTip(tips_, www_, about_.hintWww());
        AddToolTip(tips_, email_, about_.hintEmail());

        m.helpButton = about_.HelpContext != 0;
        if (m.helpButton) button(kIdAboutHelp, about_.helpBtnText, BS_PUSHBUTTON);
        button(IDOK, "OK", BS_DEFPUSHBUTTON);
        m.button = Extent{75, 25};
        label(kIdAboutDate, about_.VersionDate, static_cast<HFONT>(dateFont_.get()));
        m.date = MeasureText(static_cast<HFONT>(dateFont_.get()), about_.VersionDate);

        place(PlaceAboutBox(m));
        SetFocus(GetDlgItem(dialog_, IDOK));
    }

    void place(const AboutPlacement& p) {
        const std::pair<int, const Box*> boxes[] = {
            {kIdAboutIcon, &p.icon},     {kIdAboutHead1, &p.head1}, {kIdAboutHead2, &p.head2},
            {kIdAboutPicture, &p.picture}, {kIdAboutCredit, &p.credit}, {kIdAboutWww, &p.www},
            {kIdAboutEmail, &p.email},   {kIdAboutHelp, &p.help},   {IDOK, &p.ok},
            {kIdAboutDate, &p.date},
        };
        for (const auto& [id, box] : boxes)
            if (HWND h = GetDlgItem(dialog_, id)) MoveChild(h, *box);
        SetClientSize(dialog_, p.clientWidth, p.clientHeight);
        CentreOnWindow(dialog_, owner_);
    }

    void onCommand(int id, int code) {
        switch (id) {
        case IDOK:
        case IDCANCEL: EndDialog(dialog_, id); break;
        case kIdAboutWww:
            if (code == STN_CLICKED) openLink(about_.WWW);
            break;
        case kIdAboutEmail:
            if (code == STN_CLICKED) openLink(MailtoTarget(about_.eMail));
            break;
        }
        // The help button stays without effect: the program ships no help file.
    }

    // Opens the text with the shell's default action (its answer is not examined) and closes the box.
    void openLink(const std::string& target) {
        ShellExecuteA(dialog_, nullptr, target.c_str(), nullptr, nullptr, SW_HIDE);
        EndDialog(dialog_, IDCANCEL);
    }

    const TAbout& about_;
    Picture& picture_;
    HWND owner_;
    HWND dialog_ = nullptr;
    HWND www_ = nullptr, email_ = nullptr, tips_ = nullptr;
    ScopedGdiObject textFont_, dateFont_, buttonFont_;
};

}  // namespace

bool TAbout::Execute(HWND owner) {
    Picture picture = LoadPicture(ImageName);
    AboutWindow window(*this, picture, owner);
    return window.run();
}
