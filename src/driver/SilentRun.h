// Runs without a window, as administrators run installers from scripts:
// /S applies the update, /UNPACK= extracts the whole package. Whatever would
// appear in a message box goes into the log; questions take the answer that
// keeps the existing file.
#pragma once

#include <string>

#include "base/StringList.h"
#include "driver/CommandLine.h"

// A run without a window (/S or /UNPACK=) from start to end, which shows
// nothing on any path: the outcome is the exit code and, with /LOG=, the log.
// With /? (options.help) the switches go into the log and the exit code is 4.
// A `commandLineError` (ParseLaunchOptions) refuses the run with exit code 4;
// the process-wide start-up values are computed here, a warning of theirs kept
// for the log; an error that escapes the run ends it with exit code 3.
int RunWithoutWindow(const LaunchOptions& options, const std::string& commandLineError);
// The exit code of a silent update run (see ExitCode). The log file, when one
// is named, is created first (with its folders): exit code 4 when it cannot
// be. It begins with the package's name, version and the time, then the
// `startup` messages, and ends with whether the final command was started and
// the exit code.
int RunSilent(const LaunchOptions& options, const std::string& executablePath, const StringList& startup = {});
// The exit code of an unpacking run: 0 all entries written, 1 some not, 2 no package, 3 an error.
int RunUnpack(const LaunchOptions& options, const std::string& executablePath);

// Lines as the log file holds them: entries joined, every line end CR LF.
std::string LogFileText(const StringList& lines);
