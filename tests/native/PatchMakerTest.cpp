// The patch maker with the applier: patches of bases larger than the
// applier's window come out exactly, a patch that does not give the new file
// is never handed out, repetitive data takes seconds rather than minutes, and
// a patch that jumps about reads no more of the old file than it uses.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "common/PatchSupport.h"
#include "archive/Patch.h"
#include "tools/mkupdate/PatchMaker.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Random(std::size_t size, std::mt19937& rng) {
    Bytes data(size);
    for (unsigned char& b : data) b = static_cast<unsigned char>(rng());
    return data;
}

// An old file read from memory, counting what is read.
class CountingBase final : public PatchBase {
public:
    explicit CountingBase(const Bytes& data) : inner_(data.data(), data.size()) {}
    std::int64_t size() override { return inner_.size(); }
    bool read(std::int64_t position, unsigned char* buffer, std::size_t count) override {
        bytesRead += count;
        return inner_.read(position, buffer, count);
    }
    std::uint64_t bytesRead = 0;

private:
    BufferPatchBase inner_;
};

class Collect final : public ByteSink {
public:
    bool put(const unsigned char* data, std::size_t count) override {
        bytes.insert(bytes.end(), data, data + count);
        return true;
    }
    Bytes bytes;
};

// Applies `patch` to `oldData` in pieces of 1000 bytes; the bytes of the old file it read (after its CRC-32).
PatchOutcome Apply(const Bytes& oldData, const std::string& patch, Bytes& out, std::uint64_t& read) {
    CountingBase base(oldData);
    Collect sink;
    PatchApplier applier(&base, sink);
    const auto* data = reinterpret_cast<const unsigned char*>(patch.data());
    for (std::size_t at = 0; at < patch.size(); at += 1000)
        applier.put(data + at, std::min<std::size_t>(1000, patch.size() - at));
    PatchOutcome outcome = applier.finish();
    if (outcome != PatchOutcome::Built) ADD_FAILURE() << applier.problem() << " after " << applier.written();
    out = sink.bytes;
    read = base.bytesRead - oldData.size();
    return outcome;
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
        SCOPED_TRACE(c.what);
        std::string patch;
        ASSERT_EQ(MakePatch(c.oldData, c.newData, patch), MadePatch::Made);
        EXPECT_LE(double(patch.size()), c.atMostOfNew * double(c.newData.size()) + 64);
        Bytes out;
        std::uint64_t read = 0;
        ASSERT_EQ(Apply(c.oldData, patch, out, read), PatchOutcome::Built);
        EXPECT_TRUE(out == c.newData);
        EXPECT_LE(read, 2 * c.newData.size() + 64 * 1024);
    }
}

TEST(PatchMaker, NeverHandsOutAPatchThatDoesNotGiveTheNewFile) {
    std::mt19937 rng(6);
    const Bytes old = Random(100 * 1024, rng);
    Bytes changed = old;
    changed[777] ^= 1;
    // A byte of the header's CRC-32 of the new file, one in the middle of the records, the last one.
    static std::size_t corruptAt;
    gPatchMadeHook = [](std::string& patch) { patch[std::min(corruptAt, patch.size() - 1)] ^= 0x10; };
    for (std::size_t at : {std::size_t(19), std::size_t(40), std::size_t(-1)}) {
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
TEST(PatchMaker, RepetitiveDataTakesSeconds) {
    std::mt19937 rng(234);
    const Bytes block = Random(512 * 1024, rng);
    Bytes twice = block;
    twice.insert(twice.end(), block.begin(), block.end());
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

// Records of one byte each, alternating between the start and the end of a
// 1 MiB old file: an applier that loads a whole window per jump reads 32 GiB
// (and took seconds for it).
TEST(PatchApplier, AJumpingPatchReadsOnlyWhatItUses) {
    std::mt19937 rng(31);
    const Bytes old = Random(1 << 20, rng);
    const std::string oldText(old.begin(), old.end());
    std::vector<PatchRecord> records;
    std::string expected;
    std::int64_t at = 0;  // the applier's old position
    for (std::int64_t i = 0; i < 512 * 1024; ++i) {
        std::int64_t to = (i % 2 ? 500000 : 0) + i / 2;
        records.push_back({std::string(1, '\x01'), "", std::int32_t(to - at)});
        expected.push_back(char(old[std::size_t(to)] + 1));
        at = to + 1;
    }
    const std::string patch = MakePatch(oldText, expected, records);
    auto start = std::chrono::steady_clock::now();
    Bytes out;
    std::uint64_t read = 0;
    ASSERT_EQ(Apply(old, patch, out, read), PatchOutcome::Built);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(out == Bytes(expected.begin(), expected.end()));
    EXPECT_LE(read, 2 * expected.size());
}

}  // namespace
