#include "driver/RunCheck.h"

#include "base/Text.h"
#include "driver/UpdateSession.h"
#include "env/Registry.h"
#include "env/System.h"
#include "env/UiHooks.h"
#include "platform/Process.h"
#include "update/UpdateParts.h"

namespace {

constexpr int kResult = 2;

// Windows' text of an error, without the line end it brings.
std::string ErrorText(std::uint32_t code) {
    std::string text = SystemErrorText(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::string PackageOf(const UpdateSession& session) {
    std::string package = session.UpdateName;
    package.append(1, '|').append(session.VersionText);
    return package;
}

void LogUndoReport(const TUpdateParts& parts, const UndoReport& report) {
    for (const std::string& line : report.notices) parts.LogMessage(line, 1);
    for (const std::string& line : report.problems) parts.LogMessage(line, kResult);
}

bool BeginTransaction(const UpdateSession& session, const TUpdateParts& parts, std::unique_ptr<RunTransaction>& run) {
    UndoReport report;
    if (!parts.Transactional()) {
        RunTransaction::SettleRecord(report);
        LogUndoReport(parts, report);
        return true;
    }
    run = std::make_unique<RunTransaction>(PackageOf(session));
    if (!run->failed()) return true;
    parts.LogMessage(std::string("\r\n*** ")
                         .append(WindowsFolder)
                         .append("~updrun.~rx konnte nicht geschrieben werden.\r\nDas Update wird nicht ausgeführt."),
                     kResult);
    return false;
}

bool CheckPassed(const TUpdateParts& parts) {
    if (parts.CheckCmd.empty()) return true;
    Ui().setProgress("Das Update wird geprüft ...");
    const std::string command = ExpandPlaceholders(parts.CheckCmd.substr(0, 255));
    parts.LogMessage(std::string("\r\nPrüfung des Updates: ").append(command), 1);
    const WaitedProgram program = RunAndWait(command, parts.CheckWait);
    if (program.outcome == WaitedProgram::Outcome::Ended && program.exitCode == 0) return true;
    // Built in place: a chain of "+" makes a string at each step.
    std::string text = "\r\n*** Die Prüfung des Updates ist fehlgeschlagen.\r\n";
    text.append(command).append("\r\n");
    switch (program.outcome) {
    case WaitedProgram::Outcome::Ended:
        text.append("endete mit dem Code ").append(DecimalText(program.exitCode)).append(1, '.');
        break;
    case WaitedProgram::Outcome::NotStarted:
        text.append("konnte nicht gestartet werden: ").append(ErrorText(program.error));
        break;
    case WaitedProgram::Outcome::TimedOut:
        text.append("wurde nach ").append(DecimalText(parts.CheckWait)).append(" Sekunden beendet.");
        break;
    }
    parts.LogMessage(text, kResult);
    return false;
}

bool EndTransaction(const TUpdateParts& parts, RunTransaction& run, bool commit) {
    UndoReport report;
    if (commit && run.commit(report)) {
        LogUndoReport(parts, report);
        return true;
    }
    run.undo(report);
    LogUndoReport(parts, report);
    parts.LogMessage(report.problems.empty() ? "Das Update wurde zurückgenommen, der vorige Stand ist wiederhergestellt."
                                             : "*** Das Update konnte nicht ganz zurückgenommen werden.",
                     kResult);
    return false;
}

bool RecoverRun(const TUpdateParts& parts) {
    UndoReport report;
    const bool recovered = RunTransaction::Recover(report);
    LogUndoReport(parts, report);
    if (!recovered) parts.LogMessage("Ein abgebrochenes Update konnte nicht abgeschlossen werden.\r\n"
                                     "Das Update kann nicht ausgeführt werden.", kResult);
    return recovered;
}
