// System information and file metadata: version detection from the version
// record and the product names, the Windows-folder check, error texts, file
// stamps through the file system, their tolerant comparison, version strings.
#include <gtest/gtest.h>

#include <map>

#include "EnvTestSupport.h"
#include "TestSupport.h"
#include "env/MessageBoxes.h"
#include "env/ScriptedPrompter.h"
#include "env/System.h"
#include "platform/FileSystem.h"
#include "platform/VersionInfo.h"

namespace {

TEST(EnvFileDates, CompareTolerances) {
    struct Case {
        std::int32_t a, b;
        int sign;  // of the result
        const char* why;
    } cases[] = {
        {Stamp(2003, 7, 15, 10, 20, 30), Stamp(2003, 7, 15, 10, 20, 30), 0, "equal"},
        {Stamp(2003, 7, 15, 10, 20, 34), Stamp(2003, 7, 15, 10, 20, 30), 0, "4 s, same minute (packed 2)"},
        {Stamp(2003, 7, 15, 10, 20, 36), Stamp(2003, 7, 15, 10, 20, 30), 1, "6 s later"},
        {Stamp(2003, 7, 15, 10, 20, 24), Stamp(2003, 7, 15, 10, 20, 30), -1, "6 s earlier"},
        {Stamp(2003, 7, 15, 10, 21, 0), Stamp(2003, 7, 15, 10, 20, 58), 0, "2 s across a minute (packed 3)"},
        {Stamp(2003, 7, 15, 10, 21, 2), Stamp(2003, 7, 15, 10, 20, 58), 1, "4 s across a minute"},
        {Stamp(2003, 7, 15, 10, 20, 58), Stamp(2003, 7, 15, 10, 21, 2), -1, "4 s across a minute, reversed"},
        {Stamp(2003, 7, 16, 0, 0, 0), Stamp(2003, 7, 15, 23, 59, 58), 0, "2 s across midnight"},
        {Stamp(2004, 3, 1, 0, 0, 0), Stamp(2004, 2, 29, 23, 59, 58), 0, "2 s across a leap day"},
        {Stamp(2003, 7, 15, 11, 20, 30), Stamp(2003, 7, 15, 10, 20, 30), 0, "one hour later"},
        {Stamp(2003, 7, 15, 9, 20, 30), Stamp(2003, 7, 15, 10, 20, 30), 0, "one hour earlier"},
        {Stamp(2003, 7, 15, 11, 20, 32), Stamp(2003, 7, 15, 10, 20, 30), 0, "one hour and 2 s"},
        {Stamp(2003, 7, 15, 11, 20, 28), Stamp(2003, 7, 15, 10, 20, 30), 0, "one hour less 2 s"},
        {Stamp(2003, 7, 15, 11, 20, 36), Stamp(2003, 7, 15, 10, 20, 30), 1, "one hour and 6 s"},
        {Stamp(2003, 7, 15, 12, 20, 30), Stamp(2003, 7, 15, 10, 20, 30), 1, "two hours"},
        {Stamp(2003, 7, 15, 10, 20, 30), Stamp(2002, 7, 15, 10, 20, 30), 1, "a year"},
        {-1, -1, 0, "both missing"},
        {-1, Stamp(2003, 7, 15, 10, 20, 30), -1, "a missing"},
        {Stamp(2003, 7, 15, 10, 20, 30), -1, 1, "b missing"},
        {0x00210000, 0x00200000, 1, "day 1 against the invalid day 0"},
    };
    for (const Case& c : cases) {
        int r = CompareFileDates(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.why;
    }
    EXPECT_EQ(CompareFileDates(-1, 5), -6);
    EXPECT_EQ(CompareFileDates(5, -1), 6);
}

TEST(EnvFileDates, StampsThroughTheFileSystem) {
    TempFolder dir;
    std::string file = dir / "a.txt";
    WriteBytes(file, "abc");
    const std::int32_t stamps[] = {Stamp(2003, 7, 15, 10, 20, 30), Stamp(1999, 12, 31, 23, 59, 58),
                                   Stamp(2010, 1, 1, 0, 0, 0), Stamp(1980, 1, 1, 12, 0, 0)};
    for (std::int32_t s : stamps) {
        ASSERT_TRUE(SetFileDate(file, s));
        EXPECT_EQ(FileDateOf(file), s);
    }
    EXPECT_EQ(FileDateText(file), "01.01.80 12:00:00");
    ASSERT_TRUE(SetFileDate(file, Stamp(2003, 7, 5, 9, 8, 6)));
    EXPECT_EQ(FileDateText(file), "05.07.03 09:08:06");
    EXPECT_EQ(FileDateOf(dir / "a.*"), Stamp(2003, 7, 5, 9, 8, 6));
}

TEST(EnvFileDates, TheTimeTakesTheSystemsSeparator) {
    TempFolder dir;
    std::string file = dir / "a.txt";
    WriteBytes(file, "abc");
    ASSERT_TRUE(SetFileDate(file, Stamp(2003, 7, 5, 9, 8, 6)));
    FakeSystemInfo info;
    for (const char* separator : {".", ":", "h"}) {
        info.separator = separator;
        std::string s(separator);
        EXPECT_EQ(FileDateText(file), "05.07.03 09" + s + "08" + s + "06") << separator;
    }
}

TEST(EnvFileDates, MissingFilesAndFolders) {
    TempFolder dir;
    std::string folder = dir / "sub";
    ASSERT_TRUE(Fs().createFolder(folder));
    EXPECT_NE(FileDateOf(folder), -1);
    EXPECT_EQ(FileDateText(folder), "");
    EXPECT_EQ(FileDateOf(dir / "fehlt.txt"), -1);
    EXPECT_EQ(FileDateText(dir / "fehlt.txt"), "");
    EXPECT_FALSE(SetFileDate(dir / "fehlt.txt", Stamp(2003, 7, 15, 10, 20, 30)));
    EXPECT_FALSE(SetFileDate("", Stamp(2003, 7, 15, 10, 20, 30)));
}

TEST(EnvWindowsVersion, FromVersionRecordAndProductName) {
    const char* const kNtKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    const char* const k9xKey = "Software\\Microsoft\\Windows\\CurrentVersion";
    struct Case {
        std::uint32_t platform, minor;
        const char* key;          // where the product name is, nullptr: no key
        const char* productName;  // nullptr: key without the value
        WindowsVersion expected;
    } cases[] = {
        {1, 0, nullptr, nullptr, WindowsVersion::Windows95},
        {1, 0, k9xKey, "Microsoft Windows ME", WindowsVersion::Windows95},
        {1, 10, nullptr, nullptr, WindowsVersion::Windows98},
        {1, 10, k9xKey, nullptr, WindowsVersion::Windows98},
        {1, 10, k9xKey, "Microsoft Windows 98", WindowsVersion::Windows98},
        {1, 90, k9xKey, "Microsoft Windows ME", WindowsVersion::WindowsMe},
        {1, 90, k9xKey, "microsoft windows me", WindowsVersion::WindowsMe},
        {1, 90, kNtKey, "Microsoft Windows ME", WindowsVersion::Windows98},
        {2, 0, nullptr, nullptr, WindowsVersion::WindowsNT},
        {2, 0, kNtKey, nullptr, WindowsVersion::WindowsNT},
        {2, 0, kNtKey, "Microsoft Windows 2000", WindowsVersion::Windows2000},
        {2, 1, kNtKey, "Microsoft Windows XP", WindowsVersion::WindowsXP},
        {2, 1, kNtKey, "microsoft windows xp", WindowsVersion::WindowsXP},
        {2, 1, kNtKey, "Windows XP or Windows 2000", WindowsVersion::Windows2000},
        {2, 2, kNtKey, "Microsoft Windows Server 2003", WindowsVersion::WindowsNT},
        {2, 1, k9xKey, "Microsoft Windows XP", WindowsVersion::WindowsNT},
        {0, 0, kNtKey, "Microsoft Windows XP", WindowsVersion::Undetermined},
        {3, 0, kNtKey, "Microsoft Windows XP", WindowsVersion::Undetermined},
    };
    for (const Case& c : cases) {
        ScopedMemoryRegistry reg;
        FakeSystemInfo sys;
        sys.record = OsVersionRecord{c.platform, c.platform == 2 ? 5u : 4u, c.minor, 0};
        if (c.key) reg.registry.createPath(RootKey::LocalMachine, c.key);
        if (c.key && c.productName)
            reg.registry.setValue(RootKey::LocalMachine, c.key, "ProductName", kRegSz, std::string(c.productName) + '\0');
        EXPECT_EQ(DetectWindowsVersion(), c.expected) << c.platform << "." << c.minor << " " << (c.productName ? c.productName : "-");
    }
}

TEST(EnvWindowsVersion, UnreadableSourcesFallBack) {
    ScopedMemoryRegistry reg;
    FakeSystemInfo sys;
    sys.versionOk = false;
    EXPECT_EQ(DetectWindowsVersion(), WindowsVersion::Undetermined);
    sys.versionOk = true;
    // The product name is read into 79 bytes: a longer one is not read at all.
    std::string longName = "Microsoft Windows XP " + std::string(60, 'x');
    reg.registry.setValue(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", "ProductName", kRegSz,
                          longName.substr(0, 78) + '\0');
    EXPECT_EQ(DetectWindowsVersion(), WindowsVersion::WindowsXP);
    reg.registry.setValue(RootKey::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", "ProductName", kRegSz,
                          longName.substr(0, 79) + '\0');
    EXPECT_EQ(DetectWindowsVersion(), WindowsVersion::WindowsNT);
    EXPECT_TRUE(IsNtFamily(WindowsVersion::Windows2000));
    EXPECT_FALSE(IsNtFamily(WindowsVersion::WindowsMe));
}

// Start-up paths, restored afterwards.
class EnvStartupPaths : public ::testing::Test {
protected:
    void TearDown() override {
        OwnExePath = path_;
        OwnExeFolder = folder_;
        WindowsFolder = windows_;
    }

    std::string path_ = OwnExePath, folder_ = OwnExeFolder, windows_ = WindowsFolder;
};

TEST_F(EnvStartupPaths, WindowsFolderCheck) {
    struct Case {
        const char* reported;
        const char* stored;
        bool warned;
    } cases[] = {
        {"C:\\WINDOWS", "C:\\WINDOWS\\", false},
        {"C:\\WINNT\\", "C:\\WINNT\\", false},
        {"D:\\W", "D:\\W\\", false},
        {"C:\\", "C:", true},
        {"C:", "C:", true},
        {"\\\\server\\windows", "\\\\server\\windows", true},
        {"WINDOWS", "WINDOWS", true},
        {"", "", false},  // the system call fails: nothing stored, nothing said
    };
    for (const Case& c : cases) {
        FakeSystemInfo sys;
        ScriptedPrompter prompter;
        ScopedPrompter scope(prompter);
        sys.windowsFolder = c.reported;
        WindowsFolder = "stale";
        InitSystemPaths();
        EXPECT_EQ(WindowsFolder, c.stored) << c.reported;
        ASSERT_EQ(prompter.questions().size(), c.warned ? 1u : 0u) << c.reported;
        if (!c.warned) continue;
        EXPECT_EQ(prompter.questions()[0].text, "Windows-Pfad fehlerhaft oder unvollständig");
        EXPECT_EQ(prompter.questions()[0].style, 0x31u);
    }
}

TEST_F(EnvStartupPaths, OwnExecutable) {
    FakeSystemInfo sys;
    sys.module = "C:\\Programme\\Update\\SETUP.EXE";
    InitSystemPaths();
    EXPECT_EQ(OwnExePath, "C:\\Programme\\Update\\SETUP.EXE");
    EXPECT_EQ(OwnExeFolder, "C:\\Programme\\Update\\");
}

TEST(EnvErrorTexts, SystemTextOrTheLookupsOwnError) {
    FakeSystemInfo sys;
    EXPECT_EQ(SystemErrorText(5), "Zugriff verweigert\r\n");
    EXPECT_EQ(SystemErrorText(123456), "317");
    sys.lastErrorCode = 5;
    EXPECT_EQ(LastErrorText(), "Zugriff verweigert\r\n");
}

// Version records with chosen strings.
class FakeVersionInfo final : public VersionInfoService {
public:
    FakeVersionInfo() : previous_(SetVersionInfo(this)) {}
    ~FakeVersionInfo() { SetVersionInfo(previous_); }

    std::uint32_t recordSize(const std::string& path) override { return size; }
    std::unique_ptr<VersionRecord> readRecord(const std::string& path, std::uint32_t) override {
        if (!readable) return nullptr;
        return std::make_unique<Record>(strings);
    }

    std::uint32_t size = 100;
    bool readable = true;
    std::map<std::string, std::string> strings;  // sub-block -> value

private:
    struct Record final : VersionRecord {
        explicit Record(std::map<std::string, std::string> s) : strings(std::move(s)) {}
        bool queryString(const std::string& subBlock, std::string& out) override {
            auto it = strings.find(subBlock);
            if (it == strings.end()) return false;
            out = it->second;
            return true;
        }
        std::map<std::string, std::string> strings;
    };
    VersionInfoService* previous_;
};

TEST(EnvVersionStrings, GermanBlockFirstThenEnglish) {
    FakeVersionInfo info;
    info.strings = {
        {"\\StringFileInfo\\040704E4\\FileVersion", " 1.2.3.4 "},
        {"\\StringFileInfo\\040904E4\\FileVersion", "9.9.9.9"},
        {"\\StringFileInfo\\040904E4\\CompanyName", "Mevo"},
        {"\\StringFileInfo\\040704E4\\Comments", ""},
        {"\\StringFileInfo\\040704B0\\ProductName", "anderer Block"},
    };
    StringList list;
    ReadVersionStrings("C:\\x.exe", list);
    EXPECT_EQ(list, (StringList{"CompanyName=Mevo", "FileVersion=1.2.3.4", "Comments="}));
}

TEST(EnvVersionStrings, NothingWithoutAReadableRecordOrKnownBlock) {
    FakeVersionInfo info;
    info.strings = {{"\\StringFileInfo\\040704B0\\FileVersion", "1.0"}};
    StringList list{"vorher = da"};
    ReadVersionStrings("C:\\x.exe", list);
    EXPECT_EQ(list, StringList{"vorher = da"});
    info.strings = {{"\\StringFileInfo\\040704E4\\FileVersion", "1.0"}};
    info.size = 0;
    ReadVersionStrings("C:\\x.exe", list);
    info.size = 100;
    info.readable = false;
    ReadVersionStrings("C:\\x.exe", list);
    EXPECT_EQ(list, StringList{"vorher = da"});
    info.readable = true;
    ReadVersionStrings("C:\\x.exe", list);
    EXPECT_EQ(list, (StringList{"vorher = da", "FileVersion=1.0"}));
}

}  // namespace
