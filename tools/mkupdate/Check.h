// mkupdate check DIR|FILE: what a package author wants told before shipping.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/mkupdate/ControlFileLint.h"

struct ReleaseBases;

// Prints errors and warnings, as text or as one JSON document; 1 when there
// are errors, 0 otherwise. With `bases`, every patch is also applied to the
// old release's copy of its file.
int CommandCheck(const std::string& target, bool json = false, const ReleaseBases* bases = nullptr);

// The findings of check for a package folder, in UTF-8: what build runs before it packs.
std::vector<Finding> CheckFolder(const std::filesystem::path& dir);
int ErrorCount(const std::vector<Finding>& findings);
// One line per finding (UTF-8), each after `prefix`; the updater's own message quoted as such.
void PrintFindings(std::FILE* to, const char* prefix, const std::vector<Finding>& findings);
