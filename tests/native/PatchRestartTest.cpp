// A patched file that is held open in a part with REBOOTOK: the new file is
// built from it and left for Windows to move in at the next start; what is
// scheduled is the new file, never the patch.
#include <gtest/gtest.h>

#include <sstream>

#include "common/UpdateTestSupport.h"
#include "archive/ArchiveWriter.h"
#include "archive/Patch.h"
#include "base/ByteReader.h"
#include "driver/UpdateSession.h"
#include "platform/FileHolders.h"
#include "platform/RestartSchedule.h"

namespace {

TEST(PatchRestart, HeldPatchedFileIsReplacedByItsNewVersionAtTheNextStart) {
    TempFolder dir;
    const std::string app = dir / "App\\";
    Fs().createFolder(dir / "App");
    const std::string oldFile = "ABCDEFGH", newFile = "ABDxy";
    MakeFile(app + "prog.exe", oldFile, Stamp(2020, 1, 1, 10, 0, 0));
    // One record: 3 bytes of differences over "ABC" (0, 0, +1), then "xy".
    std::string records;
    for (std::uint32_t field : {3u, 2u, 0u}) putU32(records, field);
    records += std::string("\0\0\1", 3) + "xy";
    auto crc = [](const std::string& s) { return Crc32(0, reinterpret_cast<const unsigned char*>(s.data()), s.size()); };
    std::string patch = PatchHeaderBytes({8, crc(oldFile), 5, crc(newFile)}) + CompressZlib(records.data(), records.size(), 9);
    const std::int32_t stamp = Stamp(2024, 3, 15, 14, 30, 10);
    std::vector<PackageEntry> entries = {{"todel.txt", "", stamp},
                                         {"update.ini", "P=Demo\r\n\r\n[Demo]\r\nTDIR=" + app + "\r\nREBOOTOK=1\r\n", stamp},
                                         {"pat\\Demo\\prog.exe", patch, stamp}};
    WriteUpdater(dir / "update.exe", entries);

    TestPrompter prompter;
    RecordingUi ui;
    NativeFileHolders().clear();
    NativeScheduledChanges().clear();
    std::unique_ptr<FileHandle> held = Fs().open(app + "prog.exe", OpenMode::ReadShared);
    SessionView view;
    UpdateSession session(view);
    session.load(dir / "update.exe");
    StringList log;
    EXPECT_TRUE(session.start(log, false));
    const std::vector<std::pair<std::string, std::string>> scheduled = {{app + "prog.exe.~p0", app + "prog.exe"}};
    EXPECT_EQ(NativeScheduledChanges(), scheduled);
    EXPECT_EQ(ReadBytes(app + "prog.exe.~p0"), newFile);
    EXPECT_EQ(ReadBytes(app + "prog.exe"), oldFile);
    NativeScheduledChanges().clear();
}

}  // namespace
