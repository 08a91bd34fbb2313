// The patch maker with the applier: patches of bases larger than the
// applier's window come out exactly, a patch that does not give the new file
// is never handed out, repetitive data takes a moment, and a patch that jumps
// about reads no more of the old file than it uses.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>

#include "common/PatchSupport.h"
#include "tools/mkupdate/PatchMaker.h"
#include "tools/mkupdate/PatchStreams.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Random(std::size_t size, std::mt19937& rng) {
    Bytes data(size);
    for (unsigned char& b : data) b = static_cast<unsigned char>(rng());
    return data;
}

// An old file in memory that counts the bytes read from it, and the new file built.
struct Counted final : PatchBase, ByteSink {
    explicit Counted(const Bytes& old) : base(old.data(), old.size()) {}
    std::int64_t size() override { return base.size(); }
    bool read(std::int64_t at, unsigned char* buffer, std::size_t count) override {
        return ++reads, bytesRead += count, base.read(at, buffer, count);
    }
    bool put(const unsigned char* data, std::size_t count) override { return built.insert(built.end(), data, data + count), true; }
    BufferPatchBase base;
    std::uint64_t bytesRead = 0, reads = 0;  // a read is a seek and a read of the installed file
    Bytes built;
};

// Applies `patch` in pieces of 1000 bytes; true when it built `expected` reading at most
// twice its size from the old file (besides the CRC-32 check).
bool AppliesReadingLittle(const Bytes& old, const std::string& patch, const Bytes& expected) {
    Counted counted(old);
    PatchApplier applier(&counted, counted);
    for (std::size_t at = 0; at < patch.size(); at += 1000)
        applier.put(reinterpret_cast<const unsigned char*>(patch.data()) + at, std::min<std::size_t>(1000, patch.size() - at));
    EXPECT_EQ(applier.finish(), PatchOutcome::Built) << applier.problem();
    EXPECT_LE(counted.bytesRead - old.size(), 2 * expected.size() + 64 * 1024);
    return counted.built == expected;
}

// Patches of `records` diff runs of `length` bytes, each from old[place(i)] on
// and adding 1: the reads of the old file (the CRC-32 check's included) stay
// within the patch's bytes P plus one per 4 KiB of the new file and of the
// old one (its CRC-32), whatever the record count.
TEST(PatchApplier, ReadsOfTheOldFileGrowWithThePatchAndTheFilesNotWithTheRecords) {
    std::mt19937 rng(17);
    const Bytes old = Random(1 << 20, rng);
    const std::string oldText(old.begin(), old.end());
    struct Case {
        const char* what;
        std::int64_t records, length;
        std::function<std::int64_t(std::int64_t)> place;
    } cases[] = {
        {"a byte at a time, in order", 1 << 20, 1, [](std::int64_t i) { return i; }},
        {"a byte from each of 16 places in turn", 1 << 20, 1, [](std::int64_t i) { return i % 16 * 65536 + i / 16; }},
        {"a byte from anywhere", 100000, 1, [&](std::int64_t) { return std::int64_t(rng() % old.size()); }},
        {"runs of 100,000 bytes, backwards", 10, 100000, [](std::int64_t i) { return (9 - i) * 100000; }},
    };
    for (const Case& c : cases) {
        std::vector<PatchRecord> records;
        std::string expected;
        for (std::int64_t i = 0, at = 0; i < c.records; ++i) {
            const std::int64_t from = c.place(i);
            records.push_back({std::string(std::size_t(c.length), '\x01'), "", std::int32_t(from - at)});
            for (std::int64_t k = 0; k < c.length; ++k) expected.push_back(static_cast<char>(old[std::size_t(from + k)] + 1));
            at = from + c.length;
        }
        // As 12-byte records (PAT1) and in streams (PAT4).
        const PatchHeader header{std::int32_t(old.size()), CrcOf(oldText), std::int32_t(expected.size()), CrcOf(expected)};
        for (const std::string& patch : {MakePatch(oldText, expected, records), StreamedPatch(header, "", Records(records))}) {
            Counted counted(old);
            PatchApplier applier(&counted, counted);
            applier.put(reinterpret_cast<const unsigned char*>(patch.data()), patch.size());
            EXPECT_EQ(applier.finish(), PatchOutcome::Built) << c.what;
            EXPECT_TRUE(std::string(counted.built.begin(), counted.built.end()) == expected) << c.what;
            EXPECT_LE(counted.reads, patch.size() + expected.size() / 4096 + old.size() / 4096 + 4)
                << c.what << ": a patch of " << patch.size() << " bytes, " << patch.substr(0, 4);
        }
    }
}

TEST(PatchMaker, RoundTripsBasesLargerThanTheWindow) {
    std::mt19937 rng(28);
    const Bytes old = Random(300 * 1024, rng);
    Bytes edited = old;
    for (std::size_t at = 5000; at < edited.size(); at += 9973) edited[at] ^= 0x5A;
    edited.insert(edited.begin() + 100000, 3000, 'x');
    edited.erase(edited.begin() + 200000, edited.begin() + 210000);
    Bytes swapped(old.begin() + 150000, old.end());
    swapped.insert(swapped.end(), old.begin(), old.begin() + 150000);
    struct Case {
        const char* what;
        Bytes oldData, newData;
        double atMostOfNew;  // the patch's size, a fraction of the new file
    } cases[] = {
        {"scattered bytes, an insertion, a deletion", old, edited, 0.05},
        {"halves swapped (a jump back)", old, swapped, 0.01},
        {"unrelated data", old, Random(200 * 1024, rng), 1.01},
        {"empty old file", {}, Random(70 * 1024, rng), 1.01},
        {"empty new file", old, {}, 1.0},
    };
    for (const Case& c : cases) {
        std::string patch;
        ASSERT_EQ(MakePatch(c.oldData, c.newData, patch), MadePatch::Made) << c.what;
        EXPECT_LE(double(patch.size()), c.atMostOfNew * double(c.newData.size()) + 64) << c.what;
        EXPECT_TRUE(AppliesReadingLittle(c.oldData, patch, c.newData)) << c.what;
    }
}

// PAT2 diff runs as tokens, fed whole and byte by byte: ABC + (0, 0, 1) = ABD.
TEST(PatchApplier, ReadsSparseDiffTokens) {
    const std::string old = "ABCDEFGHIJKLMNOP";
    const Bytes oldBytes(old.begin(), old.end());
    struct Case {
        std::string tokens;  // for a diff run of 3 bytes, then "xy"
        bool built;
    } cases[] = {
        {std::string("\2\1", 2), true},              // two zeros, then 1
        {std::string("\0\0\0\0\0\1", 6), true},  // each byte a token of its own
        {std::string("\3\1", 2), false},             // four bytes for a run of three
        {std::string("\xFF", 1), false},              // 255 zeros
    };
    for (const Case& c : cases) {
        PatchHeader h{std::int32_t(old.size()), CrcOf(old), 5, CrcOf("ABDxy"), true};
        std::string body = Records({{std::string(3, '?'), "xy", 0}});
        body.replace(12, 3, c.tokens);
        std::string patch = PatchHeaderBytes(h) + CompressZlib(body.data(), body.size(), 9);
        for (std::size_t piece : {patch.size(), std::size_t(1)}) {
            Counted counted(oldBytes);
            PatchApplier applier(&counted, counted);
            for (std::size_t at = 0; at < patch.size(); at += piece)
                applier.put(reinterpret_cast<const unsigned char*>(patch.data()) + at, std::min(piece, patch.size() - at));
            EXPECT_EQ(applier.finish() == PatchOutcome::Built, c.built) << c.tokens.size() << " " << piece;
            if (c.built) EXPECT_EQ(std::string(counted.built.begin(), counted.built.end()), "ABDxy");
        }
    }
}

// A byte of the header's CRC-32 of the old file, one of that of the new file,
// the last one (zlib's checksum of the records). A flipped bit inside the
// deflated data may leave the records as they were: no such case here.
TEST(PatchMaker, NeverHandsOutAPatchThatDoesNotGiveTheNewFile) {
    std::mt19937 rng(6);
    const Bytes old = Random(100 * 1024, rng);
    Bytes changed = old;
    changed[777] ^= 1;
    static std::size_t corruptAt;
    gPatchMadeHook = [](std::string& patch) { patch[std::min(corruptAt, patch.size() - 1)] ^= 0x10; };
    for (std::size_t at : {std::size_t(8), std::size_t(19), std::size_t(-1)}) {
        corruptAt = at;
        std::string patch;
        EXPECT_EQ(MakePatch(old, changed, patch), MadePatch::WrongResult) << at;
        EXPECT_TRUE(patch.empty());
    }
    gPatchMadeHook = nullptr;
    std::string patch;
    EXPECT_EQ(MakePatch(old, changed, patch), MadePatch::Made);
}

// The old file a block and a copy of it with five bytes changed; the new one
// the block twice, or the old one's halves swapped. Percival's search took
// minutes for these: at each position the best match, not much longer than
// the current alignment's, ran on to the next changed byte.
TEST(PatchMaker, RepetitiveDataTakesAMoment) {
    std::mt19937 rng(234);
    Bytes twice = Random(512 * 1024, rng);
    twice.insert(twice.end(), twice.begin(), twice.end());
    Bytes old = twice;
    for (std::size_t at : {600000, 700000, 800000, 900000, 1000000}) old[at] ^= 0xFF;
    Bytes swapped(old.begin() + 512 * 1024, old.end());
    swapped.insert(swapped.end(), old.begin(), old.begin() + 512 * 1024);
    for (const Bytes* newData : {&twice, &swapped}) {
        auto start = std::chrono::steady_clock::now();
        std::string patch;
        EXPECT_EQ(MakePatch(old, *newData, patch), MadePatch::Made);
        EXPECT_LT(patch.size(), 4096u);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
}

// Records of one byte each, alternating between two places 500,000 bytes
// apart in a 1 MiB old file: an applier that loads a whole window per jump
// reads 32 GiB (and took seconds for it).
TEST(PatchApplier, AJumpingPatchReadsOnlyWhatItUses) {
    std::mt19937 rng(31);
    const Bytes old = Random(1 << 20, rng);
    std::vector<PatchRecord> records;
    Bytes expected;
    for (std::int64_t i = 0, at = 0; i < 512 * 1024; ++i) {
        std::int64_t to = (i % 2 ? 500000 : 0) + i / 2;
        records.push_back({std::string(1, '\x01'), "", std::int32_t(to - at)});
        expected.push_back(static_cast<unsigned char>(old[std::size_t(to)] + 1));
        at = to + 1;
    }
    const std::string patch = MakePatch(std::string(old.begin(), old.end()), std::string(expected.begin(), expected.end()), records);
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(AppliesReadingLittle(old, patch, expected));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
