// Which entry names stay inside the folder they are extracted to.
#include <gtest/gtest.h>

#include "archive/EntryName.h"

namespace {

TEST(EntryNameTest, NamesThatStayInsideTheFolder) {
    struct Case {
        std::string name;
        bool contained;
    } cases[] = {
        {"a.txt", true},
        {"add\\Demo\\sub\\x.dat", true},
        {"sub/dir\\ok.txt", true},
        {"..a\\b", true},
        {"", false},
        {"..\\evil.txt", false},
        {"a\\..\\..\\evil.txt", false},
        {"../evil.txt", false},        // "/" separates as "\" does
        {"App\\../x", false},
        {"App/../../x", false},
        {"App/./x", false},
        {"a\\. .\\b", false},
        {"\\root.txt", false},
        {"C:\\abs.txt", false},
        {"file.txt:stream", false},
        {"a\\\\b.txt", false},
        {"a\\", false},
        // A NUL ends the path that Windows sees: "sub\.." with the rest unchecked.
        {std::string("sub\\..\0x", 8), false},
        {std::string("su\0\0\0\0\0\0\0\0\0\0\0\0", 14), false},
        {"tab\there", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsContainedRelativePath(c.name), c.contained) << c.name;
}

}  // namespace
