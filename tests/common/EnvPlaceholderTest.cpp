// Placeholder expansion of the final command and the check-run lines.
#include <gtest/gtest.h>

#include "EnvTestSupport.h"
#include "env/Registry.h"

namespace {

class EnvPlaceholders : public ::testing::Test {
protected:
    ScopedRegistryNames names;
    ScopedMemoryRegistry reg{R"(REGEDIT4

[HKEY_CURRENT_USER\Software\KAV_OL\Prog]
@="C:\\Prog\\Tool.exe"

[HKEY_CURRENT_USER\Software\KAV_OL\Daten]
@="C:\\Data\\"

[HKEY_CURRENT_USER\Software\KAV_OL\Zitat]
@="\"C:\\Mit Blank\\x.exe\""

[HKEY_CURRENT_USER\Software\KAV_OL\Frage]
@="?"

[HKEY_CURRENT_USER\Software\KAV_OL\Kette]
@="<%§Prog%>"

[HKEY_LOCAL_MACHINE\Software\Mevo]
"Frage"="C:\\Vendor"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo\Dir]
@="C:\\Tarnix\\Demo"
)"};
};

TEST_F(EnvPlaceholders, Table) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"100%", "100%"},
        {"50%x", "50%x"},
        {"%", "%"},
        {"a%%b", "a%b"},
        {"%%%%", "%%"},
        {"%%§Prog%", "%§Prog%"},  // the "%" left by "%%" is not examined again
        {"%§Prog%", "C:\\Prog\\Tool.exe"},
        {"run %§Prog% now", "run C:\\Prog\\Tool.exe now"},
        {"%§prog%", "C:\\Prog\\Tool.exe"},
        {"%§Prog\\%", "C:\\Prog"},                      // folder mode
        {"%§Daten%\\file.txt", "C:\\Data\\file.txt"},  // no doubled backslash
        {"%§Daten%file.txt", "C:\\Data\\file.txt"},
        {"%§Frage%", "C:\\Vendor"},  // "?" falls back to HKEY_LOCAL_MACHINE
        {"%§R\\Tarnix.exe\\Projects\\Demo\\Dir\\%\\x.exe", "C:\\Tarnix\\x.exe"},  // folder mode: C:\Tarnix\Demo -> C:\Tarnix
        {"%§R\\Tarnix.exe\\Projects\\Demo\\Dir%\\x.exe", "C:\\Tarnix\\Demo\\x.exe"},
        {"%§Nirgends%", ""},
        {"[%§Nirgends%]", "[]"},
        {"%§Nirgends%%§Prog%", "C:\\Prog\\Tool.exe"},  // the next placeholder right behind an empty value
        {"%§Prog", "%§Prog"},                          // no closing "%"
        {"%§%", "%§%"},
        {"%§Kette%", "<C:\\Prog\\Tool.exe>"},  // placeholders inside values are expanded too
        {"50%+x", "50%x"},                     // "+" removed even without "§"
        {"%+", "%"},
        {"%+§Prog%", "\"C:\\Prog\\Tool.exe\""},
        {"%+%§Prog%", "%\"C:\\Prog\\Tool.exe\""},  // "%+" leaves its "%"
        {"%+§Prog% %§Daten\\%", "\"C:\\Prog\\Tool.exe\" \"C:\\Data\""},  // quoting stays on
        {"%§Prog% %+x %§Daten\\%", "C:\\Prog\\Tool.exe %x \"C:\\Data\""},
        {"%+§Zitat%", "\"C:\\Mit Blank\\x.exe\""},  // already quoted
        {"%+§Nirgends%", "\"\""},
    };
    for (const Case& c : cases) EXPECT_EQ(ExpandPlaceholders(c.in), c.out) << "[" << c.in << "]";
}

TEST_F(EnvPlaceholders, TextIsLimitedTo255Characters) {
    std::string filler(240, 'x');
    EXPECT_EQ(ExpandPlaceholders(filler + "%§Prog%"), filler + "C:\\Prog\\Tool.ex");
    EXPECT_EQ(ExpandPlaceholders(std::string(300, 'y')), std::string(255, 'y'));
    // A value that names itself grows the text until the limit ends it.
    reg.registry.setValue(RootKey::CurrentUser, "Software\\KAV_OL\\Selbst", "", kRegSz, std::string("a%§Selbst%") + '\0');
    std::string grown = ExpandPlaceholders("%§Selbst%");
    EXPECT_EQ(grown.size(), 255u);
    EXPECT_EQ(grown.substr(0, 4), "aaaa");
}

}  // namespace
