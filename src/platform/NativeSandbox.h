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
// Marks the file as the image of a running program (or no longer): it opens
// for reading, shared or not, but not for writing (error 32); deleting it or
// putting another file in its place fails (error 5); it may be renamed.
// A symbolic link at `windowsPath` to `windowsTarget`, which the file system
// reports as a reparse point (a junction when the target is a folder).
bool MakeNativeLink(const std::string& windowsPath, const std::string& windowsTarget);
void SetMappedImage(const std::string& windowsPath, bool mapped);
