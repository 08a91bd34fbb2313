#include "platform/Registry.h"

#include <cstring>

bool IsWindowsOwnKey(const std::string& path) {
    static const char kPrefix[] = "software\\microsoft\\windows";
    const std::size_t length = sizeof kPrefix - 1;
    if (path.size() < length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        char c = path[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
        if (c != kPrefix[i]) return false;
    }
    // "Windows" and "Windows NT" are Windows' own; "WindowsApps" or a vendor's "Windows Tools" are not.
    return path.size() == length || path[length] == '\\' || path.compare(length, 3, " NT") == 0;
}

#ifdef _WIN32
#include "Windows/Registry.inc"
#else
#include "Native/Registry.inc"
#endif

namespace {
RegistryService* g_current = nullptr;
}

RegistryService& Reg() { return g_current ? *g_current : PlatformRegistry(); }

RegistryService* SetRegistry(RegistryService* registry) {
    RegistryService* previous = g_current ? g_current : &PlatformRegistry();
    g_current = registry;
    return previous;
}
