// The data of a patch entry (layout in ArchiveFormat.h) from two versions of
// a file: the new file as runs of the old one with byte differences, which
// compress well where code moved a little, and runs of new bytes.
#pragma once

#include <string>
#include <vector>

class ProgressBar;

enum class MadePatch {
    Made,           // the patch is in `patch`, applied to the old file it gave the new one
    Unavailable,    // this build of the tool cannot sort suffixes (SuffixSort.h) or a file reaches 2 GiB
    SearchTooLong,  // the search for matches ran past its bound (repetitive data); no patch
    WrongResult,    // applied to the old file, no form of the patch gave the new one: a fault of the maker
};

// The patch that turns `oldData` into `newData`: of its forms (PAT1, PAT2,
// PAT3 for program files, PAT4) the smallest that, applied in memory, gives the new
// file. The search takes at most a fixed amount of work per byte;
// `progress` (if any) advances by the new file's bytes as they are covered.
MadePatch MakePatch(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData,
                    std::string& patch, ProgressBar* progress = nullptr);

// For tests: called with each form made, before it is applied; nullptr in the tool.
extern void (*gPatchMadeHook)(std::string& patch);
