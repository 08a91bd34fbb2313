// Runs without a window, as administrators run installers from scripts:
// /S applies the update, /UNPACK= extracts the whole package. Whatever would
// appear in a message box goes into the log; questions take the answer that
// keeps the existing file.
#pragma once

#include <string>

#include "base/StringList.h"
#include "driver/CommandLine.h"

// The exit code of a silent update run (see ExitCode). The log file, when one
// is named, is created first (with its folders): exit code 4 when it cannot
// be. It begins with the package's name, version and the time, and ends with
// whether the final command was started and the exit code.
int RunSilent(const LaunchOptions& options, const std::string& executablePath);
// A silent run whose command line is wrong: the error goes into the log file
// when one is named; always exit code 4.
int RefuseCommandLine(const LaunchOptions& options, const std::string& error, const std::string& executablePath);
// The exit code of an unpacking run: 0 all entries written, 1 some not, 2 no package, 3 an error.
int RunUnpack(const LaunchOptions& options, const std::string& executablePath);

// Lines as the log file holds them: entries joined, every line end CR LF.
std::string LogFileText(const StringList& lines);
