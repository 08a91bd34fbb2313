#include "driver/SilentRun.h"

#include <exception>

#include "driver/UpdateSession.h"
#include "env/MessageBoxes.h"
#include "env/ScriptedPrompter.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
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

std::string WithBackslash(std::string folder) {
    EnsureTrailingBackslash(folder);
    return folder;
}

int FileErrorCount(const TUpdateParts& parts) {
    int errors = 0;
    for (std::size_t i = 0; i < parts.Count(); ++i) errors += parts[i].ErrorCount;
    return errors;
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

int RunSilent(const LaunchOptions& options, const std::string& executablePath) {
    StringList preamble, log;
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
    } catch (const std::exception& e) {
        // The error alone ("data error") would not tell an administrator what happened.
        preamble.push_back(std::string(kDamagedUpdateText) + "\r\n" + e.what());
        code = kExitNotLoadable;
    }
    if (code == kExitSucceeded) {
        prompter.setSink(&log);
        try {
            code = session.start(log, options.extendedLog) ? kExitSucceeded : kExitNotSucceeded;
            // A run whose parts could not write or delete every file still counts as
            // finished for the window; a script is told that files are missing.
            if (code == kExitSucceeded && FileErrorCount(*session.UpdateParts) > 0) code = kExitNotSucceeded;
        } catch (const std::exception& e) {
            log.push_back(e.what());
            code = kExitError;
        }
        if (code == kExitSucceeded && options.runFinalCommand) session.closeQuery();
    }
    StringList all = preamble;
    all.insert(all.end(), log.begin(), log.end());
    WriteLogFile(options.logPath, all);
    return code;
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
