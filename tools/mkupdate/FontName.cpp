#include "tools/mkupdate/FontName.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/Cp1252.h"

namespace {

constexpr int kFullNameId = 4;

struct Bytes {
    std::vector<unsigned char> data;
    bool has(std::size_t at, std::size_t n) const { return at <= data.size() && n <= data.size() - at; }
    unsigned u16(std::size_t at) const { return unsigned(data[at]) << 8 | data[at + 1]; }
    std::uint32_t u32(std::size_t at) const { return std::uint32_t(u16(at)) << 16 | u16(at + 2); }
};

// The offset of the "name" table, or 0.
std::size_t NameTable(const Bytes& b) {
    if (!b.has(0, 12)) return 0;
    unsigned tables = b.u16(4);
    for (unsigned i = 0; i < tables; ++i) {
        std::size_t record = 12 + std::size_t(i) * 16;
        if (!b.has(record, 16)) return 0;
        if (b.u32(record) == 0x6E616D65) return b.u32(record + 8);  // "name"
    }
    return 0;
}

// UTF-16BE text into UTF-8 (characters beyond the basic plane become '?').
std::string Utf8OfUtf16(const Bytes& b, std::size_t at, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        unsigned c = b.u16(at + i);
        if (c >= 0xD800 && c <= 0xDFFF) c = '?';
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// How well a name record suits: Windows Unicode US English first, then any
// Windows Unicode language, then Macintosh Roman English; 0 unusable.
int Rank(unsigned platform, unsigned encoding, unsigned language) {
    if (platform == 3 && encoding == 1) return language == 0x409 ? 3 : 2;
    if (platform == 1 && encoding == 0 && language == 0) return 1;
    return 0;
}

}  // namespace

std::string TrueTypeFullName(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    Bytes b{std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
    std::size_t table = NameTable(b);
    if (table == 0 || !b.has(table, 6)) return "";
    unsigned count = b.u16(table + 2);
    std::size_t strings = table + b.u16(table + 4);
    std::string best;
    int bestRank = 0;
    for (unsigned i = 0; i < count; ++i) {
        std::size_t r = table + 6 + std::size_t(i) * 12;
        if (!b.has(r, 12)) break;
        int rank = Rank(b.u16(r), b.u16(r + 2), b.u16(r + 4));
        std::size_t length = b.u16(r + 8), at = strings + b.u16(r + 10);
        if (b.u16(r + 6) != kFullNameId || rank <= bestRank || !b.has(at, length)) continue;
        std::string utf8 = rank >= 2 ? Utf8OfUtf16(b, at, length) : std::string(b.data.begin() + at, b.data.begin() + at + length);
        bool ok = true;
        std::string name = rank >= 2 ? Utf8ToCp1252(utf8, &ok) : utf8;
        for (unsigned char c : name) ok = ok && c >= 32 && (rank >= 2 || c < 128);
        if (!ok || name.empty()) continue;
        best = name;
        bestRank = rank;
    }
    return best;
}
