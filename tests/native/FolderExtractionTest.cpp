// An entry unpacked into a folder where a link has its name: the link itself
// is replaced by the file, and nothing is written where it leads.
#include <gtest/gtest.h>

#include "common/UpdateTestSupport.h"
#include "archive/Archive.h"
#include "platform/NativeSandbox.h"

TEST(FolderExtraction, ALinkUnderTheNameIsReplacedNotFollowed) {
    const std::int32_t stamp = Stamp(2024, 3, 15, 14, 30, 10);
    for (const char* elsewhere : {"", "not the package's"}) {  // "": the link leads nowhere
        TempFolder dir;
        WritePackage(dir / "p.vpa", {{"a.txt", "abc", stamp}});
        Fs().createFolder(dir / "Out");
        Fs().createFolder(dir / "Else");
        if (*elsewhere) WriteBytes(dir / "Else\\b.txt", elsewhere);
        ASSERT_TRUE(MakeNativeLink(dir / "Out\\a.txt", dir / "Else\\b.txt"));
        TArchive archive;
        archive.openFile(dir / "p.vpa");
        EXPECT_TRUE(archive.extractFile(0, dir / "Out\\a.txt", nullptr, TArchive::Extraction::ToFolder)) << elsewhere;
        EXPECT_EQ(Fs().attributes(dir / "Out\\a.txt") & kAttrReparsePoint, 0u) << elsewhere;
        EXPECT_EQ(ReadBytes(dir / "Out\\a.txt"), "abc") << elsewhere;
        EXPECT_EQ(StampOf(dir / "Out\\a.txt"), stamp) << elsewhere;
        EXPECT_EQ(ListFolder(dir / "Else"), *elsewhere ? "b.txt" : "") << elsewhere;
        EXPECT_EQ(*elsewhere ? ReadBytes(dir / "Else\\b.txt") : "", elsewhere);
    }
}
