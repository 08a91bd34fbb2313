// The commands of mkupdate; file arguments are host paths in UTF-8.
#pragma once

#include <string>

constexpr int kExitOk = 0, kExitDamaged = 1, kExitUsage = 2;

int CommandList(const std::string& file);
int CommandTest(const std::string& file);
int CommandExtract(const std::string& file, const std::string& folder);
