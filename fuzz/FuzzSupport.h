// Shared by the fuzz targets: a sandbox folder of the process for the native
// file layer, a fresh in-memory registry per input, a prompter that asks
// nobody, and a check that stops the process when an invariant breaks.
//
// The targets are built twice: with libFuzzer (fuzz/CMakeLists.txt, clang,
// AddressSanitizer and UBSan) and, with ReplayMain.cpp, as plain programs that
// replay the committed corpora in every native build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/MemoryRegistry.h"

// The Windows path of the process's work folder ("C:\fz\"), emptied on every call.
const std::string& FreshWorkFolder();

// Removes a file or a folder with everything in it, through the file layer.
void RemoveTreeOf(const std::string& path);

// Every path below `folder` (Windows paths, relative, sorted), folders with a trailing "\".
std::string TreeListing(const std::string& folder);

// A registry with the values that the control file and the placeholders of a
// real package read, put in place for the life of the object.
class FuzzRegistry {
public:
    FuzzRegistry();
    ~FuzzRegistry();
    FuzzRegistry(const FuzzRegistry&) = delete;
    FuzzRegistry& operator=(const FuzzRegistry&) = delete;

    MemoryRegistry registry;

private:
    RegistryService* previous_;
};

// Stops the process with the text when `condition` is false: a finding.
void Require(bool condition, const char* what);

// Bytes of the input as text.
inline std::string AsText(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
