// Fixtures of the host-environment tests: an in-memory registry put in place
// of the process's one, and system information with chosen answers.
#pragma once

#include <functional>
#include <string>

#include "base/Exception.h"
#include "env/Registry.h"
#include "platform/MemoryRegistry.h"
#include "platform/RegText.h"
#include "platform/SystemInfo.h"

// A fresh in-memory registry for the life of the object, filled from REGEDIT4 text.
class ScopedMemoryRegistry {
public:
    explicit ScopedMemoryRegistry(const std::string& regText = "") : previous_(SetRegistry(&registry)) {
        if (!regText.empty()) ImportRegText(registry, regText);
    }
    ~ScopedMemoryRegistry() { SetRegistry(previous_); }
    ScopedMemoryRegistry(const ScopedMemoryRegistry&) = delete;
    ScopedMemoryRegistry& operator=(const ScopedMemoryRegistry&) = delete;

    std::string dump(RootKey hive, const std::string& path = "") const { return ExportRegText(registry, hive, path); }

    MemoryRegistry registry;

private:
    RegistryService* previous_;
};

// The updater's names as if it ran as C:\Programme\SETUP.EXE, restored afterwards.
class ScopedRegistryNames {
public:
    explicit ScopedRegistryNames(const std::string& exePath = "C:\\Programme\\SETUP.EXE")
        : key_(OwnRegistryKey), node_(RegistryNode) {
        InitRegistryNames(exePath);
    }
    ~ScopedRegistryNames() {
        OwnRegistryKey = key_;
        RegistryNode = node_;
    }

private:
    std::string key_, node_;
};

// System information with settable answers, put in place for the life of the object.
class FakeSystemInfo final : public SystemInfo {
public:
    FakeSystemInfo() : previous_(SetSystemInfo(this)) {}
    ~FakeSystemInfo() { SetSystemInfo(previous_); }
    FakeSystemInfo(const FakeSystemInfo&) = delete;
    FakeSystemInfo& operator=(const FakeSystemInfo&) = delete;

    bool version(OsVersionRecord& out) override {
        out = record;
        return versionOk;
    }
    bool windowsDirectory(std::string& out, unsigned capacity) override {
        if (!raise.empty()) throw Exception(raise);
        if (windowsFolder.empty() || windowsFolder.size() > capacity) return false;
        out = windowsFolder;
        return true;
    }
    bool systemDirectory(std::string& out, unsigned capacity) override { return false; }
    std::string tempPath() override { return previous_->tempPath(); }
    std::string moduleFileName() override { return module; }
    bool messageText(std::uint32_t code, std::string& out) override {
        lastErrorCode = 317;  // what FormatMessage leaves when it has no text
        if (code != 5) return false;
        out = "Zugriff verweigert\r\n";
        return true;
    }
    std::uint32_t lastError() override { return lastErrorCode; }
    std::string timeSeparator() override { return separator; }
    void pause(unsigned milliseconds) override {
        pausedMs += milliseconds;
        if (onPause) onPause();
    }

    OsVersionRecord record{2, 5, 1, 2600};
    bool versionOk = true;
    std::string windowsFolder = "C:\\WINDOWS";
    std::string module = "C:\\Update\\update.exe";
    std::uint32_t lastErrorCode = 0;
    std::string separator = ":";
    std::string raise;  // when set, asking for the Windows folder raises an error with this text
    unsigned pausedMs = 0;          // how long the code under test waited
    std::function<void()> onPause;  // what happens meanwhile

private:
    SystemInfo* previous_;
};
