// "alles auspacken": every entry below the chosen folder, sub-folders created,
// names that would leave the folder refused, patch entries written as they are and named.
#include <gtest/gtest.h>

#include "FaultFileSystem.h"
#include "UpdateTestSupport.h"
#include "archive/Archive.h"
#include "update/Unpack.h"

namespace {

TEST(UnpackAll, EveryEntryBelowTheFolderAndNothingOutside) {
    TempFolder dir;
    const std::int32_t stamp = Stamp(2024, 3, 15, 14, 30, 10);
    WritePackage(dir / "pkg.vpa", {{"update.ini", "P=x", stamp},
                                   {"add\\Abc\\sub\\x.dat", "x", stamp},
                                   {"rep/Abc/y.dat", "y", stamp},
                                   {"pat\\Abc\\z.exe", "a patch", stamp},
                                   {"..\\evil.dat", "evil", stamp},
                                   {"add\\..\\..\\evil.dat", "evil", stamp},
                                   {"C:\\evil.dat", "evil", stamp},
                                   {"\\evil.dat", "evil", stamp},
                                   {"todel.txt", "", stamp}});
    TArchive archive;
    archive.openFile(dir / "pkg.vpa");
    Fs().createFolder(dir / "Out");
    WriteBytes(dir / "Out\\update.ini", "older content");
    std::vector<std::string> refused;
    FaultFileSystem disk;
    UnpackCounts counts =
        UnpackAll(archive, dir / "Out\\", [&](const std::string& name) { refused.push_back(name); });
    // Nothing relies on a new file of the folder being on the disk; the file it
    // replaces is lost to a power cut unless the new one is flushed first.
    EXPECT_EQ(disk.flushes(), 1);

    EXPECT_EQ(counts.extracted, 5);
    EXPECT_EQ(counts.patches, (std::vector<std::string>{"pat\\Abc\\z.exe"}));
    EXPECT_NE(PatchEntriesNote(counts).find("\r\npat\\Abc\\z.exe"), std::string::npos);
    EXPECT_EQ(counts.failed, 0);
    EXPECT_EQ(counts.refused, 4);
    EXPECT_EQ(refused, (std::vector<std::string>{"..\\evil.dat", "add\\..\\..\\evil.dat", "C:\\evil.dat", "\\evil.dat"}));
    EXPECT_EQ(ListFolder(dir.path()), "Out pkg.vpa");
    EXPECT_EQ(ListFolder(dir / "Out"), "add pat rep todel.txt update.ini");
    EXPECT_EQ(ReadBytes(dir / "Out\\update.ini"), "P=x");
    EXPECT_EQ(ReadBytes(dir / "Out\\add\\Abc\\sub\\x.dat"), "x");
    EXPECT_EQ(StampOf(dir / "Out\\rep\\Abc\\y.dat"), stamp);
}

}  // namespace
