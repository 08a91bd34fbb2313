// Starting another program. The Win32 build calls WinExec; the native build
// records the command lines, so tests can see what would have been started.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    // Starts the command line with the given show mode and does not wait; false
    // with `error` (a Windows error code) when it could not start.
    virtual bool start(const std::string& commandLine, int showMode, std::uint32_t& error) = 0;
};

ProgramStarter& Starter();
ProgramStarter* SetProgramStarter(ProgramStarter* starter);  // nullptr: the platform's own; returns the previous

inline bool StartProgram(const std::string& commandLine, int showMode, std::uint32_t& error) {
    return Starter().start(commandLine, showMode, error);
}

// The command lines the native build was asked to start, in order.
std::vector<std::string>& NativeStartedPrograms();
