#include "platform/Registry.h"

#include "base/Text.h"

bool InViewOf32BitPrograms(const std::string& path, bool viewExists) {
    // Fonts, FontSubstitutes, FontLink, FontMapper, FontDpi: one key for both views.
    return viewExists && !StartsWithText("software\\microsoft\\windows nt\\currentversion\\font", path);
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
