// libgcc's frame registry as the 32-bit update.exe uses it: the start-up code
// registers the program's one unwinding table at start and takes it back at
// exit, and the unwinder asks for the entry of each frame that an exception
// passes. The table is searched by FindFrameEntry, without libgcc's sorted
// registry of many modules (about 10 KB with its own tables).
//
// The runtime's own objects are the only callers, which link-time
// optimisation does not count as uses, so this file is compiled without it.
#include "driver/Windows/FrameSearch.h"

namespace {

const unsigned char* registered = nullptr;

}  // namespace

extern "C" void __register_frame_info(const void* table, void*) {
    registered = static_cast<const unsigned char*>(table);
}

extern "C" void* __deregister_frame_info(const void* table) {
    if (table == registered) registered = nullptr;
    return nullptr;
}

extern "C" const void* _Unwind_Find_FDE(void* pc, FrameBases* bases) {
    return FindFrameEntry(registered, reinterpret_cast<std::uintptr_t>(pc), *bases);
}
