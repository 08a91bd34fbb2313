// The part object and the update-wide operations of TUpdateParts: target
// folders in their three forms, the log filter, result values and the test
// that the CheckRun files are free.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "env/Registry.h"
#include "platform/SystemInfo.h"
#include "update/UpdateParts.h"

namespace {

// The platform's answers, but a system folder of the test's choice.
class SystemFolderOverride : public SystemInfo {
public:
    explicit SystemFolderOverride(std::string folder) : folder_(std::move(folder)), previous_(SetSystemInfo(this)) {}
    ~SystemFolderOverride() { SetSystemInfo(previous_); }
    bool version(OsVersionRecord& out) override { return previous_->version(out); }
    bool windowsDirectory(std::string& out, unsigned capacity) override {
        return previous_->windowsDirectory(out, capacity);
    }
    bool systemDirectory(std::string& out, unsigned capacity) override {
        out = folder_.substr(0, capacity);
        return true;
    }
    std::string tempPath() override { return previous_->tempPath(); }
    std::string moduleFileName() override { return previous_->moduleFileName(); }
    bool messageText(std::uint32_t code, std::string& out) override { return previous_->messageText(code, out); }
    std::uint32_t lastError() override { return previous_->lastError(); }

private:
    std::string folder_;
    SystemInfo* previous_;
};

struct Folders {
    std::string target, alt;
};

Folders Resolve(const std::string& systemFolder, const std::string& value) {
    SystemFolderOverride system(systemFolder);
    TUpdateParts parts;
    TUpdatePart& part = parts.Add("Abc");
    part.SetTDir(value);
    return {part.TargetFolder, part.AltTargetFolder};
}

TEST(SetTDir, PercentAndPlainForms) {
    struct Case {
        std::string system, value, target, alt;
    };
    const Case cases[] = {
        {"C:\\WINDOWS\\SYSTEM32", "%WINSYS%", "C:\\WINDOWS\\SYSTEM32\\", "C:\\WINDOWS\\SYSTEM\\"},
        {"C:\\WINDOWS\\SYSTEM32", "%winsys%", "C:\\WINDOWS\\SYSTEM32\\", "C:\\WINDOWS\\SYSTEM\\"},
        {"C:\\WINDOWS\\SYSTEM32", "% WinSys %", "C:\\WINDOWS\\SYSTEM32\\", "C:\\WINDOWS\\SYSTEM\\"},
        {"C:\\WINDOWS\\system32\\", "%WINSYS%", "C:\\WINDOWS\\system32\\", "C:\\WINDOWS\\system\\"},
        {"C:\\WINNT\\SYSTEM", "%WINSYS%", "C:\\WINNT\\SYSTEM\\", ""},
        {"C:\\WINDOWS\\SYSTEM32", "%WINSYS", "%WINSYS\\", ""},
        {"C:\\WINDOWS\\SYSTEM32", "%TEMP%", "%TEMP%\\", ""},
        {"C:\\WINDOWS\\SYSTEM32", "%", "%\\", ""},
        {"C:\\WINDOWS\\SYSTEM32", "%\tWINSYS%", "%\tWINSYS%\\", ""},
        {"C:\\WINDOWS\\SYSTEM32", "C:\\Data", "C:\\Data\\", ""},
        {"C:\\WINDOWS\\SYSTEM32", "C:\\", "C:\\", ""},
        {"C:\\WINDOWS\\SYSTEM32", " C:\\Data ", " C:\\Data \\", ""},
        {"C:\\WINDOWS\\SYSTEM32", "", "", ""},
    };
    for (const Case& c : cases) {
        Folders f = Resolve(c.system, c.value);
        EXPECT_EQ(f.target, c.target) << c.value << " on " << c.system;
        EXPECT_EQ(f.alt, c.alt) << c.value << " on " << c.system;
    }
}

TEST(SetTDir, SecondLineReplacesTheTargetButKeepsTheSecondSystemFolder) {
    SystemFolderOverride system("C:\\WINDOWS\\SYSTEM32");
    TUpdateParts parts;
    TUpdatePart& part = parts.Add("Abc");
    part.SetTDir("%WINSYS%");
    part.SetTDir("C:\\Other");
    EXPECT_EQ(part.TargetFolder, "C:\\Other\\");
    EXPECT_EQ(part.AltTargetFolder, "C:\\WINDOWS\\SYSTEM\\");
}

TEST(SetTDir, RegistryForm) {
    const std::string key = "R\\Tarnix.exe\\Projects\\TDirTest\\Dir";
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Prog\\App\\App.exe", "C:\\Prog\\App\\"},
        {"C:\\Prog\\App", "C:\\Prog\\App\\"},
        {"C:\\Prog\\App\\", "C:\\Prog\\App\\"},
        {"C:\\Prog\\App.old", "C:\\Prog\\"},
        {"C:\\Prog.2\\App", "C:\\Prog.2\\App\\"},  // a dot in a parent folder is no extension
        {"C:\\Prog.2\\App\\App.exe", "C:\\Prog.2\\App\\"},
        {"D:App.exe", "D:\\"},  // the folder part ends at ":"; a trailing "\" is then added
    };
    for (const auto& c : cases) {
        WriteRegistryString(key, "", c.first, "");
        EXPECT_EQ(Resolve("C:\\WINDOWS\\SYSTEM32", "\xA7" + key + "\\").target, c.second) << c.first;
    }
    WriteRegistryString("R\\Tarnix.exe\\Projects\\TDirTest", "Folder", "C:\\Named", "");
    EXPECT_EQ(Resolve("C:\\WINDOWS\\SYSTEM32", "\xA7R\\Tarnix.exe\\Projects\\TDirTest\\Folder").target, "C:\\Named\\");
    EXPECT_EQ(Resolve("C:\\WINDOWS\\SYSTEM32", "\xA7R\\Tarnix.exe\\Projects\\NoSuchProject\\Dir\\").target, "");
    EXPECT_EQ(Resolve("C:\\WINDOWS\\SYSTEM32", "\xA7R\\Tarnix.exe\\Projects\\TDirTest\\Missing").target, "");
}

TEST(UpdatePart, CreationSetsNameAndPrefixOnly) {
    TUpdateParts parts;
    TUpdatePart& abc = parts.Add("Abc");
    TUpdatePart& empty = parts.Add("");
    EXPECT_EQ(abc.SectionPrefix, "Abc\\");
    EXPECT_EQ(empty.SectionPrefix, "\\");
    EXPECT_EQ(abc.TargetFolder, "");
    EXPECT_EQ(abc.AddedCount + abc.UpdatedCount + abc.KeptCount + abc.DeletedCount + abc.ErrorCount, 0);
    EXPECT_EQ(&parts[1], &empty);
}

TEST(LogMessage, LevelsAgainstTheThreshold) {
    TUpdateParts parts;
    parts.LogMessage("no log yet", 2);  // harmless without a log
    StringList log;
    parts.Log = &log;
    {
        ScopedLogThreshold normal(2);
        parts.LogMessage("trace", 0);
        parts.LogMessage("detail", 1);
        parts.LogMessage("result", 2);
    }
    {
        ScopedLogThreshold extended(1);
        parts.LogMessage("trace", 0);
        parts.LogMessage("detail", 1);
        parts.LogMessage("\r\nresult", 2);
    }
    EXPECT_EQ(log, (StringList{"result", "detail", "\r\nresult"}));
}

TEST(WriteResultValue, PathForms) {
    TUpdateParts::WriteResultValue("R\\Tarnix.exe\\Projects\\ResTest\\Ver\\=4.3");
    EXPECT_EQ(ReadRegistryString("R\\Tarnix.exe\\Projects\\ResTest\\Ver", "", "-", ""), "4.3");
    TUpdateParts::WriteResultValue("R\\Tarnix.exe\\Projects\\ResTest\\Version= 5=x ");
    EXPECT_EQ(ReadRegistryString("R\\Tarnix.exe\\Projects\\ResTest", "Version", "-", ""), " 5=x ");
    TUpdateParts::WriteResultValue("R\\Tarnix.exe\\Projects\\ResTest\\Other");
    EXPECT_EQ(ReadRegistryString("R\\Tarnix.exe\\Projects\\ResTest", "Other", "-", ""), "-");
    TUpdateParts::WriteResultValue("");
}

class CheckFilesFreeTest : public ::testing::Test {
protected:
    TempFolder dir;
    TUpdateParts parts;
    TestPrompter prompter;
};

TEST_F(CheckFilesFreeTest, FreeMissingAndEmptyLinesPass) {
    WriteBytes(dir / "free.exe", "x");
    parts.CheckRunList = {dir / "free.exe", dir / "missing.exe", "", "%\xA7R\\NoSuchKey\\Exe\\%", dir.path()};
    EXPECT_TRUE(parts.CheckFilesFree());
    EXPECT_TRUE(TUpdateParts().CheckFilesFree());
    EXPECT_TRUE(prompter.questions().empty());
}

TEST_F(CheckFilesFreeTest, FileInUseStopsAtItsLine) {
    WriteBytes(dir / "free.exe", "x");
    WriteBytes(dir / "Busy.exe", "x");
    WriteBytes(dir / "later.exe", "x");
    auto held = Fs().open(dir / "Busy.exe", OpenMode::ReadShared);
    auto heldLater = Fs().open(dir / "later.exe", OpenMode::ReadShared);
    ASSERT_TRUE(held && heldLater);
    parts.CheckRunList = {dir / "free.exe", dir / "Busy.exe", dir / "later.exe"};
    EXPECT_FALSE(parts.CheckFilesFree());
    ASSERT_EQ(prompter.questions().size(), 1u);
    EXPECT_EQ(prompter.questions()[0].kind, PromptQuestion::Kind::Info);
    EXPECT_EQ(prompter.questions()[0].text,
              "Die Datei Busy.exe\rwird im Moment benutzt oder darf von Ihnen nicht geändert werden.\r"
              "Beenden Sie erst alle anderen Anwendungen\r"
              "und versuchen Sie es erneut, ggf. nach Neustart des Computers.\r\r"
              "Wenden Sie sich notfalls an den verantwortlichen Administrator,\r"
              "um dieses Update ausführen zu lassen!");
    held.reset();
    heldLater.reset();
    prompter.forget();
    EXPECT_TRUE(parts.CheckFilesFree());
    EXPECT_TRUE(prompter.questions().empty());
}

}  // namespace
