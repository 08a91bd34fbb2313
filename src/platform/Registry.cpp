#include "platform/Registry.h"

namespace {

// `lowerPrefix` is in lower case; letters of `text` count in either case.
bool StartsWithIgnoringCase(const std::string& text, const std::string& lowerPrefix) {
    if (text.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

}  // namespace

bool InViewOf32BitPrograms(const std::string& path, bool viewExists) {
    // Fonts, FontSubstitutes, FontLink, FontMapper, FontDpi: one key for both views.
    return viewExists && !StartsWithIgnoringCase(path, "software\\microsoft\\windows nt\\currentversion\\font");
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
