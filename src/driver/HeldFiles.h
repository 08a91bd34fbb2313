// The files that a run is going to replace or delete, tested before its first
// change: one that Windows would refuse to change now (another program holds
// it open or runs from it, or the user may not write it), and a path that
// Windows cannot hold at all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/StringList.h"

class TArchive;
class TUpdateParts;

struct ChangedFile {
    std::string path;
    std::size_t part = 0;  // index of the part that writes or deletes it
    bool written = true;   // false: deleted
    bool patched = false;  // written from a patch: its new file is built from it
};
using HeldFile = ChangedFile;

// Each file of the parts whose own version check passes that the run will
// most probably change, once: the targets of entries that will be written
// and the deletion list's files that exist.
std::vector<ChangedFile> ChangedFiles(const TArchive& archive, const TUpdateParts& parts, const StringList& toDelete);

// Those of the files that are in use now (FileInUse).
std::vector<HeldFile> FindHeldFiles(const std::vector<ChangedFile>& changed);

// The first path among the files, the names the run makes beside them
// (temporaries, kept copies) and the folders it creates for them, that is too
// long for Windows; empty when all fit. Such a path can never be written:
// it is not "in use", and waiting does not help.
std::string FirstTooLongPath(const std::vector<ChangedFile>& changed, const TUpdateParts& parts);

// The message that names them: the first ten, each with the programs that
// hold it where Windows can say, then how many more there are.
std::string HeldFilesText(const std::vector<HeldFile>& held);
