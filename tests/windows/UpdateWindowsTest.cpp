// The update logic on real Windows files and the real registry: a package
// whose part folder and version come from HKEY_LOCAL_MACHINE, applied fresh
// and a second time, over a read-only file, and the careful copy asking
// before it overwrites a newer file. Set-up and checks use the Win32 API
// directly, so they do not rely on the code under test.
#include <gtest/gtest.h>

#include "../common/UpdateTestSupport.h"
#include "archive/Archive.h"
#include "driver/ControlFile.h"
#include "platform/WindowsSupport.h"
#include "update/ApplyPart.h"
#include "update/CarefulCopy.h"

namespace {

const std::int32_t kEntryStamp = Stamp(2024, 3, 15, 14, 30, 10);
const std::int32_t kOlderStamp = Stamp(2023, 1, 20, 9, 0, 0);
const std::int32_t kNewerStamp = Stamp(2024, 5, 2, 8, 5, 0);
const char* const kProjectKey = "Software\\Mevo\\Tarnix.exe\\Projects\\WinApply";
// The host application is a 32-bit program: a 64-bit build finds its keys in the 32-bit view.
constexpr REGSAM kAppView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;

void SetMachineString(const std::string& keyPath, const std::string& value) {
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kAppView, nullptr,
                              &raw, nullptr),
              ERROR_SUCCESS);
    ScopedRegKey key(raw);
    ASSERT_EQ(RegSetValueExA(key.get(), "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             DWORD(value.size() + 1)),
              ERROR_SUCCESS);
}

std::string MachineString(const std::string& keyPath) {
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | kAppView, &raw) != ERROR_SUCCESS) return "(no key)";
    ScopedRegKey key(raw);
    char buffer[256] = {};
    DWORD size = sizeof buffer - 1, type = 0;
    if (RegQueryValueExA(key.get(), "", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return "(no value)";
    return buffer;
}

// The stamp of a file as Windows reports it, in local time.
std::int32_t Win32Stamp(const std::string& path) {
    WIN32_FIND_DATAA data;
    ScopedFindHandle h(FindFirstFileA(path.c_str(), &data));
    if (!h) return -1;
    FILETIME local;
    WORD date = 0, time = 0;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToDosDateTime(&local, &date, &time);
    return std::int32_t(std::uint32_t(date) << 16 | time);
}

class SilentView : public UpdateView {
public:
    void SetUpdateName(const std::string&) override {}
    void SetVersionText(const std::string&) override {}
    void SetCoriText(const std::string&) override {}
    void setFinalCmd(const std::string&) override {}
    void setEMail(const std::string&) override {}
    void setWww(const std::string&) override {}
};

class UpdateOnWindows : public ::testing::Test {
protected:
    void SetUp() override {
        parts.Log = &log;
        ASSERT_TRUE(CreateDirectoryA((dir / "App").c_str(), nullptr));
        SetMachineString(std::string(kProjectKey) + "\\Dir", dir / "App\\App.exe");
        SetMachineString(std::string(kProjectKey) + "\\Ver", "4.1");
        WritePackage(dir / "pkg.vpa", {{"update.ini", "", kEntryStamp},
                                      {"add\\WinApply\\App.exe", "program", kEntryStamp},
                                      {"add\\WinApply\\Daten\\Kunden.dat", "kunden", kEntryStamp},
                                      {"rep\\WinApply\\Alt.dll", "alt", kEntryStamp}});
        archive.openFile(dir / "pkg.vpa");
        SilentView view;
        InterpretControlFile({"P=Win Update", "[WinApply]", "N=Win Anwendung",
                              "TDIR=§R\\Tarnix.exe\\Projects\\WinApply\\Dir\\",
                              "VCHK=\"4.0\"<=R\\Tarnix.exe\\Projects\\WinApply\\Ver\\<=\"4.3\"",
                              "VRESULT=R\\Tarnix.exe\\Projects\\WinApply\\Ver\\=4.3"},
                             parts, view);
        ASSERT_EQ(parts.Count(), 1u);
    }

    bool run() { return CheckTargetFolder(parts[0]) && ApplyPart(parts[0], archive, toDelete); }

    TempFolder dir;
    const std::string app = dir / "App\\";
    TUpdateParts parts;
    StringList log, toDelete;
    TArchive archive;
    ScopedLogThreshold threshold{2};
};

TEST_F(UpdateOnWindows, FreshInstallThenSecondApplication) {
    EXPECT_EQ(parts[0].TargetFolder, app);  // read from HKEY_LOCAL_MACHINE, file name dropped
    ASSERT_TRUE(run());
    EXPECT_EQ(ReadBytes(app + "Daten\\Kunden.dat"), "kunden");
    EXPECT_EQ(Win32Stamp(app + "App.exe"), kEntryStamp);
    EXPECT_EQ(Win32Stamp(app + "Daten\\Kunden.dat"), kEntryStamp);
    EXPECT_EQ(GetFileAttributesA((app + "Alt.dll").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(MachineString(std::string(kProjectKey) + "\\Ver"), "4.3");
    EXPECT_EQ(log, (StringList{"\r\nWin Anwendung", "2 Dateien zugefügt", "0 Dateien aktualisiert"}));

    log.clear();
    SetMachineString(std::string(kProjectKey) + "\\Ver", "4.2");
    ASSERT_TRUE(run());
    EXPECT_EQ(parts[0].AddedCount + parts[0].UpdatedCount, 0);
    EXPECT_EQ(log, (StringList{"\r\nWin Anwendung", "0 Dateien aktualisiert",
                               "2 wurden nicht aktualisiert, da neuere oder gleiche Exemplare vorlagen."}));
}

TEST_F(UpdateOnWindows, ReadOnlyInstalledFilesAreReplaced) {
    MakeFile(app + "Alt.dll", "old", kOlderStamp);
    ASSERT_TRUE(SetFileAttributesA((app + "Alt.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(run());
    EXPECT_EQ(ReadBytes(app + "Alt.dll"), "alt");
    EXPECT_EQ(Win32Stamp(app + "Alt.dll"), kEntryStamp);
    EXPECT_EQ(parts[0].UpdatedCount, 1);
    EXPECT_EQ(parts[0].ErrorCount, 0);
}

TEST_F(UpdateOnWindows, VersionOutsideTheRangeChangesNothing) {
    SetMachineString(std::string(kProjectKey) + "\\Ver", "4.4");
    EXPECT_FALSE(run());
    EXPECT_EQ(ListFolder(app), "");
    EXPECT_EQ(MachineString(std::string(kProjectKey) + "\\Ver"), "4.4");
}

TEST(CarefulCopyOnWindows, NewerDestinationAsksAndFollowsTheAnswer) {
    TempFolder dir;
    const std::string source = dir / "NEU.TTF", destination = dir / "ALT.TTF";
    MakeFile(source, std::string(70000, 's'), kEntryStamp);
    TestPrompter prompter;
    const std::pair<int, int> cases[] = {{kAnswerNo, kCopyDone}, {kAnswerCancel, kCopyCancelled}, {kAnswerYes, kCopyDone}};
    for (const auto& c : cases) {
        MakeFile(destination, "newer", kNewerStamp);
        prompter.script(c.first);
        EXPECT_EQ(CopyFileChecked(source, destination, kOverwriteAsk, -1), c.second);
        EXPECT_EQ(ReadBytes(destination) == "newer", c.first != kAnswerYes) << c.first;
    }
    EXPECT_EQ(Win32Stamp(destination), kEntryStamp);
    EXPECT_EQ(ListFolder(dir.path()), "ALT.TTF NEU.TTF");
    ASSERT_EQ(prompter.questions().size(), 3u);
    EXPECT_EQ(prompter.questions()[0].text.rfind(destination + "\rist jünger!\r\r", 0), 0u);
    EXPECT_NE(prompter.questions()[0].text.find("(5 Bytes)\rdurch diejenige vom\r  15.03.24 14:30:10 (70.000 Bytes)"),
              std::string::npos)
        << prompter.questions()[0].text;
}

}  // namespace
