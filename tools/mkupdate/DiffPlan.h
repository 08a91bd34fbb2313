// What `mkupdate diff` makes of two releases of an application: the files of
// the new release that the package must carry, the deletion lines, and what
// the updater could not install as intended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mkupdate/SourceTree.h"
#include "tools/mkupdate/Stamps.h"

struct PlannedFile {
    const ReleaseFile* file = nullptr;  // the new release's copy
    const ReleaseFile* oldFile = nullptr;  // the old release's copy of a changed file
    std::string entry;                  // "add\<section>\<name>", or the name of a top-level font
    bool font = false;
    bool changed = false;               // the old release has it with other content; else it is new
    std::int32_t oldStamp = -1;         // the old copy's stamp, -1 for a new file
    bool stale = false;                 // its stamp would not win over the old copy's
};

struct DiffPlan {
    std::vector<PlannedFile> files;       // in byte order of their names
    std::vector<std::string> deletions;   // todel.txt lines, code page 1252
    std::vector<std::string> problems;    // why no package can be made, UTF-8
    std::vector<std::string> notes;       // what the author should know, UTF-8
};

// Compares the releases by content; `zone` gives the stamps the builder will
// give (each file's modification time, local time of the installing machines).
DiffPlan PlanDiff(const ReleaseTree& oldTree, const ReleaseTree& newTree, const std::string& section,
                  StampPolicy& zone);

// Whether `newStamp` replaces a copy stamped `oldStamp`: strictly later for
// part files, later beyond the font installer's tolerance for fonts.
bool StampWins(std::int32_t newStamp, std::int32_t oldStamp, bool font);

// A top-level ".TTF" file, which the updater installs as a font.
bool IsTopLevelFontName(const std::string& name);
