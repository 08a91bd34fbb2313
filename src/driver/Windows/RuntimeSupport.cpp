// Small stand-ins for pieces of the static C++ runtime that update.exe would
// otherwise carry. libstdc++ reports a misused container through one object
// that brings std::logic_error and its relatives in a second, reference-counted
// string implementation (about 80 KB), and reports an unhandled exception
// through a handler that demangles type names (about 50 KB). The updater
// catches std::exception wherever it reports errors, and an error escaping the
// message loop ends the process either way; so these raise the plain error
// class below, and termination is a plain abort.
//
// zlib's inflate refers to its CRC-32 only for gzip streams, which the updater
// never opens (it inflates zlib streams, checked by Adler-32); a CRC-32 a byte
// at a time, with its table of 1 KB made in memory on the first call, stands in
// for zlib's and its 8 KB of code and tables: patches and the read-back of
// every written file take the CRC-32 of whole files. Its
// Adler-32 is the plain running sums below, in place of zlib's unrolled loop
// and the combining functions that come with it (2 KB).
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <new>
#include <windows.h>
#include <zlib.h>

namespace {

// A runtime error with a fixed text, as the standard library names it.
class RuntimeError final : public std::exception {
public:
    explicit RuntimeError(const char* text) : text_(text) {}
    const char* what() const noexcept override { return text_; }

private:
    const char* text_;
};

}  // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The exceptions being handled: libstdc++ keeps them per thread in emulated
// thread-local storage, with its thread-key runtime (about 2 KB). The updater's
// code runs on its one thread, so a single record serves.
namespace __cxxabiv1 {
struct __cxa_eh_globals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

namespace {
__cxa_eh_globals ehGlobals;
}  // namespace

extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept { return &ehGlobals; }
extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept { return &ehGlobals; }
}  // namespace __cxxabiv1

namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char* text) { throw RuntimeError(text); }
void __throw_logic_error(const char* text) { throw RuntimeError(text); }
void __throw_out_of_range(const char* text) { throw RuntimeError(text); }
// The format's arguments are left out: the text says what went wrong.
void __throw_out_of_range_fmt(const char* format, ...) { throw RuntimeError(format); }
void __throw_bad_function_call() { throw RuntimeError("bad_function_call"); }
}  // namespace std

// What new[] calls with a count too large for its bytes, as libstdc++'s does,
// without the object that brings std::bad_cast and std::bad_typeid along.
extern "C" void __cxa_throw_bad_array_new_length() { throw std::bad_array_new_length(); }

extern "C" uLong crc32(uLong crc, const Bytef* buffer, uInt length) {
    // The remainders of the byte values for the reflected polynomial 0xEDB88320;
    // the last one is not 0 once the table is made.
    static unsigned int table[256];
    if (table[255] == 0) {
        for (unsigned int n = 0; n < 256; ++n) {
            unsigned int c = n;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            table[n] = c;
        }
    }
    if (!buffer) return 0;
    unsigned int c = ~static_cast<unsigned int>(crc);
    while (length-- > 0) c = (c >> 8) ^ table[(c ^ *buffer++) & 0xFF];
    return ~c;
}

extern "C" uLong adler32(uLong adler, const Bytef* buffer, uInt length) {
    if (!buffer) return 1;
    constexpr unsigned long kBase = 65521;
    constexpr uInt kMaxRun = 5552;  // the most bytes whose sums cannot overflow 32 bits
    unsigned long low = adler & 0xFFFF;
    unsigned long high = (adler >> 16) & 0xFFFF;
    while (length > 0) {
        uInt run = length < kMaxRun ? length : kMaxRun;
        length -= run;
        while (run-- > 0) {
            low += *buffer++;
            high += low;
        }
        low %= kBase;
        high %= kBase;
    }
    return (high << 16) | low;
}

// The start-up code's handler of errors in math functions, which the runtime's
// version reports on the standard error of a program that has none; the
// updater calls none of them. Returning 0 lets the function's result stand.
struct _exception;
extern "C" int _matherr(_exception*) { return 0; }

// The start-up code applies runtime pseudo-relocations: fix-ups of data that
// code takes from a DLL without an import library's help. The updater has none
// (the linker's list is empty), so the runtime's relocator and its section
// lookup (3 KB) are left out; should one ever appear, the program stops at
// once rather than run with an address left unfixed.
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST__[], __RUNTIME_PSEUDO_RELOC_LIST_END__[];
extern "C" void _pei386_runtime_relocator() {
    const char* start = __RUNTIME_PSEUDO_RELOC_LIST__;
    asm("" : "+r"(start));  // the two are one address; the compiler must not assume otherwise
    if (start != __RUNTIME_PSEUDO_RELOC_LIST_END__) std::abort();
}

// The start-up code's thread-local storage: a TLS directory whose callback runs
// the initialisers of thread_local objects and the destructors of thread keys
// at each thread's start and end, with the section it needs (about 2 KB). The
// updater has neither (its per-thread state is in plain statics,
// UPDATE_ONE_THREAD), so the image has no TLS directory and the start-up code
// no callback to call; the three markers below are what it sets to pull the
// runtime's TLS support in.
extern "C" {
int __mingw_initltsdrot_force;
int __mingw_initltsdyn_force;
int __mingw_initltssuo_force;
void* __dyn_tls_init_callback = nullptr;
}

// The start-up code's filter of unhandled exceptions, which the runtime's
// version turns into the C signals SIGSEGV, SIGILL and SIGFPE for their
// handlers. The updater installs none, and with none the runtime's filter
// hands every exception to the filter that was there before it, as this one
// does, without the signal machinery (0.5 KB).
extern "C" {
LPTOP_LEVEL_EXCEPTION_FILTER __mingw_oldexcpt_handler = nullptr;
long __stdcall _gnu_exception_handler(EXCEPTION_POINTERS* exception) {
    return __mingw_oldexcpt_handler ? __mingw_oldexcpt_handler(exception) : EXCEPTION_CONTINUE_SEARCH;
}
}
