// The data of a patch entry (layout in ArchiveFormat.h) from two versions of
// a file: the new file as runs of the old one with byte differences, which
// compress well where code moved a little, and runs of new bytes.
#pragma once

#include <string>
#include <vector>

// The patch that turns `oldData` into `newData`; false when this build of the
// tool cannot sort suffixes (SuffixSort.h) or a file reaches 2 GiB.
bool MakePatch(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData,
               std::string& patch);
