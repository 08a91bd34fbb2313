// update_bench --explain OLD NEW PATCH: where a patch's remaining bytes lie.
// Each byte of the new file that the patch does not give for free (a diff byte
// other than zero, or a new byte) is counted by the new file's section or data
// directory it lies in and by what it is in the old file: a predicted
// reference that came out wrong, a word of a table of RVAs, a word that reads
// as an address of the image (a reference that nothing predicts), code, or
// other data. For a program's patch maker, not for the figures.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/Patch.h"
#include "archive/PatchReferences.h"

namespace {

std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::uint64_t Le(const std::vector<unsigned char>& d, std::size_t at, unsigned n) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < n && at + i < d.size(); ++i) v |= std::uint64_t(d[at + i]) << (8 * i);
    return v;
}

struct Region {
    std::uint32_t offset, size, rva;
    std::string name;
    bool code;
};

// Sections, then the data directories inside them (found first: they are more telling).
struct Pe {
    std::vector<Region> directories, sections;
    std::uint64_t base = 0;
    std::uint32_t imageSize = 0;
    bool wide = false;
    const Region* at(std::uint32_t offset) const {
        for (const auto* list : {&directories, &sections})
            for (const Region& r : *list)
                if (offset >= r.offset && offset - r.offset < r.size) return &r;
        return nullptr;
    }
    bool offsetOf(std::uint32_t rva, std::uint32_t& offset) const {
        for (const Region& s : sections)
            if (rva >= s.rva && rva - s.rva < s.size) return offset = s.offset + (rva - s.rva), true;
        return false;
    }
};

Pe ReadPe(const std::vector<unsigned char>& d) {
    static const char* const kDirectory[] = {"export", "import", "resource", "exception", "security", "reloc",
                                             "debug",  "arch",   "globalptr", "tls",      "loadconfig", "boundimport",
                                             "iat",    "delayimport", "clr", "reserved"};
    Pe pe;
    const std::size_t nt = std::size_t(Le(d, 0x3C, 4)), opt = nt + 24;
    const unsigned count = unsigned(Le(d, nt + 6, 2)), optSize = unsigned(Le(d, nt + 20, 2));
    pe.wide = Le(d, opt, 2) == 0x20B;
    pe.base = pe.wide ? Le(d, opt + 24, 8) : Le(d, opt + 28, 4);
    pe.imageSize = std::uint32_t(Le(d, opt + 56, 4));
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t h = opt + optSize + 40 * i;
        Region s{std::uint32_t(Le(d, h + 20, 4)), std::uint32_t(Le(d, h + 16, 4)), std::uint32_t(Le(d, h + 12, 4)),
                 std::string(reinterpret_cast<const char*>(&d[h]), strnlen(reinterpret_cast<const char*>(&d[h]), 8)),
                 (Le(d, h + 36, 4) & 0x20) != 0};
        pe.sections.push_back(s);
    }
    const std::size_t dirs = opt + (pe.wide ? 112 : 96);
    for (unsigned i = 0; i < 16 && dirs + 8 * i + 8 <= opt + optSize; ++i) {
        const std::uint32_t rva = std::uint32_t(Le(d, dirs + 8 * i, 4)), size = std::uint32_t(Le(d, dirs + 8 * i + 4, 4));
        std::uint32_t offset = 0;
        if (size && i != 4 && pe.offsetOf(rva, offset)) pe.directories.push_back({offset, size, rva, kDirectory[i], false});
    }
    return pe;
}

std::string Inflated(const unsigned char* data, std::size_t size) {
    z_stream z{};
    inflateInit(&z);
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = uInt(size);
    std::string out;
    unsigned char buffer[65536];
    int code = Z_OK;
    while (code == Z_OK) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        code = inflate(&z, Z_NO_FLUSH);
        out.append(reinterpret_cast<char*>(buffer), sizeof buffer - z.avail_out);
    }
    inflateEnd(&z);
    return out;
}

std::uint32_t Number(const std::string& s, std::size_t& at) {
    std::uint32_t v = 0;
    for (unsigned shift = 0; at < s.size(); shift += 7) {
        const unsigned char byte = static_cast<unsigned char>(s[at++]);
        v |= std::uint32_t(byte & 0x7F) << shift;
        if (byte < 0x80) break;
    }
    return v;
}

// The records as one PAT3 stream: PAT4's three streams (their chunks joined) put back together.
std::string Records(const std::vector<unsigned char>& patch, bool streams) {
    if (!streams) return Inflated(patch.data() + kPatchHeaderSize, patch.size() - kPatchHeaderSize);
    std::string joined[kPatchStreams], part[kPatchStreams];
    for (std::size_t at = kPatchHeaderSize; at + 5 <= patch.size() && patch[at] < kPatchStreams;) {
        const std::size_t length = std::size_t(Le(patch, at + 1, 4));
        joined[patch[at]].append(reinterpret_cast<const char*>(patch.data()) + at + 5, length);
        at += 5 + length;
    }
    for (std::size_t s = 0; s < kPatchStreams; ++s)
        part[s] = Inflated(reinterpret_cast<const unsigned char*>(joined[s].data()), joined[s].size());
    const std::string& control = part[0];
    std::size_t at = 4 + std::size_t(Le(std::vector<unsigned char>(control.begin(), control.begin() + 4), 0, 4));
    std::string out = control.substr(0, at);
    for (std::size_t token = 0, extra = 0; at < control.size();) {
        const std::uint32_t diff = Number(control, at), more = Number(control, at), seek = Number(control, at);
        for (std::uint32_t v : {diff, more, seek >> 1 ^ (0u - (seek & 1))})
            for (int i = 0; i < 4; ++i) out.push_back(char(v >> (8 * i)));
        for (std::uint32_t made = 0; made < diff && token < part[1].size();) {
            const unsigned char t = static_cast<unsigned char>(part[1][token]);
            out.push_back(part[1][token++]);
            made += t == 255 ? 255 : t + 1u;
            if (t != 255) out.push_back(part[1][token++]);
        }
        out.append(part[2], extra, more);
        extra += more;
    }
    return out;
}

struct Counts {
    std::uint64_t wrongSite = 0, tableWord = 0, addressLike = 0, code = 0, data = 0, extra = 0;
};

}  // namespace

int Explain(const std::string& oldFile, const std::string& newFile, const std::string& patchFile) {
    const std::vector<unsigned char> oldData = ReadAll(oldFile), newData = ReadAll(newFile), patch = ReadAll(patchFile);
    PatchHeader header;
    if (!ReadPatchHeader(patch.data(), patch.size(), header)) return std::fprintf(stderr, "not a patch\n"), 2;
    const std::string body = Records(patch, header.streams);
    const Pe oldPe = ReadPe(oldData), newPe = ReadPe(newData);
    std::size_t at = 0;
    PatchLayout layout;
    ReferenceSites sites;
    BufferPatchBase base(oldData.data(), oldData.size());
    sites.reset(std::uint32_t(oldData.size()));
    if (header.references) {
        std::uint32_t size = std::uint32_t(Le(std::vector<unsigned char>(body.begin(), body.begin() + 4), 0, 4));
        ReadPatchLayout(reinterpret_cast<const unsigned char*>(body.data()) + 4, size, std::uint32_t(oldData.size()),
                        std::uint32_t(newData.size()), layout);
        FindReferenceSites(layout, base, std::uint32_t(oldData.size()), sites);
        std::printf("layout %u bytes, %u moves, %u tables\n", size, layout.moveCount, layout.tables.count);
        at = 4 + size;
    }
    auto inTable = [&](std::uint32_t offset) {
        for (const auto& t : layout.tables)
            if (offset >= t.offset && offset - t.offset < t.size) return true;
        return false;
    };
    // The reference site (pointer or branch) that holds old[offset], if any.
    auto inSite = [&](std::uint32_t offset) {
        for (std::uint32_t back = 0; back < 8 && back <= offset; ++back) {
            const std::uint32_t s = offset - back;
            if (sites.at(true, s) && back < 4) return true;
            if (sites.at(false, s) && back < layout.pointerWidth) return true;
        }
        return false;
    };
    // Whether the aligned word around old[offset] reads as an RVA or an address of the old image.
    auto addressLike = [&](std::uint32_t offset) {
        const std::uint32_t word = offset & ~3u;
        const std::uint32_t v = std::uint32_t(Le(oldData, word, 4));
        if (v >= 0x1000 && v < oldPe.imageSize) return true;
        return v - std::uint32_t(oldPe.base) < oldPe.imageSize;
    };
    std::map<std::string, Counts> counts;
    std::string controls, diffs, extras;  // the patch's three streams, compressed apart below
    std::int64_t oldAt = 0, newAt = 0;
    std::uint64_t records = 0;
    const auto* b = reinterpret_cast<const unsigned char*>(body.data());
    while (at + kPatchControlSize <= body.size()) {
        const std::uint32_t diff = b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
        const std::uint32_t extra = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | std::uint32_t(b[at + 7]) << 24;
        const std::int32_t seek = std::int32_t(b[at + 8] | b[at + 9] << 8 | b[at + 10] << 16 | std::uint32_t(b[at + 11]) << 24);
        controls.append(body, at, kPatchControlSize);
        const std::size_t diffAt = at + kPatchControlSize;
        at += kPatchControlSize;
        ++records;
        oldAt += seek;
        // The diff bytes: tokens (PAT2, PAT3) or as they are.
        std::vector<unsigned char> bytes;
        if (!header.sparse) {
            bytes.assign(b + at, b + at + diff);
            at += diff;
        } else {
            while (bytes.size() < diff) {
                const unsigned char token = b[at++];
                bytes.insert(bytes.end(), token, 0);
                if (token != 255) bytes.push_back(b[at++]);
            }
        }
        for (std::uint32_t i = 0; i < diff; ++i) {
            if (bytes[i] == 0) continue;
            const std::uint32_t o = std::uint32_t(oldAt + i);
            const Region* r = newPe.at(std::uint32_t(newAt + i));
            Counts& c = counts[r ? r->name : "headers/overlay"];
            const Region* oldRegion = oldPe.at(o);
            if (inSite(o)) ++c.wrongSite;
            else if (inTable(o)) ++c.tableWord;
            else if (addressLike(o)) ++c.addressLike;
            else if (oldRegion && oldRegion->code) ++c.code;
            else ++c.data;
        }
        diffs.append(body, diffAt, at - diffAt);
        extras.append(body, at, extra);
        oldAt += diff;
        newAt += diff;
        for (std::uint32_t i = 0; i < extra; ++i) {
            const Region* r = newPe.at(std::uint32_t(newAt + i));
            ++counts[r ? r->name : "headers/overlay"].extra;
        }
        at += extra;
        newAt += extra;
    }
    for (const auto& [name, stream] : {std::pair<const char*, std::string&>{"controls", controls}, {"diffs", diffs},
                                        {"new bytes", extras}}) {
        uLongf size = compressBound(uLong(stream.size()));
        std::vector<unsigned char> packed(size);
        compress2(packed.data(), &size, reinterpret_cast<const Bytef*>(stream.data()), uLong(stream.size()), 9);
        std::printf("%s: %zu bytes, %lu compressed alone\n", name, stream.size(), static_cast<unsigned long>(size));
    }
    std::printf("%s: %zu bytes, %llu records\n%-14s %10s %10s %10s %10s %10s %10s\n", patchFile.c_str(), patch.size(),
                static_cast<unsigned long long>(records), "region", "wrongref", "tableword", "addrlike", "code", "data",
                "newbytes");
    for (const auto& [name, c] : counts)
        std::printf("%-14s %10llu %10llu %10llu %10llu %10llu %10llu\n", name.c_str(),
                    static_cast<unsigned long long>(c.wrongSite), static_cast<unsigned long long>(c.tableWord),
                    static_cast<unsigned long long>(c.addressLike), static_cast<unsigned long long>(c.code),
                    static_cast<unsigned long long>(c.data), static_cast<unsigned long long>(c.extra));
    return 0;
}
