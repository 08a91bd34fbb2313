// The registry, as far as the updater uses it: open or create a key, read and
// write string values, read the default value of a sub-key.
//
// Key paths are relative to the hive's root and never begin with a backslash
// (the registry-reference layer strips it). The Win32 build hands them to the
// A functions; the native build keeps an in-memory registry (MemoryRegistry.h)
// that tests fill from REGEDIT4 text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

enum class RootKey { CurrentUser, LocalMachine, ClassesRoot };

// Access rights and value types, as Windows defines them.
enum : std::uint32_t {
    kKeyQueryValue = 0x0001,
    kKeySetValue = 0x0002,
    kKeyCreateSubKey = 0x0004,
    kKeyRead = 0x20019,
    kKeyAllAccess = 0xF003F,
};

enum : std::uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

// Registry error codes that the emulation reports, as Windows numbers them.
enum : std::uint32_t {
    kRegErrFileNotFound = 2,
    kRegErrAccessDenied = 5,
    kRegErrInvalidData = 13,
    kRegErrMoreData = 234,
};

// One open key; destroying it closes the key.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    // A value of type REG_SZ or REG_EXPAND_SZ ("" names the default value), as
    // text up to its first NUL. `capacity` is the buffer in bytes including the
    // NUL (0: any size). False when the value is missing, of another type or
    // does not fit.
    virtual bool queryString(const std::string& name, unsigned capacity, std::string& out) = 0;
    // Writes a REG_SZ value; false when the key was not opened for writing.
    virtual bool setString(const std::string& name, const std::string& value) = 0;
    // A value of any type as stored (strings with their NUL); false when missing.
    virtual bool queryRaw(const std::string& name, std::uint32_t& type, std::string& data) = 0;
    virtual bool setRaw(const std::string& name, std::uint32_t type, const std::string& data) = 0;
    // True also when there was no such value.
    virtual bool removeValue(const std::string& name) = 0;
};

class RegistryService {
protected:
    // Never deleted through the interface: the services live as long as the
    // process, and a static instance with a trivial destructor needs no exit handler.
    ~RegistryService() = default;

public:
    // nullptr when the key is missing or the access is refused; lastError() tells why.
    virtual std::unique_ptr<RegistryKey> openKey(RootKey hive, const std::string& path, std::uint32_t access) = 0;
    // Opens the key, creating it and every missing key above it.
    virtual std::unique_ptr<RegistryKey> createKey(RootKey hive, const std::string& path, std::uint32_t access) = 0;
    // The default value of the key `path` as RegQueryValueA reads it: a key
    // without a default value gives the empty text. Only string values count.
    virtual bool queryDefaultValue(RootKey hive, const std::string& path, unsigned capacity, std::string& out) = 0;
    // The Windows error code of the last failed call on this thread.
    virtual std::uint32_t lastError() = 0;
};

// Whether a 64-bit updater opens the key `path` (relative to its hive) in the
// view of 32-bit programs, so that it sees the registry as the 32-bit updater
// does on the same machine: every key, where that view exists
// (`viewExists`: Windows has its 32-bit subsystem), except the font keys below
// Software\Microsoft\Windows NT\CurrentVersion, which 64-bit Windows shares
// between both views and reads fonts from.
bool InViewOf32BitPrograms(const std::string& path, bool viewExists);

// The registry of the process: the platform's own unless a test has put another in place.
RegistryService& Reg();
// Installs `registry` (nullptr: the platform's own) and returns the one that was in place.
RegistryService* SetRegistry(RegistryService* registry);
// The platform's own implementation: the real registry on Windows, an in-memory one natively.
RegistryService& PlatformRegistry();
