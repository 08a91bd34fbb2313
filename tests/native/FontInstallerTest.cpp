// The font installer on the native font table: which resource is added and
// where the font is registered for each Windows family, a font in use, a
// font already present, the messages at their levels and the temporary copies.
#include <gtest/gtest.h>

#include "common/UpdateTestSupport.h"
#include "archive/Archive.h"
#include "env/Registry.h"
#include "env/System.h"
#include "fonts/FontInstaller.h"
#include "platform/FontApi.h"
#include "platform/MemoryRegistry.h"
#include "platform/RegText.h"
#include "platform/SystemInfo.h"

namespace {

const std::int32_t kFontDate = Stamp(2024, 3, 15, 14, 30, 10);
const char* const kWinFonts = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const char* const kNtFonts = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

class FontInstallerTest : public ::testing::Test {
protected:
    FontInstallerTest() : previousRegistry_(SetRegistry(&registry_)) {
        previousWindowsFolder_ = WindowsFolder;
        WindowsFolder = dir.path();
        Fs().createFolder(dir / "Fonts");
        NativeFonts() = NativeFontState();
        setFamily(2, 1, "Microsoft Windows XP");
        MakeFile(dir / "src.ttf", "TrueType data", kFontDate);
    }
    ~FontInstallerTest() override {
        SetRegistry(previousRegistry_);
        WindowsFolder = previousWindowsFolder_;
        NativeSystem() = NativeSystemValues();
    }

    void setFamily(std::uint32_t platform, std::uint32_t minor, const std::string& product) {
        NativeSystem().version = OsVersionRecord{platform, 4, minor, 0};
        const char* key = platform == 1 ? "Windows" : "Windows NT";
        registry_.setValue(RootKey::LocalMachine, std::string("Software\\Microsoft\\") + key + "\\CurrentVersion",
                           "ProductName", kRegSz, product + std::string(1, '\0'));
    }

    std::string value(const char* key, const std::string& name) {
        return ReadRegistryString(std::string("M\\") + key, name, "(none)", "");
    }

    class TempFolder dir;  // the fixture class, not the system folder function
    MemoryRegistry registry_;
    TestPrompter prompter_;
    StringList log_;

private:
    RegistryService* previousRegistry_;
    std::string previousWindowsFolder_;
};

}  // namespace

TEST_F(FontInstallerTest, EachFamilyAddsAndRegistersItsWay) {
    struct Case {
        std::uint32_t platform, minor;
        const char* product;
        bool addsResourceFile;  // .FOT (9x) instead of the .TTF (NT)
        const char* branch;     // nullptr: not registered
        bool winIni;
    } cases[] = {
        {0, 0, "", true, nullptr, false},                             // undetermined
        {1, 0, "Windows 95", true, kWinFonts, false},                 // Windows 95
        {1, 10, "Microsoft Windows 98", true, kWinFonts, false},      // Windows 98
        {1, 90, "Microsoft Windows ME", true, kWinFonts, false},      // Windows Me
        {2, 0, "Microsoft Windows 2000", false, kNtFonts, false},     // Windows 2000
        {2, 0, "Microsoft Windows NT Workstation", false, kNtFonts, true},
        {2, 1, "microsoft windows xp", false, kNtFonts, false},       // Windows XP, any case
    };
    for (const Case& c : cases) {
        registry_.clear();
        RemoveTree(dir / "Fonts");
        Fs().removeFile(dir / "Win.Ini");
        Fs().createFolder(dir / "Fonts");
        NativeFonts() = NativeFontState();
        setFamily(c.platform, c.minor, c.product);
        log_.clear();
        ASSERT_TRUE(InstallFont(dir / "src.ttf", "Demo Sans", &log_, 2)) << c.product << " " << log_.size();
        EXPECT_EQ(ReadBytes(dir / "Fonts\\src.ttf"), "TrueType data") << c.product;
        std::string added = c.addsResourceFile ? dir / "Fonts\\Demo Sans.FOT" : dir / "Fonts\\src.ttf";
        EXPECT_EQ(NativeFonts().added.count(added), 1u) << c.product;
        EXPECT_EQ(NativeFonts().broadcasts, 1) << c.product;
        for (const char* branch : {kWinFonts, kNtFonts})
            EXPECT_EQ(value(branch, "Demo Sans (TrueType)"), branch == c.branch ? "src.ttf" : "(none)") << c.product;
        std::string winIni = FileExists(dir / "Win.Ini") ? ReadBytes(dir / "Win.Ini") : "";
        EXPECT_EQ(winIni, c.winIni ? "[Fonts]\r\nDemo Sans (TrueType)=" + dir / "Fonts\\src.ttf" + "\r\n" : "")
            << c.product;
        EXPECT_TRUE(log_.empty()) << c.product << ": " << (log_.empty() ? "" : log_[0]);
    }
}

TEST_F(FontInstallerTest, FontAlreadyPresentStaysUntouched) {
    MakeFile(dir / "Fonts\\src.ttf", "installed copy", kFontDate);
    registry_.setValue(RootKey::LocalMachine, kNtFonts, "Demo Sans (TrueType)", kRegSz, std::string("src.ttf") + '\0');
    EXPECT_TRUE(InstallFont(dir / "src.ttf", "Demo Sans", &log_, 1));
    EXPECT_EQ(ReadBytes(dir / "Fonts\\src.ttf"), "installed copy");
    EXPECT_EQ(log_, StringList{dir / "Fonts\\src.ttf" + " vom 15.03.24 14:30:10 ist vorhanden."});
    EXPECT_EQ(NativeFonts().broadcasts, 0);
}

// What a run leaves that was stopped after copying the font and before registering it.
TEST_F(FontInstallerTest, CurrentFontWithoutRegistrationIsRegisteredWithoutCopying) {
    MakeFile(dir / "Fonts\\src.ttf", "installed copy", kFontDate);
    EXPECT_TRUE(InstallFont(dir / "src.ttf", "Demo Sans", &log_, 2));
    EXPECT_EQ(ReadBytes(dir / "Fonts\\src.ttf"), "installed copy");
    EXPECT_EQ(value(kNtFonts, "Demo Sans (TrueType)"), "src.ttf");
    EXPECT_EQ(NativeFonts().added.count(dir / "Fonts\\src.ttf"), 1u);
    EXPECT_EQ(NativeFonts().broadcasts, 1);
    EXPECT_TRUE(log_.empty()) << log_[0];
}

TEST_F(FontInstallerTest, FontInUseIsMovedAside) {
    MakeFile(dir / "Fonts\\src.ttf", "old", Stamp(2020, 1, 1, 0, 0, 0));
    MakeFile(dir / "Fonts\\src0.ttf", "older still", Stamp(2019, 1, 1, 0, 0, 0));
    // A file that cannot be deleted, as one that a running program holds.
    Fs().setAttributes(dir / "Fonts\\src.ttf", kAttrReadOnly);
    EXPECT_TRUE(InstallFont(dir / "src.ttf", "Demo Sans", &log_, 1));
    EXPECT_EQ(ReadBytes(dir / "Fonts\\src.ttf"), "TrueType data");
    EXPECT_EQ(ReadBytes(dir / "Fonts\\src1.ttf"), "old");
    const std::string t = dir / "Fonts\\src.ttf";
    ASSERT_GE(log_.size(), 3u);
    EXPECT_EQ(log_[1], "Die Schrift src.ttf\r\n" + t + "\r\n wird von einer laufenden Anwendung\r\nbenutzt.");
    EXPECT_EQ(log_[2], t + " umbenannt in \r\n" + dir / "Fonts\\src1.ttf");
}

TEST_F(FontInstallerTest, DetailsAndTracesAtTheirLevels) {
    setFamily(1, 10, "Microsoft Windows 98");
    const std::string fonts = dir / "Fonts\\";
    // An older resource that cannot be deleted is named; a missing one is no failure, and not named.
    MakeFile(fonts + " Standard.FOT", "old resource", kFontDate);
    Fs().setAttributes(fonts + " Standard.FOT", kAttrReadOnly);
    EXPECT_TRUE(InstallFont(dir / "src.ttf", "", &log_, 0));
    ASSERT_EQ(log_.size(), 4u) << ::testing::PrintToString(log_);
    EXPECT_EQ(log_[0], dir / "src.ttf" + " vom 15.03.24 14:30:10");
    EXPECT_EQ(log_[1].rfind(fonts + " Standard.FOT: ", 0), 0u) << log_[1];
    EXPECT_EQ(log_[2], fonts + " Standard.FOT: not deleted");
    EXPECT_EQ(log_[3], fonts + ".FOTScalableFontResource Created");
    EXPECT_EQ(value(kWinFonts, " (TrueType)"), "src.ttf");
}

TEST_F(FontInstallerTest, WithoutALogMessagesBecomeBoxes) {
    MakeFile(dir / "Fonts\\src.ttf", "installed copy", kFontDate);
    registry_.setValue(RootKey::LocalMachine, kNtFonts, "Demo Sans (TrueType)", kRegSz, std::string("src.ttf") + '\0');
    EXPECT_TRUE(InstallFont(dir / "src.ttf", "Demo Sans", nullptr, 1));
    ASSERT_EQ(prompter_.questions().size(), 1u);
    EXPECT_EQ(prompter_.questions()[0].style, std::uint32_t(kMbIconInformation));
}

TEST_F(FontInstallerTest, MissingSourceAndUnwritableDestinationFail) {
    EXPECT_FALSE(InstallFont(dir / "none.ttf", "X", &log_, 0));
    EXPECT_TRUE(log_.empty());
    Fs().createFolder(dir / "Fonts\\src.ttf");  // a folder where the font should go
    EXPECT_FALSE(InstallFont(dir / "src.ttf", "X", &log_, 2));
    EXPECT_EQ(log_.back(), dir / "Fonts\\src.ttf" + " konnte nicht kopiert werden.");
    EXPECT_EQ(NativeFonts().broadcasts, 0);
}

TEST_F(FontInstallerTest, ArchiveFontsAtTheTopLevelOnly) {
    WritePackage(dir / "pkg.vpa", {{"todel.txt", "", kFontDate},
                                   {"Demo.TtF", "demo font", kFontDate},
                                   {"sub\\Nested.ttf", "nested", kFontDate},
                                   {"readme.txt", "text", kFontDate}});
    TArchive archive;
    archive.openFile(dir / "pkg.vpa");
    bool ok = InstallArchiveFonts(
        archive, [](const std::string& file) { return file == "Demo.TtF" ? std::string("Demo") : std::string(); },
        &log_, 2);
    EXPECT_TRUE(ok);
    // The NT family adds the TrueType file, yet its resource file is made beside it.
    EXPECT_EQ(ListFolder(dir / "Fonts"), "Demo.FOT Demo.TtF");
    EXPECT_EQ(value(kNtFonts, "Demo (TrueType)"), "Demo.TtF");
    EXPECT_FALSE(FileExists(TempFolder() + "Demo.TtF"));
}

TEST(UniqueFileNameTest, NumbersBeforeTheExtension) {
    class TempFolder dir;  // the fixture class, not the system folder function
    EXPECT_EQ(UniqueFileName(dir / "a.ttf"), dir / "a.ttf");
    WriteBytes(dir / "a.ttf", "");
    WriteBytes(dir / "a0.ttf", "");
    EXPECT_EQ(UniqueFileName(dir / "a.ttf"), dir / "a1.ttf");
    WriteBytes(dir / "noext", "");
    EXPECT_EQ(UniqueFileName(dir / "noext"), dir / "noext0");
}

// Fonts without a FONT key share the registry value " (TrueType)". Once
// installed they are left alone by the next run; a run stopped before the
// registration is still finished by the next one.
TEST_F(FontInstallerTest, FontsWithoutAKeyAreLeftAloneOnTheNextRun) {
    WritePackage(dir / "pkg.vpa", {{"todel.txt", "", kFontDate},
                                   {"A.ttf", "font a", kFontDate},
                                   {"B.ttf", "font b", kFontDate}});
    TArchive archive;
    archive.openFile(dir / "pkg.vpa");
    auto noKey = [](const std::string&) { return std::string(); };
    ASSERT_TRUE(InstallArchiveFonts(archive, noKey, &log_, 2));
    EXPECT_EQ(NativeFonts().broadcasts, 2);
    EXPECT_EQ(value(kNtFonts, " (TrueType)"), "B.ttf");
    ASSERT_TRUE(InstallArchiveFonts(archive, noKey, &log_, 2));
    EXPECT_EQ(NativeFonts().broadcasts, 2) << "a font without a key was installed again";

    registry_.clear();
    setFamily(2, 1, "Microsoft Windows XP");
    ASSERT_TRUE(InstallArchiveFonts(archive, noKey, &log_, 2));
    EXPECT_EQ(NativeFonts().broadcasts, 3);  // the first fills the shared value again
    EXPECT_EQ(value(kNtFonts, " (TrueType)"), "A.ttf");
}
