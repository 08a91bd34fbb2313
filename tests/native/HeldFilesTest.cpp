// Files in use, found before the run's first change: named with the programs
// that hold them (through the platform's holder seam), nothing changed while
// any is held; in a part with REBOOTOK they are left to the next start of
// Windows instead. A second updater does not apply while one holds the lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "common/EnvTestSupport.h"
#include "common/PatchSupport.h"
#include "common/UpdateTestSupport.h"
#include "archive/ArchiveWriter.h"
#include "driver/UpdateSession.h"
#include "env/Registry.h"
#include "platform/FileHolders.h"
#include "platform/NativeSandbox.h"
#include "platform/RestartSchedule.h"
#include "platform/UpdaterLock.h"
#include "update/Folders.h"

namespace {

const std::int32_t kOld = Stamp(2020, 1, 1, 10, 0, 0);
const std::int32_t kNew = Stamp(2024, 3, 15, 14, 30, 10);
constexpr int kDemoFiles = 12;

std::string Numbered(int i) { return (i < 10 ? "f0" : "f") + std::to_string(i) + ".dll"; }

class HeldFilesTest : public ::testing::Test {
protected:
    HeldFilesTest() {
        Fs().createFolder(dir / "App");
        Fs().createFolder(dir / "Kern");
        for (int i = 1; i <= kDemoFiles; ++i) MakeFile(app_ + Numbered(i), "old", kOld);
        MakeFile(kern_ + "kern.dll", "kern v1", kOld);
        MakeFile(kern_ + "alt.dll", "alt", kOld);
        NativeFileHolders().clear();
        NativeScheduledChanges().clear();
        writeUpdater();
    }
    ~HeldFilesTest() override { NativeFileHolders().clear(); }

    void writeUpdater() {
        std::string ini = "P=Demo\r\nV=1\r\n" + mainIni_ + "\r\n[Demo]\r\nN=Demo\r\nTDIR=" + app_ + "\r\n\r\n[Kern]\r\nN=Kern\r\nTDIR=" +
                          kern_ + "\r\nREBOOTOK=1\r\nVRESULT=R\\Tarnix.exe\\Projects\\" + project_ + "\\Kern=2\r\n" + extraIni_;
        std::vector<PackageEntry> all = {{"todel.txt", todel_, kNew}, {"update.ini", ini, kNew},
                                         {"rep\\Kern\\kern.dll", kernData_, kernStamp_}, {"add\\Demo\\neu.txt", "neu", kNew}};
        for (int i = 1; i <= kDemoFiles; ++i) all.push_back({"rep\\Demo\\" + Numbered(i), "new", kNew});
        all.insert(all.end(), extra_.begin(), extra_.end());
        WriteUpdater(dir / "update.exe", all);
    }

    // Runs the update while the given files are held open by "another program".
    bool run(const std::vector<std::string>& held) {
        std::vector<std::unique_ptr<FileHandle>> handles;
        for (const std::string& path : held) handles.push_back(Fs().open(path, OpenMode::ReadShared));
        SessionView view;
        UpdateSession session(view);
        session.load(dir / "update.exe");
        session.WaitSeconds = waitSeconds_;
        log.clear();
        bool succeeded = session.start(log, false);
        ending = session.LastEnding;
        return succeeded;
    }
    std::string state() {
        std::string text;
        for (const std::string& folder : {app_, kern_}) {
            std::vector<FindData> children;
            Fs().listFolder(folder, children);
            std::sort(children.begin(), children.end(), [](const FindData& a, const FindData& b) { return a.name < b.name; });
            for (const FindData& c : children)
                text += c.name + "=" + (c.attributes & kAttrDirectory ? "<folder>" : ReadBytes(folder + c.name)) + " ";
        }
        return text;
    }
    std::string prompted() const { return prompter.questions().empty() ? "" : prompter.questions().back().text; }

    // What Windows does at its next start: the scheduled changes in order.
    static void restart() {
        for (const auto& [from, to] : NativeScheduledChanges())
            if (FileExists(from)) to.empty() ? Fs().removeFile(from) : Fs().replaceFile(from, to);
        NativeScheduledChanges().clear();
    }

    std::vector<PackageEntry> extra_;
    std::string extraIni_, mainIni_;
    unsigned waitSeconds_ = 0;
    std::string todel_ = "Kern\\alt.dll\r\n";
    std::string kernData_ = "kern v2";
    std::int32_t kernStamp_ = kNew;
    TempFolder dir;
    const std::string app_ = dir / "App\\", kern_ = dir / "Kern\\";
    std::string project_ = std::string("Held") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    StringList log;
    RunEnding ending = RunEnding::Succeeded;
    TestPrompter prompter;
    RecordingUi ui;
    ScopedLogThreshold threshold{2};
};

TEST_F(HeldFilesTest, HeldFilesAreNamedAndNothingChanges) {
    const std::string before = state();
    NativeFileHolders()[app_ + "f03.dll"] = {{"Notepad", 4711}, {"Explorer", 12}};
    EXPECT_FALSE(run({app_ + "f03.dll"}));
    EXPECT_EQ(ending, RunEnding::FilesHeld);
    EXPECT_EQ(prompted(), "Diese Dateien werden im Moment benutzt und können nicht ersetzt werden:\r    " + app_ +
                              "f03.dll (benutzt von Notepad, Prozess 4711, Explorer, Prozess 12)\r\r"
                              "Beenden Sie die Programme, die sie benutzen, und versuchen Sie es erneut.");
    EXPECT_EQ(state(), before);

    std::vector<std::string> all;
    for (int i = 1; i <= kDemoFiles; ++i) all.push_back(app_ + Numbered(i));
    EXPECT_FALSE(run(all));
    EXPECT_NE(prompted().find(app_ + "f10.dll\r    und 2 weitere\r"), std::string::npos) << prompted();
    EXPECT_EQ(prompted().find("f11.dll"), std::string::npos);
    EXPECT_EQ(state(), before);
}

// Windows refuses to write, delete or replace the image of a running program,
// though it opens for reading without sharing: such a file is held before
// the first change, and with REBOOTOK left to the next start. A read-only
// file that nobody holds is not held for its flag.
TEST_F(HeldFilesTest, RunningProgramsAreHeldReadOnlyFilesAreNot) {
    const struct {
        std::string file;
        bool mapped;
        RunEnding ending;
        const char* afterRun;
        const char* mainIni = "";  // a run with a transaction leaves nothing to the restart
    } cases[] = {{app_ + "f01.dll", true, RunEnding::FilesHeld, "old"},
                 {app_ + "f02.dll", false, RunEnding::Succeeded, "new"},
                 {kern_ + "kern.dll", true, RunEnding::RestartNeeded, "kern v1"},
                 {kern_ + "kern.dll", true, RunEnding::FilesHeld, "kern v1", "ROLLBACK=1\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + (c.mapped ? " mapped" : " read-only") + c.mainIni);
        mainIni_ = c.mainIni;
        writeUpdater();
        MakeFile(c.file, c.mapped ? c.afterRun : "old", kOld);  // held files stay as they were
        Fs().setAttributes(c.file, c.mapped ? kAttrNormal : kAttrReadOnly);
        SetMappedImage(c.file, c.mapped);
        const std::string before = state();
        EXPECT_EQ(run({}), c.ending != RunEnding::FilesHeld);
        SetMappedImage(c.file, false);
        EXPECT_EQ(ending, c.ending);
        EXPECT_EQ(ReadBytes(c.file), c.afterRun);
        if (c.ending == RunEnding::FilesHeld) {
            EXPECT_EQ(state(), before);
            EXPECT_NE(prompted().find("    " + c.file + "\r"), std::string::npos) << prompted();
        }
    }
}

// A path that Windows cannot hold, with the suffix of a temporary name, or a
// folder that CreateDirectory refuses, stops the run before any change with
// the path named: it is not "in use" (1618 would have tools retry for ever).
TEST_F(HeldFilesTest, TooLongPathsAreRefusedBeforeAnyChange) {
    const std::string deep = app_ + std::string(100, 'd') + "\\" + std::string(100, 'e') + "\\";
    ASSERT_LT(deep.size(), 240u);
    ForceFolder(deep);
    const struct {
        std::size_t length;  // of the file's path
        std::size_t newFolder;  // length of the folder that the entry creates, or 0
        bool refused;
    } cases[] = {{255, 0, true}, {256, 0, true}, {259, 0, true}, {254, 248, true}, {254, 0, false}, {253, 247, false}};
    extraIni_ = "\r\n[Tief]\r\nTDIR=" + deep + "\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " " + std::to_string(c.newFolder));
        std::string folder = c.newFolder ? deep + std::string(c.newFolder - deep.size(), 'n') : deep.substr(0, deep.size() - 1);
        std::string rel = c.newFolder ? folder.substr(deep.size()) + "\\" : "";
        std::string name = std::string(c.length - folder.size() - 1, 'x');
        extra_ = {{"add\\Tief\\" + rel + name, "long", kNew}};
        writeUpdater();
        const std::string before = state();
        EXPECT_EQ(run({}), !c.refused);
        EXPECT_EQ(FileExists(folder + "\\" + name), !c.refused);
        if (!c.refused) continue;
        EXPECT_EQ(ending, RunEnding::Failed);
        EXPECT_EQ(state(), before);
        EXPECT_EQ(ListFolder(deep), "");
        const std::string named = "Der Pfad ist zu lang: " + folder + "\\" + (c.newFolder ? "" : name);
        EXPECT_TRUE(std::find(log.begin(), log.end(), "\r\n" + named + "\r\nDas Update wird nicht ausgeführt.") != log.end())
            << ::testing::PrintToString(log);
    }
}

// "Wiederholen" tests again: the program has let go meanwhile, and the run goes on.
TEST_F(HeldFilesTest, RetryGoesOnOnceTheFileIsFree) {
    auto holder = std::make_shared<std::unique_ptr<FileHandle>>(Fs().open(app_ + "f01.dll", OpenMode::ReadShared));
    prompter.setPolicy([holder](const PromptQuestion&) {
        holder->reset();
        return int(kAnswerRetry);
    });
    EXPECT_TRUE(run({}));
    EXPECT_EQ(prompter.questions().size(), 1u);
    EXPECT_EQ(ReadBytes(app_ + "f01.dll"), "new");
}

// A held patched file gets the new file built from it, never the patch's data.
TEST_F(HeldFilesTest, RebootOkPartLeavesHeldFilesToTheNextStart) {
    MakeFile(kern_ + "prog.exe", "ABCDEFGH", kOld);
    extra_ = {{"pat\\Kern\\prog.exe", MakePatch("ABCDEFGH", "ABDxy", {{std::string("\0\0\1", 3), "xy", 0}}), kNew}};
    writeUpdater();
    EXPECT_TRUE(run({kern_ + "kern.dll", kern_ + "alt.dll", kern_ + "prog.exe"}));
    EXPECT_EQ(ending, RunEnding::RestartNeeded);
    const std::vector<std::pair<std::string, std::string>> scheduled = {
        {kern_ + "kern.dll.~p0", kern_ + "kern.dll"}, {kern_ + "prog.exe.~p0", kern_ + "prog.exe"}, {kern_ + "alt.dll", ""}};
    EXPECT_EQ(NativeScheduledChanges(), scheduled);
    EXPECT_EQ(ReadBytes(kern_ + "kern.dll") + " " + ReadBytes(kern_ + "kern.dll.~p0"), "kern v1 kern v2");
    EXPECT_EQ(ReadBytes(kern_ + "prog.exe") + " " + ReadBytes(kern_ + "prog.exe.~p0"), "ABCDEFGH ABDxy");
    EXPECT_EQ(ReadBytes(app_ + "f01.dll"), "new");
    EXPECT_EQ(ReadRegistryString("R\\Tarnix.exe\\Projects\\" + project_, "Kern", "", ""), "2");
    const StringList expected = {"\r\nKern", kern_ + "kern.dll wird beim nächsten Neustart ersetzt.",
                                 kern_ + "prog.exe wird beim nächsten Neustart ersetzt.",
                                 kern_ + "alt.dll wird beim nächsten Neustart gelöscht.", "2 Dateien aktualisiert",
                                 "1 Dateien gelöscht"};
    EXPECT_TRUE(std::search(log.begin(), log.end(), expected.begin(), expected.end()) != log.end())
        << ::testing::PrintToString(log);
}

// A later run before the restart: what it writes (or deletes) is what the
// restart leaves, not the copy an earlier run left for Windows to move in.
TEST_F(HeldFilesTest, LaterRunBeforeTheRestartIsWhatStays) {
    const std::int32_t kNewer = Stamp(2025, 1, 1, 8, 0, 0), kBetween = Stamp(2022, 6, 1, 8, 0, 0);
    struct Case {
        const char* data;
        std::int32_t stamp;
        bool heldAgain;
        bool listedForDeletion;
        const char* afterRestart;
    };
    for (const Case& c : {Case{"kern v3", kNewer, false, false, "kern v3"}, Case{"kern v3", kNewer, true, false, "kern v3"},
                          Case{"kern v1.5", kBetween, false, false, "kern v2"}, Case{"kern v3", kNewer, false, true, ""}}) {
        SCOPED_TRACE(c.data + std::string(c.heldAgain ? " held" : "") + (c.listedForDeletion ? " deleted" : ""));
        MakeFile(kern_ + "kern.dll", "kern v1", kOld);
        kernData_ = "kern v2", kernStamp_ = kNew, todel_ = "Kern\\alt.dll\r\n";
        writeUpdater();
        ASSERT_TRUE(run({kern_ + "kern.dll"}));
        kernData_ = c.data, kernStamp_ = c.stamp;
        if (c.listedForDeletion) todel_ += "Kern\\kern.dll\r\n";
        writeUpdater();
        EXPECT_TRUE(run(c.heldAgain ? std::vector<std::string>{kern_ + "kern.dll"} : std::vector<std::string>{}));
        restart();
        EXPECT_EQ(FileExists(kern_ + "kern.dll") ? ReadBytes(kern_ + "kern.dll") : "", c.afterRestart);
    }
}

// A change left to the next start of Windows cannot be undone: a part with
// rollback waits for its held files even with REBOOTOK, and nothing of it is
// scheduled (its failure would otherwise be undone now and redone at the restart).
TEST_F(HeldFilesTest, RollbackPartDoesNotLeaveHeldFilesToTheNextStart) {
    Fs().createFolder(kern_ + "blocked");  // where an entry of the part goes: the part fails
    extraIni_ = "ROLLBACK=1\r\n";
    extra_ = {{"add\\Kern\\blocked", "b", Stamp(2040, 1, 1, 8, 0, 0)}};  // newer than the folder
    writeUpdater();
    const std::string before = state();
    EXPECT_FALSE(run({kern_ + "kern.dll", kern_ + "alt.dll"}));
    EXPECT_EQ(ending, RunEnding::FilesHeld);
    EXPECT_EQ(NativeScheduledChanges().size(), 0u);
    EXPECT_EQ(state(), before);
}

// After a run that left kern.dll's replacement and alt.dll's deletion to the
// next start of Windows, a second run before the restart: the same package
// says again that the restart is due; what a later run writes or keeps is
// what the restart leaves, and a rollback part that fails leaves the waiting
// copy as it found it.
TEST_F(HeldFilesTest, SecondRunBeforeTheRestart) {
    const std::int32_t kNewer = Stamp(2025, 1, 1, 8, 0, 0), kFuture = Stamp(2040, 1, 1, 8, 0, 0);
    struct Case {
        const char* what;
        const char* ini;     // added to the part [Kern]
        const char* todel;   // the deletion list of the second run
        const char* kernNew; // kern.dll in the second package: "kern v2" as before, or a newer one
        std::vector<PackageEntry> extra;
        bool kernHeld;
        RunEnding ending;
        const char* kern;    // kern.dll after the restart
        const char* alt;     // alt.dll after the restart ("" for none)
    } cases[] = {
        {"same package", "", "Kern\\alt.dll\r\n", "kern v2", {}, false, RunEnding::RestartNeeded, "kern v2", ""},
        {"same package, still held", "", "Kern\\alt.dll\r\n", "kern v2", {}, true, RunEnding::RestartNeeded, "kern v2", ""},
        {"alt.dll written anew", "", "", "kern v2", {{"add\\Kern\\alt.dll", "alt v3", kNewer}}, false, RunEnding::RestartNeeded,
         "kern v2", "alt v3"},
        {"failed rollback part", "ROLLBACK=1\r\n", "", "kern v3", {{"add\\Kern\\blocked", "b", kFuture}}, false,
         RunEnding::Failed, "kern v2", ""},
        {"rollback part", "ROLLBACK=1\r\n", "", "kern v3", {}, false,
         RunEnding::Succeeded, "kern v3", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MakeFile(kern_ + "kern.dll", "kern v1", kOld);
        MakeFile(kern_ + "alt.dll", "alt", kOld);
        extraIni_.clear(), extra_.clear(), todel_ = "Kern\\alt.dll\r\n", kernData_ = "kern v2", kernStamp_ = kNew;
        writeUpdater();
        ASSERT_TRUE(run({kern_ + "kern.dll", kern_ + "alt.dll"}));
        ASSERT_EQ(ending, RunEnding::RestartNeeded);

        extraIni_ = c.ini, extra_ = c.extra, todel_ = c.todel, kernData_ = c.kernNew;
        kernStamp_ = kernData_ == "kern v2" ? kNew : kNewer;
        if (!c.extra.empty() && std::string(c.extra[0].name).find("blocked") != std::string::npos)
            Fs().createFolder(kern_ + "blocked");  // the entry cannot be written there: the part fails
        writeUpdater();
        run(c.kernHeld ? std::vector<std::string>{kern_ + "kern.dll"} : std::vector<std::string>{});
        EXPECT_EQ(int(ending), int(c.ending)) << ::testing::PrintToString(log);
        EXPECT_FALSE(FileExists(kern_ + "kern.dll.~p1"));
        restart();
        EXPECT_EQ(ReadBytes(kern_ + "kern.dll"), c.kern);
        EXPECT_EQ(FileExists(kern_ + "alt.dll") ? ReadBytes(kern_ + "alt.dll") : "", c.alt);
        Fs().removeFolder(kern_ + "blocked");
        Fs().removeFile(kern_ + "alt.dll");
    }
}

// /WAIT=N is one budget for the run: a [CheckRun] program that ends after two
// seconds leaves one second to wait for a held file, not N more.
TEST_F(HeldFilesTest, WaitIsOneBudgetForTheWholeRun) {
    FakeSystemInfo system;
    auto program = std::make_shared<std::unique_ptr<FileHandle>>(Fs().open(app_ + "f05.dll", OpenMode::ReadShared));
    system.onPause = [&] {
        if (system.pausedMs >= 2000) program->reset();
    };
    extraIni_ = "\r\n[CheckRun]\r\n" + app_ + "f05.dll\r\n";
    waitSeconds_ = 3;
    writeUpdater();
    EXPECT_FALSE(run({app_ + "f03.dll"}));
    EXPECT_EQ(ending, RunEnding::FilesHeld);
    EXPECT_EQ(system.pausedMs, 3000u);
}

TEST_F(HeldFilesTest, SecondUpdaterDoesNotApply) {
    const std::string before = state();
    std::unique_ptr<UpdaterLock> first = TryLockUpdater();
    ASSERT_TRUE(first);
    EXPECT_FALSE(run({}));
    EXPECT_EQ(ending, RunEnding::AnotherRunning);
    EXPECT_EQ(state(), before);
    first.reset();
    EXPECT_TRUE(run({}));
}

// Windows 9x carries out WININIT.INI's [rename] lines in order: each change
// goes after the ones scheduled before it, inside the section, whatever
// follows it in the file.
TEST(WininitText, ALineGoesAfterTheEarlierOnesOfItsSection) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"", "[rename]\r\nB=B.~p1\r\n"},
        {"[Settings]\r\nX=1", "[Settings]\r\nX=1\r\n[rename]\r\nB=B.~p1\r\n"},
        {"[rename]\r\nA=A.~p0\r\n", "[rename]\r\nA=A.~p0\r\nB=B.~p1\r\n"},
        {"[Rename]\r\nA=A.~p0\r\n[Other]\r\nY=2\r\n", "[Rename]\r\nA=A.~p0\r\nB=B.~p1\r\n[Other]\r\nY=2\r\n"},
        {"[rename]\r\nA=A.~p0", "[rename]\r\nA=A.~p0\r\nB=B.~p1\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(WithRenameLine(c.text, "B=B.~p1"), c.expected) << c.text;
}

// A later run takes back the deletion of a file it wrote: only that line of
// [rename] goes (any case), not a replacement of it, nor a line of another section.
TEST(WininitText, ADeletionIsTakenBackInItsSectionOnly) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"[rename]\r\nNUL=C:\\APP\\OLD.DLL\r\n", "[rename]\r\n"},
        {"[Rename]\r\nA=A.~p0\r\nnul=c:\\app\\old.dll\r\nC:\\APP\\OLD.DLL=X.~p0\r\n",
         "[Rename]\r\nA=A.~p0\r\nC:\\APP\\OLD.DLL=X.~p0\r\n"},
        {"[Other]\r\nNUL=C:\\APP\\OLD.DLL\r\n[rename]\r\nNUL=C:\\APP\\OLD.DLL", "[Other]\r\nNUL=C:\\APP\\OLD.DLL\r\n[rename]\r\n"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(WithoutDeletionLine(c.text, "C:\\APP\\OLD.DLL"), c.expected) << c.text;
}

// A copy beside a held file counts only when Windows is to move it in: one
// that a run killed before scheduling it left (the read-back lies between
// them), or one that someone else put there, is removed by the next run, which
// then writes the file, or, held, schedules a copy of its own.
TEST_F(HeldFilesTest, AnUnscheduledCopyIsRemovedAndTheFileWrittenOrScheduledAnew) {
    for (bool killed : {true, false}) {  // else a newer copy is planted, and the file is held now
        SCOPED_TRACE(killed ? "killed run's copy" : "planted copy, file held");
        MakeFile(kern_ + "kern.dll", "kern v1", kOld);
        MakeFile(kern_ + "alt.dll", "alt", kOld);
        if (killed) ASSERT_TRUE(run({kern_ + "kern.dll"}));
        else MakeFile(kern_ + "kern.dll.~p0", "planted", Stamp(2040, 1, 1, 8, 0, 0));
        NativeScheduledChanges().clear();  // what a kill before ScheduleAtRestart leaves
        run(killed ? std::vector<std::string>{} : std::vector<std::string>{kern_ + "kern.dll"});
        EXPECT_EQ(int(ending), int(killed ? RunEnding::Succeeded : RunEnding::RestartNeeded)) << ::testing::PrintToString(log);
        EXPECT_EQ(FileExists(kern_ + "kern.dll.~p0") ? ReadBytes(kern_ + "kern.dll.~p0") : "", killed ? "" : "kern v2");
        EXPECT_EQ(NativeScheduledChanges().size(), killed ? 0u : 1u);
        restart();
        EXPECT_EQ(ReadBytes(kern_ + "kern.dll"), "kern v2");
    }
}

}  // namespace
