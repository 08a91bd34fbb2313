// What check says of patch entries (pat\<section>\<path>) in the light of the
// rest of the package: other entries and deletion lines for the same installed
// file, and parts that any installed version receives.
#pragma once

#include <string>
#include <vector>

#include "base/StringList.h"
#include "tools/mkupdate/ControlFileLint.h"

// `names` are the package's entry names and `deletions` the lines of
// todel.txt, code page 1252; findings go to `out` in code page 1252.
void CheckPatchEntries(const std::vector<std::string>& names, const StringList& deletions,
                       const ControlFileFacts& ini, std::vector<Finding>& out);
