// Patch entries: the reader builds exactly the new file from the exact old
// one and refuses everything else; a run applies a patch like a "rep\" entry
// and refuses, before any change, an installed file that is not the expected
// one and a damaged patch.
#include <gtest/gtest.h>

#include <algorithm>

#include "FaultFileSystem.h"
#include "PatchSupport.h"
#include "UpdateTestSupport.h"
#include "archive/ArchiveWriter.h"
#include "archive/Patch.h"
#include "driver/UpdateSession.h"

namespace {

const std::int32_t kOld = Stamp(2020, 1, 1, 10, 0, 0);
const std::int32_t kNew = Stamp(2024, 3, 15, 14, 30, 10);

class StringSink final : public ByteSink {
public:
    bool put(const unsigned char* data, std::size_t count) override {
        bytes.append(reinterpret_cast<const char*>(data), count);
        return true;
    }
    std::string bytes;
};

// Applies the patch fed in pieces of `piece` bytes.
PatchOutcome Apply(const std::string& oldFile, const std::string& patch, std::string& out, std::size_t piece) {
    BufferPatchBase base(reinterpret_cast<const unsigned char*>(oldFile.data()), oldFile.size());
    StringSink sink;
    PatchApplier applier(&base, sink);
    for (std::size_t at = 0; at < patch.size(); at += piece)
        if (!applier.put(reinterpret_cast<const unsigned char*>(patch.data()) + at, std::min(piece, patch.size() - at)))
            break;
    PatchOutcome outcome = applier.finish();
    out = sink.bytes;
    return outcome;
}

const std::string kOldFile = "ABCDEFGHIJKLMNOP";
const std::string kDiff3 = std::string("\0\0\1", 3);  // "ABC" + this = "ABD"

TEST(PatchApplier, BuildsTheNewFileWhateverPiecesTheDataComesIn) {
    struct Case {
        const char* what;
        std::vector<PatchRecord> records;
        std::string expected;
    } cases[] = {
        {"diff run, new bytes, a run further on", {{kDiff3, "xy", 0}, {std::string(2, '\0'), "", 7}}, "ABDxyKL"},
        {"a run back to the start", {{"", "new", 0}, {std::string(3, '\0'), "", 0}, {std::string(1, '\0'), "", -3}},
         "newABCA"},
        {"up to the old file's last byte", {{std::string(1, '\0'), "", 15}}, "P"},
        {"an empty new file", {}, ""},
    };
    for (const Case& c : cases) {
        std::string patch = MakePatch(kOldFile, c.expected, c.records);
        for (std::size_t piece : {patch.size(), std::size_t(1), std::size_t(7)}) {
            std::string out;
            EXPECT_EQ(Apply(kOldFile, patch, out, piece), PatchOutcome::Built) << c.what << ", pieces " << piece;
            EXPECT_EQ(out, c.expected) << c.what;
        }
    }
}

TEST(PatchApplier, RefusesAnotherOldFileAndEveryDamage) {
    const std::vector<PatchRecord> good = {{kDiff3, "xy", 0}};
    const std::string goodPatch = MakePatch(kOldFile, "ABDxy", good);
    std::string flipped = goodPatch;
    flipped[kPatchHeaderSize + 4] ^= 0x20;  // a byte inside the zlib stream
    std::string lyingSize = goodPatch;
    lyingSize[12] = 9;  // +12 new size: 9 instead of 5
    std::string bothLie = goodPatch;
    bothLie[4] = 99;  // +4 old size: 99 instead of 16
    struct Case {
        const char* what;
        std::string oldFile, patch;
        PatchOutcome expected;
    } cases[] = {
        {"changed old file", "ABCDEFGHIJKLMNOQ", goodPatch, PatchOutcome::BaseDiffers},
        {"longer old file", kOldFile + "!", goodPatch, PatchOutcome::BaseDiffers},
        {"header's old size lies", kOldFile, bothLie, PatchOutcome::BaseDiffers},
        {"flipped byte in the stream", kOldFile, flipped, PatchOutcome::Damaged},
        {"header's new size lies", kOldFile, lyingSize, PatchOutcome::Damaged},
        {"wrong magic", kOldFile, "PAT0" + goodPatch.substr(4), PatchOutcome::Damaged},
        {"magic between PAT1's and PAT3's", kOldFile, "QAT1" + goodPatch.substr(4), PatchOutcome::Damaged},
        {"header cut short", kOldFile, goodPatch.substr(0, 19), PatchOutcome::Damaged},
        {"header of an empty file alone", kOldFile, MakePatch(kOldFile, "", {}).substr(0, 20), PatchOutcome::Damaged},
        {"stream cut short", kOldFile, goodPatch.substr(0, goodPatch.size() - 2), PatchOutcome::Damaged},
        {"bytes after the stream", kOldFile, goodPatch + "x", PatchOutcome::Damaged},
        {"result's CRC-32 wrong", kOldFile, MakePatch(kOldFile, "ABCxy", good), PatchOutcome::Damaged},
        {"fewer bytes than the header", kOldFile, MakePatch(kOldFile, "ABDxyz", good), PatchOutcome::Damaged},
        {"seek before the start", kOldFile, MakePatch(kOldFile, "A", {{std::string(1, '\0'), "", -1}}),
         PatchOutcome::Damaged},
        {"seek past the end", kOldFile, MakePatch(kOldFile, "", {{"", "", 17}}), PatchOutcome::Damaged},
        {"diff run past the end", kOldFile, MakePatch(kOldFile, "PQ", {{std::string(2, '\0'), "", 15}}),
         PatchOutcome::Damaged},
        {"empty record", kOldFile, MakePatch(kOldFile, "", {{"", "", 0}}), PatchOutcome::Damaged},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(Apply(c.oldFile, c.patch, out, 5), c.expected) << c.what;
        EXPECT_LE(out.size(), 5u) << c.what << ": never more than the header's size";
    }
}

// A run with a patch entry, a "rep\" entry and an "add\" entry.
class PatchRunTest : public ::testing::Test {
protected:
    PatchRunTest() {
        app_ = dir / "App\\";
        Fs().createFolder(dir / "App");
        MakeFile(app_ + "prog.exe", kOldFile, kOld);
        MakeFile(app_ + "readme.txt", "old readme", kOld);
    }

    std::string writeUpdater(const std::string& patch, bool rollback) {
        std::string ini = "P=Demo\r\nV=1\r\n\r\n[Demo]\r\nN=Demo\r\nTDIR=" + app_ + "\r\n" +
                          (rollback ? "ROLLBACK=1\r\n" : "");
        std::vector<PackageEntry> entries = {{"todel.txt", "", kNew},
                                             {"update.ini", ini, kNew},
                                             {"add\\Demo\\new.txt", "new file", kNew},
                                             {"pat\\Demo\\prog.exe", patch, kNew},
                                             {"pat\\Demo\\missing.exe", patch, kNew},
                                             {"rep\\Demo\\readme.txt", "new readme", kNew}};
        WriteUpdater(dir / "update.exe", entries, 1000);
        return dir / "update.exe";
    }

    bool run(const std::string& exe, StringList& log) {
        SessionView view;
        UpdateSession session(view);
        session.load(exe);
        return session.start(log, false);
    }

    std::string logText(const StringList& log) {
        std::string text;
        for (const std::string& line : log) text += line + "\n";
        return text;
    }

    TempFolder dir;
    std::string app_;
    TestPrompter prompter_;
    RecordingUi ui_;
    ScopedLogThreshold threshold_{2};
};

TEST_F(PatchRunTest, PatchedFileIsWrittenLikeAReplacedOneWithOrWithoutRollback) {
    for (bool rollback : {false, true}) {
        MakeFile(app_ + "prog.exe", kOldFile, kOld);
        MakeFile(app_ + "readme.txt", "old readme", kOld);
        Fs().removeFile(app_ + "new.txt");
        StringList log;
        EXPECT_TRUE(run(writeUpdater(MakePatch(kOldFile, "ABDxy", {{kDiff3, "xy", 0}}), rollback), log))
            << logText(log);
        EXPECT_EQ(ReadBytes(app_ + "prog.exe"), "ABDxy");
        EXPECT_EQ(StampOf(app_ + "prog.exe"), kNew);
        EXPECT_EQ(ReadBytes(app_ + "readme.txt"), "new readme");
        EXPECT_EQ(ListFolder(dir / "App"), "new.txt prog.exe readme.txt") << "a patch creates no missing file";
    }
}

TEST_F(PatchRunTest, WrongInstalledFileOrDamagedPatchStopsBeforeAnyChange) {
    std::string good = MakePatch(kOldFile, "ABDxy", {{kDiff3, "xy", 0}});
    std::string flipped = good;
    flipped[flipped.size() - 6] ^= 0x01;  // inside the deflated records, before the Adler-32
    struct Case {
        const char* what;
        std::string installed, patch, logged;
    } cases[] = {
        {"changed by hand", "ABCDEFGHIJKLMNOx", good,
         "Die installierte Datei " + app_ + "prog.exe ist nicht die, für die dieses Update gemacht ist"},
        {"flipped byte", kOldFile, flipped, "Das Update ist beschädigt oder unvollständig.\r\npat\\Demo\\prog.exe: "},
    };
    for (const Case& c : cases) {
        MakeFile(app_ + "prog.exe", c.installed, kOld);
        StringList log;
        EXPECT_FALSE(run(writeUpdater(c.patch, false), log)) << c.what;
        EXPECT_NE(logText(log).find(c.logged), std::string::npos) << c.what << ":\n" << logText(log);
        EXPECT_EQ(ReadBytes(app_ + "prog.exe"), c.installed) << c.what;
        EXPECT_EQ(ReadBytes(app_ + "readme.txt"), "old readme") << c.what;
        EXPECT_EQ(ListFolder(dir / "App"), "prog.exe readme.txt") << c.what << ": no staged file is left";
    }
}

// The patch's data is no file: when its result could not be staged, the
// entry is not written at all, and the installed file stays as it was.
TEST_F(PatchRunTest, APatchWhoseResultCouldNotBeStagedIsNotWritten) {
    std::string package = writeUpdater(MakePatch(kOldFile, "ABDxy", {{kDiff3, "xy", 0}}), false);
    FaultFileSystem faults;
    faults.fail(Fault::DiskFull, ".~s");
    StringList log;
    EXPECT_FALSE(run(package, log));
    EXPECT_EQ(ReadBytes(app_ + "prog.exe"), kOldFile);
    EXPECT_NE(logText(log).find(app_ + "prog.exe"), std::string::npos) << logText(log);
}

// The volume's free room is taken before the new file's first byte: a
// result larger than it is not written at all, and the run says why.
TEST_F(PatchRunTest, AResultLargerThanTheFreeRoomIsNotWritten) {
    EXPECT_GT(PlatformFileSystem().freeSpace(app_), 5) << "the system's own answer";
    struct LittleRoom final : ForwardingFileSystem {
        std::int64_t freeSpace(const std::string& folder) override { return asked = folder, room; }
        std::int64_t room = 4;
        std::string asked;
    } fs;
    std::string package = writeUpdater(MakePatch(kOldFile, "ABDxy", {{kDiff3, "xy", 0}}), false);
    StringList log;
    EXPECT_FALSE(run(package, log));
    EXPECT_EQ(fs.asked, app_);
    EXPECT_NE(logText(log).find("Auf dem Laufwerk von " + app_ + "prog.exe ist nicht genug Platz"), std::string::npos)
        << logText(log);
    EXPECT_EQ(ReadBytes(app_ + "prog.exe"), kOldFile);
    EXPECT_EQ(ListFolder(dir / "App"), "prog.exe readme.txt");
    fs.room = 5;
    EXPECT_TRUE(run(package, log)) << logText(log);
    EXPECT_EQ(ReadBytes(app_ + "prog.exe"), "ABDxy");
}

}  // namespace
