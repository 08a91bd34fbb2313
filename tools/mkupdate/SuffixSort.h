// The suffix array that the patch maker searches the old file with. The native
// tool takes it from libdivsufsort; the Windows tool has no such library and
// makes no patches.
#pragma once

#include <cstdint>
#include <vector>

// Whether this build of the tool can sort suffixes (and so make patches).
bool SuffixSortAvailable();
// The start positions of the suffixes of `data`, in byte order of the
// suffixes; false when it cannot be computed here.
bool SortSuffixes(const unsigned char* data, std::int32_t size, std::vector<std::int32_t>& out);
