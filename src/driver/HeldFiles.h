// The files that a run is going to replace or delete, tested before its first
// change the way [CheckRun] tests its files: one that another program holds
// open (or that the user may not open), or whose path Windows cannot hold.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/StringList.h"

class TArchive;
class TUpdateParts;

struct HeldFile {
    std::string path;
    std::size_t part = 0;  // index of the part that writes or deletes it
    bool tooLong = false;  // the path has 260 characters or more
};

// Every such file of the parts whose own version check passes: the targets
// of entries that will most probably be written and the deletion list's
// files that exist.
std::vector<HeldFile> FindHeldFiles(const TArchive& archive, const TUpdateParts& parts, const StringList& toDelete);

// The message that names them: the first ten, each with the programs that
// hold it where Windows can say, then how many more there are.
std::string HeldFilesText(const std::vector<HeldFile>& held);
