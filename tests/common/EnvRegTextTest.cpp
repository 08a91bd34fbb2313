// REGEDIT4 text in and out of the in-memory registry, and the registry rules
// the in-memory one emulates (letter case, types, buffer sizes, access rights).
#include <gtest/gtest.h>

#include "base/Exception.h"
#include "platform/MemoryRegistry.h"
#include "platform/RegText.h"

namespace {

TEST(EnvRegText, ExportReadsLikeTheImport) {
    const std::string text = R"(REGEDIT4

[HKEY_CURRENT_USER\Software\Mevo]
@="Standard"
"Pfad"="C:\\Programme\\\"Mevo\""
"Zahl"=dword:0001e240
"Roh"=hex:00,01,fe,ff
"Erweitert"=hex(2):25,54,45,4d,50,25,00
"Liste"=hex(7):61,00,62,00,00
"Ohne Null"=hex(1):61,62

[HKEY_CURRENT_USER\Software\Mevo\Unter Schlüssel]
"Größe"="ä"
)";
    MemoryRegistry registry;
    ImportRegText(registry, text);
    EXPECT_EQ(ExportRegText(registry, RootKey::CurrentUser, "software\\MEVO"), text);
    MemoryRegistry again;
    ImportRegText(again, ExportRegText(registry, RootKey::CurrentUser));
    EXPECT_EQ(ExportRegText(again, RootKey::CurrentUser), ExportRegText(registry, RootKey::CurrentUser));
}

TEST(EnvRegText, ToleratesRealExportSyntax) {
    MemoryRegistry registry;
    ImportRegText(registry,
                  "Windows Registry Editor Version 5.00\r\n\r\n; comment\r\n"
                  "[HKLM\\Software\\A]\r\n"
                  "\"Lang\"=hex:01,02,\\\r\n  03,04\r\n"
                  "@=\"x\"\r\n");
    EXPECT_EQ(ExportRegText(registry, RootKey::LocalMachine, "Software\\A"),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\A]\n\"Lang\"=hex:01,02,03,04\n@=\"x\"\n");
    EXPECT_EQ(ExportRegText(registry, RootKey::LocalMachine, "Software\\B"), "");
}

TEST(EnvRegText, RefusesWhatItCannotRepresent) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"[HKEY_CURRENT_USER\\X]\n", "line 1: not REGEDIT4"},
        {"REGEDIT4\n\n[-HKEY_CURRENT_USER\\X]\n", "line 3: deleting keys is not supported"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=-\n", "line 3: deleting values is not supported"},
        {"REGEDIT4\n[HKEY_USERS\\X]\n", "line 2: unknown hive HKEY_USERS"},
        {"REGEDIT4\n\"a\"=\"b\"\n", "line 2: value outside a key"},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=\"b\n", "line 3: unterminated string"},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=hex:1g\n", "line 3: bad hex number 1g"},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=qword:1\n", "line 3: unknown value data qword:1"},
    };
    for (const Case& c : cases) {
        MemoryRegistry registry;
        try {
            ImportRegText(registry, c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), c.message);
        }
    }
}

TEST(EnvMemoryRegistry, KeysAndValuesIgnoreCaseAndEmptyElements) {
    MemoryRegistry registry;
    auto key = registry.createKey(RootKey::CurrentUser, "Software\\Mevo\\Äpfel", kKeyAllAccess);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setString("Wert", "1"));
    std::string out;
    for (const char* path : {"software\\MEVO\\äPFEL", "Software\\\\Mevo\\Äpfel\\", "Software\\Mevo\\Äpfel"}) {
        auto again = registry.openKey(RootKey::CurrentUser, path, kKeyRead);
        ASSERT_TRUE(again) << path;
        EXPECT_TRUE(again->queryString("WERT", 0, out));
        EXPECT_EQ(out, "1");
    }
    EXPECT_FALSE(registry.openKey(RootKey::CurrentUser, "\\Software", kKeyRead));
    EXPECT_EQ(registry.lastError(), 161u);
    EXPECT_FALSE(registry.openKey(RootKey::LocalMachine, "Software\\Mevo", kKeyRead));
    EXPECT_EQ(registry.lastError(), kRegErrFileNotFound);
}

TEST(EnvMemoryRegistry, StringReadsFollowTheWindowsBufferRules) {
    MemoryRegistry registry;
    ImportRegText(registry, R"(REGEDIT4
[HKEY_CURRENT_USER\K]
"Text"="abcd"
"Zahl"=dword:00000001
"Ohne Null"=hex(1):61,62
"Mit Null innen"=hex(1):61,00,62,00
)");
    auto key = registry.openKey(RootKey::CurrentUser, "K", kKeyQueryValue);
    ASSERT_TRUE(key);
    struct Case {
        const char* name;
        unsigned capacity;
        bool ok;
        const char* text;
        std::uint32_t error;
    } cases[] = {
        {"Text", 0, true, "abcd", 0},
        {"Text", 5, true, "abcd", 0},
        {"Text", 4, false, "", kRegErrMoreData},
        {"Zahl", 0, false, "", kRegErrInvalidData},
        {"Ohne Null", 3, true, "ab", 0},
        {"Ohne Null", 2, false, "", kRegErrMoreData},
        {"Mit Null innen", 0, true, "a", 0},
        {"Fehlt", 0, false, "", kRegErrFileNotFound},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(key->queryString(c.name, c.capacity, out), c.ok) << c.name << " " << c.capacity;
        EXPECT_EQ(out, c.text) << c.name;
        if (!c.ok) {
            EXPECT_EQ(registry.lastError(), c.error) << c.name;
        }
    }
    std::string out = "stale";
    EXPECT_TRUE(registry.queryDefaultValue(RootKey::CurrentUser, "K", 10, out));
    EXPECT_EQ(out, "");  // no default value: the empty text, as RegQueryValueA gives
}

TEST(EnvMemoryRegistry, AccessRights) {
    MemoryRegistry registry;
    registry.createPath(RootKey::LocalMachine, "Software");
    auto readOnlyKey = registry.openKey(RootKey::LocalMachine, "Software", kKeyRead);
    ASSERT_TRUE(readOnlyKey);
    EXPECT_FALSE(readOnlyKey->setString("x", "y"));
    EXPECT_EQ(registry.lastError(), kRegErrAccessDenied);
    auto writeOnlyKey = registry.openKey(RootKey::LocalMachine, "Software", kKeySetValue);
    ASSERT_TRUE(writeOnlyKey);
    std::string out;
    EXPECT_FALSE(writeOnlyKey->queryString("x", 0, out));

    registry.setReadOnly(RootKey::LocalMachine, true);
    EXPECT_TRUE(registry.openKey(RootKey::LocalMachine, "Software", kKeyRead));
    EXPECT_FALSE(registry.openKey(RootKey::LocalMachine, "Software", kKeyAllAccess));
    EXPECT_FALSE(registry.createKey(RootKey::LocalMachine, "Software\\Neu", kKeyRead));
    EXPECT_EQ(registry.lastError(), kRegErrAccessDenied);
    EXPECT_TRUE(registry.createKey(RootKey::CurrentUser, "Software\\Neu", kKeyAllAccess));
}

}  // namespace
