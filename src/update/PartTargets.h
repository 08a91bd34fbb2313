// What a part does, path by path: computed once per run from the archive and
// the deletion list, and read by every step that needs it (the clean-up of
// leftovers, the check and staging of entries, the files-in-use pre-flight,
// applying the part), so that the naming rules live in one place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/StringList.h"

class TArchive;
class TPackedFile;
class TUpdatePart;

enum class TargetKind {
    Add,      // "add\" + section: written where missing or older
    Replace,  // "rep\" + section: written only over an older installed file
    Patch,    // "pat\" + section: built from the installed file, written like Replace
    Delete,   // a line of the deletion list: the file is deleted
};

struct PartTarget {
    TargetKind kind;
    std::int32_t entry = -1;  // the archive entry; -1 for a deletion
    std::string rel;          // the path below the part's folder
    bool contained = true;    // `rel` stays inside the folder (IsContainedRelativePath)
};

// The part's entries in archive order, then its deletion-list lines. A line
// that names the part's folder itself (nothing after the section) is left out.
std::vector<PartTarget> TargetsOf(const TUpdatePart& part, const TArchive& archive, const StringList& toDelete);

// Plans the part's targets for the run: TargetsOf, kept in the part.
void PlanTargets(TUpdatePart& part, const TArchive& archive, const StringList& toDelete);
// The part's planned targets, or, where no run has planned them, TargetsOf
// in `scratch`, which the caller keeps while it reads them.
const std::vector<PartTarget>& PlannedTargets(const TUpdatePart& part, const TArchive& archive,
                                              const StringList& toDelete, std::vector<PartTarget>& scratch);

// Where applying the part will most probably write the entry of `target` (by
// the rules of InstallEntry: the second system folder when an older copy is
// there, else the target folder when an older copy is there or the entry may
// create it); empty when it will most probably not be written.
std::string ProbableTargetOf(const PartTarget& target, const TPackedFile& entry, const TUpdatePart& part);
