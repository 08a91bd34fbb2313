// Fixtures shared by the unit tests of both builds. Paths are Windows paths;
// the native build maps them into a sandbox folder of its own per test process.
#pragma once

#include <cstdint>
#include <string>

// A fresh folder under the system's temporary folder, removed with everything
// in it when the fixture ends. path() ends with "\".
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);  // throws when the file cannot be read
void RemoveTree(const std::string& path);
// Names of the entries of a folder, sorted, "." and ".." left out.
std::string ListFolder(const std::string& folder);

// Bytes from a hex text such as "78 9C 03 00".
std::string Hex(const std::string& text);
// An MS-DOS stamp from its calendar parts.
std::int32_t Stamp(int year, int month, int day, int hour, int minute, int second);
