// The folder test, the folder creation with its error, and the digit grouping
// of the overwrite question.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "update/Folders.h"

namespace {

TEST(FormatThousands, Groups) {
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "0"},         {7, "7"},           {999, "999"},         {1000, "1.000"},
        {65281, "65.281"}, {999999, "999.999"}, {1200000, "1.200.000"}, {2147483647, "2.147.483.647"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatThousands(c.first), c.second) << c.first;
}

TEST(FolderExists, FoldersFilesAndDrives) {
    TempFolder dir;
    WriteBytes(dir / "file.txt", "x");
    Fs().createFolder(dir / "Sub");
    EXPECT_TRUE(FolderExists(dir / "Sub"));
    EXPECT_TRUE(FolderExists(dir / "sub\\"));
    EXPECT_TRUE(FolderExists(dir / "file.txt"));  // a file satisfies the test as well
    EXPECT_FALSE(FolderExists(dir / "missing"));
    EXPECT_FALSE(FolderExists(dir / "missing\\"));
    EXPECT_TRUE(FolderExists("C:"));
    EXPECT_TRUE(FolderExists("C:\\"));
}

TEST(ForceFolder, CreatesEveryMissingLevel) {
    TempFolder dir;
    EXPECT_TRUE(ForceFolder(dir / "A\\B\\C\\"));
    EXPECT_EQ(Fs().attributes(dir / "A\\B\\C") & kAttrDirectory, kAttrDirectory);
    EXPECT_TRUE(ForceFolder(dir / "A\\B"));  // present already
    EXPECT_TRUE(ForceFolder("C:"));
    EXPECT_TRUE(ForceFolder(""));
}

TEST(ForceFolder, AFileInTheWayRaisesWithTheSystemCode) {
    TempFolder dir;
    WriteBytes(dir / "A", "a file, not a folder");
    const std::string wanted = dir / "A\\B";
    try {
        ForceFolder(wanted + "\\C");
        FAIL() << "no error";
    } catch (const std::exception& e) {
        std::string message = e.what();
        const std::string head = wanted + "\rkann nicht angelegt werden (";
        ASSERT_EQ(message.substr(0, head.size()), head);
        std::string code = message.substr(head.size());
        ASSERT_GE(code.size(), 2u);
        EXPECT_EQ(code.back(), ')');
        code.pop_back();
        EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
        EXPECT_NE(code, "0");
    }
    EXPECT_EQ(Fs().attributes(dir / "A\\B"), kAttrInvalid);
}

}  // namespace
