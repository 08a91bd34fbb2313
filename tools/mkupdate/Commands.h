// The commands of mkupdate; file arguments are host paths in UTF-8.
#pragma once

#include <string>

constexpr int kExitOk = 0, kExitDamaged = 1, kExitUsage = 2;

// One line per entry, or one JSON document with `json`.
int CommandList(const std::string& file, bool json = false);
int CommandTest(const std::string& file);
int CommandExtract(const std::string& file, const std::string& folder);
