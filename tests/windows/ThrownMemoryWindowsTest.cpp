// update.exe's memory for thrown objects. This test program uses it for every
// exception it throws, so a header of another size than the runtime's would
// corrupt the heap throughout the suite; here the runtime is asked directly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <typeinfo>

#include "driver/Windows/ThrownMemory.h"

// The runtime's own setup of a thrown object: it returns the header it finds before the object.
extern "C" void* __cxa_init_primary_exception(void* object, std::type_info* type, void (*destructor)(void*)) noexcept;

namespace {

unsigned char* lastBlock = nullptr;

void* DirtyHeap(std::size_t size) {
    lastBlock = static_cast<unsigned char*>(std::malloc(size));
    std::memset(lastBlock, 0xCC, size);
    return lastBlock;
}

void* ExhaustedHeap(std::size_t) { return nullptr; }

TEST(ThrownMemoryWindows, HeaderIsWhereTheRuntimeLooksAndStartsZeroed) {
    unsigned char* object = static_cast<unsigned char*>(AllocateThrown(8, DirtyHeap));
    ASSERT_EQ(object, lastBlock + kThrownHeaderSize);
    for (std::size_t i = 0; i < kThrownHeaderSize; ++i) ASSERT_EQ(lastBlock[i], 0) << i;
    void* header = __cxa_init_primary_exception(object, const_cast<std::type_info*>(&typeid(int)), nullptr);
    EXPECT_EQ(header, lastBlock);
    ReleaseThrown(object);
}

TEST(ThrownMemoryWindows, SpareBlockServesOneObjectAtATimeWhenTheHeapIsExhausted) {
    void* first = AllocateThrown(kSpareObjectSize, ExhaustedHeap);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(AllocateThrown(1, ExhaustedHeap), nullptr);  // taken
    ReleaseThrown(first);
    EXPECT_EQ(AllocateThrown(kSpareObjectSize + 1, ExhaustedHeap), nullptr);  // too large
    void* again = AllocateThrown(1, ExhaustedHeap);
    EXPECT_EQ(again, first);
    ReleaseThrown(again);
}

TEST(ThrownMemoryWindows, NestedExceptionsKeepTheirObjects) {
    try {
        throw std::runtime_error("außen");
    } catch (const std::exception& outer) {
        try {
            throw std::length_error("innen");
        } catch (const std::exception& inner) {
            EXPECT_STREQ(inner.what(), "innen");
        }
        EXPECT_STREQ(outer.what(), "außen");
    }
}

}  // namespace
