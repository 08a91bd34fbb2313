// Suffix sorting by libdivsufsort (Debian's libdivsufsort-dev).
#include <divsufsort.h>

#include "tools/mkupdate/SuffixSort.h"

bool SuffixSortAvailable() { return true; }

bool SortSuffixes(const unsigned char* data, std::int32_t size, std::vector<std::int32_t>& out) {
    out.assign(std::size_t(size), 0);
    if (size == 0) return true;
    static_assert(sizeof(saidx_t) == sizeof(std::int32_t));
    return divsufsort(data, reinterpret_cast<saidx_t*>(out.data()), size) == 0;
}
