// One run of the update: rights, files in use, the installed version, the
// parts' target folders, a check of the archive data that the run will write,
// then every part, the fonts and the update-wide result value.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/StringList.h"

class StagedEntries;
struct ChangedFile;
class TArchive;
class TPackedFile;
class TUpdatePart;
class TUpdateParts;
class UpdateSession;
class UpdaterLock;

// The texts of the run's summaries and refusals.
extern const char* const kNoRightsText;
extern const char* const kDamagedPackageText;
extern const char* const kAnotherUpdateText;

// How a run ended, for the exit code of silent runs.
enum class RunEnding {
    Succeeded,
    Failed,
    InstalledNewer,  // the installed version is beyond the update's range: nothing to do
    ProgramRunning,  // a file named in [CheckRun] is in use
    FilesHeld,       // a file that the run would replace or delete is in use: nothing was changed
    AnotherRunning,  // another updater is applying a package
    RestartNeeded,   // succeeded; files held open are replaced at the next start of Windows
    Damaged,         // the package's data is damaged: nothing was changed
    Undone,          // the check after the update failed and the whole run was undone
    NothingToUndo,   // /UNDO: no record of this package's last run (never applied, undone, superseded)
};

// The files of `changed` that stay held open after waiting (a second at a
// time) while `budget` lasts: seconds shared by every wait of a run, as /WAIT=N
// is one budget for the whole run.
std::vector<ChangedFile> HeldAfterWaiting(const std::vector<ChangedFile>& changed, unsigned& budget);
// The updaters' lock, held until the run ends: no other updater applies, or
// recovers a journal, meanwhile. Waits for another updater while `budget`
// lasts. Only an administrator or SYSTEM may make the lock: a process without
// their rights is told so, not that another update runs (AnotherRunning).
bool TakeUpdaterLock(unsigned& budget, std::unique_ptr<UpdaterLock>& lock, RunEnding& ending);

// Returns true when the update succeeded; then the session is completed.
// `ending`, when given, receives how the run ended.
bool RunUpdate(UpdateSession& session, StringList& log, RunEnding* ending = nullptr);

// /UNDO: puts the installation back as it was before the last committed run
// of this package (files, deletions, result values, fonts). True when done;
// otherwise `ending` says why: NothingToUndo, FilesHeld (nothing changed),
// Failed (a file of that run was changed since, named in the log; nothing
// changed).
bool UndoLastRun(UpdateSession& session, StringList& log, RunEnding* ending = nullptr);

// Inflates every segment of every entry that applying the parts could write
// (an entry of a part whose version check passes, newer than its installed
// copy or missing). Entries that the run will not write are not looked at:
// their damage does not stop the parts that can be applied.
// False with the entry's name and the problem at the first damaged one. With
// `staging`, the entries that will probably be written are staged on the way,
// so that writing them needs no second inflation. A patch entry is built
// from the installed file it applies to; when that is not the expected file,
// or its new file cannot be staged, `name` is empty and `problem` the message
// that names it. With `held` false, a patch whose installed file is in use and
// cannot be read is left unchecked, and `held` set; with `held` true (a second
// pass, with `staging`), only the patches left unchecked are checked.
bool VerifyEntriesToWrite(const TArchive& archive, const TUpdateParts& parts, std::string& name, std::string& problem,
                          StagedEntries* staging = nullptr, bool* held = nullptr);
