#include "dialogs/About.h"

#include <algorithm>
#include <ctime>

#include "base/DosDate.h"
#include "base/StringList.h"
#include "base/Text.h"
#include "env/System.h"
#include "env/Text.h"

const char* const kDefaultHintEmail = "Eine Email an den Programmautor senden...";
const char* const kDefaultHintWww = "Hier finden Sie weitere Informationen im Internet.";

namespace {

// The maker's credit line and addresses, shown until the main window sets the update's own.
const char* const kMakerCredit = "© Mevo Software %yyyy%";
const char* const kMakerWww = "http://www.mevo.example/";
const char* const kMakerEmail = "support@mevo.example";

int CurrentYear() {
    std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    return local ? local->tm_year + 1900 : 1980;
}

// Left edge of a line of the given width placed by the alignment in the client width.
int AlignedLeft(TAlignment alignment, int clientWidth, int width) {
    switch (alignment) {
    case TAlignment::taLeftJustify: return 10;
    case TAlignment::taRightJustify: return clientWidth - width - 10;
    case TAlignment::taCenter: break;
    }
    return (clientWidth - width) / 2;
}

// Puts a box of the measured size at the running position and moves it on.
Box Stack(const Extent& size, int& y) {
    Box box{0, y, size.width, size.height};
    y += size.height;
    return box;
}

}  // namespace

int ProgramYear(std::int32_t stamp) {
    if (stamp < 0) return CurrentYear();
    return UnpackDosDate(stamp).year;
}

std::string ApplyYearRule(const std::string& value, int year) {
    std::string text = value.substr(0, String80::capacity);
    std::size_t p = text.find("%yyyy%");
    if (p == std::string::npos) return text;
    text.erase(p, 6);
    const std::string digits = DecimalText(year);
    if (text.find(digits) == std::string::npos) {
        text.insert(p, digits);
    } else if (p >= 2 && text[p - 2] == ',') {
        text.erase(p - 2, 1);  // "2004, %yyyy%" in the year 2004: the comma goes, the blank stays
    }
    return text.substr(0, String80::capacity);
}

std::string SecondHeadingText(const std::string& head2, const std::string& fileVersion) {
    if (!head2.empty() && head2.back() == '\xB0') return DropLastChar(head2);
    return head2 + " " + fileVersion;
}

std::string ProgramFileVersion(const std::string& programPath) {
    StringList strings;
    ReadVersionStrings(programPath, strings);
    const std::string key = "FileVersion=";
    for (const std::string& entry : strings)
        if (StartsWithText(key, entry)) return entry.substr(key.size());
    return std::string();
}

std::string ProgramTitle(const std::string& programPath) {
    std::string name = NamePart(programPath);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string MailtoTarget(const std::string& email) { return ("mailto:" + email).substr(0, 127); }

TAboutProperties::TAboutProperties(const std::string& programPath)
    : Head1(ProgramTitle(programPath)),
      WWW(kMakerWww),
      eMail(std::string(kMakerEmail) + "?subject=" + ProgramTitle(programPath)),
      VersionDate(FileDateText(programPath)),
      programYear_(ProgramYear(FileDateOf(programPath))) {
    setCopyright(kMakerCredit);
}

std::string TAboutProperties::shownEmail() const { return CutAtQuestionMark(eMail); }
std::string TAboutProperties::hintEmail() const { return HintEmail.empty() ? kDefaultHintEmail : HintEmail; }
std::string TAboutProperties::hintWww() const { return HintWWW.empty() ? kDefaultHintWww : HintWWW; }

AboutPlacement PlaceAboutBox(const AboutMeasures& m) {
    AboutPlacement p;
    int w = 360;
    p.icon = Box{10, 12, m.icon.width, m.icon.height};
    int y = p.icon.top;
    // Both headings keep clear of the icon, so both need its width and margins beside them.
    p.head1 = Stack(m.head1, y);
    w = std::max(w, m.head1.width + 42);
    p.head2 = Stack(m.head2, y);
    w = std::max(w, m.head2.width + 42);
    y = std::max(y, p.icon.bottom() + 2);

    w = std::max(w, m.picture.width);
    y += 10;
    p.picture = Stack(m.picture, y);

    y += 12;
    p.credit = Stack(m.credit, y);
    w = std::max(w, 10 + m.credit.width);
    // The links' labels are 12 wider than their texts.
    p.www = Stack(Extent{m.www.width + 12, m.www.height}, y);
    w = std::max(w, 10 + m.www.width);
    p.email = Stack(Extent{m.email.width + 12, m.email.height}, y);
    w = std::max(w, 10 + m.email.width);

    const int cw = std::max(360, w + 20);
    int okRight = cw - 20;
    if (m.helpButton) {
        p.help = Box{cw - 10 - m.button.width, y + 10, m.button.width, m.button.height};
        okRight = p.help.left - 20;
    }
    p.ok = Box{okRight - m.button.width, y + 10, m.button.width, m.button.height};
    y += 10 + m.button.height + 2;
    p.date = Stack(m.date, y);
    p.date.left = cw - 10 - m.date.width;

    const int x0 = p.icon.right() + 10;
    p.head1.left = std::max(x0, (cw - p.head1.width) / 2);
    p.head2.left = std::max(x0, (cw - p.head2.width) / 2);
    p.picture.left = (cw - p.picture.width) / 2;
    for (Box* line : {&p.credit, &p.www, &p.email}) line->left = AlignedLeft(m.alignment, cw, line->width);

    p.clientWidth = cw;
    p.clientHeight = y + 10;
    return p;
}
