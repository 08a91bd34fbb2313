// What the system tells about itself: version record, folders, the running
// module, error texts. The Win32 build asks Windows; the native build answers
// from settable values (a Windows XP on drive C: unless a test says otherwise).
#pragma once

#include <cstdint>
#include <string>

struct OsVersionRecord {
    std::uint32_t platformId = 0;  // 1 Windows 9x, 2 Windows NT
    std::uint32_t major = 0, minor = 0, build = 0;
};

class SystemInfo {
protected:
    // Never deleted through the interface: the services live as long as the
    // process, and a static instance with a trivial destructor needs no exit handler.
    ~SystemInfo() = default;

public:
    virtual bool version(OsVersionRecord& out) = 0;                  // GetVersionExA
    virtual bool windowsDirectory(std::string& out, unsigned capacity) = 0;  // GetWindowsDirectoryA
    virtual bool systemDirectory(std::string& out, unsigned capacity) = 0;   // GetSystemDirectoryA
    virtual std::string tempPath() = 0;                               // GetTempPathA, ends with "\"
    virtual std::string moduleFileName() = 0;                         // GetModuleFileNameA of the process
    // FormatMessageA from the system table; false when the system has no text.
    virtual bool messageText(std::uint32_t code, std::string& out) = 0;
    virtual std::uint32_t lastError() = 0;
    // The user's time separator (GetLocaleInfoA, LOCALE_STIME); ":" when unknown.
    virtual std::string timeSeparator() { return ":"; }
    // Waits; the default, for stand-ins of tests, returns at once.
    virtual void pause(unsigned milliseconds) {}
};

SystemInfo& Sys();
SystemInfo* SetSystemInfo(SystemInfo* info);  // nullptr: the platform's own; returns the previous
SystemInfo& PlatformSystemInfo();

// The native build's settable answers (ignored by the Win32 build).
struct NativeSystemValues {
    OsVersionRecord version{2, 5, 1, 2600};
    bool versionOk = true;
    std::string windowsDirectory = "C:\\WINDOWS";
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string tempPath = "C:\\TEMP\\";
    std::string moduleFileName = "C:\\Update\\update.exe";
    std::string timeSeparator = ":";
};
NativeSystemValues& NativeSystem();
