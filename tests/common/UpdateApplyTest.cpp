// Applying parts from archives built on the fly: which entries belong to a
// part, the newer-wins rule, the second system folder, the deletion list,
// refused paths, the version check of a part, and the exact log lines.
#include <gtest/gtest.h>

#include <memory>

#include "UpdateTestSupport.h"
#include "FaultFileSystem.h"
#include "archive/Archive.h"
#include "env/Registry.h"
#include "update/ApplyPart.h"

namespace {

const std::int32_t kEntryStamp = Stamp(2024, 3, 15, 14, 30, 10);
const std::int32_t kOlderStamp = Stamp(2023, 1, 20, 9, 0, 0);
const std::int32_t kNewerStamp = Stamp(2024, 5, 2, 8, 5, 0);

class ApplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        parts.Log = &log;
        Fs().createFolder(dir / "App");
    }

    TUpdatePart& addPart(const std::string& section, const std::string& folder) {
        TUpdatePart& part = parts.Add(section);
        part.DisplayName = "Anwendung " + section;
        part.SetTDir(folder);
        return part;
    }

    const TArchive& package(const std::vector<PackageEntry>& entries) {
        WritePackage(dir / "pkg.vpa", entries);
        archive = std::make_unique<TArchive>();
        archive->openFile(dir / "pkg.vpa");
        return *archive;
    }

    bool apply(TUpdatePart& part) { return ApplyPart(part, *archive, toDelete); }

    TempFolder dir;
    const std::string target = dir / "App\\";
    TUpdateParts parts;
    StringList log;
    StringList toDelete;
    std::unique_ptr<TArchive> archive;
    ScopedLogThreshold threshold{1};
    RecordingUi ui;
    TestPrompter prompter;
};

TEST_F(ApplyTest, FreshInstallOfAnAddTree) {
    package({{"update.ini", "P=x", kEntryStamp},
             {"add\\Abc\\sub\\deep\\x.dat", "xx", kEntryStamp},
             {"add\\Abc\\y.dat", "yyy", kOlderStamp},
             {"add\\Other\\z.dat", "z", kEntryStamp},
             {"ARIAL.TTF", "font", kEntryStamp}});
    TUpdatePart& part = addPart("Abc", target);
    EXPECT_TRUE(apply(part));
    EXPECT_EQ(ReadBytes(target + "sub\\deep\\x.dat"), "xx");
    EXPECT_EQ(StampOf(target + "sub\\deep\\x.dat"), kEntryStamp);
    EXPECT_EQ(StampOf(target + "y.dat"), kOlderStamp);
    EXPECT_EQ(ListFolder(target), "sub y.dat");
    EXPECT_EQ(part.AddedCount, 2);
    EXPECT_EQ(log, (StringList{"\r\nAnwendung Abc", "2 Dateien zugefügt", "0 Dateien aktualisiert"}));
    EXPECT_EQ(ui.progress, (std::vector<std::string>{"update.ini: Abc", "add\\Abc\\sub\\deep\\x.dat: Abc",
                                                     "add\\Abc\\y.dat: Abc", "add\\Other\\z.dat: Abc",
                                                     "ARIAL.TTF: Abc"}));
}

TEST_F(ApplyTest, PrefixIgnoresCaseAndEndsWithTheBackslash) {
    package({{"ADD\\ABC\\X.Dat", "x", kEntryStamp}, {"add\\abc\\y.dat", "y", kEntryStamp}});
    Fs().createFolder(dir / "Ab");
    TUpdatePart& ab = addPart("Ab", dir / "Ab");
    TUpdatePart& abc = addPart("Abc", target);
    apply(ab);
    apply(abc);
    EXPECT_EQ(ListFolder(dir / "Ab"), "");
    EXPECT_EQ(ListFolder(target), "X.Dat y.dat");
    EXPECT_EQ(abc.AddedCount, 2);
    EXPECT_EQ(log, (StringList{"\r\nAnwendung Ab", "0 Dateien aktualisiert", "\r\nAnwendung Abc",
                               "2 Dateien zugefügt", "0 Dateien aktualisiert"}));
}

TEST_F(ApplyTest, ReplaceEntriesOnlyRefreshInstalledFiles) {
    package({{"rep\\Abc\\missing.dat", "m", kEntryStamp}, {"rep\\Abc\\old.dat", "new", kEntryStamp}});
    MakeFile(target + "old.dat", "old", kOlderStamp);
    TUpdatePart& part = addPart("Abc", target);
    ApplyFiles(part, *archive, toDelete);
    EXPECT_EQ(ListFolder(target), "old.dat");
    EXPECT_EQ(ReadBytes(target + "old.dat"), "new");
    EXPECT_EQ(part.UpdatedCount, 1);
    EXPECT_EQ(part.AddedCount, 0);
    EXPECT_EQ(log, (StringList{"1 Dateien aktualisiert"}));
}

TEST_F(ApplyTest, NewerWinsWithoutTolerance) {
    package({{"add\\Abc\\equal.dat", "new", kEntryStamp},
             {"add\\Abc\\older.dat", "new", kEntryStamp},
             {"add\\Abc\\newer.dat", "new", kEntryStamp}});
    MakeFile(target + "equal.dat", "installed", kEntryStamp);
    MakeFile(target + "older.dat", "installed", Stamp(2024, 3, 15, 14, 30, 8));  // 2 seconds older
    MakeFile(target + "newer.dat", "installed", Stamp(2024, 3, 15, 14, 30, 12));
    TUpdatePart& part = addPart("Abc", target);
    ApplyFiles(part, *archive, toDelete);
    EXPECT_EQ(ReadBytes(target + "equal.dat"), "installed");
    EXPECT_EQ(ReadBytes(target + "older.dat"), "new");
    EXPECT_EQ(ReadBytes(target + "newer.dat"), "installed");
    EXPECT_EQ(log, (StringList{target + "equal.dat (neuere oder gleiche existiert)",
                               target + "newer.dat (neuere oder gleiche existiert)", "1 Dateien aktualisiert",
                               "2 wurden nicht aktualisiert, da neuere oder gleiche Exemplare vorlagen."}));
}

TEST_F(ApplyTest, SecondApplicationChangesNothing) {
    ScopedLogThreshold normal(2);
    package({{"add\\Abc\\a.dat", "a", kEntryStamp}, {"add\\Abc\\s\\b.dat", "b", kOlderStamp}});
    TUpdatePart& part = addPart("Abc", target);
    EXPECT_TRUE(apply(part));
    log.clear();
    EXPECT_TRUE(apply(part));
    EXPECT_EQ(part.AddedCount + part.UpdatedCount, 0);
    EXPECT_EQ(part.KeptCount, 2);
    EXPECT_EQ(log, (StringList{"\r\nAnwendung Abc", "0 Dateien aktualisiert",
                               "2 wurden nicht aktualisiert, da neuere oder gleiche Exemplare vorlagen."}));
}

TEST_F(ApplyTest, ReadOnlyInstalledFileIsReplaced) {
    package({{"add\\Abc\\ro.dat", "new", kEntryStamp}});
    MakeFile(target + "ro.dat", "old", kOlderStamp);
    Fs().setAttributes(target + "ro.dat", kAttrReadOnly);
    TUpdatePart& part = addPart("Abc", target);
    ApplyFiles(part, *archive, toDelete);
    EXPECT_EQ(ReadBytes(target + "ro.dat"), "new");
    EXPECT_EQ(part.UpdatedCount, 1);
    EXPECT_EQ(part.ErrorCount, 0);
}

TEST_F(ApplyTest, EntryThatCannotBeWrittenIsCounted) {
    package({{"add\\Abc\\blocked", "x", Stamp(2040, 1, 1, 0, 0, 0)}});  // newer than the folder
    Fs().createFolder(target + "blocked");  // a folder where the file should go
    TUpdatePart& part = addPart("Abc", target);
    ApplyFiles(part, *archive, toDelete);
    EXPECT_EQ(part.ErrorCount, 1);
    EXPECT_EQ(log, (StringList{"*** " + target + "blocked nicht (vollständig) geschrieben.",
                               "0 Dateien aktualisiert", "1 Fehler"}));
}

TEST_F(ApplyTest, DeletionList) {
    package({});
    for (const char* name : {"old.dll", "other.dll", "keep.dll"}) WriteBytes(target + name, "x");
    Fs().createFolder(target + "Sub");
    WriteBytes(target + "Sub\\gone.txt", "x");
    WriteBytes(target + "locked.dll", "x");
    Fs().setAttributes(target + "locked.dll", kAttrReadOnly);
    toDelete = {"Abc\\old.dll", "Other\\other.dll", "", "Abc\\missing.dll", "abc\\Sub\\gone.txt", "Abc\\locked.dll",
                "Abc\\Sub", "Abc\\"};
    TUpdatePart& part = addPart("Abc", target);
    ApplyFiles(part, *archive, toDelete);
    Fs().setAttributes(target + "locked.dll", kAttrNormal);
    EXPECT_EQ(ListFolder(target), "Sub keep.dll locked.dll other.dll");
    EXPECT_EQ(ListFolder(target + "Sub"), "");
    EXPECT_EQ(part.DeletedCount, 2);
    EXPECT_EQ(log, (StringList{target + "locked.dll konnte nicht gelöscht werden. Grund: Zugriff verweigert.", "0 Dateien aktualisiert",
                               "2 Dateien gelöscht", "1 Fehler"}));
}

TEST_F(ApplyTest, SecondSystemFolderIsTriedFirst) {
    package({{"add\\Abc\\inalt.dll", "new", kEntryStamp},
             {"add\\Abc\\new.dll", "new", kEntryStamp},
             {"add\\Abc\\altcurrent.dll", "new", kEntryStamp},
             {"rep\\Abc\\nowhere.dll", "new", kEntryStamp},
             {"rep\\Abc\\intarget.dll", "new", kEntryStamp}});
    const std::string system32 = dir / "SYSTEM32\\", system = dir / "SYSTEM\\";
    Fs().createFolder(dir / "SYSTEM32");
    Fs().createFolder(dir / "SYSTEM");
    MakeFile(system + "inalt.dll", "old", kOlderStamp);
    MakeFile(system + "altcurrent.dll", "current", kEntryStamp);
    MakeFile(system32 + "intarget.dll", "old", kOlderStamp);
    TUpdatePart& part = addPart("Abc", system32);
    part.AltTargetFolder = system;
    ApplyFiles(part, *archive, toDelete);
    EXPECT_EQ(ListFolder(system), "altcurrent.dll inalt.dll");
    EXPECT_EQ(ReadBytes(system + "inalt.dll"), "new");
    EXPECT_EQ(ReadBytes(system + "altcurrent.dll"), "current");
    EXPECT_EQ(ListFolder(system32), "altcurrent.dll intarget.dll new.dll");
    EXPECT_EQ(ReadBytes(system32 + "intarget.dll"), "new");
    EXPECT_EQ(part.UpdatedCount, 2);
    EXPECT_EQ(part.AddedCount, 2);
    EXPECT_EQ(part.KeptCount, 1);
    EXPECT_EQ(log, (StringList{system + "altcurrent.dll (neuere oder gleiche existiert)", "2 Dateien zugefügt",
                               "2 Dateien aktualisiert",
                               "1 wurden nicht aktualisiert, da neuere oder gleiche Exemplare vorlagen."}));
}

TEST_F(ApplyTest, PathsLeavingTheTargetFolderAreRefused) {
    const std::vector<std::string> refused = {"add\\Abc\\..\\evil.dat", "add\\Abc\\sub\\..\\..\\evil.dat",
                                              "add\\Abc\\\\evil.dat",    "add\\Abc\\C:\\evil.dat",
                                              "add\\Abc\\good.dat:hidden", "rep\\Abc\\..\\victim.dat",
                                              "add\\Abc\\sub\\\\x.dat",  "add\\Abc\\.. \\evil.dat",
                                              "add\\Abc\\"};
    std::vector<PackageEntry> entries;
    for (const std::string& name : refused) entries.push_back({name, "evil", kNewerStamp});
    entries.push_back({"add\\Abc\\good.dat", "good", kEntryStamp});
    package(entries);
    MakeFile(dir / "victim.dat", "victim", kOlderStamp);
    toDelete = {"Abc\\..\\victim.dat", "Abc\\C:\\victim.dat"};
    TUpdatePart& part = addPart("Abc", target);
    ApplyFiles(part, *archive, toDelete);

    EXPECT_EQ(ListFolder(dir.path()), "App pkg.vpa victim.dat");
    EXPECT_EQ(ListFolder(target), "good.dat");
    EXPECT_EQ(ReadBytes(dir / "victim.dat"), "victim");
    EXPECT_EQ(part.ErrorCount, int(refused.size() + toDelete.size()));
    StringList expected;
    for (const std::string& name : refused)
        expected.push_back("*** " + name + " liegt außerhalb des Zielordners und wird nicht geschrieben.");
    for (const std::string& line : toDelete)
        expected.push_back("*** " + line + " liegt außerhalb des Zielordners und wird nicht gelöscht.");
    expected.insert(expected.end(), {"1 Dateien zugefügt", "0 Dateien aktualisiert",
                                     std::to_string(part.ErrorCount) + " Fehler"});
    EXPECT_EQ(log, expected);
}

TEST_F(ApplyTest, CheckTargetFolder) {
    TUpdatePart& present = addPart("Abc", target);
    TUpdatePart& missing = addPart("Def", dir / "NotThere");
    TUpdatePart& empty = addPart("Ghi", "");
    EXPECT_TRUE(CheckTargetFolder(present));
    {
        ScopedLogThreshold normal(2);
        EXPECT_TRUE(CheckTargetFolder(present));
        EXPECT_FALSE(CheckTargetFolder(missing));
        EXPECT_FALSE(CheckTargetFolder(empty));
    }
    const std::string notInstalled = "ist nicht installiert.\r\nDas Update kann nicht ausgeführt werden.";
    EXPECT_EQ(log, (StringList{"Zielordner: " + target, "Die Anwendung\r\n        Anwendung Def\r\n" + notInstalled,
                               "Die Anwendung\r\n        Anwendung Ghi\r\n" + notInstalled}));
}

class ApplyVersionTest : public ApplyTest {
protected:
    void SetUp() override {
        ApplyTest::SetUp();
        package({{"add\\Abc\\a.dat", "a", kEntryStamp}});
        TUpdatePart& part = addPart("Abc", target);
        part.SetVChk("\"4.0\"<=R\\Tarnix.exe\\Projects\\" + project + "\\Ver\\<=\"4.3\"");
        part.VResult = "R\\Tarnix.exe\\Projects\\" + project + "\\Ver\\=4.3";
        WriteRegistryString("R\\Tarnix.exe\\Projects\\" + project + "\\Ver", "", "", "");
    }
    void install(const std::string& version) {
        WriteRegistryString("R\\Tarnix.exe\\Projects\\" + project + "\\Ver", "", version, "");
    }
    std::string installed() {
        return ReadRegistryString("R\\Tarnix.exe\\Projects\\" + project + "\\Ver", "", "", "");
    }
    std::string project = std::string("Apply") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(ApplyVersionTest, FailedChecksChangeNothing) {
    const std::string head = "\r\nDie Version des installierten Projekts Abc";
    const std::pair<std::string, std::string> cases[] = {
        {"", head + " kann nicht ermittelt werden.\r\nDas Update wird nicht ausgeführt."},
        {"4.4", head + " ist neuer als dieses Update.\r\nDas Update wird nicht ausgeführt."},
        {"3.9", head + " ist nicht mindestens 4.0.\r\nDas Update kann nicht ausgeführt werden."},
    };
    for (const auto& c : cases) {
        install(c.first);
        log.clear();
        EXPECT_FALSE(apply(parts[0])) << c.first;
        EXPECT_EQ(log, StringList{c.second});
        EXPECT_EQ(installed(), c.first);
    }
    EXPECT_EQ(ListFolder(target), "");
}

TEST_F(ApplyVersionTest, ReversedRangeLogsNothing) {
    install("4.1");
    parts[0].SetVChk("4.3<=R\\Tarnix.exe\\Projects\\" + project + "\\Ver\\<=4.0");
    EXPECT_FALSE(apply(parts[0]));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(prompter.questions().size(), 1u);
    EXPECT_EQ(ListFolder(target), "");
}

TEST_F(ApplyVersionTest, PassingCheckAppliesAndWritesTheResult) {
    install("4.1");
    EXPECT_TRUE(apply(parts[0]));
    EXPECT_EQ(ListFolder(target), "a.dat");
    EXPECT_EQ(installed(), "4.3");
}

TEST_F(ApplyTest, PartWithoutFilesStillWritesItsResult) {
    package({{"update.ini", "x", kEntryStamp}});
    TUpdatePart& part = addPart("Abc", target);
    part.VResult = "R\\Tarnix.exe\\Projects\\ApplyEmpty\\Ver\\=2.0";
    EXPECT_TRUE(apply(part));
    EXPECT_EQ(log, (StringList{"\r\nAnwendung Abc", "0 Dateien aktualisiert"}));
    EXPECT_EQ(ReadRegistryString("R\\Tarnix.exe\\Projects\\ApplyEmpty\\Ver", "", "", ""), "2.0");
}


// An entry written to the second system folder that reads back
// otherwise must not be written a second time into the target folder as well.
TEST_F(ApplyTest, ReadBackFailureInTheSecondSystemFolderWritesNothingInTheTarget) {
    package({{"add\\Abc\\inalt.dll", "new", kEntryStamp}});
    const std::string system32 = dir / "SYSTEM32\\", system = dir / "SYSTEM\\";
    Fs().createFolder(dir / "SYSTEM32");
    Fs().createFolder(dir / "SYSTEM");
    MakeFile(system + "inalt.dll", "old", kOlderStamp);
    TUpdatePart& part = addPart("Abc", system32);
    part.AltTargetFolder = system;
    AlteringFileSystem altering;
    altering.target = system + "inalt.dll";
    ApplyFiles(part, *archive, toDelete);
    EXPECT_EQ(ListFolder(system), "inalt.dll");
    EXPECT_EQ(ListFolder(system32), "") << "a copy was created in the target folder";
    EXPECT_EQ(ReadBytes(system + "inalt.dll"), "Xew");
}

}  // namespace
