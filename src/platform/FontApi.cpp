#include "platform/FontApi.h"

#ifdef _WIN32
#include "Windows/FontApi.inc"
#else
#include "Native/FontApi.inc"
#endif

namespace {
FontApi* g_current = nullptr;
}

FontApi& Fonts() { return g_current ? *g_current : PlatformFontApi(); }

FontApi* SetFontApi(FontApi* api) {
    FontApi* previous = g_current ? g_current : &PlatformFontApi();
    g_current = api;
    return previous;
}

NativeFontState& NativeFonts() {
    static NativeFontState state;
    return state;
}
