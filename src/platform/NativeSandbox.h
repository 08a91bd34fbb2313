// The native build's file system maps Windows paths with a drive letter into a
// sandbox folder: "C:\App\x.dat" becomes <root>/c/App/x.dat. Other paths are
// host paths (backslashes become slashes). Names are stored in UTF-8 and found
// without regard to letter case, as on Windows.
#pragma once

#include <string>

#include "platform/FileSystem.h"

void SetSandboxRoot(const std::string& hostFolder);
const std::string& SandboxRoot();
// The host path that a Windows path maps to.
std::string HostPathOf(const std::string& windowsPath);
// The owner that the native file system reports for a file until it is
// removed (renamed, it takes the owner along); every other file is the updater's own.
void SetNativeFileOwner(const std::string& windowsPath, FileOwner owner);
