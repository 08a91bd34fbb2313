// Version records of executable files (the VERSIONINFO resource): the Win32
// build reads them through version.dll, the native build finds none.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// One file's version record, read whole.
class VersionRecord {
public:
    virtual ~VersionRecord() = default;
    // The string at a sub-block such as "\StringFileInfo\040704E4\FileVersion",
    // up to its first NUL; false when the record has none.
    virtual bool queryString(const std::string& subBlock, std::string& out) = 0;
};

class VersionInfoService {
protected:
    // Never deleted through the interface: the services live as long as the
    // process, and a static instance with a trivial destructor needs no exit handler.
    ~VersionInfoService() = default;

public:
    // The size of the file's version record in bytes; 0 when it has none or is missing.
    virtual std::uint32_t recordSize(const std::string& path) = 0;
    // The record, read into a zero-filled buffer of `size` bytes; nullptr when reading fails.
    virtual std::unique_ptr<VersionRecord> readRecord(const std::string& path, std::uint32_t size) = 0;
};

VersionInfoService& VersionInfo();
// Installs `service` (nullptr: the platform's own) and returns the one that was in place.
VersionInfoService* SetVersionInfo(VersionInfoService* service);
VersionInfoService& PlatformVersionInfo();
