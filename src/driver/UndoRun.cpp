// /UNDO: the last committed run of the package taken back.
#include "driver/HeldFiles.h"
#include "driver/RunCheck.h"
#include "driver/RunUpdate.h"
#include "base/Text.h"
#include "driver/UpdateSession.h"
#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/System.h"
#include "platform/Prompter.h"
#include "platform/SystemInfo.h"
#include "platform/UpdaterLock.h"
#include "update/ApplyPart.h"
#include "update/UpdateParts.h"

namespace {

// Whether files of the record stay held open: waited for as a run waits, and
// in the window asked again. The fonts folder is not looked at: Windows holds
// every added font, and the undo takes each out of the font table first.
bool StillHeld(const std::vector<std::string>& paths, void* context) {
    unsigned& budget = *static_cast<unsigned*>(context);
    std::vector<ChangedFile> changed;
    const std::string fonts = WindowsFolder + "Fonts\\";
    for (const std::string& path : paths)
        if (!StartsWithText(fonts, path)) changed.push_back({path});
    for (;;) {
        const std::vector<HeldFile> held = HeldAfterWaiting(changed, budget);
        if (held.empty()) return false;
        if (AskRetryCancel(HeldFilesText(held)) != kAnswerRetry) return true;
    }
}

}  // namespace

bool UndoLastRun(UpdateSession& session, StringList& log, RunEnding* endingOut) {
    RunEnding ignored;
    RunEnding& ending = endingOut ? *endingOut : ignored;
    ending = RunEnding::Failed;
    log.clear();
    TUpdateParts& parts = *session.UpdateParts;
    parts.Log = &log;
    if (!HasAdminRights()) {
        ShowInfo(kNoRightsText);
        return false;
    }
    unsigned budget = session.WaitSeconds;
    std::unique_ptr<UpdaterLock> lock;
    if (!TakeUpdaterLock(budget, lock, ending)) return false;
    if (!RecoverRun(parts)) return false;
    for (std::size_t i = 0; i < parts.Count(); ++i)
        if (!RecoverInterruptedPart(parts[i])) return false;
    UndoReport report;
    const RunTransaction::Undo undone = RunTransaction::UndoRecord(PackageOf(session), StillHeld, &budget, report);
    switch (undone) {
    case RunTransaction::Undo::Done:
        LogUndoReport(parts, report);
        parts.LogMessage("Das letzte Update wurde zurückgenommen, der vorige Stand ist wiederhergestellt.", 2);
        ending = RunEnding::Succeeded;
        return true;
    case RunTransaction::Undo::Nothing:
        parts.LogMessage("Es gibt kein Update, das zurückgenommen werden kann.", 2);
        ending = RunEnding::NothingToUndo;
        return false;
    case RunTransaction::Undo::Held:
        parts.LogMessage("Das Update wird nicht zurückgenommen: Dateien werden benutzt.", 2);
        ending = RunEnding::FilesHeld;
        return false;
    case RunTransaction::Undo::Changed:
        parts.LogMessage(report.problems.front() + " wurde seit dem Update geändert.\r\n"
                         "Das Update wird nicht zurückgenommen.", 2);
        return false;
    case RunTransaction::Undo::Failed: break;
    }
    LogUndoReport(parts, report);
    parts.LogMessage("*** Das Update konnte nicht ganz zurückgenommen werden.", 2);
    return false;
}
