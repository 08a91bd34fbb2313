#include "base/Cp1252.h"

#include <cstdint>

namespace {

// Code points of the bytes 0x80 to 0x9F; 0 marks the five unassigned bytes,
// which map to the C1 control of the same number, as Windows does.
const std::uint16_t kHighTable[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::uint32_t CodePointOf(unsigned char c) {
    if (c >= 0x80 && c <= 0x9F && kHighTable[c - 0x80] != 0) return kHighTable[c - 0x80];
    return c;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int ByteOfCodePoint(std::uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i) {
        std::uint32_t mapped = kHighTable[i] != 0 ? kHighTable[i] : std::uint32_t(0x80 + i);
        if (mapped == cp) return 0x80 + i;
    }
    return -1;
}

}  // namespace

std::string Cp1252ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) AppendUtf8(out, CodePointOf(c));
    return out;
}

std::string Utf8ToCp1252(const std::string& text, bool* ok) {
    std::string out;
    bool good = true;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = c;
        std::size_t extra = 0;
        if (c >= 0xF0) { cp = c & 0x07; extra = 3; }
        else if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
        else if (c >= 0xC0) { cp = c & 0x1F; extra = 1; }
        else if (c >= 0x80) { good = false; out.push_back('?'); ++i; continue; }
        if (i + extra >= text.size()) {
            good = false;
            break;
        }
        for (std::size_t k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += extra + 1;
        int b = ByteOfCodePoint(cp);
        if (b < 0) { good = false; out.push_back('?'); continue; }
        out.push_back(static_cast<char>(b));
    }
    if (ok) *ok = good;
    return out;
}

char Cp1252CharOf(std::uint32_t codePoint) {
    int b = ByteOfCodePoint(codePoint);
    return b < 0 ? '?' : static_cast<char>(b);
}
