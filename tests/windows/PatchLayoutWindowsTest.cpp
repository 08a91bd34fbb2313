// A layout whose count of moves times 8 overflows 32 bits (0x20000001 moves
// with the bytes of one) is refused without reading past its end, which here is
// where a page that cannot be read begins.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "archive/PatchReferences.h"

TEST(PatchLayoutWindows, MovesWhoseCountOverflowsAreRefusedWithoutReadingPastTheLayout) {
    unsigned char* pages = static_cast<unsigned char*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD was = 0;
    ASSERT_TRUE(VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &was));
    // No pointers, no sections; at +36 the count 0x20000001, then one move (RVA 0, delta 0).
    unsigned char* bytes = pages + 4096 - 48;
    std::memset(bytes, 0, 48);
    bytes[36] = 0x01, bytes[39] = 0x20;
    PatchLayout layout;
    EXPECT_FALSE(ReadPatchLayout(bytes, 48, 1000, 1000, layout));
    VirtualFree(pages, 0, MEM_RELEASE);
}
