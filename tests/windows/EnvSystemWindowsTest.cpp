// System information on Windows: the start-up paths, error texts, the version
// record of update.exe, and the version detection of the running system (the
// end-to-end script windows_versions.sh runs the probe under each Windows
// version that Wine can pretend to be).
#include <gtest/gtest.h>

#include <cstdlib>

#include "../common/TestSupport.h"
#include "env/ScriptedPrompter.h"
#include "env/System.h"
#include "env/Text.h"
#include "platform/WindowsSupport.h"

namespace {

// unit.sh puts the updater beside the test program.
const char* const kUpdater = "C:\\unit\\update.exe";

bool Contains(const StringList& list, const std::string& entry) {
    for (const std::string& e : list)
        if (e == entry) return true;
    return false;
}

TEST(EnvSystemWindows, StartupPaths) {
    std::string path = OwnExePath, folder = OwnExeFolder, windows = WindowsFolder;
    ScriptedPrompter prompter;
    ScopedPrompter scope(prompter);
    InitSystemPaths();
    char module[MAX_PATH] = {}, system[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    GetWindowsDirectoryA(system, MAX_PATH);
    EXPECT_EQ(OwnExePath, module);
    EXPECT_EQ(OwnExeFolder, FolderPart(module));
    EXPECT_EQ(WindowsFolder, AddPathSeparator(system));
    EXPECT_TRUE(prompter.questions().empty());
    OwnExePath = path;
    OwnExeFolder = folder;
    WindowsFolder = windows;
}

TEST(EnvSystemWindows, ErrorTexts) {
    std::string denied = SystemErrorText(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(denied.empty());
    EXPECT_EQ(denied.find_first_not_of("0123456789"), 0u) << denied;
    // A code without text gives the error of the failed lookup as a number.
    std::string unknown = SystemErrorText(0x2FFFFFF0);
    EXPECT_FALSE(unknown.empty());
    EXPECT_EQ(unknown.find_first_not_of("0123456789"), std::string::npos) << unknown;
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(LastErrorText(), denied);
}

TEST(EnvSystemWindows, VersionStringsOfTheUpdater) {
    ASSERT_NE(GetFileAttributesA(kUpdater), INVALID_FILE_ATTRIBUTES) << "unit.sh copies update.exe to " << kUpdater;
    StringList list;
    ReadVersionStrings(kUpdater, list);
    EXPECT_TRUE(Contains(list, "FileVersion=1.0.0.0"));
    EXPECT_TRUE(Contains(list, "FileDescription=Update"));
    EXPECT_TRUE(Contains(list, "CompanyName=Mevo"));
    EXPECT_TRUE(Contains(list, "LegalCopyright=Copyright © Mevo"));
    EXPECT_TRUE(Contains(list, "OriginalFileName=update.exe"));  // the record spells it OriginalFilename
    EXPECT_EQ(list.front(), "CompanyName=Mevo");  // in the order of the names, not of the record
}

TEST(EnvSystemWindows, NoVersionRecord) {
    TempFolder dir;
    WriteBytes(dir / "plain.txt", "no resources");
    StringList list{"vorher"};
    ReadVersionStrings(dir / "plain.txt", list);
    ReadVersionStrings(dir / "missing.exe", list);
    EXPECT_EQ(list, StringList{"vorher"});
}

// Run by windows_versions.sh with EXPECTED_WINDOWS_VERSION set to the code
// that the pretended Windows version and the product names must give.
TEST(WindowsVersionProbe, MatchesTheExpectedFamily) {
    const char* expected = std::getenv("EXPECTED_WINDOWS_VERSION");
    if (expected == nullptr || *expected == '\0') GTEST_SKIP() << "only run by windows_versions.sh";
    EXPECT_EQ(static_cast<int>(DetectWindowsVersion()), std::atoi(expected));
}

}  // namespace

// The time of a file date takes the user's time separator, as the locale names it.
TEST(EnvSystemWindows, FileDateTextTakesTheLocaleTimeSeparator) {
    char previous[8] = {};
    ASSERT_GT(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, previous, sizeof previous), 0);
    TempFolder dir;
    std::string file = dir / "a.txt";
    WriteBytes(file, "abc");
    ASSERT_TRUE(SetFileDate(file, Stamp(2003, 7, 5, 9, 8, 6)));
    ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, "."));
    std::string text = FileDateText(file);
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, previous);
    EXPECT_EQ(text, "05.07.03 09.08.06");
    EXPECT_EQ(FileDateText(file), "05.07.03 09" + std::string(previous) + "08" + previous + "06");
}
