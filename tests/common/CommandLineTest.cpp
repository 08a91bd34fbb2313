// The updater's command line: which arguments open the window, which run
// without one, and which are refused; the switches as administrators type them.
#include <gtest/gtest.h>

#include "driver/CommandLine.h"
#include "env/Text.h"

namespace {

TEST(CommandLineTest, UnknownArgumentsStopOnlyARunWithoutAWindow) {
    struct Case {
        std::vector<std::string> args;
        bool parsed;
        LaunchMode mode;
        const char* error;
    } cases[] = {
        {{}, true, LaunchMode::Window, ""},
        {{"C:\\Downloads\\update.exe"}, true, LaunchMode::Window, ""},
        {{"/BOGUS", "datei.txt"}, true, LaunchMode::Window, ""},
        {{"/S", "/BOGUS"}, false, LaunchMode::Window, "Unbekannter Schalter: /BOGUS"},
        {{"datei.txt", "-s"}, false, LaunchMode::Window, "Unbekannter Schalter: datei.txt"},
        {{"/UNPACK=C:\\x", "/Y"}, false, LaunchMode::Window, "Unbekannter Schalter: /Y"},
        {{"/S", "/V", "/LOG=C:\\u.log"}, true, LaunchMode::Silent, ""},
        {{"/BOGUS", "/?"}, true, LaunchMode::Help, ""},
        {{"/V"}, false, LaunchMode::Window, "/V, /LOG=, /FINALCMD und /WAIT= gelten nur mit /S."},
    };
    for (const Case& c : cases) {
        LaunchOptions options;
        std::string error;
        std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(ParseLaunchOptions(c.args, options, error), c.parsed) << what;
        EXPECT_EQ(error, c.error) << what;
        if (c.parsed) EXPECT_EQ(options.mode, c.mode) << what;
    }
}

TEST(CommandLineTest, SwitchesAndTheirErrors) {
    struct Case {
        std::string line;
        LaunchMode mode;
        std::string logPath;
        std::string error;  // empty: accepted
    } cases[] = {
        {"/S /LOG=C:\\u.log", LaunchMode::Silent, "C:\\u.log", ""},
        {"/VERYSILENT /SUPPRESSMSGBOXES /NORESTART", LaunchMode::Silent, "", ""},
        {"-silent /log \"C:\\Log Folder\\u.log\"", LaunchMode::Silent, "C:\\Log Folder\\u.log", ""},
        {"/S /LOG", LaunchMode::Silent, "", "/LOG= braucht einen Dateinamen."},
        // The log file named after an unknown switch is still known, so the error can be written there.
        {"/S /BOGUS /LOG=C:\\u.log /ALSO", LaunchMode::Silent, "C:\\u.log", "Unbekannter Schalter: /BOGUS"},
        {"/BOGUS", LaunchMode::Window, "", ""},
        {"/LOG=C:\\u.log", LaunchMode::Window, "C:\\u.log", "/V, /LOG=, /FINALCMD und /WAIT= gelten nur mit /S."},
        {"/SILENT /UNPACK=C:\\x", LaunchMode::Silent, "", "/S und /UNPACK= schließen einander aus."},
        {"/S /WAIT=30", LaunchMode::Silent, "", ""},
        {"/S /WAIT=", LaunchMode::Silent, "", "/WAIT= braucht eine Zahl von Sekunden."},
        {"/S /WAIT=-1", LaunchMode::Silent, "", "/WAIT= braucht eine Zahl von Sekunden."},
        {"/WAIT=30", LaunchMode::Window, "", "/V, /LOG=, /FINALCMD und /WAIT= gelten nur mit /S."},
        {"/UNDO", LaunchMode::Window, "", ""},
        {"-undo /S /V /LOG=C:\\u.log", LaunchMode::Silent, "C:\\u.log", ""},
        {"/UNDO /UNPACK=C:\\x", LaunchMode::Unpack, "", "/UNDO gilt nicht mit /UNPACK= oder /FINALCMD."},
        {"/S /UNDO /FINALCMD", LaunchMode::Silent, "", "/UNDO gilt nicht mit /UNPACK= oder /FINALCMD."},
        {"/S /UNDONE", LaunchMode::Silent, "", "Unbekannter Schalter: /UNDONE"},
    };
    for (const Case& c : cases) {
        LaunchOptions options;
        std::string error;
        EXPECT_EQ(ParseLaunchOptions(SplitCommandLine(c.line), options, error), c.error.empty()) << c.line;
        EXPECT_EQ(error, c.error) << c.line;
        EXPECT_EQ(options.mode, c.mode) << c.line;
        EXPECT_EQ(options.logPath, c.logPath) << c.line;
        EXPECT_EQ(options.waitSeconds, c.line.find("WAIT=30") != std::string::npos ? 30u : 0u) << c.line;
        bool undo = false;  // /UNDO or -undo, nothing longer
        for (const std::string& arg : SplitCommandLine(c.line)) undo = undo || SameText(arg.substr(1), "UNDO");
        EXPECT_EQ(options.undo, undo) << c.line;
    }
    EXPECT_NE(UsageText().find("\r\n/UNDO "), std::string::npos);
    EXPECT_NE(UsageText().find("\r\n   6 "), std::string::npos);
}

// /? anywhere: the window shows the switches; a run without one keeps its mode
// (it writes them into its log, named before or after /?), whatever else is wrong.
TEST(CommandLineTest, QuestionForTheSwitchesKeepsARunWithoutAWindow) {
    struct Case {
        std::string line;
        LaunchMode mode;
        std::string logPath;
    } cases[] = {
        {"/BOGUS /?", LaunchMode::Help, ""},
        {"/V /?", LaunchMode::Help, ""},
        {"/S /? /LOG=C:\\u.log", LaunchMode::Silent, "C:\\u.log"},
        {"-h /VERYSILENT /BOGUS", LaunchMode::Silent, ""},
        {"/UNPACK=C:\\x /? /Q", LaunchMode::Unpack, ""},
        {"/S /UNPACK=C:\\x /HELP", LaunchMode::Silent, ""},
    };
    for (const Case& c : cases) {
        LaunchOptions options;
        std::string error;
        EXPECT_TRUE(ParseLaunchOptions(SplitCommandLine(c.line), options, error)) << c.line << ": " << error;
        EXPECT_TRUE(options.help) << c.line;
        EXPECT_EQ(options.mode, c.mode) << c.line;
        EXPECT_EQ(options.logPath, c.logPath) << c.line;
    }
}

}  // namespace
