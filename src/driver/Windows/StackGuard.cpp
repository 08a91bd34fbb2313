// update.exe's own entry points for stack protection and the fortified memory
// calls, in place of libssp's: its start-up code asks the CryptoAPI for the
// random guard and so imports functions that the first Windows 95 lacks,
// which would keep the program from loading there at all.
//
// The compiler calls these from code it generates, which link-time
// optimisation does not count as a use, so this file is compiled without it.
#include <cstdint>
#include <cstdlib>

#include "platform/WindowsSupport.h"

extern "C" {
void* __stack_chk_guard = reinterpret_cast<void*>(0xFF0A0D00u);
[[noreturn]] void __stack_chk_fail();
[[noreturn]] void __stack_chk_fail_local();
[[noreturn]] void __chk_fail();
}

namespace {

// A smashed stack or an overflowing buffer ends the process at once, without
// running anything of it that may have been overwritten.
[[noreturn]] void EndCorruptedProcess() {
    TerminateProcess(GetCurrentProcess(), 3);
    std::abort();
}

// The guard mixes what differs between runs and machines: the clock, the
// performance counter, process and thread ids and a stack address. It runs
// before main, with no protected frame of the program on the stack, and is
// itself left unprotected: its own frame would otherwise see the guard change.
__attribute__((constructor, no_stack_protector)) void SetUpStackGuard() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    std::uint64_t mixed = (std::uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime) ^
                          std::uint64_t(counter.QuadPart) * 0x9E3779B97F4A7C15ull ^
                          (std::uint64_t(GetCurrentProcessId()) << 32 | GetCurrentThreadId()) ^
                          std::uint64_t(reinterpret_cast<std::uintptr_t>(&counter)) ^ GetTickCount();
    mixed ^= mixed >> 29;
    auto guard = static_cast<std::uintptr_t>(mixed ^ mixed >> 32);
    __stack_chk_guard = reinterpret_cast<void*>(guard ? guard : 0xFF0A0D00u);
}

}  // namespace

void __stack_chk_fail() { EndCorruptedProcess(); }
void __stack_chk_fail_local() { EndCorruptedProcess(); }
void __chk_fail() { EndCorruptedProcess(); }
