#include "platform/SystemInfo.h"

#ifdef _WIN32
#include "Windows/SystemInfo.inc"
#else
#include "Native/SystemInfo.inc"
#endif

namespace {
SystemInfo* g_current = nullptr;
}

SystemInfo& Sys() { return g_current ? *g_current : PlatformSystemInfo(); }

SystemInfo* SetSystemInfo(SystemInfo* info) {
    SystemInfo* previous = g_current ? g_current : &PlatformSystemInfo();
    g_current = info;
    return previous;
}

NativeSystemValues& NativeSystem() {
    static NativeSystemValues values;
    return values;
}
