// Registry references against an in-memory registry filled from REGEDIT4
// text: resolution, the plain reads and writes, the key-first lookups and the
// rights test. The same tests run on both builds.
#include <gtest/gtest.h>

#include "EnvTestSupport.h"
#include "env/Registry.h"

namespace {

const char* const kInstalled = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe]
"Pfad"="C:\\Tarnix\\tarnix.exe"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo]
"Ver"="named value"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo\Ver]
@="3.7.1"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo\Dir]
@="C:\\Tarnix\\Demo"

[HKEY_CURRENT_USER\Software\Mevo\Setup.exe]
@="own default"
"Empty"=""
"Count"=dword:00000007
"Expand"=hex(2):25,54,4d,50,25,00

[HKEY_CURRENT_USER\Software\Mevo\Setup.exe\Settings]
"Last"="gestern"

[HKEY_CURRENT_USER\Software\Mevo\Setup.exe\Settings\Last]
@="key default"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Personal"="C:\\Eigene Dateien"
)";

class EnvRegistry : public ::testing::Test {
protected:
    ScopedRegistryNames names;
    ScopedMemoryRegistry reg{kInstalled};
};

// Reads a value reference the way the control-file callers do.
std::string ReadValueReference(const std::string& reference) {
    std::string key, name;
    SplitValueReference(reference, key, name);
    return ReadRegistryString(key, name, "(default)", "");
}

TEST(EnvRegistryNames, OwnKeyFromTheProgramFile) {
    struct Case {
        const char* exe;
        const char* key;
    } cases[] = {
        {"C:\\Programme\\SETUP.EXE", "Mevo\\Setup.exe\\"},
        {"D:\\x\\update.exe", "Mevo\\Update.exe\\"},
        {"C:\\x\\ÄNDERN.EXE", "Mevo\\ändern.exe\\"},
        {"C:\\x\\1Update.Exe", "Mevo\\1update.exe\\"},
    };
    for (const Case& c : cases) {
        ScopedRegistryNames names(c.exe);
        EXPECT_EQ(OwnRegistryKey, c.key) << c.exe;
        EXPECT_EQ(RegistryNode, "KAV_OL");
    }
}

TEST(EnvRegistryNames, ResolutionTable) {
    ScopedRegistryNames names;
    const RootKey CU = RootKey::CurrentUser, LM = RootKey::LocalMachine, CR = RootKey::ClassesRoot;
    struct Case {
        const char* reference;
        const char* project;
        RootKey hive;
        const char* keyPath;
    } cases[] = {
        {"A\\Ver", "", CU, "\\Software\\Mevo\\Tarnix.Exe\\Projects\\\\Ver"},
        {"A\\Ver", "Demo", CU, "\\Software\\Mevo\\Tarnix.Exe\\Projects\\Demo\\Ver"},
        {"C\\.txt", "", CR, "\\.txt"},
        {"E\\X", "", CU, "\\Software\\Mevo\\X"},
        {"F\\Personal", "", CU, "Software\\Microsoft\\Windows\\Currentversion\\Explorer\\Shell Folders\\Personal"},
        {"H\\X", "", LM, "\\Software\\Mevo\\Tarnix.Exe\\X"},
        {"M\\Software\\X", "", LM, "\\Software\\X"},
        {"P\\Dir", "Demo", LM, "\\Software\\Mevo\\Tarnix.Exe\\Projects\\Demo\\Dir"},
        {"R\\X", "", LM, "\\Software\\Mevo\\X"},
        {"r\\X", "", LM, "\\Software\\Mevo\\X"},
        {"U\\Software\\X", "", CU, "\\Software\\X"},
        {"v\\Fonts", "", LM, "Software\\Microsoft\\Windows\\Currentversion\\Fonts"},
        {"Q\\X", "", CU, "\\X"},
        {"7\\X", "", CU, "\\X"},
        {"ä\\X", "", CU, "\\X"},
        {"R\\", "", LM, "\\Software\\Mevo\\"},
        // Unprefixed: the updater's own key, whatever the text.
        {"", "", CU, "\\Software\\Mevo\\Setup.exe\\"},
        {"R", "", CU, "\\Software\\Mevo\\Setup.exe\\"},
        {"Settings\\Last", "", CU, "\\Software\\Mevo\\Setup.exe\\"},
        {"C:\\Pfad", "", CU, "\\Software\\Mevo\\Setup.exe\\"},
    };
    for (const Case& c : cases) {
        ResolvedReference r = ResolveRegistryReference(c.reference, c.project);
        EXPECT_EQ(r.hive, c.hive) << c.reference;
        EXPECT_EQ(r.keyPath, c.keyPath) << c.reference;
    }
}

// A 64-bit updater sees every key as the 32-bit one does, Windows' own keys
// too; only the font keys, shared by both views, and a machine without 32-bit
// programs take the plain view.
TEST(EnvRegistryNames, KeysInTheViewOf32BitPrograms) {
    struct Case {
        const char* path;
        bool viewExists;
        bool in32BitView;
    } cases[] = {
        {"Software\\Microsoft\\Windows\\Currentversion\\Uninstall\\Demo", true, true},
        {"Software\\Microsoft\\Windows NT\\CurrentVersion", true, true},
        {"Software\\Mevo\\Tarnix.Exe\\Projects\\Demo\\Ver", true, true},
        {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", true, false},
        {"software\\microsoft\\windows nt\\currentversion\\FontSubstitutes", true, false},
        {"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink", true, false},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Fonts", true, true},
        {"Software\\Mevo\\Tarnix.Exe\\Projects\\Demo\\Ver", false, false},
        {"", true, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InViewOf32BitPrograms(c.path, c.viewExists), c.in32BitView) << c.path << " " << c.viewExists;
}

TEST(EnvRegistryNames, SplitValueReferences) {
    struct Case {
        const char* reference;
        const char* key;
        const char* name;
    } cases[] = {
        {"R\\Tarnix.exe\\Projects\\Demo\\Ver\\", "R\\Tarnix.exe\\Projects\\Demo\\Ver", ""},
        {"R\\Tarnix.exe\\Projects\\Demo\\Ver", "R\\Tarnix.exe\\Projects\\Demo", "Ver"},
        {"M\\Software\\X:Name", "M\\Software\\X", "Name"},
        {"F\\Personal", "F\\", "Personal"},
        {"R\\", "R\\", ""},
        {"Settings\\Last", "Settings", "Last"},
        {"Name", "", "Name"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        std::string key = "?", name = "?";
        SplitValueReference(c.reference, key, name);
        EXPECT_EQ(key, c.key) << c.reference;
        EXPECT_EQ(name, c.name) << c.reference;
    }
}

TEST_F(EnvRegistry, ReadsValueReferences) {
    struct Case {
        const char* reference;
        const char* value;
    } cases[] = {
        {"R\\Tarnix.exe\\Projects\\Demo\\Ver\\", "3.7.1"},
        {"R\\Tarnix.exe\\Projects\\Demo\\Ver", "named value"},
        {"r\\TARNIX.EXE\\projects\\demo\\DIR\\", "C:\\Tarnix\\Demo"},
        {"H\\Pfad", "C:\\Tarnix\\tarnix.exe"},
        {"F\\Personal", "C:\\Eigene Dateien"},
        {"R\\Tarnix.exe\\Projects\\Andere\\Ver\\", "(default)"},
        {"R\\Tarnix.exe\\Projects\\Demo\\Fehlt", "(default)"},
        {"Settings\\Last", "gestern"},
        {"Settings\\Last\\", "key default"},
        {"Empty", "(default)"},   // an empty value counts as missing
        {"Count", "(default)"},   // not a string
        {"Expand", "%TMP%"},      // REG_EXPAND_SZ reads as its text
        {"\\", "own default"},    // the own key itself
    };
    for (const Case& c : cases) EXPECT_EQ(ReadValueReference(c.reference), c.value) << c.reference;
    EXPECT_EQ(ReadRegistryString("", "", "x", ""), "own default");
    EXPECT_FALSE(SharedRegistry().hasKey());
}

TEST_F(EnvRegistry, WritesCreateKeysAndReplaceValues) {
    WriteRegistryString("R\\Tarnix.exe\\Projects\\Demo\\Ver", "", "3.8", "");
    WriteRegistryString("R\\Neu\\Unter", "Wert", "a \"b\" C:\\c", "");
    WriteRegistryString("Settings", "LAST", "heute", "");
    EXPECT_FALSE(SharedRegistry().hasKey());
    EXPECT_EQ(reg.dump(RootKey::LocalMachine, "Software\\Mevo"), R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Mevo]

[HKEY_LOCAL_MACHINE\Software\Mevo\Neu]

[HKEY_LOCAL_MACHINE\Software\Mevo\Neu\Unter]
"Wert"="a \"b\" C:\\c"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe]
"Pfad"="C:\\Tarnix\\tarnix.exe"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects]

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo]
"Ver"="named value"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo\Dir]
@="C:\\Tarnix\\Demo"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo\Ver]
@="3.8"
)");
    EXPECT_EQ(ReadRegistryString("Settings", "Last", "", ""), "heute");
    EXPECT_EQ(ReadRegistryString("R\\Neu\\Unter", "Wert", "", ""), "a \"b\" C:\\c");
}

TEST_F(EnvRegistry, WritesWithoutRightsChangeNothing) {
    std::string before = reg.dump(RootKey::LocalMachine);
    reg.registry.setReadOnly(RootKey::LocalMachine, true);
    WriteRegistryString("R\\Tarnix.exe\\Projects\\Demo\\Ver", "", "9.9", "");
    WriteRegistryString("R\\Neu", "Wert", "x", "");
    EXPECT_EQ(reg.dump(RootKey::LocalMachine), before);
    EXPECT_EQ(ReadValueReference("R\\Tarnix.exe\\Projects\\Demo\\Ver\\"), "3.7.1");
    EXPECT_FALSE(HasAdminRights());
    reg.registry.setReadOnly(RootKey::LocalMachine, false);
    EXPECT_TRUE(HasAdminRights());
}

TEST(EnvRegistryRights, NeedAnExistingSoftwareKey) {
    ScopedMemoryRegistry empty;
    EXPECT_FALSE(HasAdminRights());
    EXPECT_EQ(empty.dump(RootKey::LocalMachine), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n");
}

TEST_F(EnvRegistry, ReadRegistryValueIsKeyFirstThenValue) {
    const RootKey LM = RootKey::LocalMachine;
    struct Case {
        const char* keyPath;
        unsigned capacity;
        bool found;
        const char* text;
    } cases[] = {
        {"Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Ver", 255, true, "3.7.1"},  // the key's default value
        {"Software\\Mevo\\Tarnix.exe\\Pfad", 255, true, "C:\\Tarnix\\tarnix.exe"},  // a value of the parent
        {"Software\\Mevo\\Tarnix.exe\\Projects\\Demo", 255, false, ""},  // key without default: no second try
        {"Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Ver", 6, true, "3.7.1"},
        {"Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Ver", 5, false, ""},  // does not fit the buffer
        {"Software\\Mevo\\Fehlt\\Wert", 255, false, ""},
    };
    for (const Case& c : cases) {
        std::string text = "stale";
        EXPECT_EQ(ReadRegistryValue(LM, c.keyPath, c.capacity, text), c.found) << c.keyPath;
        EXPECT_EQ(text, c.text) << c.keyPath;
    }
}

class EnvLookup : public ::testing::Test {
protected:
    ScopedRegistryNames names;
    ScopedMemoryRegistry reg{R"(REGEDIT4

[HKEY_CURRENT_USER\Software\KAV_OL]
@="C:\\Node"

[HKEY_CURRENT_USER\Software\KAV_OL\Knoten]
@="C:\\Node\\Knoten"

[HKEY_CURRENT_USER\Software\KAV_OL\Frage]
@="?"

[HKEY_CURRENT_USER\Software\KAV_OL\Leer]

[HKEY_LOCAL_MACHINE\Software\Mevo]
"Frage"="C:\\Vendor\\Frage"
"Leer"="C:\\Vendor\\Leer"

[HKEY_LOCAL_MACHINE\Software\Mevo\Fehlt]
@="C:\\Vendor\\Fehlt"

[HKEY_LOCAL_MACHINE\Software\Mevo\Tarnix.exe\Projects\Demo\Dir]
@="C:\\Tarnix\\Demo\\"
)"};

    std::string lookup(const std::string& reference, bool expectFound = true) {
        std::string text = "stale";
        EXPECT_EQ(LookupRegistryReference(reference, "", text), expectFound) << reference;
        return text;
    }
};

TEST_F(EnvLookup, PrefixedAndNodeReferences) {
    EXPECT_EQ(lookup("R\\Tarnix.exe\\Projects\\Demo\\Dir\\"), "C:\\Tarnix\\Demo\\");
    EXPECT_EQ(lookup("R\\Tarnix.exe\\Projects\\Demo\\Dir"), "C:\\Tarnix\\Demo\\");
    EXPECT_EQ(lookup("R\\Frage"), "C:\\Vendor\\Frage");
    EXPECT_EQ(lookup("Knoten"), "C:\\Node\\Knoten");
    EXPECT_EQ(lookup(""), "C:\\Node");
    // "?", an empty default and a missing node key fall back to HKEY_LOCAL_MACHINE\Software\Mevo.
    EXPECT_EQ(lookup("Frage"), "C:\\Vendor\\Frage");
    EXPECT_EQ(lookup("Leer"), "C:\\Vendor\\Leer");
    EXPECT_EQ(lookup("Fehlt"), "C:\\Vendor\\Fehlt");
    EXPECT_EQ(lookup("Nirgends", false), "");
    EXPECT_EQ(lookup("R\\Nirgends", false), "");
}

TEST_F(EnvLookup, NodeKeyPathIsCutAt80Characters) {
    std::string longName(70, 'k');
    // "Software\KAV_OL\" has 16 characters, so 64 of the name remain.
    reg.registry.setValue(RootKey::CurrentUser, "Software\\KAV_OL\\" + longName.substr(0, 64), "", kRegSz,
                          std::string("cut") + '\0');
    EXPECT_EQ(lookup(longName), "cut");
}

TEST_F(EnvLookup, ValueLengthLimits) {
    // The node's default value is read into 254 bytes, the fallback into 255.
    std::string fits(253, 'n'), tooLong(254, 'n');
    reg.registry.setValue(RootKey::CurrentUser, "Software\\KAV_OL\\Lang", "", kRegSz, fits + '\0');
    EXPECT_EQ(lookup("Lang"), fits);
    reg.registry.setValue(RootKey::CurrentUser, "Software\\KAV_OL\\Lang", "", kRegSz, tooLong + '\0');
    reg.registry.setValue(RootKey::LocalMachine, "Software\\Mevo", "Lang", kRegSz, tooLong + '\0');
    EXPECT_EQ(lookup("Lang"), tooLong);
    reg.registry.setValue(RootKey::LocalMachine, "Software\\Mevo", "Lang", kRegSz, tooLong + "x" + '\0');
    EXPECT_EQ(lookup("Lang", false), "");
}

}  // namespace
