#include "archive/PatchReferences.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "archive/Patch.h"
#include "base/ByteReader.h"

// Sections are copied from the layout as they lie in it.
static_assert(std::endian::native == std::endian::little && sizeof(PatchSection) == 16);

namespace {

constexpr std::uint32_t kScanChunk = 64 * 1024;
constexpr std::uint32_t kLookahead = 6;  // the longest branch opcode and operand
constexpr std::uint32_t kRipLookahead = 9;  // the longest RIP-relative instruction up to its disp32's end
// Relocation entry types: a 32-bit and a 64-bit absolute address.
constexpr unsigned kRelocHighLow = 3;
constexpr unsigned kRelocDir64 = 10;

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

bool ReadTables(ByteReader& reader, std::uint32_t oldSize, PatchTables& out) {
    if (!reader.readU32(out.count) || out.count > PatchTables::kMost) return false;
    std::uint32_t next = 0;  // where the next table may begin
    for (PatchTables::Range* t = out.items; t < out.items + out.count; ++t) {
        if (!reader.readU32(t->offset) || !reader.readU32(t->size) || t->offset < next || t->offset > oldSize ||
            t->size > oldSize - t->offset)
            return false;
        next = t->offset + t->size;
    }
    return true;
}

// The section whose range from its `start` (file offset or RVA) holds `value`; nullptr when none does.
const PatchSection* Holding(const PatchSections& sections, std::uint32_t PatchSection::*start, std::uint32_t value) {
    if (sections.count == 0 || sections.items[0].*start > value) return nullptr;
    // The last section that starts at or before value lies in [low, low + n): halved without branches.
    std::uint32_t low = 0, n = sections.count;
    for (; n > 1; n -= n / 2)
        low = sections.items[low + n / 2].*start <= value ? low + n / 2 : low;
    const PatchSection& s = sections.items[low];
    return value - s.*start < s.rawSize ? &s : nullptr;
}

// Whether `rva` lies in a section, in a code section if `code`.
bool InSection(const PatchSections& sections, std::uint32_t rva, bool code) {
    const PatchSection* s = Holding(sections, &PatchSection::rva, rva);
    return s && (s->code || !code);
}

// Whether a pointer taken so far shares a byte with old[site, site + length).
bool OverlapsPointer(const PatchLayout& layout, const ReferenceSites& sites, std::uint32_t site, std::uint32_t length) {
    const std::uint32_t from = site - std::min(site, layout.pointerWidth - 1), end = site + length;
    if (layout.pointerWidth == 0 || sites.next(from, end) == end) return false;
    for (std::uint32_t at = from; at < end; ++at)
        if (sites.at(false, at)) return true;
    return false;
}

// Whether a branch (`code`) or RIP-relative operand may point to `rva`: a
// branch into code, an operand into the sections or the image's memory after
// the first one (data without bytes in the file, such as .bss).
bool Targets(const PatchLayout& layout, std::uint32_t rva, bool code) {
    return InSection(layout.oldSections, rva, code) ||
           (!code && layout.oldSections.count > 0 && rva >= layout.oldSections.items[0].rva && rva < layout.imageSize);
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

// Opcodes that take a ModRM byte: one bit each, of the one-byte map and of the
// map after 0F (jumps and three-byte escapes left out).
constexpr std::uint32_t kModRm[2][8] = {
    {0x0F0F0F0F, 0x0F0F0F0F, 0, 0x00000A08, 0x0000FFFF, 0, 0xFF0F00C3, 0xC0C00000},
    {0xFFFF0000, 0x0000FF00, 0xFFFFFFFF, 0xF071FFFF, 0xFFFF0000, 0xFDFFF838, 0xFFFF00FF, 0xFFFFFFFF},
};

// The disp32 of an x64 instruction at `p` that addresses memory relative to
// the next instruction: its offset from p, or 0 when p starts none (the bytes
// up to p + kRipLookahead are read).
unsigned RipOperand(const unsigned char* p) {
    unsigned i = p[0] == 0x66 || p[0] == 0xF2 || p[0] == 0xF3;
    i += (p[i] & 0xF0) == 0x40;
    const unsigned map = p[i] == 0x0F;
    i += map;
    const bool modRm = (kModRm[map][p[i] >> 5] >> (p[i] & 31)) & 1;
    return modRm && (p[i + 1] & 0xC7) == 0x05 ? i + 2 : 0;
}


// The last offset in [from, to) whose byte may be the ModRM byte of a
// RIP-relative operand (mod 00, r/m 101), or `last` when none is.
std::uint32_t MayBeRipModRm(const unsigned char* buffer, bool rip, std::uint32_t from, std::uint32_t to,
                            std::uint32_t last) {
    for (; rip && from < to; ++from)
        if ((buffer[from] & 0xC7) == 0x05) last = from;
    return last;
}

// Scans one code section in pieces; a branch is taken when its target lies in
// code, a RIP-relative operand (kLayoutRipRelative) when its target lies in
// the image, each when its operand overlaps no pointer; the scan goes on after it.
bool ScanBranches(const PatchLayout& layout, const PatchSection& section, PatchBase& old, ReferenceSites& sites,
                  unsigned char* buffer) {
    const std::uint32_t end = section.offset + section.rawSize;
    const bool rip = layout.flags & kLayoutRipRelative;
    for (std::uint32_t at = section.offset; end - at >= kLookahead && at < end;) {
        const std::uint32_t length = std::min(kScanChunk + kRipLookahead, end - at);
        if (!old.read(at, buffer, length)) return false;
        std::uint32_t i = 0, modRm = MayBeRipModRm(buffer, rip, 1, std::min(4u, length), 0);
        for (; i + kLookahead <= length && i < kScanChunk; ++i) {
            // Only a branch's opcode or a RIP-relative ModRM byte in the next
            // four can start a reference here: most bytes are passed over on that.
            modRm = MayBeRipModRm(buffer, rip, i + 4, i + 5, modRm);
            if (buffer[i] != 0x0F && (buffer[i] & 0xFE) != 0xE8 && modRm <= i) continue;
            unsigned operand = BranchOperand(&buffer[i]);
            // A branch's target is code; a RIP-relative operand's anywhere in the image.
            const bool code = operand != 0;
            if (!code && rip && length - i >= kRipLookahead) operand = RipOperand(&buffer[i]);
            const std::uint32_t site = at + i + operand;
            std::uint32_t siteRva = 0;
            if (operand == 0 || OverlapsPointer(layout, sites, site, 4) ||
                !RvaOfOffset(layout.oldSections, site, siteRva) ||
                !Targets(layout, siteRva + 4 + Load32(&buffer[i + operand]), code))
                continue;
            sites.mark(true, site);
            i += operand + 3;
            modRm = MayBeRipModRm(buffer, rip, i + 2, std::min(i + 5, length), modRm);
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

// Writes the bytes of `value`, the prediction for old[site, site + width), that lie in old[at, at + count).
void Place(std::uint64_t v, unsigned width, std::uint32_t site, std::uint32_t at, unsigned char* bytes, std::uint32_t count) {
    unsigned char value[8];
    std::memcpy(value, &v, width);
    for (unsigned i = 0; i < width; ++i)
        if (site + i - at < count) bytes[site + i - at] = value[i];
}

// The old bytes at `site`, from `bytes` (old[at, at + count)) where they lie wholly in it.
bool Fetch(PatchBase& old, std::uint32_t site, unsigned width, std::uint32_t at, const unsigned char* bytes,
           std::uint32_t count, std::uint64_t& v) {
    v = 0;
    if (site >= at && width <= at + count - site) return std::memcpy(&v, bytes + (site - at), width), true;
    return old.read(site, reinterpret_cast<unsigned char*>(&v), width);
}

// After the other references: a word that shares bytes with one of them is
// read from `old` as it is, so that it comes out alike in any pieces.
bool PredictTables(const PatchLayout& layout, PatchBase& old, const PatchRun& run, std::uint32_t at,
                   unsigned char* bytes, std::uint32_t count) {
    const std::uint32_t from = std::max(run.oldStart, at - std::min(at, 3u)), end = std::min(at + count, run.oldEnd);
    for (const PatchTables::Range* t = layout.tables.begin(); t < layout.tables.end(); ++t) {
        const std::uint32_t tableEnd = t->offset + t->size;
        std::uint32_t word = std::max(t->offset, from);
        word += (t->offset - word) & 3;  // the table's next whole word
        for (; word < end && word < tableEnd && tableEnd - word >= 4 && run.oldEnd - word >= 4; word += 4) {
            std::uint32_t v = 0, moved = 0;
            if (!old.read(word, reinterpret_cast<unsigned char*>(&v), 4)) return false;
            if (InSection(layout.oldSections, v, false) && MovedTarget(layout, v, moved))
                Place(moved, 4, word, at, bytes, count);
        }
    }
    return true;
}

// The predicted relocation table's bytes that stand in old[at, at + count).
void PlaceRelocations(const PatchLayout& layout, const ReferenceSites& sites, std::uint32_t at, unsigned char* bytes,
                      std::uint32_t count) {
    std::uint32_t size = 0;
    const unsigned char* table = sites.relocations(size);
    const std::uint32_t from = std::max(at, layout.relocOffset), end = std::min(at + count, layout.relocOffset + size);
    if (from < end) std::memcpy(bytes + (from - at), table + (from - layout.relocOffset), end - from);
}

// Pointers and branches in one pass over the set bits: they share no bytes,
// so each is read and written as if the other kind came first.
bool PredictSites(const PatchLayout& layout, const ReferenceSites& sites, PatchBase& old, const PatchRun& run,
                  std::uint32_t at, unsigned char* bytes, std::uint32_t count) {
    const std::uint32_t end = at + count, widest = std::max(layout.pointerWidth, 4u);
    for (std::uint32_t site = sites.next(std::max(run.oldStart, at - std::min(at, widest - 1)), end); site < end;
         site = sites.next(site + 1, end)) {
        const bool branch = sites.at(true, site);
        const unsigned width = branch ? 4 : layout.pointerWidth;
        if ((!branch && (width == 0 || !sites.at(false, site))) || site + width <= at ||
            width > run.oldEnd - site)
            continue;
        std::uint64_t v = 0;
        if (!Fetch(old, site, width, at, bytes, count, v)) return false;
        if (Predict(layout, run, site, branch, v)) Place(v, width, site, at, bytes, count);
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
    out.pointerWidth = head[0] & 0xFF;
    out.flags = head[0] & ~0xFFu;
    out.oldBase = std::uint64_t(head[2]) << 32 | head[1];
    out.newBase = std::uint64_t(head[4]) << 32 | head[3];
    out.relocOffset = head[5];
    out.relocSize = head[6];
    if (oldSize > kMaxReferencedOldFile || (out.flags & ~(kLayoutRipRelative | kLayoutTables | kLayoutRelocations)) != 0 ||
        (out.pointerWidth != 0 && out.pointerWidth != 4 && out.pointerWidth != 8) ||
        out.relocOffset > oldSize ||
        out.relocSize > oldSize - out.relocOffset)
        return false;
    out.tables.count = 0;
    out.imageSize = 0;
    if (!ReadSections(data, reader, oldSize, out.oldSections) || !ReadSections(data, reader, newSize, out.newSections) ||
        ((out.flags & kLayoutRipRelative) && !reader.readU32(out.imageSize)) ||
        ((out.flags & kLayoutTables) && !ReadTables(reader, oldSize, out.tables)) || !reader.readU32(moves) ||
        reader.remaining() % 8 != 0 || reader.remaining() / 8 != moves)
        return false;
    out.moves = data + reader.position();
    out.moveCount = moves;
    for (std::uint32_t i = 1; i < moves; ++i)
        if (Load32(out.moves + 8 * i) <= Load32(out.moves + 8 * i - 8)) return false;
    return true;
}

bool ReferenceSites::reset(std::uint32_t oldSize) {
    size_ = oldSize / 8 + 1;
    bits_.reset(new (std::nothrow) unsigned char[size_ + 8]());
    scratch_.reset(new (std::nothrow) unsigned char[kScanChunk + kRipLookahead]);
    return bits_ && scratch_;
}

void ReferenceSites::mark(bool branch, std::uint32_t offset) {
    bits_[offset / 8] |= static_cast<unsigned char>(1 << (offset & 7));
    if (branch) bits_[(offset + 1) / 8] |= static_cast<unsigned char>(1 << ((offset + 1) & 7));
}

// Sorts v[0, n) ascending in place: a heap sort, little code and no memory.
static void SortWords(std::uint32_t* v, std::uint32_t n) {
    const auto sift = [v](std::uint32_t root, std::uint32_t end) {
        for (std::uint32_t child; (child = 2 * root + 1) < end; root = child) {
            child += child + 1 < end && v[child] < v[child + 1];
            if (v[root] >= v[child]) return;
            std::swap(v[root], v[child]);
        }
    };
    for (std::uint32_t i = n / 2; i-- > 0;) sift(i, n);
    for (std::uint32_t end = n; end-- > 1;) std::swap(v[0], v[end]), sift(0, end);
}

bool ReferenceSites::predictRelocations(const PatchLayout& layout) {
    relocations_.reset();
    relocationsSize_ = 0;
    const std::uint32_t room = layout.relocSize;
    if (!(layout.flags & kLayoutRelocations) || layout.pointerWidth == 0 || room > kMostPredictedRelocations) return true;
    // The pointers' new RVAs, sorted as a linker sorts them; one per 2-byte
    // entry of the old table at most: twice its bytes while the table is made.
    std::uint32_t count = 0, end = size_ * 8;
    const std::unique_ptr<std::uint32_t[]> rvas(new (std::nothrow) std::uint32_t[room / 2 + 1]);
    // Zeros: a block of an odd count ends with the zero entry as it is.
    unsigned char* table = new (std::nothrow) unsigned char[room]();
    relocations_.reset(table);
    if (!table || !rvas) return false;
    for (std::uint32_t site = next(0, end); site < end && count <= room / 2; site = next(site + 1, end))
        if (this->at(false, site) && RvaOfOffset(layout.oldSections, site, rvas[count])) MovedTarget(layout, rvas[count], rvas[count]), ++count;
    SortWords(rvas.get(), count);
    const std::uint32_t type = (layout.pointerWidth == 8 ? kRelocDir64 : kRelocHighLow) << 12;
    std::uint32_t block = 0, at = 0;  // the last block's head, its next entry
    end = 0;                          // the table's end
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t rva = rvas[i], page = rva & ~0xFFFu;
        if (end == 0 || Load32(table + block) != page) {
            block = end;
            at = block + 8;
            std::memcpy(table + block, &page, 4);
        }
        const std::uint32_t size = (at + 2 - block + 3) & ~3u;  // with the entry, closed
        if (size > room - block) break;
        const std::uint32_t entry = type | (rva & 0xFFF);
        std::memcpy(table + at, &entry, 2);
        std::memcpy(table + block + 4, &size, 4);
        at += 2;
        end = block + size;
    }
    relocationsSize_ = end;
    return true;
}

bool FindReferenceSites(const PatchLayout& layout, PatchBase& old, std::uint32_t oldSize, ReferenceSites& out) {
    const std::unique_ptr<unsigned char[]> scratch = std::move(out.scratch_);
    if (!FindPointers(layout, old, oldSize, out, scratch.get())) return false;
    for (const PatchSection& section : layout.oldSections)
        if (section.code && !ScanBranches(layout, section, old, out, scratch.get())) return false;
    return out.predictRelocations(layout);
}

bool PredictReferences(const PatchLayout& layout, const ReferenceSites& sites, PatchBase& old, const PatchRun& run,
                       std::uint32_t at, unsigned char* bytes, std::size_t count) {
    return PredictSites(layout, sites, old, run, at, bytes, std::uint32_t(count)) &&
           PredictTables(layout, old, run, at, bytes, std::uint32_t(count)) &&
           (PlaceRelocations(layout, sites, at, bytes, std::uint32_t(count)), true);
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
