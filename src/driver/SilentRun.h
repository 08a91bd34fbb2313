// Runs without a window, as administrators run installers from scripts:
// /S applies the update, /UNPACK= extracts the whole package. Whatever would
// appear in a message box goes into the log; questions take the answer that
// keeps the existing file.
#pragma once

#include <string>

#include "base/StringList.h"
#include "driver/CommandLine.h"

// The exit code of a silent update run (see ExitCode).
int RunSilent(const LaunchOptions& options, const std::string& executablePath);
// The exit code of an unpacking run: 0 all entries written, 1 some not, 2 no package, 3 an error.
int RunUnpack(const LaunchOptions& options, const std::string& executablePath);

// Lines as the log file holds them: entries joined, every line end CR LF.
std::string LogFileText(const StringList& lines);
