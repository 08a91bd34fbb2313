#include "driver/Windows/ThrownMemory.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <unwind.h>

namespace {

// The runtime's header (__cxa_refcounted_exception): a reference count and the
// fields of __cxa_exception, which ends in the unwinder's own record.
struct ThrownHeader {
    int referenceCount;
    struct {
        void* type;
        void (*destructor)(void*);
        void (*unexpectedHandler)();
        void (*terminateHandler)();
        void* next;
        int handlerCount;
        int handlerSwitchValue;
        const unsigned char* actionRecord;
        const unsigned char* languageSpecificData;
        _Unwind_Ptr catchTemp;
        void* adjustedPtr;
        _Unwind_Exception unwindHeader;
    } exception;
};
static_assert(sizeof(ThrownHeader) == kThrownHeaderSize);

alignas(ThrownHeader) unsigned char spare[kThrownHeaderSize + kSpareObjectSize];
bool spareTaken = false;

}  // namespace

void* AllocateThrown(std::size_t size, HeapAllocator heap) noexcept {
    void* block = heap(kThrownHeaderSize + size);
    if (!block && !spareTaken && size <= kSpareObjectSize) {
        spareTaken = true;
        block = spare;
    }
    if (!block) return nullptr;
    std::memset(block, 0, kThrownHeaderSize);
    return static_cast<unsigned char*>(block) + kThrownHeaderSize;
}

void ReleaseThrown(void* object) noexcept {
    unsigned char* block = static_cast<unsigned char*>(object) - kThrownHeaderSize;
    if (block == spare) spareTaken = false;
    else std::free(block);
}

extern "C" void* __cxa_allocate_exception(std::size_t size) noexcept {
    void* object = AllocateThrown(size, std::malloc);
    if (!object) std::terminate();
    return object;
}

extern "C" void __cxa_free_exception(void* object) noexcept { ReleaseThrown(object); }
