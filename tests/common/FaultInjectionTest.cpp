// Full disks and failing writes, injected below the updater (FaultFileSystem):
// extraction, applying a part with its deletions, the careful copy and folder
// creation. Each failure is counted and logged as the updater reports problems
// with single files, the previous file stays as it was, and no temporary file
// remains beside it.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "FaultFileSystem.h"
#include "UpdateTestSupport.h"
#include "archive/Archive.h"
#include "base/Exception.h"
#include "update/ApplyPart.h"
#include "update/CarefulCopy.h"

namespace {

const std::int32_t kOldStamp = Stamp(2023, 1, 20, 9, 0, 0);
const std::int32_t kEntryStamp = Stamp(2024, 3, 15, 14, 30, 10);

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override { parts.Log = &log; }

    void freshFolder() {
        RemoveTree(dir / "App");
        Fs().createFolder(dir / "App");
        log.clear();
    }

    const TArchive& package(const std::vector<PackageEntry>& entries) {
        WritePackage(dir / "pkg.vpa", entries);
        archive = std::make_unique<TArchive>();
        archive->openFile(dir / "pkg.vpa");
        return *archive;
    }

    // Names and contents of the files in the target folder; long contents as their size.
    std::map<std::string, std::string> files() {
        std::map<std::string, std::string> out;
        std::vector<FindData> children;
        Fs().listFolder(target, children);
        for (const FindData& child : children) out[child.name] = Shown(ReadBytes(target + child.name));
        return out;
    }

    static std::string Shown(const std::string& content) {
        return content.size() <= 40 ? content : std::to_string(content.size()) + " bytes";
    }

    TempFolder dir;
    const std::string target = dir / "App\\";
    TUpdateParts parts;
    StringList log;
    std::unique_ptr<TArchive> archive;
    ScopedLogThreshold threshold{2};
    RecordingUi ui;
    TestPrompter prompter;
};

TEST_F(FaultTest, FailedExtractionLeavesThePreviousFile) {
    struct Case {
        const char* what;
        Fault fault;
        bool installed;  // an older copy is there
        bool readOnly;
        TArchive::Extraction how = TArchive::Extraction::Durable;
    } cases[] = {
        {"short write over an installed file", Fault::ShortWrite, true, false},
        {"disk full over an installed file", Fault::DiskFull, true, false},
        {"no room for the new copy", Fault::CreateFails, true, false},
        {"rename over the installed file refused", Fault::RenameFails, true, false},
        {"read-only flag that cannot be cleared", Fault::AttributesFail, true, true},
        {"short write of a new file", Fault::ShortWrite, false, false},
        {"disk full for a new file", Fault::DiskFull, false, false},
        {"rename of a new file refused", Fault::RenameFails, false, false},
        {"new copy that cannot be flushed", Fault::FlushFails, true, false},
        // Unpacked into a folder, a new file is written under its own name.
        {"short write of a new file in a folder", Fault::ShortWrite, false, false, TArchive::Extraction::ToFolder},
        {"disk full for a new file in a folder", Fault::DiskFull, false, false, TArchive::Extraction::ToFolder},
        {"disk full over a file in a folder", Fault::DiskFull, true, false, TArchive::Extraction::ToFolder},
        {"rename over a file in a folder refused", Fault::RenameFails, true, false, TArchive::Extraction::ToFolder},
    };
    const std::string content(150000, 'n');
    package({{"x.dat", content, kEntryStamp}});
    for (const Case& c : cases) {
        freshFolder();
        if (c.installed) MakeFile(target + "x.dat", "old content", kOldStamp);
        if (c.readOnly) Fs().setAttributes(target + "x.dat", kAttrReadOnly);
        // Wine run by root opens read-only files for writing all the same: no flag to clear there.
        if (c.readOnly && Fs().open(target + "x.dat", OpenMode::ReadWrite)) continue;
        {
            FaultFileSystem faults;
            faults.fail(c.fault, "x.dat");
            EXPECT_FALSE(archive->extractFile(0, target + "x.dat", nullptr, c.how)) << c.what;
            EXPECT_GT(faults.faults(), 0) << c.what;
        }
        auto expected = c.installed ? std::map<std::string, std::string>{{"x.dat", "old content"}}
                                    : std::map<std::string, std::string>{};
        EXPECT_EQ(files(), expected) << c.what;
        if (c.installed) {
            EXPECT_EQ(StampOf(target + "x.dat"), kOldStamp) << c.what;
        }
    }
    freshFolder();
    EXPECT_TRUE(archive->extractFile(0, target + "x.dat")) << "without faults";
    EXPECT_EQ(files(), (std::map<std::string, std::string>{{"x.dat", Shown(content)}}));
}

TEST_F(FaultTest, ApplyingAPartCountsAndLogsEachFailure) {
    struct Case {
        const char* what;
        Fault fault;
        const char* where;
        StringList log;  // after the part's heading
        std::map<std::string, std::string> files;
    };
    const std::string newFile = target + "new.txt", oldFile = target + "old.txt", listed = target + "gone.dll";
    // Each failure names Windows' reason.
    const std::string kFull = " Grund: Datenträger voll.";
    const Case cases[] = {
        {"disk full for a new file", Fault::DiskFull, "new.txt",
         {"*** " + newFile + " nicht (vollständig) geschrieben." + kFull, "1 Dateien aktualisiert", "1 Dateien gelöscht",
          "1 Fehler"},
         {{"old.txt", "replacement"}}},
        {"short write replacing a file", Fault::ShortWrite, "old.txt",  // no error: no reason to give
         {"*** " + oldFile + " nicht (vollständig) geschrieben.", "1 Dateien zugefügt", "0 Dateien aktualisiert",
          "1 Dateien gelöscht", "1 Fehler"},
         {{"new.txt", "new file"}, {"old.txt", "old text"}}},
        {"no room for a copy", Fault::CreateFails, "old.txt",
         {"*** " + oldFile + " nicht (vollständig) geschrieben." + kFull, "1 Dateien zugefügt", "0 Dateien aktualisiert",
          "1 Dateien gelöscht", "1 Fehler"},
         {{"new.txt", "new file"}, {"old.txt", "old text"}}},
        {"replacing refused", Fault::RenameFails, "old.txt",
         {"*** " + oldFile + " nicht (vollständig) geschrieben. Grund: Zugriff verweigert.", "1 Dateien zugefügt", "0 Dateien aktualisiert",
          "1 Dateien gelöscht", "1 Fehler"},
         {{"new.txt", "new file"}, {"old.txt", "old text"}}},
        {"deletion refused", Fault::RemoveFails, "gone.dll",
         {listed + " konnte nicht gelöscht werden. Grund: Datei wird von einem anderen Programm benutzt.", "1 Dateien zugefügt", "1 Dateien aktualisiert", "1 Fehler"},
         {{"gone.dll", "obsolete"}, {"new.txt", "new file"}, {"old.txt", "replacement"}}},
        {"disk full for everything", Fault::DiskFull, "",
         {"*** " + newFile + " nicht (vollständig) geschrieben." + kFull,
          "*** " + oldFile + " nicht (vollständig) geschrieben." + kFull,
          "0 Dateien aktualisiert", "1 Dateien gelöscht", "2 Fehler"},
         {{"old.txt", "old text"}}},
    };
    package({{"add\\Abc\\new.txt", "new file", kEntryStamp}, {"rep\\Abc\\old.txt", "replacement", kEntryStamp}});
    StringList toDelete = {"Abc\\gone.dll"};
    TUpdatePart& part = parts.Add("Abc");
    part.DisplayName = "Anwendung Abc";
    part.SetTDir(target);
    for (const Case& c : cases) {
        freshFolder();
        MakeFile(oldFile, "old text", kOldStamp);
        WriteBytes(listed, "obsolete");
        {
            FaultFileSystem faults;
            faults.fail(c.fault, c.where);
            EXPECT_FALSE(ApplyPart(part, *archive, toDelete)) << c.what << ": a part with failed files is not applied";
        }
        StringList expected = {"\r\nAnwendung Abc"};
        expected.insert(expected.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(log, expected) << c.what;
        EXPECT_EQ(files(), c.files) << c.what;
        if (c.files.at("old.txt") == "old text") {
            EXPECT_EQ(StampOf(oldFile), kOldStamp) << c.what;
        }
    }
}

TEST_F(FaultTest, FolderThatCannotBeCreatedStopsTheRunWithItsError) {
    package({{"add\\Abc\\a.txt", "a", kEntryStamp}, {"add\\Abc\\sub\\b.txt", "b", kEntryStamp},
             {"add\\Abc\\c.txt", "c", kEntryStamp}});
    TUpdatePart& part = parts.Add("Abc");
    part.SetTDir(target);
    freshFolder();
    FaultFileSystem faults;
    faults.fail(Fault::FolderFails, "sub");
    try {
        ApplyPart(part, *archive, {});
        ADD_FAILURE() << "the run goes on";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), target + "sub\rkann nicht angelegt werden (112)");
    }
    EXPECT_EQ(files(), (std::map<std::string, std::string>{{"a.txt", "a"}}));
}

class FaultCopyTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        freshFolder();
        MakeFile(source, std::string(100000, 's'), kEntryStamp);
        Fs().createFolder(dir / "Fonts");
    }
    const std::string source = dir / "App\\font.ttf";
    const std::string destination = dir / "Fonts\\font.ttf";
};

TEST_F(FaultCopyTest, FailedCopyLeavesThePreviousDestination) {
    struct Case {
        const char* what;
        Fault fault;
        bool installed;
        int result;           // -1: raises the input/output error
        const char* message;  // shown in a box, or nothing
    } cases[] = {
        {"disk full over an older copy", Fault::DiskFull, true, -1, nullptr},
        {"no room for the new copy", Fault::CreateFails, true, kCopyFailed, nullptr},
        {"replacing refused", Fault::RenameFails, true, kCopyFailed, nullptr},
        {"the new copy cannot be flushed", Fault::FlushFails, true, kCopyFailed, nullptr},
        {"disk full for a new copy", Fault::DiskFull, false, -1, nullptr},
        {"short write of a new copy", Fault::ShortWrite, false, kCopyFailed, " nicht kopiert!"},
    };
    for (const Case& c : cases) {
        RemoveTree(dir / "Fonts");
        Fs().createFolder(dir / "Fonts");
        if (c.installed) MakeFile(destination, "older font", kOldStamp);
        prompter.forget();
        {
            FaultFileSystem faults;
            faults.fail(c.fault, "Fonts\\");
            if (c.result >= 0) {
                EXPECT_EQ(CopyFileChecked(source, destination, kOverwriteAsk, -1), c.result) << c.what;
            } else {
                try {
                    CopyFileChecked(source, destination, kOverwriteAsk, -1);
                    ADD_FAILURE() << c.what << ": no error raised";
                } catch (const EInOutError& e) {
                    EXPECT_EQ(e.code(), 112u) << c.what;
                }
            }
            EXPECT_GT(faults.faults(), 0) << c.what;
        }
        EXPECT_EQ(ListFolder(dir / "Fonts"), c.installed ? "font.ttf" : "") << c.what;
        if (c.installed) {
            EXPECT_EQ(ReadBytes(destination), "older font") << c.what;
        }
        if (c.installed) {
            EXPECT_EQ(StampOf(destination), kOldStamp) << c.what;
        }
        ASSERT_EQ(prompter.questions().size(), c.message ? 1u : 0u) << c.what;
        if (c.message) {
            EXPECT_EQ(prompter.questions()[0].text, source + c.message) << c.what;
        }
    }
}

}  // namespace

// What ReplaceFile leaves after its documented failures, and what is made of
// it: the target is never left empty. 1176 without the old file at its name
// (it is gone: the replacement is moved in); 1177 with the old file under the
// backup name (it is put back); either with the first rename refused too.
TEST(SettleFailedReplaceTest, TargetIsNeverLeftEmpty) {
    struct Case {
        const char* what;
        bool oldAtTarget, oldAtBackup;
        const char* refusedRename;  // renames in one step from a path that contains this fail
        const char* expected;       // the target's content afterwards
    };
    const Case cases[] = {
        {"nothing moved (1175, or 1176 with a backup name)", true, false, "", "old"},
        {"1176: the old file gone", false, false, "", "new"},
        {"1177: the old file under the backup name", false, true, "", "old"},
        {"1177, and the backup cannot be renamed back", false, true, ".~b0", "new"},
    };
    TempFolder dir;
    const std::string target = dir / "t.dll", from = dir / "t.dll.~s0", backup = dir / "t.dll.~b0";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& path : {target, from, backup}) Fs().removeFile(path);
        WriteBytes(from, "new");
        if (c.oldAtTarget) WriteBytes(target, "old");
        if (c.oldAtBackup) WriteBytes(backup, "old");
        FaultFileSystem faults;
        if (*c.refusedRename) faults.fail(Fault::RenameFromFails, c.refusedRename);
        EXPECT_TRUE(SettleFailedReplace(Fs(), from, target, backup));
        EXPECT_EQ(ReadBytes(target), c.expected);
    }
    FaultFileSystem faults;  // every rename refused: nothing to be done, and it says so
    Fs().removeFile(target);
    faults.fail(Fault::RenameFromFails, "t.dll");
    EXPECT_FALSE(SettleFailedReplace(Fs(), from, target, backup));
}
