// `check --base` and `test --base`: each patch entry applied to the old
// release's copy of its file, as the updater applies it on a machine with that
// release, and the result compared with the size and CRC-32 of its header.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tools/mkupdate/ControlFileLint.h"

class TArchive;

// The old release as installed, as `diff` takes OLD: pat\<section>\<path>
// applies to <folder>/<path>.
struct ReleaseBases {
    std::filesystem::path all;  // --base DIR: the folder of every part without one of its own
    std::vector<std::pair<std::string, std::filesystem::path>> parts;  // --base SECTION=DIR, section in code page 1252
    bool empty() const { return all.empty() && parts.empty(); }
};

// Takes one --base value: an existing folder, else SECTION=DIR. Empty when
// it is good, else the usage error (UTF-8).
std::string AddBase(const std::string& value, ReleaseBases& bases);

enum class BaseVerdict { Right, NoBase, BaseDiffers, WrongResult };

struct BaseReport {
    BaseVerdict verdict = BaseVerdict::NoBase;
    std::string text;         // what was applied to what, and what came of it; UTF-8
    std::string updaterText;  // the updater's own message, code page 1252; may be empty
};

// Applies patch entry `index`, or the patch file `patch` of a package folder
// named `name` (code page 1252), to its base.
BaseReport ApplyEntryToBase(const TArchive& archive, std::int32_t index, const ReleaseBases& bases);
BaseReport ApplyFileToBase(const std::filesystem::path& patch, const std::string& name, const ReleaseBases& bases);

// The finding of check (code page 1252): none for a right result, a warning
// where there is no base, an error for a base that differs or a wrong result.
bool BaseFinding(const std::string& name, const BaseReport& report, Finding& out);
