#include "platform/Process.h"

#ifdef _WIN32
#include "Windows/Process.inc"
#else
#include "Native/Process.inc"
#endif

std::vector<std::string>& NativeStartedPrograms() {
    static std::vector<std::string> started;
    return started;
}
