#include "platform/VersionInfo.h"

#ifdef _WIN32
#include "Windows/VersionInfo.inc"
#else
#include "Native/VersionInfo.inc"
#endif

namespace {
VersionInfoService* g_current = nullptr;
}

VersionInfoService& VersionInfo() { return g_current ? *g_current : PlatformVersionInfo(); }

VersionInfoService* SetVersionInfo(VersionInfoService* service) {
    VersionInfoService* previous = g_current ? g_current : &PlatformVersionInfo();
    g_current = service;
    return previous;
}
