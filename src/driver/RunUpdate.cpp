#include "driver/RunUpdate.h"

#include <optional>

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "archive/Patch.h"
#include "base/Text.h"
#include "driver/HeldFiles.h"
#include "driver/Publisher.h"
#include "driver/RunCheck.h"
#include "driver/UpdateSession.h"
#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/System.h"
#include "env/Text.h"
#include "env/UiHooks.h"
#include "fonts/FontInstaller.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"
#include "platform/SystemInfo.h"
#include "platform/UpdaterLock.h"
#include "update/ApplyPart.h"
#include "update/PartWriter.h"
#include "update/StagedEntries.h"
#include "update/StagedPatch.h"
#include "update/Transaction.h"
#include "update/UpdateParts.h"
#include "update/VersionCheck.h"

const char* const kNoRightsText =
    "Mit dem von Ihnen verwendeten Login sind Sie nicht berechtigt,\r"
    "Anwendungen auf diesem Computer zu installieren bzw. zu aktualisieren.\r\r"
    "Melden Sie sich als Administrator an oder bitten Sie Ihren\r"
    "Administrator, das Update auszuführen.";
const char* const kDamagedPackageText = "Das Update ist beschädigt oder unvollständig.";
const char* const kAnotherUpdateText =
    "Ein anderes Update wird gerade ausgeführt.\r"
    "Warten Sie, bis es beendet ist, und versuchen Sie es dann erneut.";

namespace {

// Restores the default cursor however the run ends.
class BusyCursor {
public:
    BusyCursor() { Ui().setBusyCursor(true); }
    ~BusyCursor() { Ui().setBusyCursor(false); }
};

// Ends the progress that the check begins, however the run ends.
class ProgressShown {
public:
    ~ProgressShown() { Progress().end(); }
};

// The main version check: its result, after the log line of a refusal.
int CheckMainVersion(const TUpdateParts& parts, const std::string& project) {
    int result = EvaluateVChk(parts.MainVChk);
    std::string message = VersionRefusal(project, parts.MainVChk, result);
    if (!message.empty()) parts.LogMessage(message, 2);
    return result;
}

// Inflates every segment of the entry, into a staged file when a target is
// given; false with the problem when the data is damaged or cut short. A patch entry
// is always built from its target; when that is not the file the patch was
// made for, `differs` is set and the problem is the whole message. A sound entry
// whose length differs from the one the directory records is only noted in
// the extended log: writers may record that length differently.
bool VerifyEntry(const TArchive& archive, const PartTarget& planned,
                 const std::string& target, StagedEntries& staging, const TUpdateParts& parts, std::string& problem,
                 bool& differs) {
    const std::int32_t index = planned.entry;
    problem = "Segment unvollständig";
    try {
        StreamResult result = planned.kind == TargetKind::Patch ? staging.stagePatch(archive, index, target)
                              : target.empty()                  ? staging.check(archive, index)
                                                                : staging.stage(archive, index, target);
        if (result != StreamResult::Complete) return false;
    } catch (const InstalledFileDiffers& e) {
        problem = e.what();
        differs = true;
        return false;
    } catch (const std::exception& e) {
        problem = e.what();
        return false;
    }
    const TPackedFile& entry = archive.entryAt(index);
    if (staging.lastLength() != static_cast<std::uint64_t>(entry.unpackedSize))
        parts.LogMessage(std::string("Hinweis: ")
                             .append(entry.name)
                             .append(" ergibt ")
                             .append(DecimalText(staging.lastLength()))
                             .append(" Bytes, das Verzeichnis nennt ")
                             .append(DecimalText(entry.unpackedSize))
                             .append(1, '.'),
                         1);
    return true;
}

// The files of the run that are held open, tested again while the user asks
// for it (window) or while the wait budget lasts (silent). True when the run may
// go on: nothing is held, or only files of parts with REBOOTOK, which are
// handed to their parts to be replaced at the next start of Windows. A part
// with rollback waits for its files all the same: a change left to the next
// start could not be undone with the rest of the part.
bool FilesFreeOrDeferred(const std::vector<ChangedFile>& changed, TUpdateParts& parts, unsigned& waitBudget) {
    for (;;) {
        const std::vector<HeldFile> held = HeldAfterWaiting(changed, waitBudget);
        std::vector<HeldFile> blocking;
        // Nor can a patched file that cannot be read: its new file is built from it.
        for (const HeldFile& h : held)
            if (!parts[h.part].RebootOk || parts[h.part].Rollback || parts.Transactional() ||
                (h.patched && !openReadOnly(h.path)))
                blocking.push_back(h);
        if (blocking.empty()) {
            for (const HeldFile& h : held) parts[h.part].HeldUntilRestart.push_back(h.path);
            return true;
        }
        if (AskRetryCancel(HeldFilesText(blocking)) != kAnswerRetry) return false;
    }
}

// Tests `ready` at once and then once a second while `budget` (seconds, shared
// by every wait of a run: /WAIT=N is one budget for the whole run) lasts.
template <class Ready>
bool WaitUntil(unsigned& budget, Ready ready) {
    for (;; --budget) {
        if (ready()) return true;
        if (budget == 0) return false;
        Sys().pause(1000);
    }
}

void ForgetHeldFiles(TUpdateParts& parts) {
    parts.RestartNeeded = false;
    for (std::size_t i = 0; i < parts.Count(); ++i) parts[i].HeldUntilRestart.clear();
}

}  // namespace

std::vector<HeldFile> HeldAfterWaiting(const std::vector<ChangedFile>& changed, unsigned& budget) {
    std::vector<HeldFile> held;
    WaitUntil(budget, [&] { return (held = FindHeldFiles(changed)).empty(); });
    return held;
}

bool TakeUpdaterLock(unsigned& budget, std::unique_ptr<UpdaterLock>& lock, RunEnding& ending) {
    LockOutcome outcome = LockOutcome::Busy;
    WaitUntil(budget, [&] { return (outcome = TryLockUpdater(lock)) != LockOutcome::Busy; });
    if (outcome == LockOutcome::Acquired) return true;
    ShowInfo(outcome == LockOutcome::NoRights ? kNoRightsText : kAnotherUpdateText);
    if (outcome == LockOutcome::Busy) ending = RunEnding::AnotherRunning;
    return false;
}

bool VerifyEntriesToWrite(const TArchive& archive, const TUpdateParts& parts, std::string& name, std::string& problem,
                          StagedEntries* staging, bool* held) {
    // The second pass takes only the patches that the first one left unchecked.
    const bool second = held && *held;
    StagedEntries checkOnly;
    // Entries of a part whose own version check fails are never written.
    std::vector<bool> applied(parts.Count());
    for (std::size_t p = 0; p < parts.Count(); ++p) applied[p] = ClassifyVChk(parts[p].VChk) == kVChkPassed;
    // Each entry once, in the archive's order, for the first part that will probably write it.
    struct Planned {
        const PartTarget* target = nullptr;
        std::string path;
        std::size_t part = 0;
    };
    std::vector<Planned> planned(std::size_t(archive.entryCount()));
    std::uint64_t bytes = 0;
    std::vector<std::vector<PartTarget>> scratch(parts.Count());
    for (std::size_t p = 0; p < parts.Count(); ++p) {
        if (!applied[p]) continue;
        for (const PartTarget& target : PlannedTargets(parts[p], archive, {}, scratch[p])) {
            if (target.entry < 0 || planned[std::size_t(target.entry)].target) continue;
            std::string path = ProbableTargetOf(target, archive.entryAt(target.entry), parts[p]);
            if (path.empty()) continue;
            planned[std::size_t(target.entry)] = {&target, path, p};
            const std::int64_t size = archive.entryAt(target.entry).unpackedSize;
            bytes += size > 0 ? std::uint64_t(size) : 0;
        }
    }
    // A run inflates each entry here and writes it later: twice its length of work.
    if (staging && !second) Progress().begin(2 * bytes);
    StagedEntries& stager = staging ? *staging : checkOnly;
    // What will be staged is named in each part's folder first (StagedEntries::announce).
    for (std::size_t p = 0; p < parts.Count() && !second; ++p) {
        std::vector<std::string> targets;
        for (const Planned& e : planned)
            if (e.target && e.part == p && (staging || e.target->kind == TargetKind::Patch)) targets.push_back(e.path);
        if (!targets.empty()) stager.announce(parts[p].TargetFolder, targets);
    }
    for (const Planned& e : planned) {
        const PartTarget* target = e.target;
        const std::string& path = e.path;
        if (!target) continue;
        bool differs = false;
        bool patch = target->kind == TargetKind::Patch;
        if (second && (!patch || staging->lengthOf(target->entry) >= 0)) continue;
        // A patched file that another program holds without sharing cannot be
        // read yet: the test of files in use sees it, and it is staged after that.
        if (patch && held && !second && !openReadOnly(path) && FileInUse(path)) {
            *held = true;
            continue;
        }
        if (!VerifyEntry(archive, *target, staging || patch ? path : std::string(), stager, parts, problem,
                         differs)) {
            name = differs ? std::string() : archive.entryAt(target->entry).name;
            return false;
        }
    }
    return true;
}

namespace {

// One run, handed from phase to phase.
struct Run {
    UpdateSession& session;
    TUpdateParts& parts;
    RunEnding& ending;
    unsigned waitBudget;  // the seconds of /WAIT=N not yet spent
    std::unique_ptr<UpdaterLock> lock;
    std::optional<BusyCursor> busy;
    std::optional<ProgressShown> progress;
    std::vector<ChangedFile> changed;
    StagedEntries staging;
    bool heldPatches = false;  // patches were left unchecked: their files were held
};

bool TakeLock(Run& run) { return TakeUpdaterLock(run.waitBudget, run.lock, run.ending); }

// With the host's pinned publishers, only a package that they signed goes on;
// checked before anything changes. Without them, the signer is only named.
bool CheckPublisher(Run& run) {
    std::string pins;
    if (!PinnedPublishers(pins)) {
        run.parts.LogMessage("\r\nDer Wert UpdateSigner kann nicht gelesen werden.\r\nDas Update wird nicht ausgeführt.", 2);
        run.ending = RunEnding::Damaged;
        return false;
    }
    // The digest is taken through the archive's own handle: what it vouches for is what is read later.
    FileHandle* file = run.session.Archive.file();
    Signer signer = file ? CheckSigner(*file, !pins.empty()) : Signer{};
    PublisherVerdict verdict = JudgePublisher(pins, signer);
    if (!verdict.text.empty()) run.parts.LogMessage(verdict.text, verdict.level);
    if (!verdict.accepted) run.ending = RunEnding::Damaged;
    return verdict.accepted;
}

// What a killed run left is finished or undone before anything is looked at,
// whichever package comes next: the checks then see the application as it
// is, and a journal never outlives the run that found it.
bool Recover(Run& run) {
    ForgetHeldFiles(run.parts);
    if (!RecoverRun(run.parts)) return false;
    for (std::size_t i = 0; i < run.parts.Count(); ++i)
        PlanTargets(run.parts[i], run.session.Archive, run.session.ToDelList);
    for (std::size_t i = 0; i < run.parts.Count(); ++i)
        if (!RecoverInterruptedPart(run.parts[i])) return false;
    return true;
}

bool CleanUp(Run& run) {
    for (std::size_t i = 0; i < run.parts.Count(); ++i)
        RemoveLeftoversOf(run.parts[i], run.session.Archive, run.session.ToDelList);
    return true;
}

bool CheckRunPrograms(Run& run) {
    WaitUntil(run.waitBudget, [&] { return run.parts.FirstCheckRunFileInUse().empty(); });
    if (run.parts.CheckFilesFree()) return true;
    run.ending = RunEnding::ProgramRunning;
    return false;
}

bool CheckVersions(Run& run) {
    int version = CheckMainVersion(run.parts, run.session.UpdateName);
    if (version == kVChkTooNew) run.ending = RunEnding::InstalledNewer;
    return version == kVChkPassed;
}

// The parts' folders, and the names the run will make in them: a path that
// Windows could never take is refused now, not met half-way.
bool CheckFolders(Run& run) {
    run.busy.emplace();
    run.progress.emplace();
    for (std::size_t i = 0; i < run.parts.Count(); ++i)
        if (!CheckTargetFolder(run.parts[i])) return false;
    run.changed = ChangedFiles(run.session.Archive, run.parts, run.session.ToDelList);
    std::string tooLong = FirstTooLongPath(run.changed, run.parts);
    if (tooLong.empty()) return true;
    tooLong.insert(0, "\r\nDer Pfad ist zu lang: ").append("\r\nDas Update wird nicht ausgeführt.");
    run.parts.LogMessage(tooLong, 2);
    return false;
}

// Every entry the run will write is inflated (and staged) before the first
// change: a damaged package ends here, with nothing changed (exit code 2; 1
// for a patch whose installed file differs or whose new file cannot be staged).
// Patches whose files were held are staged in a second pass once the files
// may be read, still before the first change.
bool StageEntries(Run& run) {
    std::string damagedEntry, problem;
    if (VerifyEntriesToWrite(run.session.Archive, run.parts, damagedEntry, problem, &run.staging, &run.heldPatches))
        return true;
    if (damagedEntry.empty()) {
        run.parts.LogMessage(problem.insert(0, "\r\n"), 2);
        return false;
    }
    std::string text = std::string("\r\n").append(kDamagedPackageText).append("\r\n");
    run.parts.LogMessage(text.append(damagedEntry).append(": ").append(problem), 2);
    run.ending = RunEnding::Damaged;
    return false;
}

bool StageHeldPatches(Run& run) { return !run.heldPatches || StageEntries(run); }

bool FilesInUse(Run& run) {
    if (FilesFreeOrDeferred(run.changed, run.parts, run.waitBudget)) return true;
    run.parts.LogMessage("\r\nDas Update wird nicht ausgeführt: Dateien werden benutzt.", 2);
    run.ending = RunEnding::FilesHeld;
    return false;
}

// The closing lines; those that tell a person what to click only where one reads them in the window.
void LogEnding(const Run& run, bool succeeded) {
    const bool window = run.session.windowed();
    std::string text = "\r\nUpdate beendet.";
    if (!succeeded) {
        text.append("\r\nEs sind Fehler aufgetreten.\r\n"
                    "Das Update sollte nach Beseitigung der Fehlerursache wiederholt werden.")
            .append(window ? "\r\nKlicken Sie auf \"Start\", um es zu wiederholen, oder auf \"Abbrechen\"!" : "");
    } else {
        text.append(run.parts.RestartNeeded ? "\r\nEinige Dateien werden erst beim nächsten Start von Windows "
                                              "ersetzt:\r\nStarten Sie Windows neu, sobald Sie können."
                                            : "")
            .append(window ? "\r\nKlicken Sie auf \"Fertigstellen\"!" : "");
    }
    run.parts.LogMessage(text, 2);
}

// Every part, the fonts and the update's result value; in a run with a
// transaction the first failure ends it.
bool ApplyAll(Run& run, RunTransaction* transaction) {
    TUpdateParts& parts = run.parts;
    bool succeeded = true;
    for (std::size_t i = 0; i < parts.Count() && (succeeded || !transaction); ++i)
        if (!ApplyPart(parts[i], run.session.Archive, run.session.ToDelList)) succeeded = false;
    if (!succeeded) return false;
    InstallArchiveFonts(
        run.session.Archive, [&](const std::string& file) { return parts.FontNameOf(file); }, parts.Log, LogThreshold,
        transaction);
    if (parts.WriteResult(parts.VResult)) return true;
    parts.LogMessage(std::string("*** Der Wert ").append(parts.VResult).append(" konnte nicht vorgemerkt werden."), 2);
    return false;
}

// A run with a transaction commits only when all of it succeeded and its
// check passed; otherwise the whole run is taken back (also when an error
// ends it on the way).
bool ApplyParts(Run& run) {
    TUpdateParts& parts = run.parts;
    Lent<StagedEntries> lent(parts.Staging, run.staging);
    std::unique_ptr<RunTransaction> transaction;
    if (!BeginTransaction(run.session, parts, transaction)) return false;
    RunTransaction* tx = transaction.get();
    struct Lending {
        TUpdateParts& parts;
        ~Lending() { parts.Transaction = nullptr; }
    } lending{parts};
    parts.Transaction = tx;
    bool succeeded = false;
    try {
        succeeded = ApplyAll(run, tx);
    } catch (const std::exception&) {
        if (tx) EndTransaction(parts, *tx, false);
        throw;
    }
    if (tx) {
        const bool checkFailed = succeeded && !CheckPassed(parts);
        succeeded = EndTransaction(parts, *tx, succeeded && !checkFailed);
        if (checkFailed) run.ending = RunEnding::Undone;
    }
    if (succeeded) {
        run.session.SetCompleted(true);
        run.ending = parts.RestartNeeded ? RunEnding::RestartNeeded : RunEnding::Succeeded;
    }
    run.staging.finish();
    LogEnding(run, succeeded);
    return succeeded;
}

// The phases of a run in their order; each ends the run by returning false,
// having said why and set how it ended. The final command comes after the
// run: the window starts it when closed, a silent run when /FINALCMD asks.
bool (*const kPhases[])(Run&) = {TakeLock,     CheckPublisher, Recover,    CleanUp,          CheckRunPrograms,
                                 CheckVersions, CheckFolders,  StageEntries, FilesInUse, StageHeldPatches, ApplyParts};

}  // namespace

bool RunUpdate(UpdateSession& session, StringList& log, RunEnding* endingOut) {
    RunEnding ignored;
    RunEnding& ending = endingOut ? *endingOut : ignored;
    ending = RunEnding::Failed;
    TUpdateParts& parts = *session.UpdateParts;
    parts.Log = &log;
    log.clear();
    if (!HasAdminRights()) {
        ShowInfo(kNoRightsText);
        return false;
    }
    Run run{session, parts, ending, session.WaitSeconds, {}, {}, {}, {}, {}, {}};
    for (auto phase : kPhases)
        if (!phase(run)) return false;
    return true;
}
