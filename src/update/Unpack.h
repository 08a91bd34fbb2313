// "alles auspacken": every archive entry extracted below a chosen folder.
#pragma once

#include <string>
#include <vector>

#include "base/FunctionRef.h"

class TArchive;

struct UnpackCounts {
    int extracted = 0;
    int failed = 0;   // extractFile returned false
    int refused = 0;  // names that would leave the folder
    // Patch entries: extracted as they are (the patch, not a file of the
    // application), since they make the new file only from the installed one.
    std::vector<std::string> patches;
};

// The message that names the patch entries of an unpacking, in German; empty when there are none.
std::string PatchEntriesNote(const UnpackCounts& counts);

// `folder` ends with "\". Each entry's folders are created first (ForceFolder);
// a name that would leave the folder is never written and is reported to
// `refused`; `failed` hears of entries whose extraction returned false.
// Errors raised (a folder that cannot be created, damaged data) end the unpacking.
UnpackCounts UnpackAll(const TArchive& archive, const std::string& folder,
                       FunctionRef<void(const std::string& name)> refused = {},
                       FunctionRef<void(const std::string& name)> failed = {});
