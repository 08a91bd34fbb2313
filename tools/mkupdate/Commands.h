// The commands of mkupdate; file arguments are host paths in UTF-8.
#pragma once

#include <cstdint>
#include <string>

constexpr int kExitOk = 0, kExitDamaged = 1, kExitUsage = 2;

class TArchive;

// Inflates entry `index` whole: empty when it is sound, else the problem.
// `warning` receives a note when the entry inflates to another length than the
// directory records, which alone is no damage (other writers may record that
// field differently), unless its data overlaps another entry's.
std::string InflateProblem(const TArchive& archive, std::int32_t index, std::string& warning);

// Opens `path` (the updater's form: code page 1252, backslashes) as an updater
// with an attached archive, or else as a stand-alone archive. Raises with the
// reason; an updater without an archive is named as such.
void OpenPackage(const std::string& path, TArchive& archive);

// An error text of the updater's layers (code page 1252) as mkupdate prints it: UTF-8, on one line.
std::string ErrorText(const std::string& cp1252Text);

// One line per entry, or one JSON document with `json`.
int CommandList(const std::string& file, bool json = false);
int CommandTest(const std::string& file);
int CommandExtract(const std::string& file, const std::string& folder);
