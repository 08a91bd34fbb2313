// What list, check and test tell of patch entries (pat\<section>\<name>),
// whose data is a patch rather than a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "archive/Patch.h"

class TArchive;

// The header of patch entry `index`, from its first inflated bytes; false when damaged.
bool PatchEntryHeader(const TArchive& archive, std::int32_t index, PatchHeader& header);
// Inflates patch entry `index` and parses it without the old file: empty when
// its structure is sound, else the problem (UTF-8), with the updater's own
// message in `updaterText` where there is one.
std::string PatchEntryProblem(const TArchive& archive, std::int32_t index, std::string& updaterText);
// The same for a patch file in a package folder.
std::string PatchFileProblem(const std::filesystem::path& file, std::string& updaterText);
