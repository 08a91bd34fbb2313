// The run's transaction as the driver sees it (update/Transaction.h): begun,
// checked, committed or undone, and recovered at every start.
#pragma once

#include <memory>

#include "update/Transaction.h"

class TUpdateParts;
class UpdateSession;

// The package as the run's journal names it: P and V of its update.ini.
std::string PackageOf(const UpdateSession& session);
// Before the first change: a run with a transaction begins it; any other run
// settles the record of the last one (nothing of it can be undone then).
// False, logged, when the transaction cannot be begun.
bool BeginTransaction(const UpdateSession& session, const TUpdateParts& parts, std::unique_ptr<RunTransaction>& run);
// The check after the update (CHECKCMD), when there is one: true when it ended
// within CHECKWAIT with exit code 0; otherwise logged why not.
bool CheckPassed(const TUpdateParts& parts);
// Commits the run (`commit`) or takes it all back, logging what stays; true when it committed.
bool EndTransaction(const TUpdateParts& parts, RunTransaction& run, bool commit);
// At every start: what a killed run, check or /UNDO left is finished. False,
// logged, when something of it stays.
bool RecoverRun(const TUpdateParts& parts);
// Logs the lines of an undo or recovery.
void LogUndoReport(const TUpdateParts& parts, const UndoReport& report);
