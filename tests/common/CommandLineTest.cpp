// The updater's command line: which arguments open the window, which run
// without one, and which are refused.
#include <gtest/gtest.h>

#include "driver/CommandLine.h"

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
        {{"/V"}, false, LaunchMode::Window, "/V, /LOG= und /FINALCMD gelten nur mit /S."},
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
