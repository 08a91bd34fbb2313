// Folder operations shared by the update logic, the unpacking and the directory chooser.
#pragma once

#include <cstdint>
#include <string>

// True when the path names an existing folder or file; a bare drive ("C:") searches its root.
bool FolderExists(const std::string& path);
// Creates the folder and every missing parent. Raises when the system refuses
// one, with the path and the system's error code; never returns false.
bool ForceFolder(const std::string& path);
// ForceFolder for paths that come folder by folder (the entries of a package):
// `last` holds the folder made or found last, which is not looked at again.
// The caller empties it when a write into the folder fails.
void ForceFolderOnce(const std::string& path, std::string& last);
// The decimal digits of a non-negative number with "." between groups of three.
std::string FormatThousands(std::int64_t n);
