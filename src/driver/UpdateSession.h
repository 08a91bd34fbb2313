// The driver's state for one process: the archive, the update parts, the
// deletion list, and the window's fields and flags. The window is a thin
// view over it; silent runs and tests drive it without any window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/Archive.h"
#include "base/Exception.h"
#include "base/StringList.h"
#include "driver/ControlFile.h"
#include "driver/RunUpdate.h"
#include "update/Unpack.h"

class TUpdateParts;

// What the session tells the window.
// Never deleted through this interface, so without a virtual destructor; on its
// own, the view of a run without a window.
class SessionView {
public:
    virtual void showUpdateName(const std::string& text) {}
    virtual void showVersionText(const std::string& text) {}
    virtual void showCoriText(const std::string& text) {}
    // The run succeeded: "Fertigstellen" enabled and focused, "Start" disabled.
    virtual void showCompleted() {}
    // Whether a person reads the log in a window (a silent run's log says on its own what became of the final command).
    virtual bool readsLogInWindow() const { return false; }
};

class UpdateSession final : public UpdateView {
public:
    explicit UpdateSession(SessionView& view);
    ~UpdateSession();

    enum class LoadResult { Loaded, NoArchive };
    // Opens the archive attached to `executablePath`, or the fixed fallback file;
    // interprets "update.ini" and reads "todel.txt". Raises on a damaged package
    // (EControlFileError when the control file's values are at fault); NoArchive
    // when there is neither an attached archive nor the fallback file.
    LoadResult load(const std::string& executablePath);
    bool loaded() const { return loaded_; }
    // Whether the archive is open: also when loading failed after that (a bad
    // control file, a missing deletion list), so that it can still be unpacked.
    bool archiveOpen() const { return archiveOpen_; }

    // One run of the update, or with Undo the undoing of the package's last run;
    // the log receives its lines. Ignored (false) while a run is under way. In
    // the window an undo first asks; No leaves everything as it is (false).
    // Errors raised inside the run propagate.
    bool start(StringList& log, bool extendedLog);
    bool running() const { return running_; }
    // Whether a person reads the run's log in a window.
    bool windowed() const { return view_.readsLogInWindow(); }

    // A close request: whether closing is allowed. Starts the final command at
    // most once after a successful run.
    bool closeQuery();
    // Starts the final command (its first 255 characters, placeholders expanded)
    // and clears it; false with `error`, the system's text, when it could not start.
    bool startFinalCommand(std::string& error);

    // "alles auspacken" below `folder` (ends with "\"), whenever the archive is open.
    UnpackCounts unpackAll(const std::string& folder);

    // Fields set by the control file.
    void SetUpdateName(const std::string& text) override;
    void SetVersionText(const std::string& text) override;
    void SetCoriText(const std::string& text) override;
    void setFinalCmd(const std::string& text) override { FinalCmd = text; }
    void setEMail(const std::string& text) override { EMail = text; }
    void setWww(const std::string& text) override { Www = text; }
    void SetCompleted(bool flag);

    std::string UpdateName, VersionText, CoriText, EMail, Www, FinalCmd;
    bool Completed = false;
    bool RunSucceeded = false;
    RunEnding LastEnding = RunEnding::Failed;
    // /UNDO: start() undoes the package's last run; the final command is never started.
    bool Undo = false;
    // Seconds a silent run waits for held files, [CheckRun] programs and another updater (/WAIT=N).
    unsigned WaitSeconds = 0;

    TArchive Archive;
    std::unique_ptr<TUpdateParts> UpdateParts;
    StringList ToDelList;

private:
    bool undo(StringList& log);

    SessionView& view_;
    bool loaded_ = false;
    bool archiveOpen_ = false;
    bool running_ = false;
};

// An error in the values of "update.ini", raised while the update is loaded.
class EControlFileError : public Exception {
public:
    using Exception::Exception;
};

// The log's line, silent or in the window, after a run whose files wait for the next start of Windows.
extern const char* const kFinalCommandAfterRestartText;

// The text shown when there is no package at all.
extern const char* const kDamagedUpdateText;
