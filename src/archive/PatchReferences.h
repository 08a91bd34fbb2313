// The references of a program (PE) file that a PAT3 patch predicts: call and
// jump targets (rel32 after E8, E9 and 0F 80..8F in code sections) and the
// absolute pointers that the relocation table names. When code moves, most of
// a program's changed bytes are such references; the patch carries how
// addresses moved (a table of moves), and the applier writes each old
// reference as it would read after the move before it adds the differences.
// Maker and applier read the layout, find the references and predict them
// with this same code, so a poor guess costs patch size, never correctness.
// Offsets and sizes are 32-bit: patches are made for files below 2 GiB.
//
// Two flags above the pointer width in the layout's first word (bits 8 and 9;
// a layout without them reads as before) add references of 64-bit programs:
// - kLayoutRipRelative: in code sections, the disp32 of an instruction that
//   addresses memory relative to the next one (an optional 66, F2 or F3, an
//   optional REX, an opcode that takes a ModRM byte, ModRM mod 00 r/m 101),
//   whose target lies in a section; predicted as a rel32 operand is.
// - kLayoutTables: after the new sections (and the image size), u32 count (at most
//   PatchTables::kMost) of the old file's tables of RVAs, each u32 offset and
//   u32 size, ascending without sharing bytes: each whole u32 from a table's
//   start on that lies in an old section's addresses is an RVA, predicted as a
//   pointer without the image base (exception, import and export tables).
// A third flag (bit 10) predicts the new file's relocation table, which a
// linker rebuilds from scratch whenever code moves:
// - kLayoutRelocations: the old table's bytes [relocOffset, relocOffset +
//   relocSize) read as the table of the old file's pointers (those marked by
//   the table), each at its site's moved RVA, in ascending order: a block (u32
//   page, u32 size) wherever the page changes, u16 entries (type << 12 |
//   RVA & 0xFFF), a block of an odd count closed by a zero entry. What does
//   not fit in relocSize bytes is left as the old file has it; a table over
//   kMostPredictedRelocations bytes is not predicted.
#pragma once

#include <cstddef>
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

class PatchBase;

// Four little-endian u32 in the layout, copied as they are.
struct PatchSection {
    std::uint32_t offset;   // in the file
    std::uint32_t rawSize;  // bytes in the file
    std::uint32_t rva;      // address relative to the image's base
    std::uint32_t code;     // not 0: scanned for branches (old sections only)
};

constexpr std::uint32_t kLayoutRipRelative = 1u << 8;
constexpr std::uint32_t kLayoutTables = 1u << 9;
constexpr std::uint32_t kLayoutRelocations = 1u << 10;
constexpr std::uint32_t kMostPredictedRelocations = 6u << 20;

// In ascending order of file offset and of RVA, no two sharing a byte or an address.
struct PatchSections {
    static constexpr std::uint32_t kMost = 96;  // the loader of Windows takes no more
    std::uint32_t count = 0;
    PatchSection items[kMost];
    const PatchSection* begin() const { return items; }
    const PatchSection* end() const { return items + count; }
};

// Ranges of the old file whose u32 words are RVAs (kLayoutTables).
struct PatchTables {
    static constexpr std::uint32_t kMost = 8;
    std::uint32_t count = 0;
    struct Range {
        std::uint32_t offset, size;
    } items[kMost];
    const Range* begin() const { return items; }
    const Range* end() const { return items + count; }
};

// The layout as read from a patch (ArchiveFormat.h). The moves stay in the
// layout's bytes, which must outlive it: from an old RVA on, up to the next
// move, targets moved by a delta.
struct PatchLayout {
    std::uint32_t pointerWidth = 0;  // 4 (PE32), 8 (PE32+) or 0: no pointers
    std::uint32_t flags = 0;         // kLayoutRipRelative, kLayoutTables
    std::uint64_t oldBase = 0, newBase = 0;
    std::uint32_t relocOffset = 0, relocSize = 0;  // the old file's relocation blocks
    PatchSections oldSections, newSections;
    std::uint32_t imageSize = 0;  // kLayoutRipRelative: the old image's size in memory
    PatchTables tables;
    const unsigned char* moves = nullptr;  // u32 old RVA (ascending), s32 delta
    std::uint32_t moveCount = 0;
};

// Reads and checks every field against the sizes of the two files; refuses
// any layout for an old file over kMaxReferencedOldFile.
bool ReadPatchLayout(const unsigned char* data, std::size_t size, std::uint32_t oldSize, std::uint32_t newSize,
                     PatchLayout& out);

// Where the old file's references begin, pointers (pointerWidth bytes each)
// and branches (4 bytes each): one bit per byte of the old file, 32 MiB for
// the largest old file that a layout is taken for; and the predicted
// relocation table (kLayoutRelocations), at most 6 MiB more, and 12 MiB
// while it is made.
class ReferenceSites {
public:
    // No sites, for an old file of `oldSize` bytes, with the memory that
    // finding them takes; false when there is not enough.
    bool reset(std::uint32_t oldSize);
    // References share no bytes and are 4 or 8 bytes long: a set bit after a
    // clear one is a reference's first byte, its second byte's bit tells a branch.
    bool at(bool branch, std::uint32_t offset) const {
        return bit(offset) && (offset == 0 || !bit(offset - 1)) && bit(offset + 1) == branch;
    }
    // The first offset from `from` on whose bit is set, or `end`: a machine
    // word at a time (bits_ has eight zero bytes after its last).
    std::uint32_t next(std::uint32_t from, std::uint32_t end) const {
        for (; from < end && from / 8 < size_; from = (from / 8 + sizeof(std::size_t)) * 8) {
            std::size_t word;
            std::memcpy(&word, bits_.get() + from / 8, sizeof word);
            if ((word >>= (from & 7)) != 0) return std::min(end, from + std::uint32_t(std::countr_zero(word)));
        }
        return end;
    }
    // A reference that shares no byte with those marked before.
    void mark(bool branch, std::uint32_t offset);
    // The relocation table that the marked pointers make after the layout's
    // moves (kLayoutRelocations; without the flag none); false when there is
    // not the memory for it.
    bool predictRelocations(const PatchLayout& layout);
    // Its bytes, which stand in for old[layout.relocOffset, + size).
    const unsigned char* relocations(std::uint32_t& size) const { return size = relocationsSize_, relocations_.get(); }

private:
    friend bool FindReferenceSites(const PatchLayout&, PatchBase&, std::uint32_t, ReferenceSites&);
    bool bit(std::uint32_t offset) const { return offset / 8 < size_ && (bits_[offset / 8] >> (offset & 7)) & 1; }
    std::unique_ptr<unsigned char[]> bits_;
    std::uint32_t size_ = 0;                    // bytes of bits_
    std::unique_ptr<unsigned char[]> scratch_;  // a piece of the relocation table or of code, while finding
    std::unique_ptr<unsigned char[]> relocations_;
    std::uint32_t relocationsSize_ = 0;
};

// Finds them in the old file, into `out` after its reset, and predicts the
// relocation table; false when it cannot be read or the memory is short.
bool FindReferenceSites(const PatchLayout& layout, PatchBase& old, std::uint32_t oldSize, ReferenceSites& out);

// One diff run copies old[oldStart, oldEnd) to the new file from newStart.
struct PatchRun {
    std::uint32_t oldStart = 0, oldEnd = 0, newStart = 0;
};

// Replaces in `bytes` (old[at, at + count), within the run) the bytes of the
// references that lie wholly inside the run by their predicted new values. A
// reference that begins before `at` or ends after it is read from `old`.
// False when `old` cannot be read.
bool PredictReferences(const PatchLayout& layout, const ReferenceSites& sites, PatchBase& old, const PatchRun& run,
                       std::uint32_t at, unsigned char* bytes, std::size_t count);

// The address in the file's own layout: an RVA from a file offset and back;
// false outside the sections' bytes.
bool RvaOfOffset(const PatchSections& sections, std::uint32_t offset, std::uint32_t& rva);
bool OffsetOfRva(const PatchSections& sections, std::uint32_t rva, std::uint32_t& offset);
// The new address of an old target, by the move that covers it; false before the first move.
bool MovedTarget(const PatchLayout& layout, std::uint32_t oldRva, std::uint32_t& newRva);
