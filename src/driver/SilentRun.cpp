#include "driver/SilentRun.h"

#include <ctime>
#include <exception>

#include "base/Text.h"
#include "driver/UpdateSession.h"
#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/ScriptedPrompter.h"
#include "env/System.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
#include "platform/SystemInfo.h"
#include "update/Folders.h"
#include "update/UpdateParts.h"

namespace {

// Writes every message into the current log and answers so that nothing is
// overwritten that the user would have been asked about.
class LoggingPrompter final : public ScriptedPrompter {
public:
    explicit LoggingPrompter(StringList* sink) : sink_(sink) {}
    void setSink(StringList* sink) { sink_ = sink; }

    int messageBox(const std::string& text, std::uint32_t style) override {
        record(text);
        return ScriptedPrompter::messageBox(text, style);
    }
    int confirmYesNoCancelAll(const std::string& text) override {
        record(text);
        return ScriptedPrompter::confirmYesNoCancelAll(text);
    }
    void showInfo(const std::string& text) override {
        record(text);
        ScriptedPrompter::showInfo(text);
    }

private:
    void record(const std::string& text) {
        if (sink_) sink_->push_back(text);
    }
    StringList* sink_;
};


void WriteLogFile(const std::string& path, const StringList& lines) {
    if (path.empty()) return;
    std::string text = LogFileText(lines);
    auto file = Fs().open(path, OpenMode::Create);
    if (file) file->write(text.data(), std::int64_t(text.size()));
}

// Creates the log file's folders and the file itself, before anything else
// happens: false when the log could not be written.
bool PrepareLogFile(const std::string& path) {
    if (path.empty()) return true;
    try {
        ForceFolder(FolderPart(path));
    } catch (const std::exception&) {
        return false;
    }
    return Fs().open(path, OpenMode::Create) != nullptr;
}

// The local time as "08.12.2026 21:40:05", its digits put into the pattern
// in place (a chain of "+" would make a string at each step); a year beyond
// four digits is written whole.
std::string LocalTimeText() {
    std::time_t now = std::time(nullptr);
    const std::tm* t = std::localtime(&now);
    if (!t) return {};
    char text[] = "00.00.0000 00:00:00";
    const int fields[] = {t->tm_mday, t->tm_mon + 1, t->tm_hour, t->tm_min, t->tm_sec};
    const unsigned char at[] = {0, 3, 11, 14, 17};
    for (int i = 0; i < 5; ++i) {
        text[at[i]] = char('0' + fields[i] / 10);
        text[at[i] + 1] = char('0' + fields[i] % 10);
    }
    const int year = t->tm_year + 1900;
    if (year < 1000 || year > 9999) return std::string(text, 6).append(DecimalText(year)).append(text + 10);
    for (int i = 9, rest = year; i >= 6; --i, rest /= 10) text[i] = char('0' + rest % 10);
    return text;
}

// The log's first line: the package by its name and version (the file's name
// while nothing is loaded), and the time the run began.
std::string HeaderLine(const UpdateSession& session, const std::string& executablePath, const std::string& started) {
    std::string package = session.UpdateName;
    if (!session.VersionText.empty()) package.append(package.empty() ? "" : " ").append(session.VersionText);
    if (package.empty()) package = NamePart(executablePath);
    package.insert(0, "Update ").append(", ").append(started);
    return package;
}

// The log's line on the final command: started, or not started and why. It is
// started only when asked for and after a successful run, and not while files
// of the application wait for the next start of Windows.
std::string FinalCommandLine(UpdateSession& session, bool wanted, int code) {
    if (!wanted) return "Abschließender Befehl nicht gestartet (ohne /FINALCMD).";
    if (code == kExitRestartNeeded) return kFinalCommandAfterRestartText;
    if (code != kExitSucceeded) return "Abschließender Befehl nicht gestartet (Update nicht erfolgreich).";
    std::string error;
    if (session.startFinalCommand(error)) return "Abschließender Befehl gestartet.";
    error.insert(0, "Abschließender Befehl konnte nicht gestartet werden: ");
    return error;
}

std::string ExitCodeLine(int code) {
    std::string line = DecimalText(code);
    line.insert(0, "Rückgabewert: ");
    return line;
}

int ExitCodeOf(RunEnding ending) {
    switch (ending) {
    case RunEnding::Succeeded: return kExitSucceeded;
    case RunEnding::InstalledNewer:
    case RunEnding::NothingToUndo: return kExitNothingToDo;
    case RunEnding::Undone: return kExitUndone;
    case RunEnding::ProgramRunning:
    case RunEnding::FilesHeld:
    case RunEnding::AnotherRunning: return kExitBusy;
    case RunEnding::RestartNeeded: return kExitRestartNeeded;
    case RunEnding::Damaged: return kExitNotLoadable;
    default: return kExitNotSucceeded;
    }
}

std::string WithBackslash(std::string folder) {
    EnsureTrailingBackslash(folder);
    return folder;
}

// A run that ends before any package is loaded: the log, when one is named,
// holds the header, `lines` and the exit code `code`, which is returned.
int EndEarly(const LaunchOptions& options, const StringList& lines, int code) {
    try {
        if (!PrepareLogFile(options.logPath)) return code;
        SessionView noWindow;
        UpdateSession nothingLoaded(noWindow);
        StringList all = {HeaderLine(nothingLoaded, Sys().moduleFileName(), LocalTimeText())};
        all.insert(all.end(), lines.begin(), lines.end());
        all.push_back(ExitCodeLine(code));
        WriteLogFile(options.logPath, all);
    } catch (...) {
        // The exit code says what happened even without the log.
    }
    return code;
}

}  // namespace

std::string LogFileText(const StringList& lines) {
    std::string text;
    for (const std::string& entry : lines) {
        for (std::size_t i = 0; i < entry.size(); ++i) {
            char c = entry[i];
            if (c == '\r' || c == '\n') {
                text += "\r\n";
                if (c == '\r' && i + 1 < entry.size() && entry[i + 1] == '\n') ++i;
            } else {
                text += c;
            }
        }
        text += "\r\n";
    }
    return text;
}

int RunSilent(const LaunchOptions& options, const std::string& executablePath, const StringList& startup) {
    if (!PrepareLogFile(options.logPath)) return kExitBadCommandLine;
    const std::string started = LocalTimeText();
    StringList preamble = startup, log, epilogue;
    LoggingPrompter prompter(&preamble);
    ScopedPrompter scope(prompter);
    SessionView noWindow;
    UpdateSession session(noWindow);
    int code = kExitSucceeded;
    try {
        if (session.load(executablePath) == UpdateSession::LoadResult::NoArchive) {
            preamble.push_back(kDamagedUpdateText);
            code = kExitNotLoadable;
        }
    } catch (const EControlFileError& e) {
        preamble.push_back("Die Steuerdatei update.ini des Updates ist fehlerhaft:\r\n" + e.message());
        code = kExitNotLoadable;
    } catch (const std::exception& e) {
        // The error alone ("data error") would not tell an administrator what happened.
        preamble.push_back(std::string(kDamagedUpdateText) + "\r\n" + e.what());
        code = kExitNotLoadable;
    }
    if (code == kExitSucceeded) {
        prompter.setSink(&log);
        session.WaitSeconds = options.waitSeconds;
        session.Undo = options.undo;
        try {
            session.start(log, options.extendedLog);
            code = ExitCodeOf(session.LastEnding);
        } catch (const std::exception& e) {
            log.push_back(e.what());
            code = kExitError;
        }
        if (!session.FinalCmd.empty())
            epilogue.push_back(FinalCommandLine(session, options.runFinalCommand, code));
    }
    StringList all = {HeaderLine(session, executablePath, started)};
    all.insert(all.end(), preamble.begin(), preamble.end());
    all.insert(all.end(), log.begin(), log.end());
    all.insert(all.end(), epilogue.begin(), epilogue.end());
    all.push_back(ExitCodeLine(code));
    WriteLogFile(options.logPath, all);
    return code;
}

int RunWithoutWindow(const LaunchOptions& options, const std::string& commandLineError) {
    StringList startup;  // what start-up would have shown in a message box
    LoggingPrompter prompter(&startup);
    ScopedPrompter scope(prompter);
    try {
        InitSystemPaths();
        InitRegistryNames(OwnExePath);
        if (options.help) return EndEarly(options, {UsageText()}, kExitBadCommandLine);
        if (!commandLineError.empty()) {
            startup.push_back(commandLineError);
            return EndEarly(options, startup, kExitBadCommandLine);
        }
        if (options.mode == LaunchMode::Unpack) return RunUnpack(options, OwnExePath);
        return RunSilent(options, OwnExePath, startup);
    } catch (const std::exception& e) {
        startup.push_back(e.what());
    } catch (...) {
        startup.push_back("Unbekannter Fehler");
    }
    return EndEarly(options, startup, kExitError);
}

int RunUnpack(const LaunchOptions& options, const std::string& executablePath) {
    StringList messages;
    LoggingPrompter prompter(&messages);
    ScopedPrompter scope(prompter);
    SessionView noWindow;
    UpdateSession session(noWindow);
    try {
        if (session.load(executablePath) == UpdateSession::LoadResult::NoArchive) return kExitNotLoadable;
    } catch (const std::exception&) {
        return kExitNotLoadable;
    }
    try {
        UnpackCounts counts = session.unpackAll(WithBackslash(options.unpackFolder));
        return counts.failed == 0 && counts.refused == 0 ? kExitSucceeded : kExitNotSucceeded;
    } catch (const std::exception&) {
        return kExitError;
    }
}
