// Updates stopped dead after the k-th change of the disk, for every k that a
// run makes, and then run again: the second run finishes what the first began,
// and the end state (the application's files with their stamps, the fonts
// folder, the registry and the font table) equals that of a run that was never
// interrupted. In between, every file of the application is whole: its old
// content or its new one. UPDATE_LONG_TESTS=1 interrupts the second run too,
// at every point, on a larger package. A second part with ROLLBACK=1 is, after
// any interruption and one more run, entirely new when that run succeeds and
// entirely as before when it fails, with no kept copy left. Every interruption
// is also a power cut, which loses what was written and not flushed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <sstream>

#include "common/FaultFileSystem.h"
#include "common/UpdateTestSupport.h"
#include "archive/ArchiveWriter.h"
#include "driver/UpdateSession.h"
#include "env/Registry.h"
#include "env/System.h"
#include "platform/FontApi.h"
#include "platform/MemoryRegistry.h"
#include "platform/NativeSandbox.h"
#include "platform/Process.h"
#include "platform/RegText.h"
#include "platform/RestartSchedule.h"
#include "update/Folders.h"

namespace {

const std::int32_t kOld = Stamp(2020, 1, 1, 10, 0, 0);
const std::int32_t kNew = Stamp(2024, 3, 15, 14, 30, 10);

bool LongForm() {
    const char* value = std::getenv("UPDATE_LONG_TESTS");
    return value && *value && std::string(value) != "0";
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919 + seed * 104729) >> 3);
    return bytes;
}

struct FileState {
    std::string content;
    std::int32_t stamp;
    bool operator==(const FileState& o) const { return content == o.content && stamp == o.stamp; }
};
using Tree = std::map<std::string, FileState>;

void Collect(const std::string& folder, const std::string& relative, Tree& out) {
    std::vector<FindData> children;
    Fs().listFolder(folder, children);
    for (const FindData& child : children) {
        std::string path = folder + child.name;
        if (child.attributes & kAttrDirectory)
            Collect(path + "\\", relative + child.name + "\\", out);
        else
            out[relative + child.name] = {ReadBytes(path), child.dosDate};
    }
}

Tree TreeOf(const std::string& folder) {
    Tree tree;
    Collect(folder, "", tree);
    return tree;
}

std::string Describe(const Tree& tree) {
    std::ostringstream out;
    for (const auto& [name, state] : tree) out << name << " " << state.content.size() << " " << state.stamp << "\n";
    return out.str();
}

bool IsTemporary(const std::string& name) { return name.find(".~") != std::string::npos; }

struct State {
    Tree app, kern, fonts;
    std::string registry;
    // Fonts the session's font table holds; a font added once more by the run
    // that finishes an interrupted one only counts twice until the session ends.
    std::set<std::string> fontTable;
    bool operator==(const State& o) const {
        return app == o.app && kern == o.kern && fonts == o.fonts && registry == o.registry && fontTable == o.fontTable;
    }
};

std::string RegEscaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

class InterruptedUpdateTest : public ::testing::Test {
protected:
    InterruptedUpdateTest() : previousRegistry_(SetRegistry(&registry_)), previousWindows_(WindowsFolder) {
        WindowsFolder = dir / "WINDOWS\\";
        files_ = {{"prog.exe", "program v1", "program v2"},
                  {"readme.txt", "old readme", "new readme"},
                  {"sub\\data.bin", "", Pattern(300000, 1)},
                  {"big.bin", Pattern(150000, 2), Pattern(250000, 3)},
                  {"old.dll", "obsolete", ""}};
        kern_ = {{"kern.dll", "kern v1", "kern v2"},
                 {"plug\\p.dll", "", Pattern(20000, 5)},
                 {"big.dat", Pattern(60000, 6), Pattern(90000, 7)},
                 {"alt.dll", "alt", ""},
                 {"zz.dat", "", "zz"}};
        if (LongForm())
            for (int i = 0; i < 20; ++i)
                files_.push_back({"more\\f" + std::to_string(i) + ".dat", i % 2 ? "" : "old " + std::to_string(i),
                                  Pattern(5000 + 3000 * std::size_t(i), 10 + unsigned(i))});
        exe_ = writeUpdater();
    }
    ~InterruptedUpdateTest() override {
        SetRegistry(previousRegistry_);
        WindowsFolder = previousWindows_;
        NativeFonts() = NativeFontState();
        NativeWaitedProgram() = {};
    }

    struct AppFile {
        std::string name, before, after;  // empty: missing before, or deleted by the update
    };

    std::string writeUpdater(const std::string& fileName = "update.exe") {
        std::ostringstream out;
        out << std::string(1000, 'M');
        ArchiveWriter writer(out, 1000, 1 << 16);
        std::vector<std::pair<std::size_t, std::string>> contents;
        auto add = [&](const std::string& name, const std::string& content) {
            contents.push_back({writer.declare(name, kNew), content});
        };
        add("todel.txt", "Demo\\old.dll\r\nKern\\alt.dll\r\n" + extraTodel_);
        add("update.ini",
            "P=Demo\r\nV=4.2\r\nVChk=\"4.0\"<=R\\Tarnix.exe\\Projects\\Demo\\Ver\\<=\"4.3\"\r\n"
            "VResult=R\\Tarnix.exe\\Projects\\Demo\\Ver\\=4.2\r\nFONT=Demo.ttf,Demo Sans\r\n\r\n"
            "[Demo]\r\nN=Demo-Anwendung\r\nTDIR=§R\\Tarnix.exe\\Projects\\Demo\\Dir\\\r\n"
            "VResult=R\\Tarnix.exe\\Projects\\Demo\\Status=aktualisiert\r\n\r\n"
            "[Kern]\r\nN=Kern-Modul\r\nTDIR=" + kern() + "\r\nROLLBACK=1\r\n"
            "VResult=R\\Tarnix.exe\\Projects\\Demo\\Kern=2\r\n");
        for (const AppFile& f : files_) {
            if (f.after.empty()) continue;
            add((f.before.empty() ? "add\\Demo\\" : "rep\\Demo\\") + f.name, f.after);
        }
        for (const AppFile& f : kern_) {
            if (f.after.empty()) continue;
            add((f.before.empty() ? "add\\Kern\\" : "rep\\Kern\\") + f.name, f.after);
        }
        add("Demo.ttf", font_);
        for (const auto& [index, content] : contents) writer.addContent(index, content, 40000);
        writer.finish(true);
        WriteBytes(dir / fileName, out.str());
        return dir / fileName;
    }

    // The project as installed before the update, the fonts folder empty.
    // With `windowsToo` false, the Windows folder (the record of the last run) stays.
    void installFresh(bool windowsToo = true) {
        RemoveTree(dir / "App");
        RemoveTree(dir / "Kern");
        if (windowsToo) RemoveTree(dir / "WINDOWS");
        Fs().createFolder(dir / "App");
        Fs().createFolder(dir / "Kern");
        for (const AppFile& f : kern_)
            if (!f.before.empty()) MakeFile(kern() + f.name, f.before, kOld);
        Fs().createFolder(dir / "WINDOWS");
        Fs().createFolder(dir / "WINDOWS\\Fonts");
        for (const AppFile& f : files_) {
            if (f.before.empty()) continue;
            if (f.name.find('\\') != std::string::npos) Fs().createFolder(app() + FolderOf(f.name));
            MakeFile(app() + f.name, f.before, kOld);
        }
        registry_.clear();
        ImportRegText(registry_, "REGEDIT4\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Ver]\r\n@=\"4.1\"\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Dir]\r\n"
                                 "@=\"" + RegEscaped(app() + "Demo.exe") + "\"\r\n");
        NativeFonts() = NativeFontState();
    }

    static std::string FolderOf(const std::string& name) { return name.substr(0, name.rfind('\\')); }
    std::string app() const { return dir / "App\\"; }
    std::string kern() const { return dir / "Kern\\"; }

    // One run in a session of its own; false when it was interrupted.
    // With `renameFault`, renames to paths that contain it fail; with
    // `removeFault`, deletions. `lastSucceeded_` and `lastJournal_` tell how a
    // run that was not interrupted ended; `mustSucceed_` whether it has to succeed.
    bool run(int interruptAfter, int* changes = nullptr, const std::string& renameFault = "",
             const std::string& removeFault = "", Interruption how = Interruption::Kill) {
        FaultFileSystem faults;
        faults.interruptAfter(interruptAfter, how);
        if (!renameFault.empty()) faults.fail(Fault::RenameFails, renameFault);
        if (!removeFault.empty()) faults.fail(Fault::RemoveFails, removeFault);
        if (noVolumeFlush_) faults.fail(Fault::NoVolumeFlush);
        SessionView view;
        UpdateSession session(view);
        StringList log;
        try {
            session.load(exe_);
            session.UpdateParts->CheckCmd = checkCmd_;
            session.UpdateParts->CheckWait = 3;
            session.UpdateParts->RunRollback = runRollback_;
            lastSucceeded_ = session.start(log, false);
            lastEnding_ = session.LastEnding;
            lastCompleted_ = session.Completed;
            if (renameFault.empty() && mustSucceed_) {
                EXPECT_TRUE(lastSucceeded_) << LogText(log);
            }
        } catch (const Interrupted&) {
            return false;
        }
        if (changes) *changes = faults.changes();
        lastJournal_ = faults.journal();
        lastLog_ = log;
        return true;
    }

    // /UNDO in a session of its own; false when it was interrupted. `lastEnding_` tells how it ended.
    bool undo(int interruptAfter = -1, Interruption how = Interruption::Kill) {
        FaultFileSystem faults;
        faults.interruptAfter(interruptAfter, how);
        SessionView view;
        UpdateSession session(view);
        StringList log;
        try {
            session.load(exe_);
            lastSucceeded_ = UndoLastRun(session, log, &lastEnding_);
        } catch (const Interrupted&) {
            return false;
        }
        lastJournal_ = faults.journal();
        lastLog_ = log;
        return true;
    }

    // The last change of the last run that wrote to a file whose name contains `text`.
    int lastWriteTo(const std::string& text) const {
        int at = -1;
        for (int i = 0; i < int(lastJournal_.size()); ++i)
            if (lastJournal_[i].rfind("write ", 0) == 0 && lastJournal_[i].find(text) != std::string::npos) at = i;
        return at;
    }

    // The first change of the last run whose journal line contains `text`.
    int changeWith(const std::string& text) const {
        for (int i = 0; i < int(lastJournal_.size()); ++i)
            if (lastJournal_[i].find(text) != std::string::npos) return i;
        return -1;
    }

    static std::string LogText(const StringList& log) {
        std::string text;
        for (const std::string& line : log) text += line + "\n";
        return text;
    }

    State state() {
        Tree fonts = TreeOf(dir / "WINDOWS\\Fonts\\");
        // A font resource file is made anew by every installation and carries the time it was made.
        for (auto& [name, file] : fonts)
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".FOT") == 0) file.stamp = 0;
        return {TreeOf(app()), TreeOf(kern()), fonts, ExportRegText(registry_, RootKey::LocalMachine),
                {NativeFonts().added.begin(), NativeFonts().added.end()}};
    }

    // Every file of the application holds its old or its new content, whole.
    void expectWhole(const std::string& when) {
        expectWhole(when, app(), files_);
        expectWhole(when, kern(), kern_);
        Tree fonts = TreeOf(dir / "WINDOWS\\Fonts\\");
        if (fonts.count("Demo.ttf")) {
            EXPECT_EQ(fonts["Demo.ttf"].content, font_) << when << ": Demo.ttf";
        }
        std::string version = ReadRegistryString("R\\Tarnix.exe\\Projects\\Demo\\Ver", "", "", "");
        EXPECT_TRUE(version == "4.1" || version == "4.2") << when << ": version " << version;
    }
    void expectWhole(const std::string& when, const std::string& folder, const std::vector<AppFile>& files) {
        for (const auto& [name, file] : TreeOf(folder)) {
            if (IsTemporary(name)) continue;
            bool known = false;
            for (const AppFile& f : files) {
                if (f.name != name) continue;
                known = true;
                EXPECT_TRUE(file.content == f.before || file.content == f.after)
                    << when << ": " << name << " holds " << file.content.size() << " bytes";
            }
            EXPECT_TRUE(known) << when << ": unexpected file " << name;
        }
    }

    TempFolder dir;
    std::vector<AppFile> files_, kern_;
    std::string extraTodel_;  // more lines of the deletion list
    bool lastSucceeded_ = false, mustSucceed_ = true, noVolumeFlush_ = false, runRollback_ = false;
    bool lastCompleted_ = false;
    RunEnding lastEnding_ = RunEnding::Failed;
    std::string checkCmd_;  // the check after the update (CHECKCMD)
    std::vector<std::string> lastJournal_;
    StringList lastLog_;
    const std::string font_ = Pattern(70000, 4);
    std::string exe_;
    MemoryRegistry registry_;
    TestPrompter prompter_;
    RecordingUi ui_;
    ScopedLogThreshold threshold_{2};

private:
    RegistryService* previousRegistry_;
    std::string previousWindows_;
};

TEST_F(InterruptedUpdateTest, EveryInterruptionIsFinishedByTheNextRun) {
    installFresh();
    int total = 0;
    ASSERT_TRUE(run(-1, &total));
    const State reference = state();
    ASSERT_EQ(reference.app.count("prog.exe"), 1u);
    ASSERT_EQ(reference.app.count("old.dll"), 0u);
    ASSERT_EQ(reference.fonts.count("Demo.ttf"), 1u);
    ASSERT_GT(total, 20) << "a run makes this many changes";

    // Power cuts also where the volume cannot be flushed as a whole: each file is flushed then.
    for (int mode = 0; mode < 3; ++mode) {
        const Interruption how = mode == 0 ? Interruption::Kill : Interruption::PowerCut;
        noVolumeFlush_ = mode == 2;
        for (int k = 0; k < total; ++k) {
            const std::string at = std::string(how == Interruption::PowerCut ? "power cut" : "interrupted") +
                                   (noVolumeFlush_ ? " without volume flush" : "") + " after change " + std::to_string(k);
            installFresh();
            ASSERT_FALSE(run(k, nullptr, "", "", how)) << at;
            expectWhole(at);
            ASSERT_TRUE(run(-1));
            State finished = state();
            EXPECT_EQ(Describe(finished.app), Describe(reference.app)) << at;
            EXPECT_EQ(Describe(finished.kern), Describe(reference.kern)) << at;
            EXPECT_EQ(Describe(finished.fonts), Describe(reference.fonts)) << at;
            EXPECT_EQ(finished.registry, reference.registry) << at;
            EXPECT_TRUE(finished == reference) << at;
            if (::testing::Test::HasFailure()) return;
        }
    }
    std::printf("%d interruption points\n", total);
}

// Sets TZ for the lifetime of the object and puts back what it was.
class ScopedTimeZone {
public:
    ScopedTimeZone() {
        const char* previous = std::getenv("TZ");
        if (previous) previous_ = previous;
    }
    ~ScopedTimeZone() { set(previous_.c_str()); }
    void set(const char* zone) { setenv("TZ", zone, 1), tzset(); }

private:
    std::string previous_ = "Europe/Berlin";
};

// What the files hold, without their stamps.
std::map<std::string, std::string> Contents(const Tree& tree) {
    std::map<std::string, std::string> contents;
    for (const auto& [name, file] : tree) contents[name] = file.content;
    return contents;
}

// The run after the interruption cannot delete the listed file of the part
// with rollback. Interrupted before that part had noted its success, the part
// ends as it was before the interrupted run; interrupted after it, entirely new.
// Windows gives the stamps of an NTFS volume in the local time of today: after
// the change to summer time, every file reads one hour later than it was
// written; a laptop that travelled reads them hours off. A kill undone after
// such a change still takes back everything (what the files hold is compared,
// their stamps read off by the change).
TEST_F(InterruptedUpdateTest, RollbackPartIsAsBeforeWhenTheNextRunFails) {
    installFresh();
    const Tree before = TreeOf(kern());
    int total = 0;
    ASSERT_TRUE(run(-1, &total));
    const State reference = state();
    int succeededAt = -1;  // the change that notes the part's success: the journal's last write
    for (int i = 0; i < int(lastJournal_.size()); ++i)
        if (lastJournal_[i].rfind("write ", 0) == 0 && lastJournal_[i].find(".~rj") != std::string::npos) succeededAt = i;
    ASSERT_GT(succeededAt, 0);

    ScopedTimeZone zone;
    struct Case {
        const char* zoneAfter;  // the zone of the next run ("": the same clock)
        Interruption how;
    };
    for (Case c : {Case{"", Interruption::Kill}, Case{"UTC-1", Interruption::Kill}, Case{"UTC-3", Interruption::Kill},
                   Case{"", Interruption::PowerCut}}) {
        const bool clockChanged = *c.zoneAfter != 0;
        for (int k = 0; k < (clockChanged ? succeededAt : total); ++k) {
            const std::string at = std::string(c.how == Interruption::PowerCut ? "power cut" : "interrupted") +
                                   " after change " + std::to_string(k) + (clockChanged ? ", zone " : "") + c.zoneAfter;
            if (clockChanged) zone.set("UTC0");
            installFresh();
            ASSERT_FALSE(run(k, nullptr, "", "", c.how)) << at;
            if (clockChanged) zone.set(c.zoneAfter);
            ASSERT_TRUE(run(-1, nullptr, "alt.dll.~r"));
            bool afterSuccess = k > succeededAt;
            EXPECT_EQ(lastSucceeded_, afterSuccess) << at;
            const Tree& expected = afterSuccess ? reference.kern : before;
            if (clockChanged) {
                EXPECT_EQ(Contents(TreeOf(kern())), Contents(expected)) << at;
            } else {
                EXPECT_EQ(Describe(TreeOf(kern())), Describe(expected)) << at;
                EXPECT_TRUE(TreeOf(kern()) == expected) << at;
                EXPECT_TRUE(TreeOf(app()) == reference.app) << at;
                EXPECT_EQ(ReadRegistryString("R\\Tarnix.exe\\Projects\\Demo", "Kern", "", ""), afterSuccess ? "2" : "");
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
}

// A journal left by a kill, owned by someone other than the updater's user, the
// administrators or the system, is not obeyed: the run stops and changes
// nothing. Owned by the administrators, it is undone and the run goes on.
TEST_F(InterruptedUpdateTest, JournalOfAnotherOwnerIsNotObeyed) {
    installFresh();
    ASSERT_TRUE(run(-1));
    const Tree updated = TreeOf(kern());
    const int kept = changeWith("kern.dll.~r0");
    ASSERT_GT(kept, 0);
    installFresh();
    ASSERT_FALSE(run(kept + 1));
    const Tree killed = TreeOf(kern());
    std::vector<FindData> journals;
    Fs().listFolder(kern(), journals);
    for (const FindData& f : journals)
        if (f.name.find(".~rj") != std::string::npos) SetNativeFileOwner(kern() + f.name, FileOwner::Other);
    mustSucceed_ = false;
    ASSERT_TRUE(run(-1));
    EXPECT_FALSE(lastSucceeded_);
    EXPECT_TRUE(TreeOf(kern()) == killed);
    EXPECT_NE(LogText(lastLog_).find("stammt nicht von diesem Updater"), std::string::npos) << LogText(lastLog_);
    for (const FindData& f : journals)
        if (f.name.find(".~rj") != std::string::npos) SetNativeFileOwner(kern() + f.name, FileOwner::Administrators);
    mustSucceed_ = true;
    ASSERT_TRUE(run(-1));
    EXPECT_EQ(Describe(TreeOf(kern())), Describe(updated));
}

// A kept copy that cannot be removed (the old .exe of a program still
// running) is left to the next start of Windows: neither the run that commits
// nor the one that finds its journal after a kill fails or stops the next one.
TEST_F(InterruptedUpdateTest, KeptCopyInUseIsLeftToTheRestart) {
    installFresh();
    ASSERT_TRUE(run(-1));
    const State reference = state();
    int succeededAt = -1;
    for (int i = 0; i < int(lastJournal_.size()); ++i)
        if (lastJournal_[i].rfind("write ", 0) == 0 && lastJournal_[i].find(".~rj") != std::string::npos) succeededAt = i;
    for (bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed after the part's success" : "not killed");
        installFresh();
        NativeScheduledChanges().clear();
        if (killed) {
            ASSERT_FALSE(run(succeededAt + 1));
        }
        for (int i = 0; i < 2; ++i) ASSERT_TRUE(run(-1, nullptr, "", "kern.dll.~r"));
        Tree left = TreeOf(kern());
        EXPECT_EQ(left.erase("kern.dll.~r0"), 1u) << "the copy waits for the restart";
        EXPECT_TRUE(left == reference.kern);
        using Change = std::pair<std::string, std::string>;
        EXPECT_EQ(NativeScheduledChanges(), (std::vector<Change>{{kern() + "kern.dll.~r0", ""}}));
    }
}

// A kill in the part with rollback, then a package for one other file: the
// killed run is undone, and none of its temporaries stays, also those staged
// for entries that it never reached.
TEST_F(InterruptedUpdateTest, KilledRunLeavesNoTemporariesForTheNextPackage) {
    installFresh();
    const Tree before = TreeOf(kern());
    ASSERT_TRUE(run(-1));
    const int kept = changeWith("kern.dll.~r0");
    ASSERT_GT(kept, 0);
    installFresh();
    ASSERT_FALSE(run(kept + 1));
    files_.clear();
    kern_ = {{"other.txt", "", "o"}};
    exe_ = writeUpdater("other.exe");
    ASSERT_TRUE(run(-1));
    std::map<std::string, std::string> expected = Contents(before);
    expected.erase("alt.dll");  // listed for deletion
    expected["other.txt"] = "o";
    EXPECT_EQ(Contents(TreeOf(kern())), expected);
    for (const std::string& folder : {app(), kern()})
        for (const auto& [name, file] : TreeOf(folder)) EXPECT_FALSE(IsTemporary(name)) << folder << name;
    EXPECT_FALSE(FolderExists(kern() + "plug"));
}

// A user who may make folders in the application's folder makes one lead
// elsewhere (a junction; here a symbolic link, which the native file system
// reports as such) to a folder that holds files named like the updater's
// temporaries. Nothing behind it is removed or renamed: not by the clean-up
// after a journal, empty or naming paths behind the link, nor as a leftover
// beside a file of the deletion list, nor as a file of that list. A file of
// the user's that merely looks like a temporary stays too. A killed run's
// journal whose path lies behind the link stops the run with the journal kept.
TEST_F(InterruptedUpdateTest, NothingIsRemovedOrRenamedThroughALink) {
    const std::string elsewhere = dir / "Fremd\\", link = app() + "link\\";
    struct Case {
        const char* what;
        std::string journal, todel;
        bool succeeds;
        std::string logged;
    };
    const Case cases[] = {
        {"an empty journal", "", "", true, ""},
        {"a journal of the check naming paths behind the link",
         "F" + link + "neu||-2|-1|-1\r\nT" + link + "ledger.xls||-2|-1|-1\r\nT" + link + "report.doc||-2|-1|-1\r\n", "",
         true, ""},
        {"a killed part's journal naming paths behind the link",
         "N" + link + "ledger.xls||-2|-1|-1\r\nK" + link + "victim.dll|" + link + "victim.dll.~r0|-2|-1|-1\r\n", "", false,
         " liegt hinter einer Verknüpfung und wird nicht angetastet."},
        {"the deletion list", "", "Demo\\link\\report.doc\r\nDemo\\link\\victim.dll\r\n", false,
         "*** " + link + "victim.dll liegt hinter einer Verknüpfung und wird nicht gelöscht."},
        // Windows takes "/" for "\\" as well: the link is crossed all the same.
        {"the deletion list with a forward slash", "", "Demo\\link/victim.dll\r\n", false,
         "*** " + app() + "link/victim.dll liegt hinter einer Verknüpfung und wird nicht gelöscht."},
    };
    mustSucceed_ = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        installFresh();
        RemoveTree(elsewhere);
        Fs().createFolder(elsewhere);
        for (const char* name : {"ledger.xls.~u2", "report.doc.~b1", "victim.dll", "victim.dll.~r0"})
            MakeFile(elsewhere + name, name, kOld);
        Fs().createFolder(app() + "Daten");
        MakeFile(app() + "Daten\\Kunden.mdb.~c1", "Kunden", kOld);
        ASSERT_TRUE(MakeNativeLink(app() + "link", elsewhere));
        WriteBytes(app() + "~update0.~rj", c.journal);
        extraTodel_ = c.todel;
        exe_ = writeUpdater();
        const Tree before = TreeOf(elsewhere);
        ASSERT_TRUE(run(-1));
        EXPECT_EQ(lastSucceeded_, c.succeeds);
        EXPECT_EQ(Describe(TreeOf(elsewhere)), Describe(before));
        EXPECT_EQ(ReadBytes(app() + "Daten\\Kunden.mdb.~c1"), "Kunden");
        EXPECT_EQ(FileExists(app() + "~update0.~rj"), !c.succeeds && c.journal.size() > 0);
        EXPECT_NE(LogText(lastLog_).find(c.logged), std::string::npos) << LogText(lastLog_);
    }
}

TEST_F(InterruptedUpdateTest, SecondInterruptionIsFinishedTooLongForm) {
    if (!LongForm()) GTEST_SKIP() << "UPDATE_LONG_TESTS=1 runs it";
    installFresh();
    int total = 0;
    ASSERT_TRUE(run(-1, &total));
    const State reference = state();
    int cases = 0;
    for (int first = 0; first < total; ++first) {
        for (int second = 0;; ++second) {
            installFresh();
            ASSERT_FALSE(run(first));
            if (run(second)) break;
            expectWhole("after changes " + std::to_string(first) + " and " + std::to_string(second));
            ASSERT_TRUE(run(-1));
            EXPECT_TRUE(state() == reference) << "interrupted after " << first << ", then " << second;
            ++cases;
            if (::testing::Test::HasFailure()) return;
        }
    }
    std::printf("%d double interruptions of %d changes\n", cases, total);
}

// The registry's export without the keys that hold no value: an undo takes
// back values, and leaves the keys that the run made.
std::string Values(const std::string& exported) {
    std::string values;
    for (std::size_t start = 0, end; start < exported.size(); start = end + 2) {
        end = exported.find("\n\n", start);
        if (end == std::string::npos) end = exported.size();
        std::string block = exported.substr(start, end - start);
        while (!block.empty() && block.back() == '\n') block.pop_back();
        if (block.find('\n') != std::string::npos) values += block + "\n\n";
    }
    return values;
}

// The tree without the journals, which carry the time they were written.
Tree WithoutJournals(Tree tree) {
    for (auto it = tree.begin(); it != tree.end();) it = it->first.find("~update") != std::string::npos ? tree.erase(it) : ++it;
    return tree;
}

bool Same(const State& a, const State& b) {
    for (const Tree State::*tree : {&State::app, &State::kern, &State::fonts})
        if (!(WithoutJournals(a.*tree) == WithoutJournals(b.*tree))) return false;
    return a.fontTable == b.fontTable && Values(a.registry) == Values(b.registry);
}

// Whether a name in the Windows folder is one of the run's journals: none stays after an undo.
bool RunJournalLeft(const std::string& windows) {
    return FileExists(windows + "~updrun.~rx") || FileExists(windows + "~updrec.~rx");
}

// The check after the update decides: passed, the run stays; failed, not
// found or outrun, every file, result value and font is as before the run,
// the run ends with Undone and the final command is not started. A main
// ROLLBACK=1 takes back the first part when the second fails.
TEST_F(InterruptedUpdateTest, CheckDecidesWhetherTheWholeRunStays) {
    installFresh();
    const State before = state();
    checkCmd_ = "%%\\check.exe";
    ASSERT_TRUE(run(-1));
    const State after = state();
    ASSERT_FALSE(after == before);
    using Outcome = WaitedProgram::Outcome;
    struct Case {
        const char* what;
        WaitedProgram check;
        bool rollback;
        const char* renameFault;
        RunEnding ending;
        const char* logged;
    };
    const Case cases[] = {
        {"passes", {Outcome::Ended, 0, 0}, false, "", RunEnding::Succeeded, "Update beendet."},
        {"ends with 1", {Outcome::Ended, 1, 0}, false, "", RunEnding::Undone, "endete mit dem Code 1."},
        {"not found", {Outcome::NotStarted, 0, 2}, false, "", RunEnding::Undone, "konnte nicht gestartet werden: "},
        {"outruns CHECKWAIT", {Outcome::TimedOut, 0, 0}, false, "", RunEnding::Undone, "nach 3 Sekunden beendet."},
        {"second part fails, main ROLLBACK=1", {}, true, "kern.dll", RunEnding::Failed, "zurückgenommen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        installFresh();
        checkCmd_ = c.rollback ? "" : "%%\\check.exe";
        runRollback_ = c.rollback;
        NativeWaitedProgram() = c.check;
        mustSucceed_ = false;
        ASSERT_TRUE(run(-1, nullptr, c.renameFault));
        const bool stays = c.ending == RunEnding::Succeeded;
        EXPECT_EQ(lastEnding_, c.ending);
        EXPECT_EQ(lastCompleted_, stays);
        const State now = state();
        EXPECT_EQ(Describe(now.app), Describe(stays ? after.app : before.app));
        EXPECT_EQ(Describe(now.fonts), Describe(stays ? after.fonts : before.fonts));
        EXPECT_EQ(Values(now.registry), Values(stays ? after.registry : before.registry));
        EXPECT_TRUE(now.app == (stays ? after : before).app && now.kern == (stays ? after : before).kern);
        EXPECT_TRUE(now.fontTable == (stays ? after : before).fontTable);
        EXPECT_EQ(FileExists(dir / "WINDOWS\\~updrec.~rx"), stays);
        EXPECT_FALSE(FileExists(dir / "WINDOWS\\~updrun.~rx"));
        EXPECT_NE(LogText(lastLog_).find(c.logged), std::string::npos) << LogText(lastLog_);
        if (!c.rollback) {
            EXPECT_NE(LogText(lastLog_).find(stays ? "" : "check.exe"), std::string::npos);
        }
    }
}

// A run with a check killed, or its power cut, after every change, then a run
// whose check fails: before the killed run's commit point, everything is as
// before it; after it, the killed run stays (the next run only takes back itself).
TEST_F(InterruptedUpdateTest, RunWithCheckIsWhollyBeforeOrAfterAtEveryInterruption) {
    installFresh();
    const State before = state();
    checkCmd_ = "check.exe";
    int total = 0;
    ASSERT_TRUE(run(-1, &total));
    const State after = state();
    const int committed = lastWriteTo("~updrun.~rx");  // the commit line: the run's journal's last write
    ASSERT_GT(committed, 0);
    mustSucceed_ = false;
    for (Interruption how : {Interruption::Kill, Interruption::PowerCut}) {
        for (int k = 0; k < total; ++k) {
            const std::string at = std::string(how == Interruption::PowerCut ? "power cut" : "killed") +
                                   " after change " + std::to_string(k);
            installFresh();
            NativeWaitedProgram() = {};
            ASSERT_FALSE(run(k, nullptr, "", "", how)) << at;
            expectWhole(at);
            NativeWaitedProgram() = {WaitedProgram::Outcome::Ended, 1, 0};
            ASSERT_TRUE(run(-1)) << at;
            EXPECT_EQ(lastEnding_, RunEnding::Undone) << at;
            const State& expected = k > committed ? after : before;
            EXPECT_EQ(Describe(WithoutJournals(state().app)), Describe(WithoutJournals(expected.app))) << at;
            EXPECT_TRUE(Same(state(), expected)) << at;
            EXPECT_EQ(FileExists(dir / "WINDOWS\\~updrec.~rx"), k > committed) << at;
            if (::testing::Test::HasFailure()) return;
        }
    }
}

// /UNDO: 5 when there is nothing of this package to undo, 1618 when a file of
// the record is held (nothing changed), 1 when one was changed since (named,
// nothing changed), otherwise 0 with everything as before the run, and 5 again.
// A run without a check commits too: it settles the record.
TEST_F(InterruptedUpdateTest, UndoOutcomes) {
    struct Case {
        const char* what;
        bool applied, laterPlainRun;
        std::string held, changed;
        RunEnding ending;
        bool installedAnew = false;  // applied twice, the folders installed anew in between
    };
    const Case cases[] = {
        {"never applied", false, false, "", "", RunEnding::NothingToUndo},
        {"applied over an installation made anew", true, false, "", "", RunEnding::Succeeded, true},
        {"applied", true, false, "", "", RunEnding::Succeeded},
        {"a file held", true, false, "readme.txt", "", RunEnding::FilesHeld},
        {"a file changed since", true, false, "", "readme.txt", RunEnding::Failed},
        {"a later run committed", true, true, "", "", RunEnding::NothingToUndo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        installFresh();
        checkCmd_ = "check.exe";
        if (c.installedAnew) {
            ASSERT_TRUE(run(-1));
            installFresh(false);
        }
        const State before = state();
        if (c.applied) ASSERT_TRUE(run(-1));
        if (c.laterPlainRun) {
            checkCmd_.clear();
            ASSERT_TRUE(run(-1));
        }
        if (!c.changed.empty()) MakeFile(app() + c.changed, "mine", kNew);
        std::unique_ptr<FileHandle> holder = c.held.empty() ? nullptr : Fs().open(app() + c.held, OpenMode::ReadShared);
        const State applied = state();
        ASSERT_TRUE(undo());
        EXPECT_EQ(lastEnding_, c.ending);
        const bool undone = c.ending == RunEnding::Succeeded;
        EXPECT_EQ(lastSucceeded_, undone);
        EXPECT_TRUE(Same(state(), undone ? before : applied));
        if (!c.changed.empty()) {
            EXPECT_NE(LogText(lastLog_).find(app() + c.changed + " wurde seit dem Update"), std::string::npos)
                << LogText(lastLog_);
        }
        for (const std::string& folder : {app(), kern()})
            for (const auto& [name, file] : TreeOf(folder))
                EXPECT_TRUE(!IsTemporary(name) || (c.applied && !c.laterPlainRun && !undone)) << name;
        holder.reset();
        ASSERT_TRUE(undo());
        // Once the file is free, /UNDO goes on; a changed file still stops it.
        const RunEnding second = c.ending == RunEnding::FilesHeld ? RunEnding::Succeeded
                                 : c.ending == RunEnding::Failed  ? RunEnding::Failed
                                                                  : RunEnding::NothingToUndo;
        EXPECT_EQ(lastEnding_, second);
    }
}

// /UNDO killed, or its power cut, after every change: the next start of any
// run finishes it (here one whose check fails and that takes back only itself).
TEST_F(InterruptedUpdateTest, UndoIsFinishedAfterEveryInterruption) {
    installFresh();
    const State before = state();
    checkCmd_ = "check.exe";
    ASSERT_TRUE(run(-1));
    const State after = state();
    int total = 0;
    ASSERT_TRUE(undo());
    ASSERT_EQ(lastEnding_, RunEnding::Succeeded);
    total = int(lastJournal_.size());
    const int begun = lastWriteTo("~updrec.~rx");  // the line that says /UNDO has begun
    ASSERT_GE(begun, 0);
    mustSucceed_ = false;
    for (Interruption how : {Interruption::Kill, Interruption::PowerCut}) {
        for (int k = 0; k < total; ++k) {
            const std::string at = std::string(how == Interruption::PowerCut ? "power cut" : "killed") +
                                   " after change " + std::to_string(k) + " of /UNDO";
            installFresh();
            NativeWaitedProgram() = {};
            ASSERT_TRUE(run(-1));
            ASSERT_FALSE(undo(k, how)) << at;
            expectWhole(at);
            NativeWaitedProgram() = {WaitedProgram::Outcome::Ended, 1, 0};
            ASSERT_TRUE(run(-1)) << at;
            const State& expected = k > begun ? before : after;
            EXPECT_EQ(Describe(WithoutJournals(state().app)), Describe(WithoutJournals(expected.app))) << at;
            EXPECT_TRUE(Same(state(), expected)) << at;
            EXPECT_FALSE(RunJournalLeft(dir / "WINDOWS\\") && k > begun) << at;
            if (::testing::Test::HasFailure()) return;
        }
    }
}

}  // namespace
