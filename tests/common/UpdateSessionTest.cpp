// The update run end to end on the portable layers: a package attached to an
// "executable", an installed project in the registry, the run's log, the files
// and values it leaves, the close request with the final command, silent runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "EnvTestSupport.h"
#include "UpdateTestSupport.h"
#include "archive/Archive.h"
#include "archive/ArchiveWriter.h"
#include "base/ByteReader.h"
#include "driver/RunUpdate.h"
#include "driver/SilentRun.h"
#include "driver/UpdateSession.h"
#include "env/Registry.h"
#include "env/System.h"
#include "env/Text.h"
#include "platform/MemoryRegistry.h"
#include "platform/Process.h"
#include "platform/RegText.h"

namespace {

const std::int32_t kOld = Stamp(2020, 1, 1, 10, 0, 0);
const std::int32_t kNew = Stamp(2024, 3, 15, 14, 30, 10);

std::string RegEscaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

class RecordingView : public SessionView {
public:
    void showUpdateName(const std::string& t) override { calls.push_back("name " + t); }
    void showVersionText(const std::string& t) override { calls.push_back("version " + t); }
    void showCompleted() override { calls.push_back("completed"); }
    std::vector<std::string> calls;
};

// Records the final commands instead of starting them.
class CommandRecorder : public ProgramStarter {
public:
    CommandRecorder() : previous_(SetProgramStarter(this)) {}
    ~CommandRecorder() { SetProgramStarter(previous_); }
    bool start(const std::string& commandLine, int showMode, std::uint32_t&) override {
        started.push_back(commandLine);
        return showMode == 5;
    }
    WaitedProgram runAndWait(const std::string& commandLine, unsigned) override {
        started.push_back(commandLine);
        return {};
    }
    std::vector<std::string> started;

private:
    ProgramStarter* previous_;
};

class UpdateSessionTest : public ::testing::Test {
protected:
    UpdateSessionTest() : previousRegistry_(SetRegistry(&registry_)) {
        app_ = dir / "App\\";
        Fs().createFolder(dir / "App");
        installProject("4.1");
        MakeFile(app_ + "readme.txt", "old readme", kOld);
        MakeFile(app_ + "old.dll", "obsolete", kOld);
    }
    ~UpdateSessionTest() override { SetRegistry(previousRegistry_); }

    void installProject(const std::string& version) {
        ImportRegText(registry_, "REGEDIT4\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Ver]\r\n"
                                 "@=\"" + version + "\"\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Dir]\r\n"
                                 "@=\"" + RegEscaped(app_ + "Demo.exe") + "\"\r\n");
    }

    std::string controlFile(const std::string& extraMain = "") {
        return "P=Demo\r\nV=4.2\r\n"
               "VChk=\"4.0\"<=R\\Tarnix.exe\\Projects\\Demo\\Ver\\<=\"4.3\"\r\n"
               "VResult=R\\Tarnix.exe\\Projects\\Demo\\Ver\\=4.2\r\n" +
               extraMain +
               "\r\n[Demo]\r\nN=Demo-Anwendung\r\n"
               "TDIR=§R\\Tarnix.exe\\Projects\\Demo\\Dir\\\r\n"
               "VResult=R\\Tarnix.exe\\Projects\\Demo\\Status=aktualisiert\r\n";
    }

    // The "executable": a host of 1,000 bytes with the package attached.
    std::string writeUpdater(const std::string& ini, std::vector<PackageEntry> extra = {}) {
        std::vector<PackageEntry> entries = {
            {"todel.txt", "Demo\\old.dll\r\n\r\n", kNew},
            {"update.ini", ini, kNew},
            {"add\\Demo\\prog.exe", "program v2", kNew},
            {"add\\Demo\\sub\\data.txt", std::string(5000, 'd'), kNew},
            {"rep\\Demo\\readme.txt", "new readme", kNew},
            {"rep\\Demo\\notthere.txt", "never written", kNew},
        };
        entries.insert(entries.end(), extra.begin(), extra.end());
        WriteUpdater(dir / "update.exe", entries, 1000);
        return dir / "update.exe";
    }

    std::string registryValue(const std::string& ref, const std::string& name) {
        return ReadRegistryString(ref, name, "(none)", "");
    }

    TempFolder dir;
    std::string app_;
    MemoryRegistry registry_;
    TestPrompter prompter_;
    RecordingUi ui_;
    ScopedLogThreshold threshold_{2};
    CommandRecorder commands_;

private:
    RegistryService* previousRegistry_;
};

const StringList kSuccessLog = {
    "\r\nDemo-Anwendung",
    "2 Dateien zugefügt",
    "1 Dateien aktualisiert",
    "1 Dateien gelöscht",
    "\r\nUpdate beendet.",  // no window: nothing to click
};

}  // namespace

TEST_F(UpdateSessionTest, SuccessfulRunWritesFilesStampsAndValues) {
    RecordingView view;
    UpdateSession session(view);
    ASSERT_EQ(session.load(writeUpdater(controlFile())), UpdateSession::LoadResult::Loaded);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"name Demo", "version 4.2"}));

    StringList log = {"stale line"};
    ASSERT_TRUE(session.start(log, false));
    EXPECT_EQ(log, kSuccessLog);
    EXPECT_TRUE(session.Completed);
    EXPECT_EQ(view.calls.back(), "completed");

    EXPECT_EQ(ReadBytes(app_ + "prog.exe"), "program v2");
    EXPECT_EQ(ReadBytes(app_ + "sub\\data.txt"), std::string(5000, 'd'));
    EXPECT_EQ(ReadBytes(app_ + "readme.txt"), "new readme");
    EXPECT_EQ(StampOf(app_ + "readme.txt"), kNew);
    EXPECT_FALSE(FileExists(app_ + "notthere.txt"));
    EXPECT_FALSE(FileExists(app_ + "old.dll"));
    EXPECT_EQ(registryValue("R\\Tarnix.exe\\Projects\\Demo\\Ver", ""), "4.2");
    EXPECT_EQ(registryValue("R\\Tarnix.exe\\Projects\\Demo", "Status"), "aktualisiert");
}

TEST_F(UpdateSessionTest, SecondRunUpdatesNothing) {
    std::string exe = writeUpdater(controlFile());
    for (int run = 0; run < 2; ++run) {
        SessionView view;
        UpdateSession session(view);
        session.load(exe);
        StringList log;
        ASSERT_TRUE(session.start(log, false)) << run;
        if (run == 1) {
            EXPECT_EQ(log, (StringList{"\r\nDemo-Anwendung", "0 Dateien aktualisiert",
                                       "3 wurden nicht aktualisiert, da neuere oder gleiche Exemplare vorlagen.",
                                       kSuccessLog.back()}));
        }
    }
}

TEST_F(UpdateSessionTest, VersionRefusalsChangeNothing) {
    struct Case {
        const char* installed;
        std::string logLine;
    } cases[] = {
        {"3.9", "\r\nDie Version des installierten Projekts Demo ist nicht mindestens 4.0.\r\n"
                "Das Update kann nicht ausgeführt werden."},
        {"4.3.1", "\r\nDie Version des installierten Projekts Demo ist neuer als dieses Update.\r\n"
                  "Das Update wird nicht ausgeführt."},
        {"", "\r\nDie Version des installierten Projekts Demo kann nicht ermittelt werden.\r\n"
             "Das Update wird nicht ausgeführt."},
    };
    std::string exe = writeUpdater(controlFile());
    for (const Case& c : cases) {
        installProject(c.installed);
        SessionView view;
        UpdateSession session(view);
        session.load(exe);
        StringList log;
        EXPECT_FALSE(session.start(log, false)) << c.installed;
        EXPECT_EQ(log, StringList{c.logLine}) << c.installed;
        EXPECT_EQ(ListFolder(dir / "App"), "old.dll readme.txt") << c.installed;
        EXPECT_EQ(registryValue("R\\Tarnix.exe\\Projects\\Demo", "Status"), "(none)");
    }
}

TEST_F(UpdateSessionTest, MissingTargetFolderStopsBeforeAnyChange) {
    ImportRegText(registry_, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Dir]\r\n"
                             "@=\"" + RegEscaped(dir / "Gone\\Demo.exe") + "\"\r\n");
    SessionView view;
    UpdateSession session(view);
    session.load(writeUpdater(controlFile()));
    StringList log;
    EXPECT_FALSE(session.start(log, true));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Zielordner: " + dir / "Gone\\");
    EXPECT_EQ(log[1], "Die Anwendung\r\n        Demo-Anwendung\r\nist nicht installiert.\r\n"
                      "Das Update kann nicht ausgeführt werden.");
    EXPECT_EQ(ListFolder(dir / "App"), "old.dll readme.txt");
}

TEST_F(UpdateSessionTest, DamagedDataIsFoundBeforeTheFirstChange) {
    std::string exe = writeUpdater(controlFile());
    std::string bytes = ReadBytes(exe);
    std::size_t at = 1000 + 4 + 6;
    {
        TArchive probe;  // let go before the package is written: it holds the file against writing
        probe.openAttached(exe);
        at += static_cast<std::size_t>(probe.entryAt(probe.indexOf("add\\Demo\\sub\\data.txt")).dataOffset);
    }
    bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
    WriteBytes(exe, bytes);

    SessionView view;
    UpdateSession session(view);
    session.load(exe);
    StringList log;
    EXPECT_FALSE(session.start(log, false));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("\r\nDas Update ist beschädigt oder unvollständig.\r\nadd\\Demo\\sub\\data.txt: ", 0), 0u)
        << log[0];
    EXPECT_EQ(ListFolder(dir / "App"), "old.dll readme.txt");
    EXPECT_EQ(ReadBytes(app_ + "readme.txt"), "old readme");
    EXPECT_EQ(registryValue("R\\Tarnix.exe\\Projects\\Demo\\Ver", ""), "4.1");
}

namespace {

// Flips a byte inside the zlib data of the named entry of the updater at `exe`.
void DamageEntry(const std::string& exe, const std::string& name) {
    auto probe = std::make_unique<TArchive>();
    probe->openAttached(exe);
    std::string bytes = ReadBytes(exe);
    std::size_t at = std::size_t(probe->baseOffset) + std::size_t(probe->entryAt(probe->indexOf(name)).dataOffset) + 4 + 6;
    probe.reset();  // it holds the package against writing
    bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
    WriteBytes(exe, bytes);
}

// Records the given unpacked size for the named entry of the updater at `exe`.
void RecordLength(const std::string& exe, const std::string& name, std::uint32_t length) {
    auto probe = std::make_unique<TArchive>();
    probe->openAttached(exe);
    std::size_t at = std::size_t(probe->baseOffset) + 12;
    for (std::int32_t i = 0; i < probe->indexOf(name); ++i) at += 20 + probe->entryAt(i).name.size();
    probe.reset();
    std::string bytes = ReadBytes(exe);
    std::string field;
    putU32(field, length);
    bytes.replace(at + 8, 4, field);
    WriteBytes(exe, bytes);
}

}  // namespace

// Entries that the run will not write are not checked, so their damage stops
// nothing: one of a part whose own version check fails, one as new as its
// installed copy, one that replaces a file that is not installed. The parts
// that can be applied are applied, and the run ends as the failing part says.
TEST_F(UpdateSessionTest, DamageInEntriesTheRunWillNotWriteStopsNothing) {
    Fs().createFolder(dir / "Extra");
    MakeFile(app_ + "same.txt", "installed", kNew);
    const std::string ini = controlFile() + "\r\n[Extra]\r\nN=Zusatz\r\nTDIR=" + dir / "Extra" +
                            "\r\nVCHK=\"5.0\"<=R\\Tarnix.exe\\Projects\\Demo\\Ver\\<=\"5.1\"\r\n";
    std::string exe = writeUpdater(ini, {{"add\\Extra\\x.dat", "extra data", kNew},
                                         {"rep\\Demo\\same.txt", "same stamp", kNew}});
    for (const char* name : {"add\\Extra\\x.dat", "rep\\Demo\\same.txt", "rep\\Demo\\notthere.txt"})
        DamageEntry(exe, name);

    SessionView view;
    UpdateSession session(view);
    session.load(exe);
    StringList log;
    EXPECT_FALSE(session.start(log, false));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "\r\nDemo-Anwendung");
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "\r\nDie Version des installierten Projekts Extra ist nicht mindestens 5.0.\r\n"
                        "Das Update kann nicht ausgeführt werden."),
              log.end());
    EXPECT_EQ(ReadBytes(app_ + "prog.exe"), "program v2");
    EXPECT_EQ(ReadBytes(app_ + "same.txt"), "installed");
    EXPECT_EQ(ListFolder(dir / "Extra"), "");
}

// The length that the directory records decides nothing: a package whose
// writer recorded other lengths installs, and the extended log notes each.
TEST_F(UpdateSessionTest, RecordedLengthsThatDifferOnlyLeaveANote) {
    std::string exe = writeUpdater(controlFile());
    RecordLength(exe, "add\\Demo\\prog.exe", 0);
    RecordLength(exe, "add\\Demo\\sub\\data.txt", 4096);
    SessionView view;
    UpdateSession session(view);
    session.load(exe);
    StringList log;
    ASSERT_TRUE(session.start(log, true));
    EXPECT_EQ(ReadBytes(app_ + "prog.exe"), "program v2");
    EXPECT_EQ(ReadBytes(app_ + "sub\\data.txt"), std::string(5000, 'd'));
    for (const char* note : {"Hinweis: add\\Demo\\prog.exe ergibt 10 Bytes, das Verzeichnis nennt 0.",
                             "Hinweis: add\\Demo\\sub\\data.txt ergibt 5000 Bytes, das Verzeichnis nennt 4096."})
        EXPECT_NE(std::find(log.begin(), log.end(), note), log.end()) << note;
}

TEST_F(UpdateSessionTest, WithoutAdministratorRightsNothingIsLogged) {
    SessionView view;
    UpdateSession session(view);
    session.load(writeUpdater(controlFile()));
    registry_.setReadOnly(RootKey::LocalMachine, true);
    StringList log = {"earlier"};
    EXPECT_FALSE(session.start(log, false));
    registry_.setReadOnly(RootKey::LocalMachine, false);
    EXPECT_TRUE(log.empty());
    ASSERT_EQ(prompter_.questions().size(), 1u);
    EXPECT_EQ(prompter_.questions()[0].text, kNoRightsText);
}

TEST_F(UpdateSessionTest, CloseRequestsAndTheFinalCommand) {
    struct WindowView : SessionView {
        bool readsLogInWindow() const override { return true; }
    };
    struct Case {
        const char* what;
        bool extended;
        bool runSucceeds;
        std::vector<bool> allowed;  // answers to successive close requests
        int commandsStarted;
        bool heldUntilRestart = false;  // readme.txt is held: it is replaced at the next start of Windows
    } cases[] = {
        {"normal log, success", false, true, {true}, 1},
        {"extended log, success", true, true, {false, true}, 1},
        {"normal log, failure", false, false, {true}, 0},
        {"extended log, failure", true, false, {false, true}, 0},
        {"success, a file waits for the restart", false, true, {true}, 0, true},
    };
    for (const Case& c : cases) {
        installProject(c.runSucceeds ? "4.1" : "3.0");
        commands_.started.clear();
        MakeFile(app_ + "readme.txt", "old readme", kOld);
        WindowView view;
        UpdateSession session(view);
        session.load(writeUpdater(controlFile("FINALCMD=notepad.exe %%1 \"%§R\\Tarnix.exe\\Projects\\Demo\\Ver%\"\r\n") +
                                  "REBOOTOK=1\r\n"));
        StringList log;
        std::unique_ptr<FileHandle> holder;
        if (c.heldUntilRestart) holder = Fs().open(app_ + "readme.txt", OpenMode::ReadShared);
        EXPECT_EQ(session.start(log, c.extended), c.runSucceeds) << c.what;
        holder.reset();
        EXPECT_EQ(std::count(log.begin(), log.end(), kFinalCommandAfterRestartText), c.heldUntilRestart ? 1 : 0) << c.what;
        // The window's log tells what to click next.
        const std::string ending = "\r\nUpdate beendet.\r\nKlicken Sie auf \"Fertigstellen\"!";
        if (c.runSucceeds && !c.heldUntilRestart) EXPECT_EQ(log.back(), ending) << c.what;
        for (std::size_t i = 0; i < c.allowed.size(); ++i)
            EXPECT_EQ(session.closeQuery(), c.allowed[i]) << c.what << " request " << i;
        ASSERT_EQ(commands_.started.size(), std::size_t(c.commandsStarted)) << c.what;
        if (c.commandsStarted) EXPECT_EQ(commands_.started[0], "notepad.exe %1 \"4.2\"") << c.what;
    }
}

TEST_F(UpdateSessionTest, NoFinalCommandClosesAtOnce) {
    SessionView view;
    UpdateSession session(view);
    session.load(writeUpdater(controlFile()));
    LogThreshold = 1;
    EXPECT_TRUE(session.closeQuery());
    EXPECT_TRUE(commands_.started.empty());
}

TEST_F(UpdateSessionTest, SilentRunWritesTheLogFileAndTellsTheOutcome) {
    std::string exe = writeUpdater(controlFile());
    LaunchOptions options;
    options.mode = LaunchMode::Silent;
    options.logPath = dir / "logs\\new\\update.log";  // folders that do not exist yet
    // The time the run began, as strftime writes it, taken on either side of the run.
    auto now = [] {
        std::time_t t = std::time(nullptr);
        char text[32];
        return std::string(text, std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", std::localtime(&t)));
    };
    const std::string before = now();
    EXPECT_EQ(RunSilent(options, exe), kExitSucceeded);
    const std::string after = now();
    std::string text = ReadBytes(options.logPath);
    const std::string header = "Update Demo 4.2, ";
    ASSERT_EQ(text.substr(0, header.size()), header) << text;
    std::size_t lineEnd = text.find("\r\n");
    EXPECT_EQ(lineEnd, header.size() + 19) << "date and time dd.mm.yyyy hh:mm:ss: " << text;
    const std::string stamp = text.substr(header.size(), 19);
    // Within one day, text order is time order (a run over midnight is not judged).
    EXPECT_TRUE((stamp >= before && stamp <= after) || before.substr(0, 10) != after.substr(0, 10))
        << stamp << " not between " << before << " and " << after;
    EXPECT_EQ(text.substr(lineEnd + 2), LogFileText(kSuccessLog) + "Rückgabewert: 0\r\n");

    // Each ending with the code a deployment tool can act on, and the log's last line naming it.
    struct Case {
        const char* what;
        std::string installed;
        std::string extraMain;
        int code;
        const char* logged;
    } cases[] = {
        {"installed version too old", "3.0", "", kExitNotSucceeded, "ist nicht mindestens 4.0."},
        {"already newer: nothing to do", "4.4", "", kExitNothingToDo, "ist neuer als dieses Update."},
        {"final command not asked for", "4.1", "FINALCMD=notepad.exe\r\n", kExitSucceeded,
         "Abschließender Befehl nicht gestartet (ohne /FINALCMD).\r\n"},
        {"control file at fault", "4.1", "VCHK=4.0\r\n", kExitNotLoadable,
         "Die Steuerdatei update.ini des Updates ist fehlerhaft:\r\nupdate.ini: \"<=\" erwartet in VChk\r\n"},
    };
    for (const Case& c : cases) {
        installProject(c.installed);
        EXPECT_EQ(RunSilent(options, writeUpdater(controlFile(c.extraMain))), c.code) << c.what;
        text = ReadBytes(options.logPath);
        EXPECT_NE(text.find(c.logged), std::string::npos) << c.what << ": " << text;
        std::string last = "Rückgabewert: " + std::to_string(c.code) + "\r\n";
        EXPECT_EQ(text.substr(text.size() - last.size()), last) << c.what;
    }

    WriteBytes(dir / "plain.exe", std::string(100, 'x'));
    EXPECT_EQ(RunSilent(options, dir / "plain.exe"), kExitNotLoadable);
    EXPECT_EQ(ReadBytes(options.logPath).substr(ReadBytes(options.logPath).find("\r\n") + 2),
              "Das Update ist beschädigt oder unvollständig.\r\nRückgabewert: 2\r\n");
    EXPECT_EQ(ReadBytes(options.logPath).substr(0, 18), "Update plain.exe, ");

    // A log that cannot be written ends the run before anything changes.
    installProject("4.1");
    MakeFile(app_ + "readme.txt", "old readme", kOld);
    WriteBytes(dir / "blocked", "a file where a folder is needed");
    options.logPath = dir / "blocked\\update.log";
    EXPECT_EQ(RunSilent(options, exe), kExitBadCommandLine);
    EXPECT_EQ(registryValue("R\\Tarnix.exe\\Projects\\Demo\\Ver", ""), "4.1");
    EXPECT_EQ(ReadBytes(app_ + "readme.txt"), "old readme");
}

TEST_F(UpdateSessionTest, SilentRunStartsTheFinalCommandOnlyWhenAskedAndSucceeded) {
    LaunchOptions options;
    options.mode = LaunchMode::Silent;
    options.logPath = dir / "update.log";
    options.runFinalCommand = true;
    std::string exe = writeUpdater(controlFile("FINALCMD=notepad.exe\r\n"));
    installProject("3.0");
    EXPECT_EQ(RunSilent(options, exe), kExitNotSucceeded);
    EXPECT_TRUE(commands_.started.empty());
    EXPECT_NE(ReadBytes(options.logPath).find("nicht gestartet (Update nicht erfolgreich)"), std::string::npos);
    installProject("4.1");
    EXPECT_EQ(RunSilent(options, exe), kExitSucceeded);
    EXPECT_EQ(commands_.started, std::vector<std::string>{"notepad.exe"});
    EXPECT_NE(ReadBytes(options.logPath).find("Abschließender Befehl gestartet.\r\nRückgabewert: 0"), std::string::npos);
}

// /UNDO instead of a run: the silent log is the head, what the undo logged and
// the exit code; the window asks first and does nothing on No. Neither writes
// a file of the package.
TEST_F(UpdateSessionTest, UndoTakesThePlaceOfTheRun) {
    struct WindowView : SessionView {
        bool readsLogInWindow() const override { return true; }
    };
    std::string exe = writeUpdater(controlFile("FINALCMD=notepad.exe\r\n"));
    SessionView noWindow;
    UpdateSession direct(noWindow);
    direct.load(exe);
    StringList undoLog;  // this package never ran here: nothing to undo
    ASSERT_FALSE(UndoLastRun(direct, undoLog));

    LaunchOptions options;
    options.mode = LaunchMode::Silent;
    options.undo = true;
    options.logPath = dir / "undo.log";
    EXPECT_EQ(RunSilent(options, exe), kExitNothingToDo);
    std::string text = ReadBytes(options.logPath);
    EXPECT_EQ(text.substr(0, 17), "Update Demo 4.2, ") << text;
    EXPECT_EQ(text.substr(text.find("\r\n") + 2), LogFileText(undoLog) + "Rückgabewert: 5\r\n");
    EXPECT_TRUE(prompter_.questions().empty());

    for (int answer : {kAnswerNo, kAnswerYes}) {
        prompter_.script(answer);
        WindowView view;
        UpdateSession session(view);
        session.Undo = true;
        session.load(exe);
        StringList log;
        EXPECT_FALSE(session.start(log, false));
        EXPECT_EQ(log, answer == kAnswerYes ? undoLog : StringList{}) << answer;
    }
    ASSERT_EQ(prompter_.questions().size(), 2u);
    EXPECT_EQ(prompter_.questions()[1].text, "Soll das zuletzt ausgeführte Update Demo 4.2 zurückgenommen werden?");
    EXPECT_EQ(prompter_.questions()[1].style, kMbYesNo | kMbIconQuestion);
    EXPECT_EQ(ReadBytes(app_ + "readme.txt"), "old readme");
}

// A silent run asks nobody, whatever happens: a warning at start-up, an error
// that nothing on its way catches. Each ends with its exit code, and the log
// says why. (A bad switch: tests/e2e/silent_update.sh.)
TEST_F(UpdateSessionTest, RunsWithoutAWindowAskNobody) {
    ScopedRegistryNames names;
    const std::string exePath = OwnExePath, exeFolder = OwnExeFolder, windowsFolder = WindowsFolder;
    FakeSystemInfo sys;
    sys.module = writeUpdater(controlFile());
    struct Case {
        const char* windowsFolder;
        const char* raise;
        int code;
        const char* logged;
    } cases[] = {
        {"WINDOWS", "", kExitSucceeded, "Windows-Pfad fehlerhaft oder unvollständig\r\n\r\nDemo-Anwendung\r\n"},
        {"C:\\WINDOWS", "Speicher voll", kExitError, "\r\nSpeicher voll\r\nRückgabewert: 3\r\n"},
    };
    for (const Case& c : cases) {
        installProject("4.1");
        sys.windowsFolder = c.windowsFolder;
        sys.raise = c.raise;
        LaunchOptions options;
        options.mode = LaunchMode::Silent;
        options.logPath = dir / "update.log";
        EXPECT_EQ(RunWithoutWindow(options, ""), c.code) << c.logged;
        std::string text = ReadBytes(options.logPath);
        EXPECT_NE(text.find(c.logged), std::string::npos) << text;
        EXPECT_TRUE(prompter_.questions().empty()) << prompter_.questions()[0].text;
    }
    OwnExePath = exePath;
    OwnExeFolder = exeFolder;
    WindowsFolder = windowsFolder;
}

TEST_F(UpdateSessionTest, SilentRunWithFileErrorsTellsTheScript) {
    std::string exe = writeUpdater(controlFile(), {{"add\\Demo\\..\\..\\evil.txt", "x", kNew}});
    LaunchOptions options;
    options.mode = LaunchMode::Silent;
    options.logPath = dir / "update.log";
    EXPECT_EQ(RunSilent(options, exe), kExitNotSucceeded);
    std::string logText = ReadBytes(dir / "update.log");
    EXPECT_NE(logText.find("1 Fehler\r\n"), std::string::npos) << logText;
    EXPECT_NE(logText.find("Es sind Fehler aufgetreten."), std::string::npos) << logText;
    EXPECT_EQ(ReadBytes(app_ + "prog.exe"), "program v2");
    EXPECT_FALSE(FileExists(dir / "evil.txt"));
    // Neither the part's nor the update's result value claims the new version.
    EXPECT_EQ(registryValue("R\\Tarnix.exe\\Projects\\Demo", "Status"), "(none)");
    EXPECT_EQ(registryValue("R\\Tarnix.exe\\Projects\\Demo\\Ver", ""), "4.1");
}

TEST_F(UpdateSessionTest, UnpackingSkipsNamesThatLeaveTheFolder) {
    std::string exe = writeUpdater(controlFile(), {{"..\\evil.txt", "x", kNew}});
    LaunchOptions options;
    options.mode = LaunchMode::Unpack;
    options.unpackFolder = dir / "out";
    EXPECT_EQ(RunUnpack(options, exe), kExitNotSucceeded);
    EXPECT_EQ(ReadBytes(dir / "out\\add\\Demo\\prog.exe"), "program v2");
    EXPECT_EQ(StampOf(dir / "out\\rep\\Demo\\readme.txt"), kNew);
    EXPECT_FALSE(FileExists(dir / "evil.txt"));
    EXPECT_EQ(ListFolder(dir / "out"), "add rep todel.txt update.ini");
}

// A package that cannot be loaded (a bad VCHK line, no deletion list) still has
// its archive open: "alles auspacken" unpacks it for whoever has to look.
TEST_F(UpdateSessionTest, AnArchiveThatFailedToLoadCanStillBeUnpacked) {
    for (const char* ini : {"P=Demo\r\nVChk=4.0 R\\x\\Ver\r\n", "P=Demo\r\n"}) {
        std::string exe = writeUpdater(ini);
        if (std::string(ini) == "P=Demo\r\n") {
            // A package without its deletion list.
            std::ostringstream out;
            out << std::string(1000, 'M');
            ArchiveWriter writer(out, 1000);
            writer.declare("update.ini", kNew);
            writer.declare("add\\Demo\\prog.exe", kNew);
            writer.addContent(0, ini);
            writer.addContent(1, "program v2");
            writer.finish(true);
            WriteBytes(exe, out.str());
        }
        SessionView view;
        UpdateSession session(view);
        EXPECT_ANY_THROW(session.load(exe)) << ini;
        EXPECT_FALSE(session.loaded());
        ASSERT_TRUE(session.archiveOpen()) << ini;
        RemoveTree(dir / "out");
        Fs().createFolder(dir / "out");
        session.unpackAll(dir / "out\\");
        EXPECT_EQ(ReadBytes(dir / "out\\add\\Demo\\prog.exe"), "program v2") << ini;
    }
}

namespace {

// Counts the opens of one file by its name.
class OpensOf final : public ForwardingFileSystem {
public:
    explicit OpensOf(std::string path) : path_(std::move(path)) {}
    std::unique_ptr<FileHandle> open(const std::string& p, OpenMode m) override {
        count += SameText(p, path_) ? 1 : 0;
        return real_.open(p, m);
    }
    int count = 0;

private:
    std::string path_;
};

}  // namespace

// The package is opened once, at loading, and every later read (the signer,
// staging, the fonts, unpacking) goes through that handle; while the session
// lasts, others may read the file but neither rename, write nor delete it: the
// bytes checked are the bytes used. Held for writing by another, it does not load.
TEST_F(UpdateSessionTest, ThePackageIsOpenedOnceAndHeldAgainstChanges) {
    std::string exe = writeUpdater(controlFile(), {{"demo.ttf", "no real font", kNew}});
    OpensOf opens(exe);
    {
        SessionView view;
        UpdateSession session(view);
        ASSERT_EQ(session.load(exe), UpdateSession::LoadResult::Loaded);
        StringList log;
        EXPECT_TRUE(session.start(log, false));  // on to the fonts
        Fs().createFolder(dir / "out");
        session.unpackAll(dir / "out\\");
        EXPECT_EQ(ReadBytes(dir / "out\\demo.ttf"), "no real font");
        EXPECT_EQ(opens.count, 1);
        EXPECT_FALSE(Fs().renameOver(exe, dir / "away.exe"));
        EXPECT_FALSE(Fs().open(exe, OpenMode::ReadWrite));
        EXPECT_FALSE(Fs().removeFile(exe));
        EXPECT_TRUE(Fs().open(exe, OpenMode::ReadShared));
    }
    std::unique_ptr<FileHandle> writer = Fs().open(exe, OpenMode::ReadWrite);
    ASSERT_TRUE(writer) << "let go with the session";
    LaunchOptions options;
    options.mode = LaunchMode::Silent;
    options.logPath = dir / "update.log";
    EXPECT_EQ(RunSilent(options, exe), kExitNotLoadable);
    std::string text = ReadBytes(options.logPath);
    EXPECT_NE(text.find(exe + " kann nicht geöffnet werden. Grund: Datei wird von einem anderen Programm benutzt."),
              std::string::npos)
        << text;
}

TEST(LogFileTextTest, EveryLineEndBecomesCrLf) {
    EXPECT_EQ(LogFileText({"a", "\r\nb\rc\nd"}), "a\r\n\r\nb\r\nc\r\nd\r\n");
    EXPECT_EQ(LogFileText({}), "");
}
