// Starting another program. The Win32 build calls WinExec, or CreateProcess
// for a program that the updater waits for; the native build records the
// command lines, so tests can see what would have been started, and answers a
// wait with NativeWaitedProgram().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What became of a program that the updater started and waited for.
struct WaitedProgram {
    enum class Outcome { Ended, NotStarted, TimedOut };
    Outcome outcome = Outcome::Ended;
    std::uint32_t exitCode = 0;  // Ended: the program's exit code
    std::uint32_t error = 0;     // NotStarted: the Windows error code
};

class ProgramStarter {
protected:
    // Never deleted through this interface: no virtual destructor to keep.
    ~ProgramStarter() = default;

public:
    // Starts the command line with the given show mode and does not wait; false
    // with `error` (a Windows error code) when it could not start.
    virtual bool start(const std::string& commandLine, int showMode, std::uint32_t& error) = 0;
    // Starts the command line (no shell: the first word, quoted or not, is the
    // program) with the updater's rights and waits up to `seconds` for it to
    // end; a program still running then is ended (TimedOut).
    virtual WaitedProgram runAndWait(const std::string& commandLine, unsigned seconds) = 0;
};

ProgramStarter& Starter();
ProgramStarter* SetProgramStarter(ProgramStarter* starter);  // nullptr: the platform's own; returns the previous

inline bool StartProgram(const std::string& commandLine, int showMode, std::uint32_t& error) {
    return Starter().start(commandLine, showMode, error);
}

inline WaitedProgram RunAndWait(const std::string& commandLine, unsigned seconds) {
    return Starter().runAndWait(commandLine, seconds);
}

// The command lines the native build was asked to start, in order (waited-for
// ones too).
std::vector<std::string>& NativeStartedPrograms();
// What the native build answers to every runAndWait (tests set it).
WaitedProgram& NativeWaitedProgram();
