// The product as the benchmark drives it: an update session in this process
// (native build, sandbox folder for the drive letters), as a silent run does.
#pragma once

#include <cstdint>
#include <string>

#include "base/StringList.h"

struct RunOutcome {
    double seconds = 0;
    double cpuSeconds = 0;
    bool succeeded = false;
    StringList log;
};

// Loads `package` and runs the update into `sandbox`/c/App (created when
// missing); with `undo`, takes the package's last run back instead (/UNDO).
RunOutcome ApplyWithProduct(const std::string& package, const std::string& sandbox, bool undo = false);

struct LoadOutcome {
    double seconds = 0;
    std::int32_t entries = 0;
    std::size_t deletionLines = 0;
};
// Loading alone: directory, control file and deletion list.
LoadOutcome LoadWithProduct(const std::string& package);

// The log line of the part's summary that begins with a number and ends with `suffix`; -1 when absent.
std::int64_t SummaryCount(const StringList& log, const std::string& suffix);

// Entry of the child process that the memory figures measure: applies `package`
// into `sandbox`; exit code 0 when the run succeeded.
int ChildApply(const std::string& package, const std::string& sandbox);
