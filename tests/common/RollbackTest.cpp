// Parts with ROLLBACK=1: after any failure the part's files are as before,
// content, stamp and attributes, with no file of the updater's own left; on
// success the result equals that of the same part without rollback.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "FaultFileSystem.h"
#include "UpdateTestSupport.h"
#include "archive/Archive.h"
#include "env/Registry.h"
#include "platform/TempFiles.h"
#include "update/ApplyPart.h"
#include "update/Rollback.h"

namespace {

const std::int32_t kEntryStamp = Stamp(2040, 3, 15, 14, 30, 10);  // newer than any folder made now
const std::int32_t kOlderStamp = Stamp(2023, 1, 20, 9, 0, 0);

// Every file and folder below `folder`: a file's content, stamp and attributes, a
// folder's attributes and what it holds. A folder's stamp is the clock's at its last
// change, which no run puts back.
std::string Snapshot(const std::string& folder) {
    std::map<std::string, std::string> lines;
    std::vector<FindData> children;
    Fs().listFolder(folder, children);
    for (const FindData& c : children) {
        std::string path = folder + c.name;
        if (c.attributes & kAttrDirectory)
            lines[c.name] = std::to_string(c.attributes) + " [" + Snapshot(path + "\\") + "]";
        else
            lines[c.name] = std::to_string(c.dosDate) + " " + std::to_string(c.attributes) + " " + ReadBytes(path);
    }
    std::string text;
    for (const auto& [name, line] : lines) text += name + ": " + line + "\n";
    return text;
}

class RollbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        parts.Log = &log;
        install();
        WritePackage(dir / "pkg.vpa", {{"rep\\Kern\\kern.dll", "kern v2", kEntryStamp},
                                       {"add\\Kern\\neu\\tief\\n.dat", "n", kEntryStamp},
                                       {"add\\Kern\\z.dat", std::string(5000, 'z'), kEntryStamp},
                                       {"add\\Kern\\blocked", "b", kEntryStamp}});
        archive.openFile(dir / "pkg.vpa");
        toDelete = {"Kern\\alt.dll"};
    }
    void TearDown() override { Fs().setAttributes(target + "kern.dll", kAttrNormal); }

    void install() {
        if (FileExists(target + "kern.dll")) Fs().setAttributes(target + "kern.dll", kAttrNormal);
        RemoveTree(target);
        Fs().createFolder(target);
        Fs().createFolder(target + "blocked");  // a folder where the file should go, older than the entry
        MakeFile(target + "kern.dll", "kern v1", kOlderStamp);
        Fs().setAttributes(target + "kern.dll", kAttrReadOnly | kAttrHidden);
        MakeFile(target + "alt.dll", "alt", kOlderStamp);
    }
    // What another installer does: kern.dll version 3, of its own date, and a
    // file of its own in a folder that a killed run may have made.
    void replaceKernByOtherMeans() {
        Fs().setAttributes(target + "kern.dll", kAttrNormal);
        MakeFile(target + "kern.dll", "kern v3", Stamp(2041, 1, 1, 8, 0, 0));
        Fs().createFolder(target + "neu");
        Fs().createFolder(target + "neu\\tief");
        MakeFile(target + "neu\\tief\\fremd.txt", "fremd", kOlderStamp);
    }

    // The change of a full run with rollback that notes the part's success: a
    // kill after it leaves the part new.
    int successChange() {
        FaultFileSystem counting;
        EXPECT_TRUE(ApplyPart(part(true), archive, toDelete));
        int at = -1;
        for (int i = 0; i < int(counting.journal().size()); ++i)
            if (counting.journal()[i].rfind("write ", 0) == 0 && counting.journal()[i].find(".~rj") != std::string::npos)
                at = i;
        return at;
    }

    TUpdatePart& part(bool rollback) {
        TUpdatePart& p = parts.Add("Kern");
        p.DisplayName = "Kern-Modul";
        p.SetTDir(target);
        p.Rollback = rollback;
        p.VResult = "R\\Tarnix.exe\\Projects\\" + project + "\\Ver\\=2";
        return p;
    }
    std::string result() { return ReadRegistryString("R\\Tarnix.exe\\Projects\\" + project + "\\Ver", "", "", ""); }

    TempFolder dir;
    const std::string target = dir / "App\\";
    TUpdateParts parts;
    StringList log;
    StringList toDelete;
    TArchive archive;
    ScopedLogThreshold threshold{2};
    RecordingUi ui;
    TestPrompter prompter;
    std::string project = std::string("Rollback") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(RollbackTest, AnyFailureLeavesThePartAsItWas) {
    const std::string rolledBack = "Die Änderungen an Kern-Modul wurden zurückgenommen.";
    struct Case {
        const char* what;
        Fault fault;
        const char* faultPath;
        bool holdDeleted;
        std::string failureLine;
        bool journalStays = false;
    };
    const Case cases[] = {
        {"a folder where a file goes", Fault::ShortWrite, "nothing", false,
         "*** " + target + "blocked nicht (vollständig) geschrieben."},
        {"a write cut short", Fault::DiskFull, "z.dat", false,
         "*** " + target + "z.dat nicht (vollständig) geschrieben. Grund: Datenträger voll."},
        {"a listed file held open", Fault::ShortWrite, "nothing", true, target + "alt.dll konnte nicht gelöscht werden."},
        {"the journal cannot be made", Fault::CreateFails, ".~rj", false,
         "*** " + target + "~update0.~rj konnte nicht geschrieben werden. Grund: Datenträger voll."},
        // The journal that failed stays for the next run, which finds nothing of it to undo.
        {"a journal line cannot be flushed", Fault::FlushFails, ".~rj", false,
         "*** " + target + "~update0.~rj konnte nicht geschrieben werden. Grund: Schreibfehler auf dem Datenträger.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.holdDeleted) RemoveTree(target + "blocked");
        const std::string before = Snapshot(target);
        TUpdatePart& p = part(true);
        log.clear();
        {
            FaultFileSystem faults;
            faults.fail(c.fault, c.faultPath);
            std::unique_ptr<FileHandle> held = c.holdDeleted ? Fs().open(target + "alt.dll", OpenMode::ReadShared) : nullptr;
            EXPECT_FALSE(ApplyPart(p, archive, toDelete));
        }
        EXPECT_EQ(log, (StringList{"\r\nKern-Modul", c.failureLine, rolledBack}));
        if (c.journalStays) EXPECT_TRUE(RecoverInterruptedPart(part(false)));
        EXPECT_EQ(Snapshot(target), before);
        EXPECT_EQ(result(), "");
        if (c.holdDeleted) Fs().createFolder(target + "blocked");
    }
}

TEST_F(RollbackTest, SuccessEqualsAPartWithoutRollback) {
    RemoveTree(target + "blocked");
    const std::string before = Snapshot(target);
    EXPECT_TRUE(ApplyPart(part(false), archive, toDelete));
    const std::string without = Snapshot(target);
    const StringList withoutLog = log;

    Fs().setAttributes(target + "kern.dll", kAttrNormal);
    RemoveTree(target);
    Fs().createFolder(target);
    MakeFile(target + "kern.dll", "kern v1", kOlderStamp);
    Fs().setAttributes(target + "kern.dll", kAttrReadOnly | kAttrHidden);
    MakeFile(target + "alt.dll", "alt", kOlderStamp);
    ASSERT_EQ(Snapshot(target), before);
    log.clear();
    EXPECT_TRUE(ApplyPart(part(true), archive, toDelete));
    EXPECT_EQ(Snapshot(target), without);
    EXPECT_EQ(log, withoutLog);
    EXPECT_EQ(result(), "2");
}

// An undo that fails names the file and says that the changes could not all
// be taken back; the path of a kept copy that cannot be renamed back still
// holds the new file. The journal stays: the next run, of a package without
// rollback too, finishes the undo before it changes anything.
TEST_F(RollbackTest, FailedUndoIsLoggedAndFinishedByTheNextRun) {
    struct Case {
        const char* what;
        Fault fault;
        const char* faultPath;
        StringList undoLines;
    };
    const Case cases[] = {
        {"a new file cannot be removed", Fault::RemoveFails, "n.dat",
         {"*** " + target + "neu\\tief\\n.dat konnte nicht entfernt werden."}},
        {"a kept copy cannot be renamed back", Fault::RenameFromFails, ".~r0",
         {"*** " + target + "kern.dll konnte nicht wiederhergestellt werden (vorige Fassung: " + target +
          "kern.dll.~r0)."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        install();
        const std::string before = Snapshot(target);
        log.clear();
        {
            FaultFileSystem faults;
            faults.fail(c.fault, c.faultPath);
            EXPECT_FALSE(ApplyPart(part(true), archive, toDelete));
        }
        StringList expected = {"\r\nKern-Modul", "*** " + target + "blocked nicht (vollständig) geschrieben."};
        expected.insert(expected.end(), c.undoLines.begin(), c.undoLines.end());
        expected.push_back("Die Änderungen an Kern-Modul konnten nicht alle zurückgenommen werden.");
        EXPECT_EQ(log, expected);
        EXPECT_TRUE(FileExists(target + "kern.dll"));
        EXPECT_NE(Snapshot(target), before);
        log.clear();
        EXPECT_TRUE(RecoverInterruptedPart(part(false)));
        EXPECT_EQ(Snapshot(target), before);
        EXPECT_EQ(log, StringList{"Ein abgebrochenes Update in " + target + " wurde zurückgenommen."});
    }
}

// A run killed at any point, then the next run of a package without rollback:
// the part is as before the killed run, except that a file which another
// installer put at a path of the journal meanwhile stays as that installer left
// it. Before that run, another package's run may come whose part's folder holds
// the killed part's folder (as the system folder holds what a part writes into
// its second folder): its clean-up of temporaries leaves the kept copies to
// their journal.
TEST_F(RollbackTest, KilledRunIsUndoneKeepingWhatOthersInstalledSince) {
    RemoveTree(target + "blocked");
    WritePackage(dir / "outer.vpa", {{"rep\\Alle\\App\\kern.dll", "kern v9", kEntryStamp}});
    TArchive outerArchive;
    outerArchive.openFile(dir / "outer.vpa");
    const int succeededAt = successChange();
    ASSERT_GT(succeededAt, 0);
    enum Since { Nothing, KernReplaced, OtherPackageRun };
    struct Case {
        Since since;
        Interruption how;
    };
    for (Case c : {Case{Nothing, Interruption::Kill}, Case{KernReplaced, Interruption::Kill},
                   Case{OtherPackageRun, Interruption::Kill}, Case{Nothing, Interruption::PowerCut},
                   Case{KernReplaced, Interruption::PowerCut}}) {
        const Since since = c.since;
        install();
        RemoveTree(target + "blocked");
        if (since == KernReplaced) replaceKernByOtherMeans();
        const std::string expected = Snapshot(target);
        for (int k = 0; k < succeededAt && !HasFailure(); ++k) {
            SCOPED_TRACE((c.how == Interruption::PowerCut ? "power cut after change " : "killed after change ") +
                         std::to_string(k) + ", since then " + std::to_string(since));
            install();
            RemoveTree(target + "blocked");
            {
                FaultFileSystem faults;
                faults.interruptAfter(k, c.how);
                EXPECT_THROW(ApplyPart(part(true), archive, toDelete), Interrupted);
            }
            if (since == KernReplaced) replaceKernByOtherMeans();
            if (since == OtherPackageRun) {
                TUpdatePart& outer = parts.Add("Alle");
                outer.SetTDir(dir.path());
                EXPECT_TRUE(RecoverInterruptedPart(outer));
                RemoveLeftoversOf(outer, outerArchive, {});
            }
            log.clear();
            TUpdatePart& next = part(false);
            EXPECT_TRUE(RecoverInterruptedPart(next)) << ::testing::PrintToString(log);
            RemoveLeftoversOf(next, archive, toDelete);
            EXPECT_EQ(Snapshot(target), expected);
        }
    }
}

// A journal that this updater could not have written is untrusted input: not
// one file changes because of it, the log names it and the run stops. One in
// an earlier version's form within the part's folder is undone as ever.
TEST_F(RollbackTest, JournalThatTheUpdaterCouldNotHaveWrittenIsNotObeyed) {
    const std::string victim = dir / "victim.txt", kern = target + "kern.dll", journal = target + "~update0.~rj";
    struct Case {
        const char* what;
        std::string lines;
        bool obeyed;
    };
    const Case cases[] = {
        {"current form, a file outside the folder", "N" + victim + "||-2|-1|-1\r\n", false},
        {"older form, a file outside the folder", "K" + victim + "|" + victim + ".~r0\r\n", false},
        {"..\\ after the folder", "N" + target + "..\\victim.txt||-2|-1\r\n", false},
        {"a kept name that is not the path's", "K" + kern + "|" + victim + "|-2|-1\r\n", false},
        {"a good line, then a bad one", "K" + kern + "|" + kern + ".~r0|-2|-1\r\nN" + target + "x\\.\\y||-2|-1\r\n", false},
        {"a size that is no number", "K" + kern + "|" + kern + ".~r0|7x|-1\r\n", false},
        {"a trailing dot", "N" + target + "alt.dll.||-2|-1\r\n", false},
        {"older form within the folder", "K" + kern + "|" + kern + ".~r0\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        install();
        RemoveTree(target + "blocked");
        MakeFile(victim, "mine", kOlderStamp);
        MakeFile(victim + ".~r0", "planted", kOlderStamp);
        MakeFile(kern + ".~r0", "kern v0", kOlderStamp);
        WriteBytes(journal, c.lines);
        const std::string before = Snapshot(dir.path());
        log.clear();
        EXPECT_EQ(RecoverInterruptedPart(part(false)), c.obeyed);
        if (c.obeyed) {
            EXPECT_EQ(ReadBytes(kern), "kern v0");
            EXPECT_FALSE(FileExists(journal));
            continue;
        }
        EXPECT_EQ(Snapshot(dir.path()), before);
        EXPECT_EQ(log, (StringList{"*** " + journal + " stammt nicht von diesem Updater und wird nicht befolgt.",
                                   "Das Update kann nicht ausgeführt werden."}));
        Fs().removeFile(journal);
    }
}

// What a run wrote is recognised by its UTC stamp within 2 seconds (the
// resolution of an MS-DOS stamp); the MS-DOS stamp, here another, decides beyond.
TEST(WrittenStamp, MatchesWithinTwoSecondsOnly) {
    TempFolder dir;
    const std::string path = dir / "a.dll";
    MakeFile(path, "abc", kOlderStamp);
    FindData found;
    ASSERT_TRUE(Fs().findFirst(path, found));
    ASSERT_GE(found.utcTime, 0);
    const std::int64_t second = 10000000;
    const std::pair<std::int64_t, bool> cases[] = {{0, true},           {1 * second, true},  {-2 * second, true},
                                                   {2 * second, true},  {3 * second, false}, {-3 * second, false},
                                                   {2 * second + 1, false}};
    for (const auto& [offset, matches] : cases) {
        Written written{3, kEntryStamp, found.utcTime + offset};
        EXPECT_EQ(written.isAt(path), matches) << offset;
    }
}

// Kept copies and the other temporaries are numbered 0 to 99: a journal naming
// a third digit is foreign, a file with one is not the updater's, and the
// hundredth name taken leaves none free.
TEST(KeptNames, TwoDigitsAtMost) {
    TempFolder dir;
    const std::string folder = dir / "App\\", path = folder + "a.dll";
    const struct {
        const char* suffix;
        bool ours;
    } cases[] = {{".~r0", true}, {".~r99", true}, {".~r100", false}, {".~r", false}, {".~r9x", false}};
    for (const auto& c : cases) {
        std::vector<RollbackJournal::Record> records;
        EXPECT_EQ(RollbackJournal::ParseText("K" + path + "|" + path + c.suffix + "|-2|-1\r\n", folder, {}, records),
                  c.ours)
            << c.suffix;
        std::string base;
        EXPECT_EQ(ParseTempName(std::string("a.dll") + c.suffix, base), c.ours) << c.suffix;
    }
    Fs().createFolder(folder);
    for (int n = 0; n < 99; ++n) WriteBytes(TempName(path, TempKind::Kept, n), "");
    EXPECT_EQ(FreeTempName(path, TempKind::Kept), path + ".~r99");
    WriteBytes(path + ".~r99", "");
    EXPECT_EQ(FreeTempName(path, TempKind::Kept), "");
}

// The names of the files below `folder`, and of the folders that hold none, sorted.
std::string Names(const std::string& folder, const std::string& rel = "") {
    std::vector<FindData> children;
    Fs().listFolder(folder + rel, children);
    std::vector<std::string> names;
    for (const FindData& c : children)
        names.push_back(c.attributes & kAttrDirectory ? Names(folder, rel + c.name + "\\") : rel + c.name);
    if (names.empty()) return rel;
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : " ") + n;
    return text;
}

// The clean-up after a journal removes the temporaries beside the paths that
// its lines name and the folders that the check made and left empty; no file
// goes for its name alone (an empty journal removes nothing), and a backup
// beside a named path whose file is missing becomes that file again.
TEST_F(RollbackTest, CleanUpRemovesOnlyWhatTheJournalNames) {
    const std::string t = target;
    struct Case {
        const char* what;
        std::string lines;
        RollbackJournal::Recovery outcome;
        std::string left;
    };
    const std::string all = "Daten\\Kunden.mdb.~c1 alt.dll kern.dll ledger.xls.~u2 leer\\ neu\\fremd.~s1 neu\\n.dat.~u0 "
                            "report.doc.~b1 staged.dll.~s0 staged.dll.~u1";
    const Case cases[] = {
        {"an empty journal", "", RollbackJournal::Recovery::Cleaned, all},
        {"a journal of the check", "F" + t + "leer||-2|-1|-1\r\nF" + t + "neu||-2|-1|-1\r\nT" + t +
                                       "neu\\n.dat||-2|-1|-1\r\nT" + t + "staged.dll||-2|-1|-1\r\n",
         RollbackJournal::Recovery::Cleaned,
         "Daten\\Kunden.mdb.~c1 alt.dll kern.dll ledger.xls.~u2 neu\\fremd.~s1 report.doc.~b1"},
        {"a part's journal", "N" + t + "ledger.xls||-2|-1|-1\r\nK" + t + "report.doc|" + t + "report.doc.~r0|-2|-1|-1\r\n",
         RollbackJournal::Recovery::Undone,
         "Daten\\Kunden.mdb.~c1 alt.dll kern.dll leer\\ neu\\fremd.~s1 neu\\n.dat.~u0 report.doc staged.dll.~s0 "
         "staged.dll.~u1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        install();
        RemoveTree(target + "blocked");
        for (const char* folder : {"Daten", "leer", "neu"}) Fs().createFolder(target + folder);
        for (const std::string name : {"Daten\\Kunden.mdb.~c1", "ledger.xls.~u2", "neu\\fremd.~s1", "neu\\n.dat.~u0",
                                       "report.doc.~b1", "staged.dll.~s0", "staged.dll.~u1"})
            WriteBytes(target + name, name);
        WriteBytes(target + "~update0.~rj", c.lines);
        ASSERT_EQ(Names(target), all + " ~update0.~rj");
        UndoReport report;
        EXPECT_EQ(RollbackJournal::Recover(target, report), c.outcome);
        EXPECT_EQ(Names(target), c.left);
    }
}

// A journal is read up to 64 MiB; a longer one is not the updater's, also
// where its length does not fit the 32 bits of the 32-bit build's sizes.
TEST_F(RollbackTest, JournalOverTheBoundIsNotObeyed) {
    const std::string journal = target + "~update0.~rj";
    constexpr std::int64_t kBound = std::int64_t(64) << 20;
    for (std::int64_t size : {kBound, kBound + 1, (std::int64_t(1) << 32) + 2}) {
        SCOPED_TRACE(size);
        {
            std::unique_ptr<FileHandle> file = Fs().open(journal, OpenMode::Create);
            ASSERT_TRUE(file && file->seek(size - 1) && file->write("\n", 1) == 1);  // sparse where the disk allows
        }
        UndoReport report;
        EXPECT_EQ(RollbackJournal::Recover(target, report),
                  size > kBound ? RollbackJournal::Recovery::Refused : RollbackJournal::Recovery::Cleaned);
        EXPECT_EQ(FileExists(journal), size > kBound);
        Fs().removeFile(journal);
    }
}

// A backup that a replace left behind is the only copy when its target is
// missing: it becomes the target again; beside its target it goes.
TEST(LeftoverTemporaries, BackupWithoutItsTargetBecomesTheTarget) {
    TempFolder dir;
    const std::string target = dir / "a.dll";
    for (bool targetThere : {false, true}) {
        SCOPED_TRACE(targetThere ? "target there" : "target missing");
        if (targetThere) WriteBytes(target, "new");
        WriteBytes(target + ".~b0", "old");
        RemoveLeftoverTemporaries(dir.path(), {target});
        EXPECT_EQ(ReadBytes(target), targetThere ? "new" : "old");
        EXPECT_FALSE(FileExists(target + ".~b0"));
    }
}

}  // namespace
