#include "driver/UpdateSession.h"

#include "archive/ArchiveFormat.h"
#include "driver/RunUpdate.h"
#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/System.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "update/UpdateParts.h"

const char* const kDamagedUpdateText = "Das Update ist beschädigt oder unvollständig.";
const char* const kFinalCommandAfterRestartText =
    "Abschließender Befehl nicht gestartet (erst nach dem Neustart von Windows).";

UpdateSession::UpdateSession(SessionView& view) : view_(view) {}
UpdateSession::~UpdateSession() = default;

UpdateSession::LoadResult UpdateSession::load(const std::string& executablePath) {
    if (!Archive.openAttached(executablePath)) {
        if (!FileExists(kFallbackArchivePath)) return LoadResult::NoArchive;
        Archive.openFile(kFallbackArchivePath);
    }
    archiveOpen_ = true;
    StringList lines = Archive.readLines("update.ini");
    UpdateParts = std::make_unique<TUpdateParts>();
    try {
        InterpretControlFile(lines, *UpdateParts, *this);
    } catch (const Exception& e) {
        throw EControlFileError(e.message());
    }
    ToDelList = Archive.readLines("todel.txt");
    loaded_ = true;
    return LoadResult::Loaded;
}

bool UpdateSession::start(StringList& log, bool extendedLog) {
    if (running_ || !loaded_) return false;
    LogThreshold = extendedLog ? 1 : 2;
    running_ = true;
    struct Guard {
        bool& flag;
        ~Guard() { flag = false; }
    } guard{running_};
    if (Undo) return undo(log);
    RunSucceeded = RunUpdate(*this, log, &LastEnding);
    if (LastEnding == RunEnding::RestartNeeded && !FinalCmd.empty() && view_.readsLogInWindow())
        log.push_back(kFinalCommandAfterRestartText);
    return RunSucceeded;
}

bool UpdateSession::undo(StringList& log) {
    std::string package = UpdateName + (VersionText.empty() ? "" : " " + VersionText);
    if (view_.readsLogInWindow() &&
        ShowMessageBox("Soll das zuletzt ausgeführte Update " + package + " zurückgenommen werden?",
                       kMbYesNo | kMbIconQuestion) != kAnswerYes)
        return false;
    FinalCmd.clear();
    RunSucceeded = UndoLastRun(*this, log, &LastEnding);
    if (RunSucceeded) SetCompleted(true);
    return RunSucceeded;
}

bool UpdateSession::closeQuery() {
    if (running_) return false;
    if (FinalCmd.empty()) return true;
    bool allowed = LogThreshold != 1;
    LogThreshold = 2;
    if (!RunSucceeded) return allowed;
    std::string ignored;  // the window neither waits for the command nor reports on it
    // Files that wait for the next start of Windows are not there yet for the command.
    if (Completed && LastEnding != RunEnding::RestartNeeded) startFinalCommand(ignored);
    FinalCmd.clear();
    return allowed;
}

bool UpdateSession::startFinalCommand(std::string& error) {
    std::string command = ExpandPlaceholders(FinalCmd.substr(0, 255));
    FinalCmd.clear();
    std::uint32_t code = 0;
    if (StartProgram(command, 5, code)) return true;
    error = SystemErrorText(code);
    while (!error.empty() && (error.back() == '\n' || error.back() == '\r' || error.back() == ' ')) error.pop_back();
    return false;
}

UnpackCounts UpdateSession::unpackAll(const std::string& folder) {
    UnpackCounts counts = UnpackAll(Archive, folder);
    if (!counts.patches.empty()) ShowInfo(PatchEntriesNote(counts));
    return counts;
}

void UpdateSession::SetUpdateName(const std::string& text) {
    UpdateName = text;
    view_.showUpdateName(text);
}

void UpdateSession::SetVersionText(const std::string& text) {
    VersionText = text;
    view_.showVersionText(text);
}

void UpdateSession::SetCoriText(const std::string& text) {
    CoriText = text;
    view_.showCoriText(text);
}

void UpdateSession::SetCompleted(bool flag) {
    Completed = flag;
    if (flag) view_.showCompleted();
}
