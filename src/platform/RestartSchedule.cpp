#include "platform/RestartSchedule.h"

#ifdef _WIN32
#include "Windows/RestartSchedule.inc"
#else
#include "Native/RestartSchedule.inc"
#endif

std::vector<std::pair<std::string, std::string>>& NativeScheduledChanges() {
    static std::vector<std::pair<std::string, std::string>> changes;
    return changes;
}
