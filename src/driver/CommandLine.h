// The updater's command line. Without switches it opens its window; the
// switches let administrators run it from scripts:
//   /S            run the update without a window (also /SILENT, /VERYSILENT)
//   /V            extended log (with /S)
//   /LOG=path     write the log to a file (code page 1252, CR LF); also /LOG path
//   /SUPPRESSMSGBOXES, /NORESTART   accepted and ignored
//   /FINALCMD     start the final command after a successful silent run
//   /WAIT=N       (with /S) wait up to N seconds for files in use and another updater
//   /UNDO         put back what the last run of this package changed (with /S
//                 without a window; in the window after a confirmation)
//   /UNPACK=DIR   extract every entry of the package below DIR, without a window
//   /?            explain the switches (with /S or /UNPACK=: in the log and on
//                 standard output, exit code 4; no window opens)
#pragma once

#include <string>
#include <vector>

enum class LaunchMode { Window, Silent, Unpack, Help };

struct LaunchOptions {
    LaunchMode mode = LaunchMode::Window;
    bool extendedLog = false;
    bool runFinalCommand = false;
    std::string logPath;
    std::string unpackFolder;
    unsigned waitSeconds = 0;
    bool undo = false;  // /UNDO: the last run of the package is undone instead of a run
    bool help = false;  // /? given: the window shows the switches, a run without one writes them out
};

// Exit codes of silent runs.
enum ExitCode : int {
    kExitSucceeded = 0,
    kExitNotSucceeded = 1,
    kExitNotLoadable = 2,
    kExitError = 3,
    kExitBadCommandLine = 4,  // also: the log file cannot be written
    kExitNothingToDo = 5,     // the installed version is already beyond the update's range; /UNDO: nothing to undo
    kExitUndone = 6,          // the check after the update failed: the update was undone
    // Files in use (named in [CheckRun], or to be replaced or deleted), or another
    // updater at work: nothing was changed. Windows Installer's "another
    // installation is in progress", which deployment tools retry by default.
    kExitBusy = 1618,
    kExitRestartNeeded = 3010,  // succeeded; held files are replaced at the next start of Windows
};

// Splits a Windows command line (without the program name) into arguments:
// blanks separate, double quotes group.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// False with `error` set (the first problem) for a missing value, a conflict,
// or an argument that the updater does not know in a run without a window
// (/S, /UNPACK=); the window ignores such arguments. The options are still read
// from every argument, so a silent run can write the error into its log.
bool ParseLaunchOptions(const std::vector<std::string>& args, LaunchOptions& options, std::string& error);

// The text that /? shows.
std::string UsageText();
