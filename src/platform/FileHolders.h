// Which programs hold a file open, where Windows can say: the Restart Manager
// of Windows Vista and later, loaded at run time so that the updater still
// starts on older Windows. Elsewhere (older Windows, Wine) nobody is named.
// The native build names what a test has put into NativeFileHolders().
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FileHolder {
    std::string name;  // the program's name as Windows shows it
    std::uint32_t processId = 0;
};

std::vector<FileHolder> HoldersOf(const std::string& path);

// Native build: the holders to name per path (as given to HoldersOf).
std::map<std::string, std::vector<FileHolder>>& NativeFileHolders();
