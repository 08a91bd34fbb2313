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
// never opens (it inflates zlib streams, checked by Adler-32); a bitwise CRC-32
// stands in for the table-driven one and its 8 KB of code and tables. Its
// Adler-32 is the plain running sums below, in place of zlib's unrolled loop
// and the combining functions that come with it (2 KB).
#include <cstdlib>
#include <exception>
#include <new>
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

extern "C" uLong crc32(uLong crc, const Bytef* buffer, uInt length) {
    if (!buffer) return 0;
    crc = ~crc & 0xFFFFFFFFul;
    while (length-- > 0) {
        crc ^= *buffer++;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320ul : crc >> 1;
    }
    return ~crc & 0xFFFFFFFFul;
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
