// Registry references on the real registry: reads and writes with key
// creation, default values, types other than strings, the buffer rules that
// the in-memory registry copies, the placeholder lookup and the rights test.
// Set-up and checks use the Win32 API directly.
#include <gtest/gtest.h>

#include "../common/EnvTestSupport.h"
#include "env/Registry.h"
#include "platform/WindowsSupport.h"

namespace {

// The helpers set up and check the keys where the updater keeps them: a 64-bit
// build in the view of 32-bit programs, where the host application writes.
constexpr bool kIs64Bit = sizeof(void*) == 8;
constexpr REGSAM kAppView = kIs64Bit ? KEY_WOW64_32KEY : 0;

// Removes a key with everything below it.
void DeleteTree(HKEY root, const std::string& path, REGSAM view = kAppView) {
    HKEY raw = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &raw) != ERROR_SUCCESS) return;
    {
        ScopedRegKey key(raw);
        char name[256];
        DWORD size = sizeof name;
        while (RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            DeleteTree(key.get(), name, view);
            size = sizeof name;
        }
        // RegDeleteKeyA knows no views; the open key's handle leads to the right one.
        RegDeleteKeyA(key.get(), "");
    }
}

void SetRaw(HKEY root, const std::string& path, const std::string& name, DWORD type, const std::string& bytes,
            REGSAM view = kAppView) {
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    ScopedRegKey key(raw);
    ASSERT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             DWORD(bytes.size())),
              ERROR_SUCCESS);
}

std::string RawString(HKEY root, const std::string& path, const std::string& name, REGSAM view = kAppView) {
    HKEY raw = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &raw) != ERROR_SUCCESS) return "(no key)";
    ScopedRegKey key(raw);
    char buffer[512] = {};
    DWORD size = sizeof buffer - 1, type = 0;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return "(no value)";
    return type == REG_SZ ? std::string(buffer) : "(type " + std::to_string(type) + ")";
}

std::string Z(const std::string& text) { return text + '\0'; }

class EnvRealRegistry : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        DeleteTree(HKEY_CURRENT_USER, "Software\\Mevo\\Envtest.exe");
        DeleteTree(HKEY_CURRENT_USER, "Software\\KAV_OL\\EnvTest");
        DeleteTree(HKEY_CURRENT_USER, "Software\\KAV_OL\\EnvFrage");
        DeleteTree(HKEY_LOCAL_MACHINE, "Software\\Mevo\\EnvTest");
        DeleteTree(HKEY_LOCAL_MACHINE, "Software\\Mevo\\EnvFrage");
    }

    ScopedRegistryNames names{"C:\\unit\\ENVTEST.EXE"};
};

TEST_F(EnvRealRegistry, WritesCreateKeysAndReadBack) {
    WriteRegistryString("Sub\\Tief", "Wert", "Größe ä", "");
    WriteRegistryString("Sub\\Tief", "", "Standard", "");
    WriteRegistryString("R\\EnvTest\\Projects\\Demo\\Ver", "", "3.7.1", "");
    EXPECT_EQ(RawString(HKEY_CURRENT_USER, "Software\\Mevo\\Envtest.exe\\Sub\\Tief", "Wert"), "Größe ä");
    EXPECT_EQ(RawString(HKEY_CURRENT_USER, "Software\\Mevo\\Envtest.exe\\Sub\\Tief", ""), "Standard");
    EXPECT_EQ(RawString(HKEY_LOCAL_MACHINE, "Software\\Mevo\\EnvTest\\Projects\\Demo\\Ver", ""), "3.7.1");

    std::string key, name;
    SplitValueReference("r\\envtest\\PROJECTS\\Demo\\Ver\\", key, name);
    EXPECT_EQ(ReadRegistryString(key, name, "", ""), "3.7.1");
    SplitValueReference("Sub\\Tief\\Wert", key, name);
    EXPECT_EQ(ReadRegistryString(key, name, "", ""), "Größe ä");
    EXPECT_EQ(ReadRegistryString("Sub\\Tief", "", "", ""), "Standard");
    EXPECT_EQ(ReadRegistryString("Sub\\Fehlt", "", "(default)", ""), "(default)");
    EXPECT_FALSE(SharedRegistry().hasKey());
}

TEST_F(EnvRealRegistry, OnlyNonEmptyStringsAreRead) {
    const std::string own = "Software\\Mevo\\Envtest.exe";
    SetRaw(HKEY_CURRENT_USER, own, "Leer", REG_SZ, Z(""));
    SetRaw(HKEY_CURRENT_USER, own, "Zahl", REG_DWORD, std::string("\x07\x00\x00\x00", 4));
    SetRaw(HKEY_CURRENT_USER, own, "Roh", REG_BINARY, "abc");
    SetRaw(HKEY_CURRENT_USER, own, "Erweitert", REG_EXPAND_SZ, Z("%TEMP%\\x"));
    SetRaw(HKEY_CURRENT_USER, own, "OhneNull", REG_SZ, "abc");
    struct Case {
        const char* name;
        const char* value;
    } cases[] = {{"Leer", "-"}, {"Zahl", "-"}, {"Roh", "-"}, {"Erweitert", "%TEMP%\\x"}, {"OhneNull", "abc"}};
    for (const Case& c : cases) EXPECT_EQ(ReadRegistryString("", c.name, "-", ""), c.value) << c.name;
}

TEST_F(EnvRealRegistry, BufferRulesMatchTheInMemoryRegistry) {
    SetRaw(HKEY_CURRENT_USER, "Software\\Mevo\\Envtest.exe\\K", "Text", REG_SZ, Z("abcd"));
    SetRaw(HKEY_CURRENT_USER, "Software\\Mevo\\Envtest.exe\\K", "Zahl", REG_DWORD, std::string(4, '\1'));
    struct Case {
        const char* name;
        unsigned capacity;
        bool ok;
        const char* text;
    } cases[] = {
        {"Text", 0, true, "abcd"}, {"Text", 5, true, "abcd"}, {"Text", 4, false, ""},
        {"Zahl", 0, false, ""},    {"Fehlt", 0, false, ""},
    };
    MemoryRegistry memory;
    memory.setValue(RootKey::CurrentUser, "Software\\Mevo\\Envtest.exe\\K", "Text", kRegSz, Z("abcd"));
    memory.setValue(RootKey::CurrentUser, "Software\\Mevo\\Envtest.exe\\K", "Zahl", kRegDword, std::string(4, '\1'));
    for (RegistryService* service : {&PlatformRegistry(), static_cast<RegistryService*>(&memory)}) {
        auto key = service->openKey(RootKey::CurrentUser, "Software\\Mevo\\Envtest.exe\\K", kKeyQueryValue);
        ASSERT_TRUE(key);
        EXPECT_FALSE(key->setString("x", "y"));  // opened for queries only
        for (const Case& c : cases) {
            std::string out;
            EXPECT_EQ(key->queryString(c.name, c.capacity, out), c.ok) << c.name << " " << c.capacity;
            EXPECT_EQ(out, c.text) << c.name << " " << c.capacity;
        }
        std::string out = "stale";
        EXPECT_TRUE(service->queryDefaultValue(RootKey::CurrentUser, "Software\\Mevo\\Envtest.exe\\K", 10, out));
        EXPECT_EQ(out, "");
        EXPECT_FALSE(service->queryDefaultValue(RootKey::CurrentUser, "Software\\Mevo\\Envtest.exe\\Fehlt", 10, out));
        EXPECT_FALSE(service->openKey(RootKey::CurrentUser, "\\Software", kKeyRead));
    }
}

TEST_F(EnvRealRegistry, ReadRegistryValueAndLookups) {
    SetRaw(HKEY_LOCAL_MACHINE, "Software\\Mevo\\EnvTest\\Dir", "", REG_SZ, Z("C:\\Tarnix\\Demo"));
    SetRaw(HKEY_LOCAL_MACHINE, "Software\\Mevo\\EnvTest", "Pfad", REG_SZ, Z("C:\\Tarnix\\tarnix.exe"));
    SetRaw(HKEY_CURRENT_USER, "Software\\KAV_OL\\EnvTest", "", REG_SZ, Z("C:\\Node\\x.exe"));
    SetRaw(HKEY_CURRENT_USER, "Software\\KAV_OL\\EnvFrage", "", REG_SZ, Z("?"));
    SetRaw(HKEY_LOCAL_MACHINE, "Software\\Mevo\\EnvFrage", "", REG_SZ, Z("C:\\Vendor"));

    std::string text;
    EXPECT_TRUE(ReadRegistryValue(RootKey::LocalMachine, "Software\\Mevo\\EnvTest\\Dir", 255, text));
    EXPECT_EQ(text, "C:\\Tarnix\\Demo");
    EXPECT_TRUE(ReadRegistryValue(RootKey::LocalMachine, "Software\\Mevo\\EnvTest\\Pfad", 255, text));
    EXPECT_EQ(text, "C:\\Tarnix\\tarnix.exe");
    EXPECT_FALSE(ReadRegistryValue(RootKey::LocalMachine, "Software\\Mevo\\EnvTest\\Dir", 5, text));
    EXPECT_EQ(text, "");

    EXPECT_TRUE(LookupRegistryReference("R\\EnvTest\\Dir\\", "", text));
    EXPECT_EQ(text, "C:\\Tarnix\\Demo");
    EXPECT_TRUE(LookupRegistryReference("EnvTest", "", text));
    EXPECT_EQ(text, "C:\\Node\\x.exe");
    EXPECT_TRUE(LookupRegistryReference("EnvFrage", "", text));
    EXPECT_EQ(text, "C:\\Vendor");
    EXPECT_FALSE(LookupRegistryReference("EnvNirgends", "", text));
    EXPECT_EQ(ExpandPlaceholders("%+§EnvTest\\% /d %§R\\EnvTest\\Dir%\\a.txt 100%%"),
              "\"C:\\Node\" /d \"C:\\Tarnix\\Demo\"\\a.txt 100%");
}

// A 64-bit updater and the 32-bit host application see the same project keys
// and result values; fonts are registered in the system's own view, where the
// 64-bit Windows looks for them. The 32-bit build has one view only.
TEST_F(EnvRealRegistry, ApplicationKeysInTheViewOf32BitPrograms) {
    const REGSAM ownView = kIs64Bit ? KEY_WOW64_64KEY : 0;
    const std::string project = "Software\\Mevo\\EnvTest\\Projects\\Demo\\Ver";
    SetRaw(HKEY_LOCAL_MACHINE, project, "", REG_SZ, Z("2.0"));
    EXPECT_EQ(ReadRegistryString("R\\EnvTest\\Projects\\Demo\\Ver", "", "-", ""), "2.0");
    WriteRegistryString("R\\EnvTest\\Projects\\Demo\\Ver", "", "2.1", "");
    EXPECT_EQ(RawString(HKEY_LOCAL_MACHINE, project, "", kAppView), "2.1");
    if (kIs64Bit) {
        EXPECT_EQ(RawString(HKEY_LOCAL_MACHINE, project, "", ownView), "(no key)");
    }

    const std::string fonts = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    WriteRegistryString("M\\" + fonts, "EnvTest (TrueType)", "envtest.ttf", "");
    EXPECT_EQ(RawString(HKEY_LOCAL_MACHINE, fonts, "EnvTest (TrueType)", ownView), "envtest.ttf");
    EXPECT_EQ(ReadRegistryString("M\\" + fonts, "EnvTest (TrueType)", "-", ""), "envtest.ttf");
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, fonts.c_str(), 0, KEY_SET_VALUE | ownView, &raw), ERROR_SUCCESS);
    ScopedRegKey key(raw);
    RegDeleteValueA(key.get(), "EnvTest (TrueType)");
}

TEST_F(EnvRealRegistry, AdministratorUnderWine) { EXPECT_TRUE(HasAdminRights()); }

}  // namespace
