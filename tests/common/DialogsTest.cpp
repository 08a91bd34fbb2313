// The dialogs' rules without windows: the about box's properties, the "%yyyy%"
// and "°" rules and its placement; the chooser's nearest-folder search, its
// result and new-folder paths, the anchoring of its controls and its minimum size.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "TestSupport.h"
#include "UpdateTestSupport.h"
#include "dialogs/About.h"
#include "dialogs/DirChooser.h"
#include "env/System.h"
#include "platform/FileSystem.h"
#include "platform/VersionInfo.h"
#include "update/Folders.h"

namespace {

TEST(AboutYearRule, PlaceholderReplacedOrDropped) {
    const struct {
        const char* value;
        int year;
        const char* expected;
    } cases[] = {
        {"© Mevo %yyyy%", 2006, "© Mevo 2006"},
        {"2004, %yyyy%", 2006, "2004, 2006"},
        {"2006, %yyyy%", 2006, "2006 "},         // the comma goes, the blank stays
        {"2006,%yyyy%", 2006, "2006,"},          // no comma two places before the placeholder
        {"%yyyy% Mevo", 2006, "2006 Mevo"},
        {"%yyyy%, 2006", 2006, ", 2006"},        // the year occurs, nothing before the placeholder
        {"Version 12006 %yyyy%", 2006, "Version 12006 "},  // found inside another number
        {"ohne Platzhalter", 2006, "ohne Platzhalter"},
        {"%yyyy% und %yyyy%", 2007, "2007 und %yyyy%"},  // only the first
        {"", 2006, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ApplyYearRule(c.value, c.year), c.expected) << c.value;
}

TEST(AboutYearRule, CutTo80Characters) {
    const std::string long78(78, 'x');
    // Cut before the search: a placeholder beyond 80 characters is not seen.
    EXPECT_EQ(ApplyYearRule(long78 + "%yyyy%", 2006), long78 + "%y");
    EXPECT_EQ(ApplyYearRule(std::string(74, 'x') + "%yyyy%", 2006), std::string(74, 'x') + "2006");
    EXPECT_EQ(ApplyYearRule(std::string(77, 'x') + "%yyy", 2006), std::string(77, 'x') + "%yy");
}

TEST(AboutSecondHeading, DegreeSignOrFileVersion) {
    const struct {
        const char* head2;
        const char* version;
        const char* expected;
    } cases[] = {
        {"Update auf 4.2°", "1.0.0.0", "Update auf 4.2"},
        {"Update auf 4.2", "1.0.0.0", "Update auf 4.2 1.0.0.0"},
        {"Update auf 4.2", "", "Update auf 4.2 "},
        {"°", "1.0.0.0", ""},
        {"", "1.0.0.0", " 1.0.0.0"},
        {"4.2°°", "", "4.2°"},
    };
    for (const auto& c : cases) EXPECT_EQ(SecondHeadingText(c.head2, c.version), c.expected) << c.head2;
}

TEST(AboutYear, FromTheStampOrTheClock) {
    EXPECT_EQ(ProgramYear(Stamp(2006, 12, 31, 23, 59, 58)), 2006);
    EXPECT_EQ(ProgramYear(Stamp(1980, 1, 1, 0, 0, 0)), 1980);
    EXPECT_GE(ProgramYear(-1), 2024);  // no file: the current year
}

// A version record with one chosen "FileVersion", in place for the object's life.
class OneVersionString final : public VersionInfoService {
public:
    explicit OneVersionString(std::string version) : version_(std::move(version)), previous_(SetVersionInfo(this)) {}
    ~OneVersionString() { SetVersionInfo(previous_); }
    std::uint32_t recordSize(const std::string&) override { return version_.empty() ? 0 : 64; }
    std::unique_ptr<VersionRecord> readRecord(const std::string&, std::uint32_t) override {
        struct Record final : VersionRecord {
            std::string value;
            bool queryString(const std::string& subBlock, std::string& out) override {
                if (subBlock != "\\StringFileInfo\\040704E4\\FileVersion") return false;
                out = value;
                return true;
            }
        };
        auto record = std::make_unique<Record>();
        record->value = version_;
        return record;
    }

private:
    std::string version_;
    VersionInfoService* previous_;
};

TEST(AboutProgramFileVersion, FromTheRecordOrEmpty) {
    {
        OneVersionString info("2.5.0.17");
        EXPECT_EQ(ProgramFileVersion("C:\\x\\update.exe"), "2.5.0.17");
    }
    OneVersionString none("");
    EXPECT_EQ(ProgramFileVersion("C:\\x\\update.exe"), "");
}

TEST(AboutProperties, DefaultsFromTheProgramFile) {
    TempFolder dir;
    const std::string program = dir / "Demo.exe";
    WriteBytes(program, "MZ");
    ASSERT_TRUE(SetFileDate(program, Stamp(2006, 5, 4, 3, 2, 10)));
    TAboutProperties about(program);
    EXPECT_EQ(about.HelpContext, 1299);
    EXPECT_EQ(about.Caption.str(), "Info");
    EXPECT_EQ(about.ImageName, "VRN_TOKA");
    EXPECT_EQ(about.Alignment, TAlignment::taCenter);
    EXPECT_EQ(about.Head1.str(), "Demo");
    EXPECT_EQ(about.Head2.str(), "");
    EXPECT_EQ(about.helpBtnText.str(), "&Hilfe");
    EXPECT_EQ(about.VersionDate, "04.05.06 03:02:10");
    EXPECT_EQ(about.programYear(), 2006);
    EXPECT_NE(about.Copyright().find("2006"), std::string::npos) << about.Copyright();
    EXPECT_EQ(about.Copyright().find("%yyyy%"), std::string::npos) << about.Copyright();
    const std::string email = about.eMail;
    EXPECT_EQ(email.substr(email.find('?')), "?subject=Demo");
    EXPECT_EQ(about.shownEmail(), email.substr(0, email.find('?')));
    EXPECT_EQ(about.hintEmail(), "Eine Email an den Programmautor senden...");
    EXPECT_EQ(about.hintWww(), "Hier finden Sie weitere Informationen im Internet.");
    EXPECT_FALSE(about.WWW.str().empty());

    about.setCopyright("Demo GmbH, 2006, %yyyy%");
    EXPECT_EQ(about.Copyright(), "Demo GmbH, 2006 ");
    about.HintEmail = "Schreiben Sie uns";
    about.HintWWW = "Unsere Seiten";
    EXPECT_EQ(about.hintEmail(), "Schreiben Sie uns");
    EXPECT_EQ(about.hintWww(), "Unsere Seiten");
}

TEST(AboutProperties, MissingProgramFile) {
    TempFolder dir;
    TAboutProperties about(dir / "fehlt.exe");
    EXPECT_EQ(about.VersionDate, "");
    EXPECT_GE(about.programYear(), 2024);
    EXPECT_EQ(about.Head1.str(), "fehlt");
}

TEST(AboutProperties, TextsCutAtTheirCapacities) {
    TempFolder dir;
    TAboutProperties about(dir / "x.exe");
    const std::string long130(130, 'a');
    about.Caption = long130;
    about.Head1 = long130;
    about.Head2 = long130;
    about.WWW = long130;
    about.eMail = long130;
    about.helpBtnText = "&Hilfe-Taste";
    about.setCopyright(long130);
    EXPECT_EQ(about.Caption.str().size(), 80u);
    EXPECT_EQ(about.Head1.str().size(), 80u);
    EXPECT_EQ(about.Head2.str().size(), 80u);
    EXPECT_EQ(about.WWW.str().size(), 80u);
    EXPECT_EQ(about.eMail.str().size(), 120u);
    EXPECT_EQ(about.helpBtnText.str(), "&Hilfe-T");
    EXPECT_EQ(about.Copyright().size(), 80u);
}

TEST(AboutMailto, WholeValueCutTo127) {
    EXPECT_EQ(MailtoTarget("info@demo.example?subject=Demo"), "mailto:info@demo.example?subject=Demo");
    const std::string long120(120, 'm');
    EXPECT_EQ(MailtoTarget(long120), ("mailto:" + long120));
    EXPECT_EQ(MailtoTarget(long120 + "x").size(), 127u);
}

// The measures of a typical box: the icon, "Demo", "Update auf 4.2 1.0.0.0", the picture, a credit line and two links.
AboutMeasures TypicalMeasures() {
    AboutMeasures m;
    m.icon = {32, 32};
    m.head1 = {48, 19};
    m.head2 = {119, 19};
    m.picture = {340, 74};
    m.credit = {203, 19};
    m.www = {164, 19};
    m.email = {166, 19};
    m.button = {75, 25};
    m.date = {116, 14};
    return m;
}

TEST(AboutPlacement, TopDownThenAcross) {
    struct Expected {
        int clientWidth, clientHeight, okLeft, okTop, helpLeft, dateLeft, dateTop;
        int head1Left, head2Left, pictureLeft, pictureTop, creditLeft, creditTop, wwwLeft, emailLeft;
    };
    const auto typical = TypicalMeasures();
    auto with = [&](auto change) {
        AboutMeasures m = typical;
        change(m);
        return m;
    };
    const struct {
        const char* name;
        AboutMeasures measures;
        Expected expected;
    } cases[] = {
        {"typical", typical, {380, 264, 285, 213, 0, 254, 240, 166, 130, 20, 60, 88, 146, 102, 101}},
        {"help button", with([](AboutMeasures& m) { m.helpButton = true; }),
         {380, 264, 200, 213, 295, 254, 240, 166, 130, 20, 60, 88, 146, 102, 101}},
        {"no picture", with([](AboutMeasures& m) { m.picture = {0, 0}; }),
         {380, 190, 285, 139, 0, 254, 166, 166, 130, 190, 60, 88, 72, 102, 101}},
        {"tall icon", with([](AboutMeasures& m) { m.icon = {48, 48}; }),
         {380, 276, 285, 225, 0, 254, 252, 166, 130, 20, 72, 88, 158, 102, 101}},
        {"wide picture", with([](AboutMeasures& m) { m.picture = {500, 74}; }),
         {520, 264, 425, 213, 0, 394, 240, 236, 200, 10, 60, 158, 146, 172, 171}},
        {"left-justified", with([](AboutMeasures& m) { m.alignment = TAlignment::taLeftJustify; }),
         {380, 264, 285, 213, 0, 254, 240, 166, 130, 20, 60, 10, 146, 10, 10}},
        {"right-justified", with([](AboutMeasures& m) { m.alignment = TAlignment::taRightJustify; }),
         {380, 264, 285, 213, 0, 254, 240, 166, 130, 20, 60, 167, 146, 194, 192}},
    };
    for (const auto& c : cases) {
        const AboutPlacement p = PlaceAboutBox(c.measures);
        const Expected& e = c.expected;
        const Expected got{p.clientWidth, p.clientHeight, p.ok.left, p.ok.top, c.measures.helpButton ? p.help.left : 0,
                           p.date.left, p.date.top, p.head1.left, p.head2.left, p.picture.left, p.picture.top,
                           p.credit.left, p.credit.top, p.www.left, p.email.left};
        const int* want = &e.clientWidth;
        const int* have = &got.clientWidth;
        for (std::size_t i = 0; i < sizeof(Expected) / sizeof(int); ++i)
            EXPECT_EQ(have[i], want[i]) << c.name << ", value " << i;
    }
}

TEST(AboutPlacement, FixedParts) {
    const AboutPlacement p = PlaceAboutBox(TypicalMeasures());
    EXPECT_EQ(p.icon.left, 10);
    EXPECT_EQ(p.icon.top, 12);
    EXPECT_EQ(p.head1.top, 12);
    EXPECT_EQ(p.head2.top, 31);
    EXPECT_EQ(p.www.width, 176);  // links are 12 wider than their texts
    EXPECT_EQ(p.email.width, 178);
    EXPECT_EQ(p.ok.width, 75);
}

TEST(AboutPlacement, LongLinesWidenTheWindow) {
    const struct {
        const char* name;
        Extent AboutMeasures::*line;
        int width;
    } cases[] = {
        {"first heading", &AboutMeasures::head1, 400},
        {"second heading", &AboutMeasures::head2, 400},
        {"credit line", &AboutMeasures::credit, 500},
        {"web link", &AboutMeasures::www, 500},
        {"e-mail link", &AboutMeasures::email, 500},
    };
    for (const auto& c : cases) {
        AboutMeasures m = TypicalMeasures();
        (m.*c.line).width = c.width;
        const AboutPlacement p = PlaceAboutBox(m);
        for (const Box* box : {&p.head1, &p.head2, &p.credit, &p.www, &p.email}) {
            EXPECT_GE(box->left, 0) << c.name;
            EXPECT_LE(box->right(), p.clientWidth) << c.name;
        }
        EXPECT_GT(p.clientWidth, 380) << c.name;
    }
}

TEST(ChooserNearestFolder, ItselfOrTheNearestExistingAncestor) {
    TempFolder dir;
    ASSERT_TRUE(Fs().createFolder(dir / "Data"));
    WriteBytes(dir / "file.txt", "x");
    const std::string data = dir / "Data";
    const struct {
        std::string directory, expected;
    } cases[] = {
        {data + "\\Old\\", data},
        {data + "\\Old\\Older\\Oldest", data},
        {data + "\\", data + "\\"},
        {data, data},
        {dir / "file.txt\\sub\\", dir / "file.txt"},  // the folder test is satisfied by a file too
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(NearestExistingFolder(c.directory), c.expected) << c.directory;
}

TEST(ChooserNearestFolder, BelowADrivesRoot) {
    ASSERT_FALSE(FolderExists("C:\\Q"));
    ASSERT_FALSE(FolderExists("C:\\ut-nicht-vorhanden"));
    EXPECT_EQ(NearestExistingFolder("C:\\Q\\"), "");  // a one-character name stops the search at once
    EXPECT_EQ(NearestExistingFolder("C:\\Q"), "");
    EXPECT_EQ(NearestExistingFolder("C:\\Q\\Sub\\"), "");  // and so it does on the way up
    EXPECT_EQ(NearestExistingFolder("C:\\ut-nicht-vorhanden\\"), "C:");
    EXPECT_EQ(NearestExistingFolder("C:\\"), "C:\\");
    EXPECT_EQ(NearestExistingFolder("ut-relativ\\unbekannt"), "");
}

TEST(ChooserPaths, ResultAndNewFolders) {
    const struct {
        const char* selected;
        const char* chosen;
        const char* created;
        const char* fromMenu;
    } cases[] = {
        {"C:\\Data", "C:\\Data\\", "C:\\Data\\neu", "C:\\Data\\Neuer Ordner"},
        {"C:\\", "C:\\", "C:\\neu", "C:\\Neuer Ordner"},
        {"", "\\", "", ""},  // the root has no path: a lone backslash, nothing created
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChosenDirectory(c.selected), c.chosen) << c.selected;
        EXPECT_EQ(NewFolderPath(c.selected, "neu"), c.created) << c.selected;
        EXPECT_EQ(NewFolderPath(c.selected, kNewFolderName), c.fromMenu) << c.selected;
    }
}

TEST(ChooserLayout, AnchoredControls) {
    const Extent design{310, 334};
    const struct {
        const char* name;
        Box box;
        unsigned anchors;
        Extent client;
        Box expected;
    } cases[] = {
        {"tree, design size", {0, 32, 310, 257}, akLeft | akTop | akRight | akBottom, {310, 334}, {0, 32, 310, 257}},
        {"tree, larger", {0, 32, 310, 257}, akLeft | akTop | akRight | akBottom, {500, 450}, {0, 32, 500, 373}},
        {"new-folder panel", {32, 290, 278, 41}, akLeft | akRight | akBottom, {500, 450}, {32, 406, 468, 41}},
        {"cancel", {33, 304, 132, 25}, akRight | akBottom, {500, 450}, {223, 420, 132, 25}},
        {"OK", {177, 304, 132, 25}, akRight | akBottom, {500, 450}, {367, 420, 132, 25}},
        {"new-folder button", {5, 306, 23, 22}, akLeft | akBottom, {500, 450}, {5, 422, 23, 22}},
        {"top panel, smaller", {0, 0, 310, 33}, akLeft | akTop | akRight, {319, 173}, {0, 0, 319, 33}},
    };
    for (const auto& c : cases) {
        Box b = AnchoredBox(c.box, design, c.anchors, c.client);
        EXPECT_EQ(b.left, c.expected.left) << c.name;
        EXPECT_EQ(b.top, c.expected.top) << c.name;
        EXPECT_EQ(b.width, c.expected.width) << c.name;
        EXPECT_EQ(b.height, c.expected.height) << c.name;
    }
}

TEST(ChooserLayout, MinimumSize) {
    Extent least = MinimumChooserSize(132, 23);
    EXPECT_EQ(least.width, 327);
    EXPECT_EQ(least.height, 200);
    EXPECT_EQ(MinimumChooserSize(100, 30).width, 270);
}

}  // namespace

// OK on the root entry unpacks nothing and says why; Cancel says nothing.
TEST(ChooserUnpackFolder, OnlyAFolderOfTheFileSystemTakesTheFiles) {
    struct Case {
        bool ok;
        const char* directory;
        bool chosen;
        bool told;
    } cases[] = {
        {true, "C:\\Daten\\", true, false},
        {true, "C:\\", true, false},
        {true, "\\", false, true},
        {false, "\\", false, false},
        {false, "C:\\Daten\\", false, false},
    };
    for (const Case& c : cases) {
        TestPrompter prompter;
        EXPECT_EQ(UnpackFolderChosen(c.ok, c.directory), c.chosen) << c.directory << " " << c.ok;
        ASSERT_EQ(prompter.questions().size(), c.told ? 1u : 0u) << c.directory << " " << c.ok;
        if (c.told) EXPECT_EQ(prompter.questions()[0].text, kNoUnpackFolderText);
    }
}
