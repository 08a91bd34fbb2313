// The updater's command line. Without switches it opens its window; the
// switches let administrators run it from scripts:
//   /S            run the update without a window
//   /V            extended log (with /S)
//   /LOG=path     write the log to a file (code page 1252, CR LF)
//   /FINALCMD     start the final command after a successful silent run
//   /UNPACK=DIR   extract every entry of the package below DIR, without a window
//   /?            explain the switches
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
};

// Exit codes of silent runs.
enum ExitCode : int {
    kExitSucceeded = 0,
    kExitNotSucceeded = 1,
    kExitNotLoadable = 2,
    kExitError = 3,
    kExitBadCommandLine = 4,
};

// Splits a Windows command line (without the program name) into arguments:
// blanks separate, double quotes group.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// False with `error` set for a missing value, a conflict, or an argument that
// the updater does not know in a run without a window (/S, /UNPACK=); the
// window ignores such arguments.
bool ParseLaunchOptions(const std::vector<std::string>& args, LaunchOptions& options, std::string& error);

// The text that /? shows.
std::string UsageText();
