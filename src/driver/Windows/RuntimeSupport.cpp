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
// never opens (it inflates zlib streams, checked by Adler-32); a CRC-32 four
// bits at a time (a table of 64 bytes) stands in for the table-driven one and
// its 8 KB of code and tables: patches and the read-back of every written
// file take the CRC-32 of whole files, at four times a bitwise loop's speed. Its
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
    // The remainders of the four-bit values, for the reflected polynomial 0xEDB88320.
    static const unsigned int kNibble[16] = {
        0x00000000, 0x1DB71064, 0x3B6E20C8, 0x26D930AC, 0x76DC4190, 0x6B6B51F4, 0x4DB26158, 0x5005713C,
        0xEDB88320, 0xF00F9344, 0xD6D6A3E8, 0xCB61B38C, 0x9B64C2B0, 0x86D3D2D4, 0xA00AE278, 0xBDBDF21C};
    if (!buffer) return 0;
    unsigned int c = ~static_cast<unsigned int>(crc);
    while (length-- > 0) {
        c ^= *buffer++;
        c = (c >> 4) ^ kNibble[c & 15];
        c = (c >> 4) ^ kNibble[c & 15];
    }
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
