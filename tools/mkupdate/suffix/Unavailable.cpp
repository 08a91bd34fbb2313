// The Windows tool links no suffix sorting library: it makes no patches.
#include "tools/mkupdate/SuffixSort.h"

bool SuffixSortAvailable() { return false; }

bool SortSuffixes(const unsigned char*, std::int32_t, std::vector<std::int32_t>& out) {
    out.clear();
    return false;
}
