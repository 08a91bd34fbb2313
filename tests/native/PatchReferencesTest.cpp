// Patches of program files that predict their references (PAT3): two builds
// of a made-up program whose code and data moved come out exactly when the
// patch arrives a byte at a time (so that references straddle every piece),
// and the patch is much smaller than without the prediction; a layout that
// does not fit its files is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <zlib.h>

#include "archive/PatchReferences.h"
#include "common/PatchSupport.h"
#include "tools/mkupdate/PatchMaker.h"
#include "tools/mkupdate/ProgramLayout.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put(Bytes& out, std::size_t at, std::uint64_t v, unsigned width) {
    for (unsigned i = 0; i < width; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void Append(Bytes& out, std::uint64_t v, unsigned width) {
    out.resize(out.size() + width);
    Put(out, out.size() - width, v, width);
}

// A PE32 (or PE32+) program: headers, code at RVA 0x1000, data, relocations,
// each section in the file at its RVA. 2,000 functions call three others and
// load a datum's address (mov eax, [abs32] or mov rax, imm64, relocated); the
// data is a table of the functions' addresses. Release 2 makes every 40th
// function 24 bytes longer, inserts a datum every 100, and changes a few bytes.
// With `x64`, each function also loads a datum's address RIP-relative (lea)
// and tests a variable of the uninitialised data after the file's sections
// (cmp dword [rip+d], 0), and an exception table of each function's start,
// end and unwind data follows the data.
Bytes Program(bool plus, int release, bool x64 = false) {
    constexpr std::uint32_t kFunctions = 2000, kData = 3000;
    const std::uint64_t base = plus ? 0x140000000ull : 0x400000;
    const unsigned width = plus ? 8 : 4;
    auto bodySize = [&](std::uint32_t f) { return 20 + f % 13 + (release == 2 && f % 40 == 7 ? 24 : 0); };
    std::vector<std::uint32_t> functionAt(kFunctions), datumAt(kData);
    std::uint32_t at = 0x1000;
    for (std::uint32_t f = 0; f < kFunctions; ++f, at = (at + 15) & ~15u)
        functionAt[f] = at, at += bodySize(f) + 3 * 5 + (plus ? 10 : 5) + 1 + (x64 ? 14 : 0);
    const std::uint32_t dataStart = (at + 0xFFF) & ~0xFFFu;
    at = dataStart + kFunctions * width;
    for (std::uint32_t d = 0; d < kData; ++d) datumAt[d] = at, at += 8 + (release == 2 && d % 100 == 50 ? 16 : 0);
    const std::uint32_t pdata = at, pdataSize = x64 ? 12 * kFunctions : 0;
    const std::uint32_t relocStart = (at + pdataSize + 0xFFF) & ~0xFFFu;
    const std::uint32_t bss = relocStart + 0x40000 + (release == 2 ? 0x100 : 0);  // past every section

    Bytes out(relocStart, 0);
    std::vector<std::uint32_t> absolute;
    for (std::uint32_t f = 0; f < kFunctions; ++f) {
        std::size_t p = functionAt[f];
        for (std::uint32_t i = 0; i < bodySize(f); ++i) out[p++] = static_cast<unsigned char>((f * 2654435761u + i * 40503u) >> 13);
        for (std::uint32_t c = 1; c <= 3; ++c) {
            out[p] = 0xE8;
            Put(out, p + 1, functionAt[(f * 7 + c * 13) % kFunctions] - std::uint32_t(p + 5), 4);
            p += 5;
        }
        const std::uint64_t datum = base + datumAt[(f * 3) % kData];
        if (plus) out[p] = 0x48, out[p + 1] = 0xB8, p += 2;
        else out[p] = 0xA1, p += 1;
        absolute.push_back(std::uint32_t(p));
        Put(out, p, datum, width);
        p += width;
        if (x64) {
            const unsigned char lea[] = {0x48, 0x8D, 0x0D}, cmp[] = {0x83, 0x3D};
            std::memcpy(&out[p], lea, 3);
            Put(out, p + 3, datumAt[(f * 5) % kData] - std::uint32_t(p + 7), 4);
            std::memcpy(&out[p + 7], cmp, 2);
            Put(out, p + 9, bss + 8 * (f % 64) - std::uint32_t(p + 13), 4);
            p += 14;  // with the cmp's immediate 0
            Put(out, pdata + 12 * f, functionAt[f], 4);
            Put(out, pdata + 12 * f + 4, std::uint32_t(p + 1), 4);
            Put(out, pdata + 12 * f + 8, datumAt[f % kData], 4);
        }
        out[p] = 0xC3;
    }
    for (std::uint32_t f = 0; f < kFunctions; ++f) {
        absolute.push_back(dataStart + f * width);
        Put(out, dataStart + f * width, base + functionAt[f], width);
    }
    if (release == 2) out[functionAt[500] + 3] ^= 0x5A, out[datumAt[9]] = 1;
    // The relocation blocks: one per 4 KiB page, entries of type 3 or 10.
    for (std::size_t i = 0; i < absolute.size();) {
        const std::uint32_t page = absolute[i] & ~0xFFFu;
        const std::size_t head = out.size();
        Append(out, page, 4);
        Append(out, 0, 4);
        for (; i < absolute.size() && (absolute[i] & ~0xFFFu) == page; ++i)
            Append(out, (plus ? 0xA000u : 0x3000u) | (absolute[i] & 0xFFF), 2);
        if ((out.size() - head) % 4) Append(out, 0, 2);
        Put(out, head + 4, out.size() - head, 4);
    }
    const std::uint32_t relocSize = std::uint32_t(out.size() - relocStart);
    out.resize((out.size() + 0x1FF) & ~0x1FFu, 0);

    const std::size_t pe = 0x80, opt = pe + 24, optSize = plus ? 240 : 224, table = opt + optSize;
    out[0] = 'M', out[1] = 'Z';
    Put(out, 0x3C, pe, 4);
    std::memcpy(&out[pe], "PE\0\0", 4);
    Put(out, pe + 4, plus ? 0x8664 : 0x14C, 2);
    Put(out, pe + 6, 3, 2);
    Put(out, pe + 20, optSize, 2);
    Put(out, opt, plus ? 0x20B : 0x10B, 2);
    Put(out, plus ? opt + 24 : opt + 28, base, width);
    Put(out, opt + (plus ? 108 : 92), 16, 4);
    Put(out, opt + 56, bss + 0x1000, 4);  // the image's size in memory
    Put(out, opt + (plus ? 112 : 96) + 8 * 3, pdata, 4);
    Put(out, opt + (plus ? 112 : 96) + 8 * 3 + 4, pdataSize, 4);
    Put(out, opt + (plus ? 112 : 96) + 8 * 5, relocStart, 4);
    Put(out, opt + (plus ? 112 : 96) + 8 * 5 + 4, relocSize, 4);
    const std::uint32_t starts[] = {0x1000, dataStart, relocStart, std::uint32_t(out.size())};
    const std::uint32_t flags[] = {0x60000020, 0xC0000040, 0x42000040};
    for (std::size_t s = 0; s < 3; ++s) {
        const std::size_t h = table + 40 * s;
        Put(out, h + 8, starts[s + 1] - starts[s], 4);
        Put(out, h + 12, starts[s], 4);
        Put(out, h + 16, starts[s + 1] - starts[s], 4);
        Put(out, h + 20, starts[s], 4);
        Put(out, h + 36, flags[s], 4);
    }
    return out;
}

struct Built final : ByteSink {
    bool put(const unsigned char* data, std::size_t count) override { return bytes.insert(bytes.end(), data, data + count), true; }
    Bytes bytes;
};

// Applies `patch` to `old` in pieces of `piece` bytes; what it came to, the new file in `built`.
PatchOutcome ApplyInPieces(const Bytes& old, const std::string& patch, std::size_t piece, Built& built) {
    BufferPatchBase base(old.data(), old.size());
    PatchApplier applier(&base, built);
    for (std::size_t at = 0; at < patch.size(); at += piece)
        applier.put(reinterpret_cast<const unsigned char*>(patch.data()) + at, std::min(piece, patch.size() - at));
    PatchOutcome outcome = applier.finish();
    EXPECT_EQ(outcome, PatchOutcome::Built) << "in pieces of " << piece << ": " << applier.problem();
    return outcome;
}

bool ReadLayout(const std::string& bytes, PatchLayout& layout, std::size_t size = std::string::npos) {
    return ReadPatchLayout(reinterpret_cast<const unsigned char*>(bytes.data()), std::min(size, bytes.size()), 1000, 1000,
                           layout);
}

// A PAT3 or PAT4 patch's layout length and flags (its first word above the
// pointer width); none for PAT1 and PAT2.
struct Head {
    std::uint32_t size, flags;
};
Head LayoutHead(const std::string& patch) {
    const std::size_t at = patch.substr(0, 4) == "PAT4" ? 25 : 20;  // PAT4: the first chunk's stream
    if (patch.substr(0, 4) < "PAT3") return {0, 0};
    unsigned char head[8] = {};
    z_stream z{};
    inflateInit(&z);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(patch.data() + at));
    z.avail_in = uInt(patch.size() - at);
    z.next_out = head;
    z.avail_out = sizeof head;
    inflate(&z, Z_SYNC_FLUSH);
    inflateEnd(&z);
    return {std::uint32_t(head[0] | head[1] << 8 | head[2] << 16 | head[3] << 24),
            std::uint32_t(head[5] | head[6] << 8 | head[7] << 16) << 8};
}
std::uint32_t LayoutFlags(const std::string& patch) { return LayoutHead(patch).flags; }

TEST(PatchReferences, ProgramsComeOutExactlyFromASmallerPatch) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const Bytes old = Program(plus, 1), next = Program(plus, 2);
        ASSERT_GT(old.size(), 128u * 1024);  // more than the applier's window
        std::string patch, plain;
        ASSERT_EQ(MakePatch(old, next, patch), MadePatch::Made);
        EXPECT_EQ(patch.substr(0, 4), "PAT4");
        EXPECT_GT(LayoutHead(patch).size, 0u);
        // The same files without their PE signature make a patch without the prediction.
        Bytes oldPlain = old, nextPlain = next;
        oldPlain[0] = nextPlain[0] = 'X';
        ASSERT_EQ(MakePatch(oldPlain, nextPlain, plain), MadePatch::Made);
        EXPECT_EQ(LayoutHead(plain).size, 0u);
        EXPECT_LT(patch.size() * 2, plain.size()) << patch.size() << " against " << plain.size();

        Built built;
        ApplyInPieces(old, patch, 1, built);
        EXPECT_TRUE(built.bytes == next);
    }
}


// 64-bit programs whose RIP-relative operands, exception table and data past
// the file's sections moved: the patch the maker sends carries the layout's
// flags and is much smaller than its PAT3 form without them (which the hook
// has the maker send by spoiling the others); each comes out exactly in any pieces.
TEST(PatchReferences, SixtyFourBitReferencesMakeTheSmallerPatch) {
    struct Shape {
        const char* what;
        bool x64;
        std::uint32_t flags;  // of the patch sent
        double most;          // its size at most this share of the one without flags
    };
    const Shape shapes[] = {
        {"PE32+ with RIP-relative operands and an exception table", true,
         kLayoutRipRelative | kLayoutTables | kLayoutRelocations, 0.5},
        {"PE32+ with neither", false, kLayoutRipRelative | kLayoutRelocations, 1.0},
    };
    static bool spoil;
    gPatchMadeHook = [](std::string& patch) {
        // Spoilt (the new file's CRC-32): every form but PAT3 without flags.
        if (spoil && (patch.substr(0, 4) != "PAT3" || LayoutFlags(patch) != 0)) patch[19] ^= 1;
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.what);
        const Bytes old = Program(true, 1, shape.x64), next = Program(true, 2, shape.x64);
        std::string patch, plain;
        spoil = false;
        ASSERT_EQ(MakePatch(old, next, patch), MadePatch::Made);
        spoil = true;
        ASSERT_EQ(MakePatch(old, next, plain), MadePatch::Made);
        EXPECT_EQ(LayoutFlags(plain), 0u);
        EXPECT_EQ(LayoutFlags(patch), shape.flags);
        EXPECT_LE(double(patch.size()), shape.most * double(plain.size())) << patch.size() << " against " << plain.size();
        for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(4093), std::size_t(65536), patch.size()}) {
            Built built;
            ApplyInPieces(old, patch, piece, built);
            EXPECT_TRUE(built.bytes == next) << "in pieces of " << piece;
        }
    }
    gPatchMadeHook = nullptr;
}

// A layout of 1,000-byte files: one code and one data section each, relocations
// at 500..563 of the old file, two moves.
LayoutPlan SmallPlan() {
    LayoutPlan plan;
    plan.pointerWidth = 4;
    plan.oldBase = plan.newBase = 0x400000;
    plan.relocOffset = 500;
    plan.relocSize = 64;
    plan.oldSections = plan.newSections = {{0, 400, 0x1000, 1}, {400, 600, 0x2000, 0}};
    plan.moves = {{0x1000, 16}, {0x2000, -8}};
    return plan;
}

TEST(PatchReferences, LayoutsThatDoNotFitTheirFilesAreRefused) {
    // Offsets in the layout's bytes: +0 width, +4..+19 bases, +20 reloc offset,
    // +24 reloc size, +28 old section count, +32 first old section (16 bytes
    // each), +64 new section count, +68 new sections, +100 move count, +104 moves.
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;  // a u32 written at `at`
        bool accepted;
    };
    const Case cases[] = {
        {"as made", 0, 4, true},
        {"no pointers", 0, 0, true},
        {"64-bit pointers", 0, 8, true},
        {"pointers of 3 bytes", 0, 3, false},
        {"relocations past the old file", 24, 501, false},
        {"relocations starting past it", 20, 1001, false},
        {"old section past the old file", 32 + 4, 1001, false},
        {"new section past the new file", 68 + 16 + 4, 601, false},
        {"97 old sections", 28, 97, false},
        {"old sections sharing a byte", 32 + 16, 399, false},
        {"old sections sharing an address", 32 + 16 + 8, 0x1000 + 399, false},
        {"old sections' addresses descending", 32 + 8, 0x3000, false},
        {"new section's addresses past 4 GiB", 68 + 16 + 8, 0xFFFFFF00, false},
        {"new sections out of order", 68, 500, false},
        {"more moves than bytes", 100, 3, false},
        {"moves out of order", 104 + 8, 0x0FFF, false},
        {"two moves at one address", 104 + 8, 0x1000, false},
    };
    const std::string made = PatchLayoutBytes(SmallPlan());
    for (const Case& c : cases) {
        std::string bytes = made;
        for (int i = 0; i < 4; ++i) bytes[c.at + i] = static_cast<char>(c.value >> (8 * i));
        PatchLayout layout;
        EXPECT_EQ(ReadLayout(bytes, layout), c.accepted) << c.what;
    }
    PatchLayout layout;
    const auto* data = reinterpret_cast<const unsigned char*>(made.data());
    EXPECT_TRUE(ReadPatchLayout(data, made.size(), kMaxReferencedOldFile, 1000, layout));
    EXPECT_FALSE(ReadPatchLayout(data, made.size(), kMaxReferencedOldFile + 1, 1000, layout)) << "old file too large";
    for (std::size_t cut : {made.size() - 1, std::size_t(100), std::size_t(27)})
        EXPECT_FALSE(ReadLayout(made, layout, cut)) << cut;
    EXPECT_FALSE(ReadLayout(made + "x", layout));
}

TEST(PatchReferences, LayoutsWithFlagsThatDoNotFitTheirFilesAreRefused) {
    // SmallPlan with both flags: +0 width and flags, +100 image size, +104
    // table count, +108 and +116 the tables (offset, size), +124 move count.
    LayoutPlan plan = SmallPlan();
    plan.flags = kLayoutRipRelative | kLayoutTables;
    plan.imageSize = 0x3000;
    plan.tables = {{600, 100}, {700, 300}};
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        bool accepted;
    };
    const Case cases[] = {
        {"as made", 0, 4 | kLayoutRipRelative | kLayoutTables, true},
        {"an unknown flag", 0, 4 | kLayoutRipRelative | kLayoutTables | 1u << 11, false},
        {"the relocation table's flag (no field of its own)", 0, 4 | kLayoutRipRelative | kLayoutTables | kLayoutRelocations, true},
        {"no tables", 104, 0, false},  // then the tables' bytes are left over
        {"9 tables", 104, 9, false},
        {"a table starting past the old file", 116, 1001, false},
        {"a table ending past it", 120, 301, false},
        {"tables sharing a byte", 116, 699, false},
        {"tables descending", 108, 800, false},
        {"a table of no bytes", 112, 0, true},
    };
    const std::string made = PatchLayoutBytes(plan);
    for (const Case& c : cases) {
        std::string bytes = made;
        for (int i = 0; i < 4; ++i) bytes[c.at + i] = static_cast<char>(c.value >> (8 * i));
        PatchLayout layout;
        EXPECT_EQ(ReadLayout(bytes, layout), c.accepted) << c.what;
    }
    PatchLayout layout;
    for (std::size_t cut : {std::size_t(103), std::size_t(107), std::size_t(123)})
        EXPECT_FALSE(ReadLayout(made, layout, cut)) << cut;
}

TEST(PatchReferences, TargetsMoveByTheLastMoveAtOrBeforeThem) {
    const std::string bytes = PatchLayoutBytes(SmallPlan());
    PatchLayout layout;
    ASSERT_TRUE(ReadLayout(bytes, layout));
    struct Case {
        std::uint32_t oldRva;
        bool moved;
        std::uint32_t newRva;
    };
    for (const Case& c : {Case{0x0FFF, false, 0}, Case{0x1000, true, 0x1010}, Case{0x1FFF, true, 0x200F},
                          Case{0x2000, true, 0x1FF8}, Case{0xFFFFFFFF, true, 0xFFFFFFF7}}) {
        std::uint32_t newRva = 0;
        EXPECT_EQ(MovedTarget(layout, c.oldRva, newRva), c.moved) << std::hex << c.oldRva;
        if (c.moved) EXPECT_EQ(newRva, c.newRva) << std::hex << c.oldRva;
    }
}

// Sections 0..399 at 0x1000 and 400..999 at 0x2000: a look-up finds the one
// section that holds the value, never one that ends before it or starts after.
TEST(PatchReferences, AddressesTranslateInTheSectionThatHoldsThem) {
    const std::string bytes = PatchLayoutBytes(SmallPlan());
    PatchLayout layout;
    ASSERT_TRUE(ReadLayout(bytes, layout));
    struct Case {
        std::uint32_t offset, rva;
        bool inside;
    };
    for (const Case& c : {Case{0, 0x1000, true}, Case{399, 0x118F, true}, Case{400, 0x2000, true},
                          Case{999, 0x2257, true}, Case{1000, 0x2258, false}}) {
        std::uint32_t rva = 0, offset = 0;
        EXPECT_EQ(RvaOfOffset(layout.oldSections, c.offset, rva), c.inside) << c.offset;
        EXPECT_EQ(OffsetOfRva(layout.oldSections, c.rva, offset), c.inside) << std::hex << c.rva;
        if (c.inside) EXPECT_EQ(rva, c.rva) << c.offset;
        if (c.inside) EXPECT_EQ(offset, c.offset) << std::hex << c.rva;
    }
    std::uint32_t unused = 0;
    for (std::uint32_t rva : {0x0FFFu, 0x1190u, 0x1FFFu})
        EXPECT_FALSE(OffsetOfRva(layout.oldSections, rva, unused)) << std::hex << rva << ": between sections";
}

// A relocation table of 85 KB, blocks of 20 to 56 entries and 0 to 2 bytes
// more (blocks and entries at any offset), which straddle the pieces it is
// read in: every pointer it names is found, and no read is larger than a
// piece of the code scan.
TEST(PatchReferences, ALargeRelocationTableIsReadInPieces) {
    constexpr std::uint32_t kPages = 1000, kTable = kPages * 4096;
    Bytes old(kTable + 100 * 1024, 0);
    std::vector<bool> expected(old.size());
    std::uint32_t at = kTable;
    for (std::uint32_t page = 0; page < kPages; ++page) {
        const std::uint32_t entries = 20 + page % 37;
        Put(old, at, 0x1000 + page * 4096, 4);
        Put(old, at + 4, 8 + 2 * entries + page % 3, 4);
        for (std::uint32_t k = 0; k < entries; ++k) {
            Put(old, at + 8 + 2 * k, 0x3000 | k * 64, 2);
            expected[page * 4096 + k * 64] = true;
        }
        at += 8 + 2 * entries + page % 3;
    }
    LayoutPlan plan;
    plan.pointerWidth = 4;
    plan.relocOffset = kTable;
    plan.relocSize = at - kTable;
    ASSERT_GT(plan.relocSize, 80u * 1024);
    plan.oldSections = plan.newSections = {{0, std::uint32_t(old.size()), 0x1000, 0}};
    const std::string bytes = PatchLayoutBytes(plan);
    PatchLayout layout;
    ASSERT_TRUE(ReadPatchLayout(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                std::uint32_t(old.size()), std::uint32_t(old.size()), layout));
    struct Largest final : PatchBase {
        explicit Largest(const Bytes& old) : base(old.data(), old.size()) {}
        std::int64_t size() override { return base.size(); }
        bool read(std::int64_t at, unsigned char* buffer, std::size_t count) override {
            return largest = std::max(largest, count), base.read(at, buffer, count);
        }
        BufferPatchBase base;
        std::size_t largest = 0;
    } base(old);
    ReferenceSites sites;
    ASSERT_TRUE(sites.reset(std::uint32_t(old.size())) && FindReferenceSites(layout, base, std::uint32_t(old.size()), sites));
    EXPECT_LE(base.largest, 64u * 1024 + 6);
    std::size_t wrong = 0;
    for (std::uint32_t i = 0; i < old.size(); ++i) wrong += sites.at(false, i) != expected[i] || sites.at(true, i);
    EXPECT_EQ(wrong, 0u);
}

// When the PAT4 form does not give the new file, the maker sends the next
// smaller form that does: PAT3, PAT2 when PAT3 fails as well, then PAT1.
TEST(PatchReferences, TheMakerFallsBackToTheNextSmallerFormThatGivesTheNewFile) {
    const Bytes old = Program(false, 1), next = Program(false, 2);
    static std::string failing;
    gPatchMadeHook = [](std::string& patch) {
        if (failing.find(patch.substr(0, 4)) != std::string::npos) patch[19] ^= 1;  // the new file's CRC-32
    };
    struct Case {
        std::string failing, sent;
    };
    for (const Case& c : {Case{"PAT4", "PAT3"}, Case{"PAT4 PAT3", "PAT2"}, Case{"PAT4 PAT3 PAT2", "PAT1"}}) {
        failing = c.failing;
        std::string patch;
        EXPECT_EQ(MakePatch(old, next, patch), MadePatch::Made) << c.failing;
        EXPECT_NE(c.sent.find(patch.substr(0, 4)), std::string::npos) << c.failing << ": " << patch.substr(0, 4);
        Built built;
        ApplyInPieces(old, patch, 4093, built);
        EXPECT_TRUE(built.bytes == next) << c.failing;
    }
    gPatchMadeHook = nullptr;
}

// Relocations two bytes apart would share bytes: the later one in the table is
// left out, so that the prediction is the same whether a piece holds both or
// ends between them. The maker predicts a run whole (its self-check too), the
// applier in the pieces the data comes in: with 32-bit pointers and with
// 64-bit ones whose image base moves above 4 GiB (so that all eight bytes change).
TEST(PatchReferences, ReferencesThatShareBytesComeOutAlikeInAnyPieces) {
    for (const unsigned width : {4u, 8u}) {
        LayoutPlan plan = SmallPlan();
        plan.relocSize = 12;
        plan.moves = {{0x1000, 0x10000}};
        plan.pointerWidth = width;
        if (width == 8) plan.newBase = 0x140000000;
        Bytes old(1000, 0);
        const unsigned char type = width == 8 ? 0xA0 : 0x30;
        const Bytes relocations = {0x00, 0x10, 0, 0, 12, 0, 0, 0, 0x10, type, 0x12, type};  // page 0x1000: +0x10, +0x12
        // 0x401100 at 0x10, 0x500040 at 0x12 (64-bit: 0x401100 alone)
        const Bytes pointers = {0x00, 0x11, 0x40, 0x00, static_cast<unsigned char>(width == 8 ? 0 : 0x50), 0x00};
        std::copy(relocations.begin(), relocations.end(), old.begin() + 500);
        std::copy(pointers.begin(), pointers.end(), old.begin() + 0x10);
        const std::string layoutBytes = PatchLayoutBytes(plan);
        PatchLayout layout;
        ReferenceSites sites;
        BufferPatchBase base(old.data(), old.size());
        ASSERT_TRUE(ReadLayout(layoutBytes, layout));
        ASSERT_TRUE(sites.reset(1000) && FindReferenceSites(layout, base, 1000, sites));
        // As the maker predicts: the run whole. As the applier may: a byte at a time.
        const PatchRun run{0, 1000, 0};
        Bytes whole = old, pieces = old;
        ASSERT_TRUE(PredictReferences(layout, sites, base, run, 0, whole.data(), 1000));
        for (std::uint32_t at = 0; at < 1000; ++at) ASSERT_TRUE(PredictReferences(layout, sites, base, run, at, &pieces[at], 1));
        EXPECT_NE(whole, old) << width;
        EXPECT_TRUE(whole == pieces) << width;
        // A run that ends inside the pointer leaves it as it is.
        Bytes cut = old;
        ASSERT_TRUE(PredictReferences(layout, sites, base, PatchRun{0, 0x13, 0}, 0, cut.data(), 0x13));
        EXPECT_TRUE(cut == old) << width;

        // The patch the maker would send for new = its prediction: one run of zero diff
        // bytes, each its own token, stored: fed a byte at a time, each comes alone.
        std::string body;
        putU32(body, std::uint32_t(layoutBytes.size()));
        body += layoutBytes;
        for (std::uint32_t word : {1000u, 0u, 0u}) putU32(body, word);
        body += std::string(2000, '\0');
        PatchHeader header{1000, CrcOf(std::string(old.begin(), old.end())), 1000,
                           CrcOf(std::string(whole.begin(), whole.end())), true, true};
        const std::string patch = PatchHeaderBytes(header) + CompressZlib(body.data(), body.size(), 0);
        for (std::size_t piece : {patch.size(), std::size_t(1)}) {
            Built built;
            ApplyInPieces(old, patch, piece, built);
        }
    }
}

// One instruction at offset 16 of a code section (0..255 at RVA 0x1000; data
// 256..511 at 0x2000; the image's memory up to 0x4000), zeros around it: where
// the scan takes a reference (a rel32 site), if anywhere.
TEST(PatchReferences, X64OperandsAreFoundByTheirEncoding) {
    struct Case {
        const char* what;
        Bytes opcode;            // up to the disp32 or rel32
        std::uint32_t target;    // RVA the operand points to from its end
        std::uint32_t flags;
        int site;                // offset of the operand from the instruction, -1: none
    };
    const std::uint32_t rip = kLayoutRipRelative;
    const Case cases[] = {
        {"lea rcx, [rip+d]", {0x48, 0x8D, 0x0D}, 0x2010, rip, 3},
        {"call [rip+d] (an import)", {0xFF, 0x15}, 0x2010, rip, 2},
        {"movdqa xmm0, [rip+d]", {0x66, 0x0F, 0x6F, 0x05}, 0x2010, rip, 4},
        {"movsd xmm8, [rip+d]", {0xF2, 0x44, 0x0F, 0x10, 0x05}, 0x2010, rip, 5},
        {"cmp dword [rip+d], imm8 into memory past the sections", {0x83, 0x3D}, 0x3FF0, rip, 2},
        {"mov rax, [rip+d] past the image", {0x48, 0x8B, 0x05}, 0x4010, rip, -1},
        {"mov rax, [rip+d] before the first section", {0x48, 0x8B, 0x05}, 0x0800, rip, -1},
        {"mov eax, [rbp+disp8] (mod 01)", {0x8B, 0x45}, 0x2010, rip, -1},
        {"mov eax, [abs32] (SIB, no base)", {0x8B, 0x04, 0x25}, 0x2010, rip, -1},
        {"mov eax, imm32 (no ModRM)", {0xB8, 0x05}, 0x2010, rip, -1},
        {"jmp rel32 after 0F 8x, not 0F 05", {0x0F, 0x85}, 0x1080, rip, 2},
        {"lea without the flag", {0x48, 0x8D, 0x0D}, 0x2010, 0, -1},
        {"call rel32 without it", {0xE8}, 0x1080, 0, 1},
        {"call rel32 into data", {0xE8}, 0x2010, rip, -1},
    };
    for (const Case& c : cases) {
        Bytes old(512, 0);
        std::copy(c.opcode.begin(), c.opcode.end(), old.begin() + 16);
        const std::uint32_t end = 16 + std::uint32_t(c.opcode.size()) + 4;
        Put(old, end - 4, c.target - (0x1000 + end), 4);
        LayoutPlan plan;
        plan.pointerWidth = 8;
        plan.flags = c.flags;
        plan.imageSize = 0x4000;
        plan.oldSections = plan.newSections = {{0, 256, 0x1000, 1}, {256, 256, 0x2000, 0}};
        const std::string bytes = PatchLayoutBytes(plan);
        PatchLayout layout;
        ReferenceSites sites;
        BufferPatchBase base(old.data(), old.size());
        ASSERT_TRUE(ReadPatchLayout(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 512, 512, layout));
        ASSERT_TRUE(sites.reset(512) && FindReferenceSites(layout, base, 512, sites));
        int found = -1;
        for (std::uint32_t at = 0; at < 512; ++at) {
            if (!sites.at(true, at) && !sites.at(false, at)) continue;
            EXPECT_EQ(found, -1) << c.what;
            found = int(at) - 16;
        }
        EXPECT_EQ(found, c.site) << c.what;
    }
}

// A table of RVAs at 600..621 of the old file (its last two bytes no whole
// word), moves 0x1000 +16 and 0x2000 -8, and a relocated pointer at 614
// (0x410000, predicted 0x40FFF8) across two words: each whole word of the
// table inside the run that lies in a section moves, over the pointer's bytes,
// and byte by byte it comes out alike.
TEST(PatchReferences, RvasInTablesMoveWithTheirTargets) {
    LayoutPlan plan = SmallPlan();
    plan.flags = kLayoutTables;
    plan.relocSize = 12;
    plan.tables = {{600, 22}};
    const std::uint32_t words[] = {0x1010, 0x2004, 0x5000, 0x1010, 0x0041, 0x1000};
    Bytes old(1000, 0);
    for (std::uint32_t i = 0; i < 6; ++i) Put(old, 600 + 4 * i, words[i], 4);
    const Bytes relocations = {0x00, 0x20, 0, 0, 12, 0, 0, 0, 0xD6, 0x30, 0, 0};  // page 0x2000: +0xD6 (offset 614)
    std::copy(relocations.begin(), relocations.end(), old.begin() + 500);
    struct Case {
        std::uint32_t runStart;
        std::uint32_t expected[6];
    };
    const Case cases[] = {
        {0, {0x1020, 0x1FFC, 0x5000, 0x1020, 0x0040, 0x1000}},  // the last word is cut by the table's end
        {602, {0x1010, 0x1FFC, 0x5000, 0x1020, 0x0040, 0x1000}},  // the first by the run's start
    };
    const std::string bytes = PatchLayoutBytes(plan);
    PatchLayout layout;
    ReferenceSites sites;
    BufferPatchBase base(old.data(), old.size());
    ASSERT_TRUE(ReadLayout(bytes, layout));
    ASSERT_TRUE(sites.reset(1000) && FindReferenceSites(layout, base, 1000, sites));
    for (const Case& c : cases) {
        const PatchRun run{c.runStart, 1000, c.runStart};
        Bytes whole(old.begin() + c.runStart, old.end()), pieces = whole;
        ASSERT_TRUE(PredictReferences(layout, sites, base, run, c.runStart, whole.data(), whole.size()));
        for (std::uint32_t at = c.runStart; at < 1000; ++at)
            ASSERT_TRUE(PredictReferences(layout, sites, base, run, at, &pieces[at - c.runStart], 1));
        EXPECT_TRUE(whole == pieces) << c.runStart;
        Bytes result = old;
        std::copy(whole.begin(), whole.end(), result.begin() + c.runStart);
        for (std::uint32_t i = 0; i < 6; ++i) {
            std::uint32_t v = 0;
            std::memcpy(&v, &result[600 + 4 * i], 4);
            EXPECT_EQ(v, c.expected[i]) << c.runStart << ", word " << i;
        }
    }
}

// Pointers at the given old RVAs (the old file's table at 0x3000 names them,
// a block per page), moves 0x1100 +16 and 0x2000 -8, a table of `room` bytes:
// the predicted relocation table in ascending order (u32 words: page, size, two u16 entries of
// type 3 each, the first in the low half) stands in the old table's bytes,
// alike whether predicted whole or a byte at a time; the bytes after it stay.
TEST(PatchReferences, TheRelocationTableIsPredictedFromThePointersAtTheirNewPlaces) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> pointers;  // old RVAs, ascending
        std::uint32_t room;                   // the old table's size
        std::vector<std::uint32_t> table;     // predicted, as u32 words
        std::uint32_t flags = kLayoutRelocations;
    };
    const Case cases[] = {
        {"one unmoved, one moved", {0x1008, 0x1100}, 64, {0x1000, 12, 0x3110u << 16 | 0x3008}},
        {"an odd count closed by a zero entry", {0x1200}, 64, {0x1000, 12, 0x3210}},
        {"moved onto the next page", {0x1200, 0x1FF8}, 64, {0x1000, 12, 0x3210, 0x2000, 12, 0x3008}},
        {"moved onto the page before", {0x2004, 0x2010}, 64, {0x1000, 12, 0x3FFC, 0x2000, 12, 0x3008}},
        {"swapped by their moves: sorted", {0x1FFC, 0x2004}, 64, {0x1000, 12, 0x3FFC, 0x2000, 12, 0x300C}},
        {"a second block past the table's end", {0x1F00, 0x1FF4, 0x1FF8}, 16, {0x1000, 12, 0x3F10}},
        {"a block cut by the table's end", {0x1008, 0x1010, 0x1FF0, 0x1FF4, 0x1FF8, 0x1FFC}, 26,
         {0x1000, 12, 0x3010u << 16 | 0x3008, 0x2000, 12, 0x3004u << 16 | 0x3000}},
        {"two entries filling the table", {0x1200, 0x1300}, 12, {0x1000, 12, 0x3310u << 16 | 0x3210}},
        {"without the flag", {0x1200}, 64, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes old(0x3100, 0xEE), table;
        for (std::size_t i = 0; i < c.pointers.size();) {
            const std::uint32_t page = c.pointers[i] & ~0xFFFu;
            const std::size_t head = table.size();
            Append(table, page, 4);
            Append(table, 0, 4);
            for (; i < c.pointers.size() && (c.pointers[i] & ~0xFFFu) == page; ++i) Append(table, 0x3000 | (c.pointers[i] & 0xFFF), 2);
            if ((table.size() - head) % 4) Append(table, 0, 2);
            Put(table, head + 4, table.size() - head, 4);
        }
        ASSERT_LE(table.size(), c.room);
        std::copy(table.begin(), table.end(), old.begin() + 0x3000);
        LayoutPlan plan;
        plan.pointerWidth = 4;
        plan.flags = c.flags;
        plan.relocOffset = 0x3000;
        plan.relocSize = c.room;
        plan.oldSections = plan.newSections = {{0, 0x1000, 0x1000, 0}, {0x1000, 0x1000, 0x2000, 0}, {0x2000, 0x1000, 0x3000, 0}};
        plan.moves = {{0x1100, 16}, {0x2000, -8}};
        const std::string bytes = PatchLayoutBytes(plan);
        PatchLayout layout;
        ReferenceSites sites;
        BufferPatchBase base(old.data(), old.size());
        ASSERT_TRUE(ReadPatchLayout(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0x3100, 0x3100, layout));
        ASSERT_TRUE(sites.reset(0x3100) && FindReferenceSites(layout, base, 0x3100, sites));
        const PatchRun run{0x2F00, 0x3100, 0x2F00};
        Bytes whole(old.begin() + 0x2F00, old.end()), pieces = whole;
        ASSERT_TRUE(PredictReferences(layout, sites, base, run, 0x2F00, whole.data(), whole.size()));
        for (std::uint32_t at = 0x2F00; at < 0x3100; ++at)
            ASSERT_TRUE(PredictReferences(layout, sites, base, run, at, &pieces[at - 0x2F00], 1));
        EXPECT_TRUE(whole == pieces);
        Bytes expected(old.begin() + 0x2F00, old.end());
        for (std::size_t i = 0; i < c.table.size(); ++i) Put(expected, 0x100 + 4 * i, c.table[i], 4);
        EXPECT_TRUE(whole == expected);
    }
}

// Release 2 of the made-up 32-bit program moved its pointers, so the linker
// rebuilt its relocation table: the patch the maker sends predicts it, comes
// out exactly in any pieces, and is smaller than the best one without the
// prediction (which the hook has the maker send by spoiling the others).
TEST(PatchReferences, ARebuiltRelocationTableMakesTheSmallerPatch) {
    const Bytes old = Program(false, 1), next = Program(false, 2);
    static bool spoil;
    gPatchMadeHook = [](std::string& patch) {
        // PAT3 both times: the prediction's gain without the streams'.
        if (patch.substr(0, 4) != "PAT3" || (spoil && (LayoutFlags(patch) & kLayoutRelocations))) patch[19] ^= 1;
    };
    std::string patch, without;
    spoil = false;
    ASSERT_EQ(MakePatch(old, next, patch), MadePatch::Made);
    spoil = true;
    ASSERT_EQ(MakePatch(old, next, without), MadePatch::Made);
    gPatchMadeHook = nullptr;
    EXPECT_EQ(LayoutFlags(patch), kLayoutRelocations);
    EXPECT_EQ(LayoutFlags(without) & kLayoutRelocations, 0u);
    EXPECT_LT(double(patch.size()), 0.9 * double(without.size())) << patch.size() << " against " << without.size();
    for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(4093), std::size_t(65536), patch.size()}) {
        Built built;
        ApplyInPieces(old, patch, piece, built);
        EXPECT_TRUE(built.bytes == next) << "in pieces of " << piece;
    }
}

}  // namespace

// Instructions back to back and where the scan's 64 KiB pieces begin, in a
// code section of 128 KiB at RVA 0x1000 (data at 0x21000): each operand is
// found, whether the opcode or ModRM byte that gives it away comes right after
// another reference or among a piece's first bytes.
TEST(PatchReferences, X64OperandsAreFoundBackToBackAndAtThePiecesOfTheScan) {
    const Bytes call = {0xE8}, lea = {0x48, 0x8D, 0x0D}, callMemory = {0xFF, 0x15}, movsd = {0xF2, 0x44, 0x0F, 0x10, 0x05};
    struct Case {
        const char* what;
        std::vector<std::pair<std::uint32_t, Bytes>> code;  // offset in the file, opcode up to the operand
    };
    const Case cases[] = {
        {"lea at the section's start", {{0, lea}}},
        {"call, then lea and call [rip+d]", {{100, call}, {105, lea}, {112, callMemory}}},
        {"call, then movsd", {{200, call}, {205, movsd}}},
        {"lea where the second piece starts", {{65536, lea}}},
        {"call across the pieces, then lea", {{65534, call}, {65539, lea}}},
    };
    for (const Case& c : cases) {
        Bytes old(0x21000, 0);
        std::vector<std::uint32_t> expected, found;
        for (const auto& [at, opcode] : c.code) {
            std::copy(opcode.begin(), opcode.end(), old.begin() + at);
            const std::uint32_t site = at + std::uint32_t(opcode.size()), target = opcode == call ? 0x1080 : 0x21010;
            Put(old, site, target - (0x1000 + site + 4), 4);
            expected.push_back(site);
        }
        LayoutPlan plan;
        plan.pointerWidth = 8;
        plan.flags = kLayoutRipRelative;
        plan.imageSize = 0x30000;
        plan.oldSections = plan.newSections = {{0, 0x20000, 0x1000, 1}, {0x20000, 0x1000, 0x21000, 0}};
        const std::string bytes = PatchLayoutBytes(plan);
        PatchLayout layout;
        ReferenceSites sites;
        BufferPatchBase base(old.data(), old.size());
        const auto size = std::uint32_t(old.size());
        ASSERT_TRUE(ReadPatchLayout(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), size, size, layout));
        ASSERT_TRUE(sites.reset(size) && FindReferenceSites(layout, base, size, sites));
        for (std::uint32_t at = sites.next(0, 0x21000); at < 0x21000; at = sites.next(at + 1, 0x21000))
            if (sites.at(true, at) || sites.at(false, at)) found.push_back(at);
        EXPECT_EQ(found, expected) << c.what;
    }
}
