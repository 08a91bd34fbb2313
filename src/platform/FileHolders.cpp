#include "platform/FileHolders.h"

#ifdef _WIN32
#include "Windows/FileHolders.inc"
#else
#include "Native/FileHolders.inc"
#endif

std::map<std::string, std::vector<FileHolder>>& NativeFileHolders() {
    static std::map<std::string, std::vector<FileHolder>> holders;
    return holders;
}
