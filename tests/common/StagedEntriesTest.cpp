// The run's check stages the entries it will probably write, so that each is
// inflated once: what a run leaves (files, stamps, folders, counters, log) is
// what it left without staging, and no staged file survives a run, whether it
// succeeds, is refused for damaged data, or cannot write its staged files.
#include <gtest/gtest.h>

#include <algorithm>

#include "FaultFileSystem.h"
#include "PatchSupport.h"
#include "UpdateTestSupport.h"
#include "archive/ArchiveWriter.h"
#include "driver/RunUpdate.h"
#include "driver/UpdateSession.h"
#include "update/Rollback.h"
#include "update/StagedEntries.h"
#include "update/StagingSinks.h"

namespace {

const std::int32_t kOld = Stamp(2020, 1, 1, 10, 0, 0);
const std::int32_t kNew = Stamp(2024, 3, 15, 14, 30, 10);
const std::int32_t kNewer = Stamp(2025, 1, 1, 8, 0, 0);

// Passes everything on to the file system in place; counts the reads of the
// package and makes writes (or flushes) of staged files fail when asked.
class WatchingFileSystem final : public ForwardingFileSystem {
public:
    explicit WatchingFileSystem(std::string package) : package_(std::move(package)) {}

    std::unique_ptr<FileHandle> open(const std::string& path, OpenMode mode) override {
        if (path == package_) ++packageOpens;
        auto file = real_.open(path, mode);
        if (!file || !(failStagedWrites || failStagedFlushes) || path.find(".~s") == std::string::npos) return file;
        return std::make_unique<FullDisk>(std::move(file), failStagedFlushes);
    }
    bool replaceFile(const std::string& from, const std::string& to) override {
        bool moved = real_.replaceFile(from, to);
        if (moved && from.find(".~s") != std::string::npos) ++stagedRenames;
        return moved;
    }
    // A disk that cannot write cannot be flushed as a whole either: each staged file is flushed then.
    bool flushVolume(const std::string& path) override { return !failStagedFlushes && real_.flushVolume(path); }

    int packageOpens = 0;
    int stagedRenames = 0;
    bool failStagedWrites = false;
    bool failStagedFlushes = false;

private:
    // A file whose writes store nothing, or whose data never reaches the disk.
    class FullDisk final : public FileHandle {
    public:
        FullDisk(std::unique_ptr<FileHandle> file, bool flushOnly) : file_(std::move(file)), flushOnly_(flushOnly) {}
        std::int64_t read(void* b, std::int64_t n) override { return file_->read(b, n); }
        std::int64_t write(const void* b, std::int64_t n) override { return flushOnly_ ? file_->write(b, n) : -1; }
        bool seek(std::int64_t p) override { return file_->seek(p); }
        std::int64_t size() override { return file_->size(); }
        std::int32_t dosDate() override { return file_->dosDate(); }
        bool setDosDate(std::int32_t s) override { return file_->setDosDate(s); }
        bool flush() override { return !flushOnly_ && file_->flush(); }

    private:
        std::unique_ptr<FileHandle> file_;
        bool flushOnly_;
    };

    std::string package_;
};

class StagedEntriesTest : public ::testing::Test {
protected:
    StagedEntriesTest() { install(); }

    // The application as installed before the run.
    void install() {
        app_ = dir / "App\\";
        RemoveTree(dir / "App");
        Fs().createFolder(dir / "App");
        MakeFile(app_ + "readme.txt", "old readme", kOld);
        MakeFile(app_ + "current.txt", "kept", kNewer);
        MakeFile(app_ + "locked.txt", "old", kOld);
        Fs().setAttributes(app_ + "locked.txt", kAttrReadOnly);
    }

    // The entries of the package besides the control file and the deletion list.
    std::vector<PackageEntry> entries_ = {
        {"add\\Demo\\prog.exe", std::string(70000, 'p'), kNew},
        {"add\\Demo\\sub\\deeper\\data.bin", std::string(300000, 'd'), kNew},
        {"rep\\Demo\\readme.txt", "new readme", kNew},
        {"rep\\Demo\\notthere.txt", "never written", kNew},
        {"add\\Demo\\current.txt", "older than installed", kNew},
        {"rep\\Demo\\locked.txt", "replaced read-only file", kNew},
        {"add\\Other\\elsewhere\\x.txt", "of a part whose version check fails", kNew},
    };

    std::string writeUpdater() {
        std::string ini = "P=Demo\r\nV=1\r\n\r\n[Demo]\r\nN=Demo\r\nTDIR=" + app_ +
                          "\r\n" + demoKeys_ + "\r\n[Other]\r\nN=Other\r\nTDIR=" + app_ +
                          "\r\nVChk=\"1.0\"<=R\\Tarnix.exe\\Projects\\Other\\Ver\\<=\"2.0\"\r\n";
        std::vector<PackageEntry> all = {{"todel.txt", "", kNew}, {"update.ini", ini, kNew}};
        all.insert(all.end(), entries_.begin(), entries_.end());
        std::ostringstream out;
        out << std::string(1000, 'M');
        ArchiveWriter writer(out, 1000, 1 << 16);
        for (const PackageEntry& e : all) writer.declare(e.name, e.date);
        for (std::size_t i = 0; i < all.size(); ++i) writer.addContent(i, all[i].content);
        writer.finish(true);
        WriteBytes(dir / "update.exe", out.str());
        return dir / "update.exe";
    }

    // Runs the update; the log of the run.
    StringList run(const std::string& exe, bool expectSuccess = false) {
        SessionView view;
        UpdateSession session(view);
        session.load(exe);
        StringList log;
        EXPECT_EQ(session.start(log, false), expectSuccess);
        return log;
    }

    // Every file and folder below the application's folder, "name stamp" lines.
    std::string tree(const std::string& folder = "") {
        std::vector<FindData> children;
        Fs().listFolder(app_ + folder, children);
        std::sort(children.begin(), children.end(), [](const FindData& a, const FindData& b) { return a.name < b.name; });
        std::string text;
        for (const FindData& c : children) {
            if (c.attributes & kAttrDirectory) {
                text += folder + c.name + "\\\n" + tree(folder + c.name + "\\");
                continue;
            }
            text += folder + c.name + (c.dosDate == kNew ? " new" : c.dosDate == kOld ? " old" : " other") + "\n";
        }
        return text;
    }

    // readme.txt written from a patch instead of whole.
    void patchReadme() {
        entries_[2] = {"pat\\Demo\\readme.txt", MakePatch("old readme", "patched readme", {{"", "patched readme", 0}}),
                       kNew};
    }

    TempFolder dir;
    std::string app_;
    std::string demoKeys_;  // more lines of the part [Demo]
    TestPrompter prompter_;
    RecordingUi ui_;
    ScopedLogThreshold threshold_{2};
};

const StringList kLog = {
    "\r\nDemo",
    "2 Dateien zugefügt",
    "2 Dateien aktualisiert",
    "1 wurden nicht aktualisiert, da neuere oder gleiche Exemplare vorlagen.",
    "\r\nDie Version des installierten Projekts Other kann nicht ermittelt werden.\r\nDas Update wird nicht ausgeführt.",
    "\r\nUpdate beendet.\r\nEs sind Fehler aufgetreten.\r\n"
    "Das Update sollte nach Beseitigung der Fehlerursache wiederholt werden.",
};

const char* const kTreeAfterRun =
    "current.txt other\n"
    "locked.txt new\n"
    "prog.exe new\n"
    "readme.txt new\n"
    "sub\\\n"
    "sub\\deeper\\\n"
    "sub\\deeper\\data.bin new\n";

const char* const kTreeBefore = "current.txt other\nlocked.txt old\nreadme.txt old\n";

}  // namespace

TEST_F(StagedEntriesTest, EachWrittenEntryIsInflatedOnceAndNothingStagedRemains) {
    std::string exe = writeUpdater();
    WatchingFileSystem watch(exe);
    EXPECT_EQ(run(exe), kLog);
    EXPECT_EQ(tree(), kTreeAfterRun);
    EXPECT_EQ(ReadBytes(app_ + "sub\\deeper\\data.bin"), std::string(300000, 'd'));
    EXPECT_EQ(ReadBytes(app_ + "locked.txt"), "replaced read-only file");
    // Four entries written, each from its staged copy; the package was opened
    // once, at loading, and its signer and entries read through that handle.
    EXPECT_EQ(watch.stagedRenames, 4);
    EXPECT_EQ(watch.packageOpens, 1);
}

TEST_F(StagedEntriesTest, StagedFilesThatCannotBeWrittenLeaveTheWorkToExtraction) {
    std::string exe = writeUpdater();
    for (bool flushFails : {false, true}) {
        SCOPED_TRACE(flushFails ? "flush fails" : "write fails");
        install();
        WatchingFileSystem watch(exe);
        watch.failStagedWrites = !flushFails;
        watch.failStagedFlushes = flushFails;
        EXPECT_EQ(run(exe), kLog);
        EXPECT_EQ(tree(), kTreeAfterRun);
        EXPECT_EQ(ReadBytes(app_ + "prog.exe"), std::string(70000, 'p'));
        EXPECT_EQ(watch.stagedRenames, 0);
    }
}

// A run waits for the disk once for each group of flushes, not once for each
// file: the check names what it stages in one flush, its staged files reach the disk in one flush of their volume, the
// journal of a part with rollback notes its changes ahead in one flush and its
// success in one. Where the volume cannot be flushed as a whole, each staged
// file is flushed on its own, before the first of them is renamed.
TEST_F(StagedEntriesTest, TheRunsWaitsForTheDiskDoNotGrowWithItsFiles) {
    const std::size_t base = entries_.size();
    const struct {
        const char* rollback;
        bool volumeFlush;
    } cases[] = {{"", true}, {"ROLLBACK=1\r\n", true}, {"", false}, {"ROLLBACK=1\r\n", false}};
    for (const auto& c : cases) {
        int waits[2] = {};
        for (int more : {0, 30}) {
            SCOPED_TRACE(std::string(c.rollback) + (c.volumeFlush ? "" : "no volume flush, ") + std::to_string(more));
            entries_.resize(base);
            for (int i = 0; i < more; ++i)
                entries_.push_back({"add\\Demo\\more\\f" + std::to_string(i) + ".dat", std::string(100, 'm'), kNew});
            demoKeys_ = c.rollback;
            install();
            FaultFileSystem faults;
            if (!c.volumeFlush) faults.fail(Fault::NoVolumeFlush);
            run(writeUpdater());
            if (more) EXPECT_NE(tree().find("more\\f29.dat new"), std::string::npos);
            EXPECT_EQ(tree().find(".~"), std::string::npos);
            waits[more != 0] = faults.flushes();
        }
        // The note of what the check stages; the four entries written from staged
        // copies; with rollback, the notes and the commit line.
        EXPECT_EQ(waits[0], 1 + (c.volumeFlush ? 1 : 4) + (*c.rollback ? 2 : 0));
        EXPECT_EQ(waits[1] - waits[0], c.volumeFlush ? 0 : 30);
    }
}

TEST_F(StagedEntriesTest, DamageInALaterEntryRemovesWhatWasStaged) {
    entries_.push_back({"add\\Demo\\new\\folder\\last.bin", std::string(100000, 'l'), kNew});
    std::string exe = writeUpdater();
    std::string bytes = ReadBytes(exe);
    auto probe = std::make_unique<TArchive>();
    probe->openAttached(exe);
    std::size_t at = 1000 + static_cast<std::size_t>(probe->entryAt(probe->entryCount() - 1).dataOffset) + 4 + 20;
    probe.reset();  // it holds the package against writing
    bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
    WriteBytes(exe, bytes);
    StringList log = run(exe);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("\r\nDas Update ist beschädigt oder unvollständig.\r\nadd\\Demo\\new\\folder\\last.bin: ", 0),
              0u);
    EXPECT_EQ(tree(), "current.txt other\nlocked.txt old\nreadme.txt old\n");
}

TEST_F(StagedEntriesTest, LeftoversOfAnInterruptedRunAreWrittenOver) {
    MakeFile(app_ + "prog.exe.~s0", "half of an earlier run", kOld);
    std::string exe = writeUpdater();
    EXPECT_EQ(run(exe), kLog);
    EXPECT_EQ(tree(), kTreeAfterRun);
}

TEST_F(StagedEntriesTest, AnEntryStagedOnceIsWrittenToEveryTarget) {
    StagedEntries staging;
    std::string exe = writeUpdater();
    TArchive archive;
    archive.openAttached(exe);
    std::int32_t prog = archive.indexOf("add\\Demo\\prog.exe");
    ASSERT_EQ(staging.stage(archive, prog, app_ + "prog.exe"), StreamResult::Complete);
    EXPECT_EQ(staging.stagedCount(), 1u);
    EXPECT_TRUE(staging.commit(prog, app_ + "one.exe", false));
    // The staged copy is used up: the caller extracts for the second target.
    EXPECT_FALSE(staging.commit(prog, app_ + "two.exe", false));
    EXPECT_EQ(ReadBytes(app_ + "one.exe"), std::string(70000, 'p'));
    EXPECT_EQ(StampOf(app_ + "one.exe"), kNew);
}

// A target held open by another program stops the run before its first
// change: every file stays as it was, and no staged file is left.
TEST_F(StagedEntriesTest, ATargetInUseStopsTheRunBeforeAnyChange) {
    std::string exe = writeUpdater();
    const std::string before = tree();
    std::unique_ptr<FileHandle> inUse = Fs().open(app_ + "readme.txt", OpenMode::ReadShared);
    ASSERT_TRUE(inUse);
    StringList log = run(exe);
    inUse.reset();
    ASSERT_EQ(prompter_.questions().size(), 1u);
    EXPECT_EQ(prompter_.questions()[0].text,
              "Diese Dateien werden im Moment benutzt und können nicht ersetzt werden:\r    " + app_ +
                  "readme.txt\r\rBeenden Sie die Programme, die sie benutzen, und versuchen Sie es erneut.");
    EXPECT_EQ(log, StringList{"\r\nDas Update wird nicht ausgeführt: Dateien werden benutzt."});
    EXPECT_EQ(tree(), before);
}

// A patch's new file is staged whatever other entries' staging came to; one
// that cannot be staged stops the run before its first change, saying why.
TEST_F(StagedEntriesTest, APatchIsStagedOrTheRunStopsBeforeAnyChange) {
    patchReadme();
    std::string exe = writeUpdater();
    for (const std::string full : {"prog.exe.~s", "readme.txt.~s"}) {
        SCOPED_TRACE(full);
        install();
        FaultFileSystem faults;
        faults.fail(Fault::DiskFull, full);
        const bool patchFails = full == "readme.txt.~s";
        EXPECT_EQ(run(exe), patchFails ? StringList{"\r\nDie neue Fassung von " + app_ +
                                                    "readme.txt kann nicht daneben angelegt werden. "
                                                    "Grund: Datenträger voll.\r\nDas Update wird nicht ausgeführt."}
                                       : kLog);
        EXPECT_EQ(ReadBytes(app_ + "readme.txt"), patchFails ? "old readme" : "patched readme");
        EXPECT_EQ(tree(), patchFails ? kTreeBefore : kTreeAfterRun);
    }
}

// A patched file held without sharing cannot be read: a file in use (the
// retry question), with REBOOTOK too, as its new file is built from it.
TEST_F(StagedEntriesTest, APatchedFileHeldWithoutSharingIsAFileInUse) {
    patchReadme();
    for (const char* keys : {"", "REBOOTOK=1\r\n"}) {
        demoKeys_ = keys;
        std::string exe = writeUpdater();
        std::unique_ptr<FileHandle> held = Fs().open(app_ + "readme.txt", OpenMode::ReadExclusive);
        EXPECT_EQ(run(exe), StringList{"\r\nDas Update wird nicht ausgeführt: Dateien werden benutzt."}) << keys;
        EXPECT_EQ(tree(), kTreeBefore);
    }
    EXPECT_EQ(prompter_.questions().size(), 2u);
}

// A written file that reads back otherwise is a failed write; a part with rollback is undone,
// also the folders it made, where an entry that it did not reach was staged.
TEST_F(StagedEntriesTest, AFileThatReadsBackOtherwiseIsNotWritten) {
    demoKeys_ = "ROLLBACK=1\r\n";
    entries_.push_back({"add\\Demo\\sub\\deeper\\later.bin", "not reached", kNew});
    std::string exe = writeUpdater();
    AlteringFileSystem altering;
    altering.target = app_ + "readme.txt";
    StringList log = run(exe);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "*** " + app_ + "readme.txt nicht (vollständig) geschrieben.");
    EXPECT_EQ(log[2], "Die Änderungen an Demo wurden zurückgenommen.");
    EXPECT_EQ(tree(), kTreeBefore);
    EXPECT_EQ(ReadBytes(app_ + "readme.txt"), "old readme");
}

// a part WITHOUT rollback whose written file reads back otherwise keeps
// that file, stamped with the entry's date; running the same package again (as
// the log asks) takes it for an up-to-date file and repairs nothing: the part
// reports no error and the damaged file stays. Shown for a whole entry and a patch.
TEST_F(StagedEntriesTest, ARunAfterAReadBackFailureWritesTheFileAgain) {
    for (bool patched : {false, true}) {
        SCOPED_TRACE(patched ? "patch" : "whole entry");
        install();
        if (patched) patchReadme();
        const std::string expected = patched ? "patched readme" : "new readme";
        std::string exe = writeUpdater();
        {
            AlteringFileSystem altering;
            altering.target = app_ + "readme.txt";
            StringList log = run(exe);
            ASSERT_GE(log.size(), 2u);
            EXPECT_NE(std::find(log.begin(), log.end(), "*** " + app_ + "readme.txt nicht (vollständig) geschrieben."),
                      log.end());
        }
        std::string afterFirst = ReadBytes(app_ + "readme.txt");
        EXPECT_NE(afterFirst, expected);  // the damaged write stays in place
        // The damaged file has the oldest stamp: the second run writes a whole
        // entry again, and refuses a patch, whose base it no longer is.
        StringList second = run(exe);
        std::string said;
        for (const std::string& line : second) said += line + "\n";
        if (patched)
            EXPECT_NE(said.find("ist nicht die, für die dieses Update gemacht ist"), std::string::npos) << said;
        else
            EXPECT_EQ(ReadBytes(app_ + "readme.txt"), expected) << said;
    }
}

// a scanner that changes the written file's length and keeps it from
// being removed at once (it still holds it): the part with rollback cannot take
// the file away, its undo then takes it for another's and deletes the kept
// original, so neither the old nor the new file is left.
TEST_F(StagedEntriesTest, RollbackKeepsTheOriginalWhenTheAlteredFileCannotBeRemoved) {
    demoKeys_ = "ROLLBACK=1\r\n";
    std::string exe = writeUpdater();
    StringList log;
    {
        AlteringFileSystem altering;
        altering.target = app_ + "readme.txt";
        altering.lengthens = altering.holdsIt = true;
        log = run(exe);
    }
    EXPECT_EQ(ReadBytes(app_ + "readme.txt"), "old readme");
}

// The same scanner, and the run ends right after the journal noted the
// altered file as the run's own (killed, or the power fails): the next run's
// recovery takes that file back and puts the kept original in its place.
TEST_F(StagedEntriesTest, ARecoveryAfterTheBadWriteTakesItBackAsTheRunsOwn) {
    demoKeys_ = "ROLLBACK=1\r\n";
    const std::string exe = writeUpdater(), readme = app_ + "readme.txt";
    auto runAltered = [&](int interruptAfter, Interruption how) {
        FaultFileSystem faults;
        faults.interruptAfter(interruptAfter, how);
        AlteringFileSystem altering;
        altering.target = readme;
        altering.lengthens = altering.holdsIt = true;
        try { run(exe); } catch (const Interrupted&) {}
        return faults.journal();
    };
    // The change that notes it: the first line of the journal after the scanner's write.
    const std::vector<std::string> changes = runAltered(-1, Interruption::Kill);
    auto noted = std::find_if(std::find(changes.begin(), changes.end(), "write " + readme), changes.end(),
                              [&](const std::string& c) { return c.rfind("write " + app_ + "~update", 0) == 0; });
    ASSERT_NE(noted, changes.end()) << ::testing::PrintToString(changes);
    for (Interruption how : {Interruption::Kill, Interruption::PowerCut}) {
        install();
        runAltered(int(noted - changes.begin()) + 1, how);
        ASSERT_EQ(ReadBytes(readme).size(), 11u) << "the altered file in place";
        UndoReport report;
        EXPECT_EQ(RollbackJournal::Recover(app_, report), RollbackJournal::Recovery::Undone) << int(how);
        EXPECT_EQ(tree(), kTreeBefore) << int(how);
        EXPECT_EQ(ReadBytes(readme), "old readme") << int(how);
    }
}

// A staged file asks the system to start writing every 8 MiB it holds, so
// that the flush before its rename does not wait for all of a large file.
TEST(StagingSinkTest, StartsWriteBackEveryEightMebibytes) {
    // Keeps nothing; counts the early starts of write-back.
    class CountingFile final : public FileHandle {
    public:
        std::int64_t read(void*, std::int64_t) override { return -1; }
        std::int64_t write(const void*, std::int64_t n) override { return fails ? -1 : n; }
        bool seek(std::int64_t) override { return true; }
        std::int64_t size() override { return 0; }
        std::int32_t dosDate() override { return -1; }
        bool setDosDate(std::int32_t) override { return true; }
        bool flush() override { return true; }
        void flushAhead() override { ++aheads; }
        bool fails = false;
        int aheads = 0;
    };
    constexpr std::size_t kMiB = std::size_t(1) << 20;
    const struct {
        std::size_t piece, pieces;
        bool fails;
        int aheads;
    } cases[] = {
        {kMiB, 7, false, 0},          // below the first 8 MiB
        {kMiB, 8, false, 1},          // exactly 8 MiB
        {kMiB, 17, false, 2},         // the count starts again after each
        {kMiB - 1, 25, false, 2},     // pieces that do not divide 8 MiB
        {12 * kMiB, 2, false, 2},     // pieces larger than 8 MiB: one each
        {kMiB, 17, true, 0},          // nothing written, nothing to start
    };
    const std::vector<unsigned char> bytes(12 * kMiB, 'x');
    for (const auto& c : cases) {
        CountingFile file;
        file.fails = c.fails;
        StagingSink sink(&file);
        for (std::size_t i = 0; i < c.pieces; ++i) sink.put(bytes.data(), c.piece);
        EXPECT_EQ(file.aheads, c.aheads) << c.piece << " x " << c.pieces;
    }
}
