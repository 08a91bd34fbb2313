#include "platform/Process.h"

#ifdef _WIN32
#include "Windows/Process.inc"
#else
#include "Native/Process.inc"
#endif

namespace {
ProgramStarter* g_current = nullptr;
}

ProgramStarter& Starter() { return g_current ? *g_current : PlatformStarter(); }

ProgramStarter* SetProgramStarter(ProgramStarter* starter) {
    ProgramStarter* previous = g_current ? g_current : &PlatformStarter();
    g_current = starter;
    return previous;
}

std::vector<std::string>& NativeStartedPrograms() {
    static std::vector<std::string> started;
    return started;
}

WaitedProgram& NativeWaitedProgram() {
    static WaitedProgram answer;
    return answer;
}
