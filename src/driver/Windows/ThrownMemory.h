// The memory of thrown objects in update.exe, in place of libstdc++'s
// emergency pool, which sits behind a lock and brings the thread runtime along
// (about 4 KB): the heap, and one spare block for when the heap is exhausted,
// so that bad_alloc can still be thrown then. The updater throws on one thread.
#pragma once

#include <cstddef>

// What the C++ runtime keeps before each thrown object (its reference count and
// exception record), as its own code of the two toolchains allocates it.
constexpr std::size_t kThrownHeaderSize = sizeof(void*) == 4 ? 96 : 160;
// The largest object that the spare block holds; the updater's are far smaller.
constexpr std::size_t kSpareObjectSize = 128;

using HeapAllocator = void* (*)(std::size_t);

// A zeroed header and room for an object of `size` bytes, from `heap`, or else
// from the spare block when it is free and large enough: the object's address;
// nullptr when neither has room.
void* AllocateThrown(std::size_t size, HeapAllocator heap) noexcept;

// Gives back the memory of an object that AllocateThrown placed.
void ReleaseThrown(void* object) noexcept;
