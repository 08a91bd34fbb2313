#include "archive/PatchReferences.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "archive/Patch.h"
#include "base/ByteReader.h"

// Sections are copied from the layout as they lie in it.
static_assert(std::endian::native == std::endian::little && sizeof(PatchSection) == 16);

namespace {

constexpr std::uint32_t kScanChunk = 64 * 1024;
constexpr std::uint32_t kLookahead = 6;  // the longest opcode and operand
// Relocation entry types: a 32-bit and a 64-bit absolute address.
constexpr unsigned kRelocHighLow = 3;
constexpr unsigned kRelocDir64 = 10;

std::uint64_t LoadLittle(const unsigned char* p, unsigned width) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, width);
    return v;
}

std::uint32_t Load32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The sections lie in the file one after the other, without sharing bytes: so
// the scan for branches reads each byte once, and no two references overlap.
// Their addresses ascend alike, below 4 GiB: a look-up is a binary search.
bool ReadSections(const unsigned char* data, ByteReader& reader, std::uint32_t fileSize, PatchSections& out) {
    if (!reader.readU32(out.count) || out.count > PatchSections::kMost || reader.remaining() / 16 < out.count)
        return false;
    std::memcpy(out.items, data + reader.position(), 16 * out.count);
    reader.skip(16 * out.count);
    std::uint32_t next = 0;     // where the next section may begin in the file
    std::uint64_t nextRva = 0;  // and in the image
    for (const PatchSection& s : out) {
        if (s.offset < next || s.offset > fileSize || s.rawSize > fileSize - s.offset || s.rva < nextRva) return false;
        next = s.offset + s.rawSize;
        nextRva = std::uint64_t(s.rva) + s.rawSize;
    }
    return nextRva <= std::uint64_t(1) << 32;
}

// The section whose range from its `start` (file offset or RVA) holds `value`; nullptr when none does.
const PatchSection* Holding(const PatchSections& sections, std::uint32_t PatchSection::*start, std::uint32_t value) {
    std::uint32_t low = 0, high = sections.count;  // the sections before `low` start at or before value
    while (low < high) {
        const std::uint32_t mid = low + (high - low) / 2;
        if (sections.items[mid].*start <= value) low = mid + 1;
        else high = mid;
    }
    if (low == 0) return nullptr;
    const PatchSection& s = sections.items[low - 1];
    return value - s.*start < s.rawSize ? &s : nullptr;
}

bool InCode(const PatchSections& sections, std::uint32_t rva) {
    const PatchSection* s = Holding(sections, &PatchSection::rva, rva);
    return s && s->code;
}

// Whether a pointer taken so far shares a byte with old[site, site + length).
bool OverlapsPointer(const PatchLayout& layout, const ReferenceSites& sites, std::uint32_t site, std::uint32_t length) {
    if (layout.pointerWidth == 0) return false;
    for (std::uint32_t at = site - std::min(site, layout.pointerWidth - 1); at < site + length; ++at)
        if (sites.at(false, at)) return true;
    return false;
}

// The relocation table, read in pieces of kScanChunk bytes: its bytes [at, at + count)
// (count at most 8), nullptr when they cannot be read.
class TablePieces {
public:
    TablePieces(const PatchLayout& layout, PatchBase& old, unsigned char* buffer)
        : layout_(layout), old_(old), buffer_(buffer) {}
    const unsigned char* at(std::uint32_t at, std::uint32_t count) {
        if (at < start_ || at + count > start_ + length_) {
            start_ = at;
            length_ = std::min(kScanChunk, layout_.relocSize - at);
            if (!old_.read(layout_.relocOffset + at, buffer_, length_)) return nullptr;
        }
        return buffer_ + (at - start_);
    }

private:
    const PatchLayout& layout_;
    PatchBase& old_;
    unsigned char* buffer_;
    std::uint32_t start_ = 0, length_ = 0;
};

bool FindPointers(const PatchLayout& layout, PatchBase& old, std::uint32_t oldSize, ReferenceSites& sites,
                  unsigned char* buffer) {
    if (layout.pointerWidth == 0 || layout.relocSize == 0) return true;
    TablePieces table(layout, old, buffer);
    const unsigned wanted = layout.pointerWidth == 8 ? kRelocDir64 : kRelocHighLow;
    // Blocks: the page's RVA, the block's size with this head, then 16-bit entries (type << 12 | offset).
    for (std::uint32_t at = 0; layout.relocSize - at >= 8;) {
        const unsigned char* head = table.at(at, 8);
        if (!head) return false;
        const std::uint32_t page = Load32(head), size = Load32(head + 4);
        if (size < 8 || size > layout.relocSize - at) break;
        for (std::uint32_t i = at + 8; i + 2 <= at + size; i += 2) {
            const unsigned char* bytes = table.at(i, 2);
            if (!bytes) return false;
            const unsigned entry = bytes[0] | bytes[1] << 8;
            std::uint32_t offset = 0;
            // A pointer that would share bytes with one taken before is left out.
            if (entry >> 12 == wanted && OffsetOfRva(layout.oldSections, page + (entry & 0xFFF), offset) &&
                offset <= oldSize - layout.pointerWidth && !OverlapsPointer(layout, sites, offset, layout.pointerWidth))
                sites.mark(false, offset);
        }
        at += size;
    }
    return true;
}

// The rel32 operand of a call, jump or conditional jump at `p`: its offset
// from p, or 0 when p starts none.
unsigned BranchOperand(const unsigned char* p) {
    if (p[0] == 0xE8 || p[0] == 0xE9) return 1;
    if (p[0] == 0x0F && (p[1] & 0xF0) == 0x80) return 2;
    return 0;
}


// Scans one code section in pieces; a branch is taken when its target lies in
// code and its operand overlaps no pointer, and the scan goes on after it.
bool ScanBranches(const PatchLayout& layout, const PatchSection& section, PatchBase& old, ReferenceSites& sites,
                  unsigned char* buffer) {
    const std::uint32_t end = section.offset + section.rawSize;
    for (std::uint32_t at = section.offset; end - at >= kLookahead && at < end;) {
        const std::uint32_t length = std::min(kScanChunk + kLookahead, end - at);
        if (!old.read(at, buffer, length)) return false;
        std::uint32_t i = 0;
        for (; i + kLookahead <= length && i < kScanChunk; ++i) {
            const unsigned operand = BranchOperand(&buffer[i]);
            const std::uint32_t site = at + i + operand;
            std::uint32_t siteRva = 0;
            if (operand == 0 || OverlapsPointer(layout, sites, site, 4) ||
                !RvaOfOffset(layout.oldSections, site, siteRva) ||
                !InCode(layout.oldSections, siteRva + 4 + Load32(&buffer[i + operand])))
                continue;
            sites.mark(true, site);
            i += operand + 3;
        }
        at += i;
    }
    return true;
}

// The new value of the reference at old offset `site` with old value `value`;
// false where the prediction has nothing to go on.
bool Predict(const PatchLayout& layout, const PatchRun& run, std::uint32_t site, bool branch, std::uint64_t& value) {
    std::uint32_t oldTarget = 0, newTarget = 0, siteRva = 0;
    if (branch) {
        if (!RvaOfOffset(layout.oldSections, site, siteRva)) return false;
        oldTarget = siteRva + 4 + std::uint32_t(value);
    } else {
        const std::uint64_t relative = value - layout.oldBase;
        if (layout.pointerWidth == 8 && relative > 0xFFFFFFFFu) return false;
        oldTarget = std::uint32_t(relative);
    }
    if (!MovedTarget(layout, oldTarget, newTarget)) return false;
    if (!branch) {
        value = layout.newBase + newTarget;
        return true;
    }
    if (!RvaOfOffset(layout.newSections, run.newStart + (site - run.oldStart), siteRva)) return false;
    value = newTarget - siteRva - 4;
    return true;
}

bool PredictKind(const PatchLayout& layout, const ReferenceSites& sites, unsigned width, bool branch, PatchBase& old,
                 const PatchRun& run, std::uint32_t at, unsigned char* bytes, std::uint32_t count) {
    const std::uint32_t end = at + count;
    for (std::uint32_t site = sites.next(std::max(run.oldStart, at - std::min(at, width - 1)), end);
         site < end && width <= run.oldEnd - site; site = sites.next(site + 1, end)) {
        if (!sites.at(branch, site)) continue;
        unsigned char value[8];
        if (site >= at && width <= end - site) std::memcpy(value, bytes + (site - at), width);
        else if (!old.read(site, value, width)) return false;
        std::uint64_t v = LoadLittle(value, width);
        if (!Predict(layout, run, site, branch, v)) continue;
        std::memcpy(value, &v, width);
        for (unsigned i = 0; i < width; ++i)
            if (site + i - at < count) bytes[site + i - at] = value[i];
    }
    return true;
}

}  // namespace

bool ReadPatchLayout(const unsigned char* data, std::size_t size, std::uint32_t oldSize, std::uint32_t newSize,
                     PatchLayout& out) {
    ByteReader reader(data, size);
    std::uint32_t head[7] = {}, moves = 0;
    for (std::uint32_t& word : head)
        if (!reader.readU32(word)) return false;
    out.pointerWidth = head[0];
    out.oldBase = std::uint64_t(head[2]) << 32 | head[1];
    out.newBase = std::uint64_t(head[4]) << 32 | head[3];
    out.relocOffset = head[5];
    out.relocSize = head[6];
    if (oldSize > kMaxReferencedOldFile || (out.pointerWidth != 0 && out.pointerWidth != 4 && out.pointerWidth != 8) ||
        out.relocOffset > oldSize ||
        out.relocSize > oldSize - out.relocOffset)
        return false;
    if (!ReadSections(data, reader, oldSize, out.oldSections) || !ReadSections(data, reader, newSize, out.newSections) ||
        !reader.readU32(moves) || reader.remaining() % 8 != 0 || reader.remaining() / 8 != moves)
        return false;
    out.moves = data + reader.position();
    out.moveCount = moves;
    for (std::uint32_t i = 1; i < moves; ++i)
        if (Load32(out.moves + 8 * i) <= Load32(out.moves + 8 * i - 8)) return false;
    return true;
}

bool ReferenceSites::reset(std::uint32_t oldSize) {
    size_ = oldSize / 8 + 1;
    bits_.reset(new (std::nothrow) unsigned char[size_]());
    scratch_.reset(new (std::nothrow) unsigned char[kScanChunk + kLookahead]);
    return bits_ && scratch_;
}

void ReferenceSites::mark(bool branch, std::uint32_t offset) {
    bits_[offset / 8] |= static_cast<unsigned char>(1 << (offset & 7));
    if (branch) bits_[(offset + 1) / 8] |= static_cast<unsigned char>(1 << ((offset + 1) & 7));
}

bool FindReferenceSites(const PatchLayout& layout, PatchBase& old, std::uint32_t oldSize, ReferenceSites& out) {
    const std::unique_ptr<unsigned char[]> scratch = std::move(out.scratch_);
    if (!FindPointers(layout, old, oldSize, out, scratch.get())) return false;
    for (const PatchSection& section : layout.oldSections)
        if (section.code && !ScanBranches(layout, section, old, out, scratch.get())) return false;
    return true;
}

bool PredictReferences(const PatchLayout& layout, const ReferenceSites& sites, PatchBase& old, const PatchRun& run,
                       std::uint32_t at, unsigned char* bytes, std::size_t count) {
    return (layout.pointerWidth == 0 ||
            PredictKind(layout, sites, layout.pointerWidth, false, old, run, at, bytes, std::uint32_t(count))) &&
           PredictKind(layout, sites, 4, true, old, run, at, bytes, std::uint32_t(count));
}

// A value given as one of a section's starts (file offset or RVA) as the other.
static bool Translate(const PatchSections& sections, std::uint32_t PatchSection::*from, std::uint32_t PatchSection::*to,
                      std::uint32_t value, std::uint32_t& out) {
    const PatchSection* s = Holding(sections, from, value);
    if (s) out = s->*to + (value - s->*from);
    return s != nullptr;
}

bool RvaOfOffset(const PatchSections& sections, std::uint32_t offset, std::uint32_t& rva) {
    return Translate(sections, &PatchSection::offset, &PatchSection::rva, offset, rva);
}

bool OffsetOfRva(const PatchSections& sections, std::uint32_t rva, std::uint32_t& offset) {
    return Translate(sections, &PatchSection::rva, &PatchSection::offset, rva, offset);
}

bool MovedTarget(const PatchLayout& layout, std::uint32_t oldRva, std::uint32_t& newRva) {
    std::uint32_t low = 0, high = layout.moveCount;  // the moves before `low` start at or before oldRva
    while (low < high) {
        std::uint32_t mid = low + (high - low) / 2;
        if (Load32(layout.moves + 8 * mid) <= oldRva) low = mid + 1;
        else high = mid;
    }
    if (low == 0) return false;
    newRva = oldRva + Load32(layout.moves + 8 * low - 4);
    return true;
}
