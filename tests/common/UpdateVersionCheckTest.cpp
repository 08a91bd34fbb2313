// Version checks: the VCHK grammar and the evaluation against the installed
// version in the registry, compared as texts byte by byte.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "env/Registry.h"
#include "update/VersionCheck.h"

namespace {

TEST(ParseVChk, Forms) {
    struct Case {
        std::string text, earliest, source, latest;
    };
    const Case cases[] = {
        {"\"4.0\"<=R\\Tarnix.exe\\Projects\\Kd\\Ver\\<=\"4.3\"", "4.0", "R\\Tarnix.exe\\Projects\\Kd\\Ver\\", "4.3"},
        {"4.0<R\\x\\Ver\\<4.3", "4.0", "R\\x\\Ver\\", "4.3"},              // lone "<"
        {"'4.0'<=s<='4.3'", "4.0", "s", "4.3"},                            // apostrophes
        {" \"4.0\"<=s<= \"4.3\"", " \"4.0\"", "s", " \"4.3\""},             // a blank keeps the quotes
        {"\"4.0'<=s<=4.3'", "\"4.0'", "s", "4.3'"},                        // unmatched quotes stay
        {"4.0<=\"R\\x\\Ver\\\"<=4.3", "4.0", "\"R\\x\\Ver\\\"", "4.3"},    // the source keeps its quotes
        {"4.0<= s <=4.3", "4.0", " s ", "4.3"},
        {"<=s<=4.3", "", "s", "4.3"},
        {"1<=s<=2<3", "1", "s", "2<3"},                                    // further "<" belong to Latest
        {"\"\"<=s<=\"\"", "", "s", ""},
        {"4.0<=s<=", "4.0", "s", "="},  // "<=" at the very end: its "=" is the latest version
        {"4.0<s<=", "4.0", "s", "="},
        {"4.0<=s<", "4.0", "s", ""},
        {"4.0<=<=4.3", "4.0", "", "4.3"},
    };
    for (const Case& c : cases) {
        TVChkRec record;
        ParseVChk(c.text, record);
        EXPECT_EQ(record.Earliest, c.earliest) << c.text;
        EXPECT_EQ(record.Source, c.source) << c.text;
        EXPECT_EQ(record.Latest, c.latest) << c.text;
    }
}

TEST(ParseVChk, MissingSeparators) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "update.ini: \"<=\" erwartet in VChk"},
        {"4.0 R\\x\\Ver\\ 4.3", "update.ini: \"<=\" erwartet in VChk"},
        {"4.0<=R\\x\\Ver\\", "update.ini: 2x \"<=\" erwartet in VChk"},
        {"4.0<=", "update.ini: 2x \"<=\" erwartet in VChk"},
    };
    for (const auto& c : cases) {
        TVChkRec record;
        try {
            ParseVChk(c.first, record);
            ADD_FAILURE() << "no error for " << c.first;
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), c.second) << c.first;
        }
    }
}

TEST(CompareVersions, BytesAreUnsigned) {
    EXPECT_LT(CompareVersions("4.3", "4.3.1"), 0);
    EXPECT_GT(CompareVersions("4.10", "4.0"), 0);
    EXPECT_LT(CompareVersions("10.0", "4.0"), 0);
    EXPECT_LT(CompareVersions("z", "\xE4"), 0);  // ä (0xE4) sorts after every ASCII byte
    EXPECT_EQ(CompareVersions("4.3", "4.3"), 0);
    EXPECT_LT(CompareVersions("", "0"), 0);
}

class EvaluateVChkTest : public ::testing::Test {
protected:
    // The installed version as the default value of ...\Projects\<project>\Ver.
    void install(const std::string& version) {
        WriteRegistryString("R\\Tarnix.exe\\Projects\\" + project + "\\Ver", "", version, "");
    }
    TVChkRec record(const std::string& earliest, const std::string& latest) const {
        return TVChkRec{earliest, "R\\Tarnix.exe\\Projects\\" + project + "\\Ver\\", latest};
    }
    std::string project = std::string("VChk") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    TestPrompter prompter;
};

TEST_F(EvaluateVChkTest, InstalledVersionsAgainst40To43) {
    const std::pair<std::string, int> cases[] = {
        {"4.0", kVChkPassed},  {"4.2.1", kVChkPassed}, {"4.3", kVChkPassed},   {"4.10", kVChkPassed},
        {"4.3.1", kVChkTooNew}, {"5.0", kVChkTooNew},  {"4.3a", kVChkTooNew},  {"4.\xE4", kVChkTooNew},
        {"4", kVChkTooOld},    {"3.9", kVChkTooOld},   {"10.0", kVChkTooOld},  {" 4.2", kVChkTooOld},
        {"", kVChkUnknown},
    };
    for (const auto& c : cases) {
        install(c.first);
        EXPECT_EQ(EvaluateVChk(record("4.0", "4.3")), c.second) << "installed '" << c.first << "'";
    }
    EXPECT_TRUE(prompter.questions().empty());
}

TEST_F(EvaluateVChkTest, MissingValueCannotBeDetermined) {
    EXPECT_EQ(EvaluateVChk(record("4.0", "4.3")), kVChkUnknown);
    TVChkRec named = record("4.0", "4.3");
    named.Source.pop_back();  // the value "Ver" of the project's key, which does not exist either
    install("4.1");
    EXPECT_EQ(EvaluateVChk(named), kVChkUnknown);
    EXPECT_EQ(EvaluateVChk(record("4.0", "4.3")), kVChkPassed);
}

TEST_F(EvaluateVChkTest, OpenAndEqualBounds) {
    install("0.1");
    EXPECT_EQ(EvaluateVChk(record("", "4.3")), kVChkPassed);
    install("4.4");
    EXPECT_EQ(EvaluateVChk(record("", "4.3")), kVChkTooNew);
    install("4.2");
    EXPECT_EQ(EvaluateVChk(record("4.2", "4.2")), kVChkPassed);
    install("4.2.0");
    EXPECT_EQ(EvaluateVChk(record("4.2", "4.2")), kVChkTooNew);
    EXPECT_TRUE(prompter.questions().empty());
}

TEST_F(EvaluateVChkTest, NoRangeReadsNothing) {
    TVChkRec none{"", "R\\does\\not\\exist\\", ""};
    EXPECT_EQ(EvaluateVChk(none), kVChkPassed);
    EXPECT_TRUE(prompter.questions().empty());
}

TEST_F(EvaluateVChkTest, ReversedRangeShowsItsMessage) {
    install("4.1");
    EXPECT_EQ(EvaluateVChk(record("4.0", "")), kVChkReversed);
    EXPECT_EQ(EvaluateVChk(record("4.3", "4.0")), kVChkReversed);
    ASSERT_EQ(prompter.questions().size(), 2u);
    EXPECT_EQ(prompter.questions()[0].kind, PromptQuestion::Kind::Info);
    EXPECT_EQ(prompter.questions()[0].text, "früheste Version muss kleiner als späteste sein!");
}

}  // namespace
