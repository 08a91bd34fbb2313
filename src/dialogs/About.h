// The about box's properties and the rules behind them: text capacities, the
// "%yyyy%" rule of the credit line, the "°" rule of the second heading and the
// placement of the window's parts. The window itself is Win32 code
// (dialogs/Windows/AboutBox.h); everything here is portable and tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A text of at most N characters; a longer value is cut when assigned.
template <std::size_t N>
class ShortString {
public:
    ShortString() = default;
    ShortString(const std::string& text) : text_(text.substr(0, N)) {}
    ShortString(const char* text) : ShortString(std::string(text)) {}
    ShortString& operator=(const std::string& text) {
        text_ = text.substr(0, N);
        return *this;
    }
    ShortString& operator=(const char* text) { return *this = std::string(text); }
    const std::string& str() const { return text_; }
    operator const std::string&() const { return text_; }
    static constexpr std::size_t capacity = N;

private:
    std::string text_;
};

using String8 = ShortString<8>;
using String80 = ShortString<80>;
using string120 = ShortString<120>;

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// The calendar year of an MS-DOS stamp; the current year when the stamp is unknown (negative).
int ProgramYear(std::int32_t stamp);
// The "%yyyy%" rule: the value cut to 80 characters; the placeholder is replaced
// by the year, or, when the year already occurs in the text, dropped together
// with a comma two places before it.
std::string ApplyYearRule(const std::string& value, int year);
// The second heading as shown: without a final "°", otherwise followed by a
// blank and the program's file version.
std::string SecondHeadingText(const std::string& head2, const std::string& fileVersion);
// The value of "FileVersion" in the program's version record; empty when it has none.
std::string ProgramFileVersion(const std::string& programPath);
// The program file's name without folder and extension.
std::string ProgramTitle(const std::string& programPath);
// What a click on the e-mail link opens: "mailto:" and the whole value, at most 127 characters.
std::string MailtoTarget(const std::string& email);

extern const char* const kDefaultHintEmail;
extern const char* const kDefaultHintWww;

// The published properties of the about box with their defaults. The program
// year is taken from the program file's date when the object is created.
class TAboutProperties {
public:
    explicit TAboutProperties(const std::string& programPath);

    int HelpContext = 1299;  // 0: no help button
    String80 Caption = "Info";
    std::string ImageName = "VRN_TOKA";  // "*.BMP": a file beside the program; otherwise a bitmap resource
    TAlignment Alignment = TAlignment::taCenter;
    String80 Head1;
    String80 Head2;
    String80 WWW;
    string120 eMail;
    String8 helpBtnText = "&Hilfe";
    std::string VersionDate;
    std::string HintEmail;
    std::string HintWWW;

    // Setting the credit line applies the "%yyyy%" rule.
    void setCopyright(const std::string& value) { Copyright_ = ApplyYearRule(value, programYear_); }
    const std::string& Copyright() const { return Copyright_; }
    int programYear() const { return programYear_; }

    // The texts as the window shows them: the e-mail address without its
    // "?" part, the tool tips or their defaults.
    std::string shownEmail() const;
    std::string hintEmail() const;
    std::string hintWww() const;

private:
    int programYear_;
    String80 Copyright_;
};

// Sizes that the window measured, in pixels.
struct Extent {
    int width = 0, height = 0;
};

struct Box {
    int left = 0, top = 0, width = 0, height = 0;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
};

struct AboutMeasures {
    Extent icon;                     // the program's icon
    Extent head1, head2;             // the two headings' texts
    Extent picture;                  // 0 x 0 without a picture
    Extent credit, www, email;       // the credit line's and the links' texts
    Extent button;                   // OK and help buttons
    Extent date;                     // the date line's text
    bool helpButton = false;
    TAlignment alignment = TAlignment::taCenter;
};

struct AboutPlacement {
    Box icon, head1, head2, picture, credit, www, email, help, ok, date;
    int clientWidth = 0, clientHeight = 0;
};

// Places the parts top-down (running position from 10, minimum width 360) and
// then horizontally, as the window lays them out.
AboutPlacement PlaceAboutBox(const AboutMeasures& m);
