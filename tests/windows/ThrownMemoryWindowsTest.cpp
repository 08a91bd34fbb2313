// update.exe's memory for thrown objects, which the whole Windows suite throws with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "driver/Windows/ThrownMemory.h"

// The runtime's own setup of a thrown object: it returns the header it finds before the object.
extern "C" void* __cxa_init_primary_exception(void* object, std::type_info* type, void (*destructor)(void*)) noexcept;

namespace {

unsigned char* lastBlock = nullptr;
void* DirtyHeap(std::size_t size) {
    lastBlock = static_cast<unsigned char*>(std::malloc(size));
    return std::memset(lastBlock, 0xCC, size);
}
void* ExhaustedHeap(std::size_t) { return nullptr; }

TEST(ThrownMemoryWindows, HeaderIsZeroedAndWhereTheRuntimeLooks) {
    unsigned char* object = static_cast<unsigned char*>(AllocateThrown(8, DirtyHeap));
    ASSERT_EQ(object, lastBlock + kThrownHeaderSize);
    for (std::size_t i = 0; i < kThrownHeaderSize; ++i) ASSERT_EQ(lastBlock[i], 0) << i;
    EXPECT_EQ(__cxa_init_primary_exception(object, const_cast<std::type_info*>(&typeid(int)), nullptr), lastBlock);
    ReleaseThrown(object);
}

TEST(ThrownMemoryWindows, SpareBlockServesOneObjectAtATimeWhenTheHeapIsExhausted) {
    void* first = AllocateThrown(kSpareObjectSize, ExhaustedHeap);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(AllocateThrown(1, ExhaustedHeap), nullptr);
    ReleaseThrown(first);
    EXPECT_EQ(AllocateThrown(kSpareObjectSize + 1, ExhaustedHeap), nullptr);
    void* again = AllocateThrown(1, ExhaustedHeap);
    EXPECT_EQ(again, first);
    ReleaseThrown(again);
}

}  // namespace
