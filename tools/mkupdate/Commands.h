// The commands of mkupdate; file arguments are host paths in UTF-8.
#pragma once

#include <string>

constexpr int kExitOk = 0, kExitDamaged = 1, kExitUsage = 2;

class TArchive;

// Opens `path` (the updater's form: code page 1252, backslashes) as an updater
// with an attached archive, or else as a stand-alone archive. Raises with the
// reason; an updater without an archive is named as such.
void OpenPackage(const std::string& path, TArchive& archive);

// One line per entry, or one JSON document with `json`.
int CommandList(const std::string& file, bool json = false);
int CommandTest(const std::string& file);
int CommandExtract(const std::string& file, const std::string& folder);
