// The control-file grammar: which lines count, how keys are matched, what
// each key of the main section and of a part section sets.
#include <gtest/gtest.h>

#include "driver/ControlFile.h"
#include "update/UpdateParts.h"

namespace {

class RecordingView : public UpdateView {
public:
    void SetUpdateName(const std::string& t) override { calls.push_back("P:" + t); }
    void SetVersionText(const std::string& t) override { calls.push_back("V:" + t); }
    void SetCoriText(const std::string& t) override { calls.push_back("CORI:" + t); }
    void setFinalCmd(const std::string& t) override { calls.push_back("FINALCMD:" + t); }
    void setEMail(const std::string& t) override { calls.push_back("EMAIL:" + t); }
    void setWww(const std::string& t) override { calls.push_back("WWW:" + t); }
    std::vector<std::string> calls;
};

class ControlFileTest : public ::testing::Test {
protected:
    void interpret(const StringList& lines) { InterpretControlFile(lines, parts, view); }
    std::vector<std::string> sections() const {
        std::vector<std::string> names;
        for (const auto& part : parts.Items) names.push_back(part->SectionName);
        return names;
    }
    TUpdateParts parts;
    RecordingView view;
};

TEST_F(ControlFileTest, TypicalFileSetsWindowFieldsAndOnePart) {
    interpret({"P=Tarnix Kunden", "V=4.3", "Cori=Mevo 2004", "eMail=info@mevo.de", "www=www.mevo.de",
               "VChk=\"4.0\"<=R\\Tarnix.exe\\Projects\\Kunden\\Ver\\<=\"4.3\"", "", "[Kunden]", "N=Kundenverwaltung",
               "TDIR=C:\\Kunden", "VChk=\"4.0\"<=R\\Tarnix.exe\\Projects\\Kunden\\Ver\\<=\"4.3\""});
    EXPECT_EQ(view.calls, (std::vector<std::string>{"P:Tarnix Kunden", "V:4.3", "CORI:Mevo 2004",
                                                    "EMAIL:info@mevo.de", "WWW:www.mevo.de"}));
    EXPECT_EQ(parts.MainVChk.Earliest, "4.0");
    EXPECT_EQ(parts.MainVChk.Source, "R\\Tarnix.exe\\Projects\\Kunden\\Ver\\");
    EXPECT_EQ(parts.MainVChk.Latest, "4.3");
    ASSERT_EQ(parts.Count(), 1u);
    const TUpdatePart& part = parts[0];
    EXPECT_EQ(part.SectionName, "Kunden");
    EXPECT_EQ(part.SectionPrefix, "Kunden\\");
    EXPECT_EQ(part.DisplayName, "Kundenverwaltung");
    EXPECT_EQ(part.TargetFolder, "C:\\Kunden\\");
    EXPECT_EQ(part.VChk.Latest, "4.3");
    EXPECT_EQ(part.Owner, &parts);
}

TEST_F(ControlFileTest, KeyLinesOfTheMainSection) {
    struct Case {
        std::string line;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"P=Name", {"P:Name"}},
        {"  p  =Name", {"P:Name"}},                 // blanks around the key go, case does not matter
        {"P= Name ", {"P: Name "}},                 // the value keeps its blanks
        {"P\t=Name", {}},                           // a tab is no blank: the key is unknown
        {"FinalCmd=a.exe /x=1", {"FINALCMD:a.exe /x=1"}},  // split at the first "="
        {"EMAIL=", {"EMAIL:"}},
        {"P", {}},                                  // no "="
        {"   ", {}},                                // a line of blanks
        {";P=Name", {}},                            // comment
        {" ;P=Name", {}},                           // an indented ";" makes a key ";P"
        {"N=Name", {}},                             // a part key in the main section
        {"Unknown=1", {}},
        {"\xE4=1", {}},                             // upper-cased, still unknown
    };
    for (const Case& c : cases) {
        RecordingView fresh;
        TUpdateParts freshParts;
        InterpretControlFile({c.line}, freshParts, fresh);
        EXPECT_EQ(fresh.calls, c.calls) << c.line;
        EXPECT_EQ(freshParts.Count(), 0u) << c.line;
    }
}

// CHECKCMD, CHECKWAIT (held to 1..3600; no whole number: 60) and the run's ROLLBACK: main-section keys only.
TEST_F(ControlFileTest, CheckAndRunRollbackKeys) {
    struct Case {
        StringList lines;
        std::string checkCmd;
        unsigned checkWait;
        bool runRollback;
    } cases[] = {
        {{"CheckCmd=\"%\xA7R\\x\\Dir\\%\" /t=1"}, "\"%\xA7R\\x\\Dir\\%\" /t=1", 60, false},
        {{"CHECKWAIT= 120 "}, "", 120, false},
        {{"CHECKWAIT=3601"}, "", 3600, false},
        {{"CHECKWAIT=99999999999999999999"}, "", 3600, false},
        {{"CHECKWAIT=0"}, "", 1, false},
        {{"CHECKWAIT=-5"}, "", 60, false},
        {{"CHECKWAIT=10", "CHECKWAIT="}, "", 60, false},
        {{"Rollback=1"}, "", 60, true},
        {{"ROLLBACK= 1"}, "", 60, false},
        {{"[Demo]", "ROLLBACK=1", "CHECKCMD=a.exe", "CHECKWAIT=5"}, "", 60, false},
    };
    for (const Case& c : cases) {
        TUpdateParts fresh;
        InterpretControlFile(c.lines, fresh, view);
        EXPECT_EQ(fresh.CheckCmd, c.checkCmd) << c.lines.back();
        EXPECT_EQ(fresh.CheckWait, c.checkWait) << c.lines.back();
        EXPECT_EQ(fresh.RunRollback, c.runRollback) << c.lines.back();
    }
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(ControlFileTest, SectionHeaders) {
    interpret({"[Abc]", " [Indented]", "[]", "[Open", "[CheckRun] ", "[x]y"});
    // The last character is dropped whatever it is; an indented header is a key line without "=".
    EXPECT_EQ(sections(), (std::vector<std::string>{"Abc", "", "Ope", "CheckRun]", "x]"}));
    EXPECT_EQ(parts[1].SectionPrefix, "\\");
    EXPECT_TRUE(parts.CheckRunList.empty());
}

TEST_F(ControlFileTest, CheckRunLinesAreTakenVerbatimInAnyCase) {
    interpret({"[Abc]", "N=First", "[checkRUN]", "N=Second", "%\xA7R\\x\\Exe\\%", "  C:\\a.exe  ", "", ";c",
               "[CHECKRUN]", "P=x", "[Def]", "N=Third"});
    EXPECT_EQ(parts.CheckRunList, (StringList{"N=Second", "%\xA7R\\x\\Exe\\%", "  C:\\a.exe  ", "P=x"}));
    ASSERT_EQ(parts.Count(), 2u);
    EXPECT_EQ(parts[0].DisplayName, "First");  // the CheckRun lines touch no part
    EXPECT_EQ(parts[1].DisplayName, "Third");
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(ControlFileTest, MainKeysInsideAPartAreIgnored) {
    interpret({"V=1", "[Abc]", "P=Late", "V=2", "VResult=R\\x\\Ver\\=9", "Font=a.ttf,A"});
    EXPECT_EQ(view.calls, (std::vector<std::string>{"V:1"}));
    EXPECT_EQ(parts[0].VResult, "R\\x\\Ver\\=9");
    EXPECT_TRUE(parts.VResult.empty());
    EXPECT_TRUE(parts.FontList.empty());
}

TEST_F(ControlFileTest, LaterKeysReplaceEarlierOnes) {
    interpret({"V=1", "V=2", "VRESULT=a=1", "VRESULT=b=2", "[Abc]", "TDIR=C:\\One", "TDIR=C:\\Two", "N=a", "N=b",
               "VCHK=1<=s<=2", "VCHK=3<=t<=4"});
    EXPECT_EQ(view.calls, (std::vector<std::string>{"V:1", "V:2"}));
    EXPECT_EQ(parts.VResult, "b=2");
    EXPECT_EQ(parts[0].TargetFolder, "C:\\Two\\");
    EXPECT_EQ(parts[0].DisplayName, "b");
    EXPECT_EQ(parts[0].VChk.Earliest, "3");
    EXPECT_EQ(parts[0].VChk.Source, "t");
}

TEST_F(ControlFileTest, FontKeysAddOnePairEach) {
    interpret({"FONT=ARIALN.TTF,Arial Narrow (TrueType)", "font=Only Name", "Font=x.ttf, spaced ,name", "FONT=,"});
    ASSERT_EQ(parts.FontList.size(), 4u);
    const std::pair<std::string, std::string> expected[] = {
        {"ARIALN.TTF", "Arial Narrow (TrueType)"}, {"", "Only Name"}, {"x.ttf", " spaced ,name"}, {"", ""}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(parts.FontList[i].FileName, expected[i].first);
        ASSERT_TRUE(parts.FontList[i].FontName);
        EXPECT_EQ(parts.FontList[i].FontName->Text, expected[i].second);
    }
    EXPECT_EQ(parts.FontNameOf("arialn.ttf"), "Arial Narrow (TrueType)");
    EXPECT_EQ(parts.FontNameOf("X.TTF"), " spaced ,name");
    EXPECT_EQ(parts.FontNameOf("Only Name"), "");
    EXPECT_EQ(parts.FontNameOf("missing.ttf"), "");
}

TEST_F(ControlFileTest, VChkErrorStopsAtItsLine) {
    const StringList lines = {"P=Before", "VCHK=4.0 R\\x\\Ver\\ 4.3", "V=After", "[Abc]"};
    try {
        interpret(lines);
        FAIL() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "update.ini: \"<=\" erwartet in VChk");
    }
    EXPECT_EQ(view.calls, (std::vector<std::string>{"P:Before"}));
    EXPECT_EQ(parts.Count(), 0u);
}

TEST_F(ControlFileTest, PartVChkErrorKeepsTheLinesBefore) {
    const StringList lines = {"[Abc]", "N=Name", "VCHK=\"4.0\"<=R\\x\\Ver\\", "TDIR=C:\\App", "[Def]"};
    try {
        interpret(lines);
        FAIL() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "update.ini: 2x \"<=\" erwartet in VChk");
    }
    ASSERT_EQ(parts.Count(), 1u);
    EXPECT_EQ(parts[0].DisplayName, "Name");
    EXPECT_EQ(parts[0].VChk.Earliest, "4.0");  // assigned before the error
    EXPECT_EQ(parts[0].TargetFolder, "");
}

}  // namespace
