// Starting another program. The Win32 build calls WinExec; the native build
// records the command lines, so tests can see what would have been started.
#pragma once

#include <string>
#include <vector>

// Starts the command line with the given show mode and does not wait; false when it could not start.
bool StartProgram(const std::string& commandLine, int showMode);

// The command lines the native build was asked to start, in order.
std::vector<std::string>& NativeStartedPrograms();
