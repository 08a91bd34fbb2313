#include "ProductRun.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "BenchSupport.h"
#include "driver/UpdateSession.h"
#include "env/System.h"
#include "platform/NativeSandbox.h"

RunOutcome ApplyWithProduct(const std::string& package, const std::string& sandbox, bool undo) {
    SetSandboxRoot(sandbox);
    MakeFolders(sandbox + "/c/App");
    // As the updater does at its start: the Windows folder (the run's journal and
    // record lie there) is then the sandbox's, not the working folder.
    MakeFolders(sandbox + "/c/WINDOWS");
    InitSystemPaths();
    RunOutcome outcome;
    Stopwatch clock;
    CpuClock cpu;
    SessionView noWindow;
    UpdateSession session(noWindow);
    session.load(package);
    session.Undo = undo;
    outcome.succeeded = session.start(outcome.log, false);
    outcome.seconds = clock.seconds();
    outcome.cpuSeconds = cpu.seconds();
    return outcome;
}

LoadOutcome LoadWithProduct(const std::string& package) {
    LoadOutcome outcome;
    SessionView noWindow;
    UpdateSession session(noWindow);
    Stopwatch clock;
    session.load(package);
    outcome.seconds = clock.seconds();
    outcome.entries = session.Archive.entryCount();
    outcome.deletionLines = session.ToDelList.size();
    return outcome;
}

std::int64_t SummaryCount(const StringList& log, const std::string& suffix) {
    for (const std::string& line : log) {
        std::size_t at = line.find(suffix);
        if (at == std::string::npos || at == 0) continue;
        char* end = nullptr;
        long long n = std::strtoll(line.c_str(), &end, 10);
        if (end != line.c_str()) return n;
    }
    return -1;
}

int ChildApply(const std::string& package, const std::string& sandbox) {
    try {
        RunOutcome outcome = ApplyWithProduct(package, sandbox);
        if (outcome.succeeded) return 0;
        for (const std::string& line : outcome.log) std::fprintf(stderr, "%s\n", line.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}
