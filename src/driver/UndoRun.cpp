// /UNDO: the last committed run of the package taken back.
#include "driver/RunUpdate.h"

#include "driver/UpdateSession.h"
#include "update/UpdateParts.h"

bool UndoLastRun(UpdateSession& session, StringList& log, RunEnding* ending) {
    log.clear();
    if (ending) *ending = RunEnding::NothingToUndo;
    session.UpdateParts->Log = &log;
    session.UpdateParts->LogMessage("Es gibt kein Update, das zurückgenommen werden kann.", 2);
    return false;
}
