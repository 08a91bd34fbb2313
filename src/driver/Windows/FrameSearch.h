// The search of update.exe's unwinding tables (.eh_frame) for the entry of a
// code address, which the 32-bit unwinder asks for at every frame that an
// exception passes. It takes the place of libgcc's (9 KB), which sorts the
// entries into a registry of many modules; the updater has one table of about
// a thousand entries and throws seldom, so it is read from the start each time.
#pragma once

#include <cstdint>

// What the unwinder takes with an entry: the bases of text- and data-relative
// pointers (none in the updater's tables) and the start of the entry's code.
struct FrameBases {
    void* textBase;
    void* dataBase;
    void* function;
};

// The frame description entry (FDE) in `table`, a run of entries ended by a
// zero length, whose code range holds `pc`, with its bases; nullptr when there
// is none. Ends the process on a pointer form that no compiler writes there,
// as libgcc's search does.
const void* FindFrameEntry(const unsigned char* table, std::uintptr_t pc, FrameBases& bases) noexcept;
