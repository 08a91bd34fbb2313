// Fuzz target: the reader of patch entries. The input is a patch's data,
// applied to a fixed old file of 4096 bytes (the pattern that make_seeds.py
// writes its seeds against), fed in pieces whose size the first byte chooses.
// Whatever the input: the new file never grows past the size its header
// gives; a patch that builds has exactly that size and CRC-32; reading the
// input in other pieces comes to the same; and the structure-only reading
// (mkupdate test) accepts every patch that builds.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/Patch.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 16;
constexpr std::size_t kOldSize = 4096;

std::vector<unsigned char> OldFile() {
    std::vector<unsigned char> old(kOldSize);
    for (std::size_t i = 0; i < kOldSize; ++i) old[i] = static_cast<unsigned char>((i * 7 + i / 256) & 0xFF);
    return old;
}

class CheckedSink final : public ByteSink {
public:
    bool put(const unsigned char* data, std::size_t count) override {
        crc = Crc32(crc, data, count);
        total += count;
        return true;
    }
    std::uint32_t crc = 0;
    std::uint64_t total = 0;
};

struct Verdict {
    PatchOutcome outcome;
    std::uint64_t written;
    std::uint32_t crc;
};

Verdict Apply(PatchBase* base, const std::uint8_t* data, std::size_t size, std::size_t piece) {
    CheckedSink sink;
    PatchApplier applier(base, sink);
    for (std::size_t at = 0; at < size; at += piece)
        if (!applier.put(data + at, std::min(piece, size - at))) break;
    PatchOutcome outcome = applier.finish();
    Require(sink.total == applier.written(), "the applier counts what it hands on");
    Require(outcome == PatchOutcome::Built || *applier.problem() != 0, "a refused patch says why");
    if (applier.header().newSize >= 0 && size >= 20)
        Require(sink.total <= std::uint64_t(applier.header().newSize) || outcome != PatchOutcome::Built,
                "a built file has no more bytes than the header gives");
    if (outcome == PatchOutcome::Built)
        Require(sink.total == std::uint64_t(applier.header().newSize), "a built file has the header's size");
    return {outcome, sink.total, sink.crc};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > kMaxInput) return 0;
    std::size_t piece = std::size_t(data[0]) * 61 + 1;
    const std::uint8_t* patch = data + 1;
    std::size_t length = size - 1;
    static const std::vector<unsigned char> old = OldFile();

    BufferPatchBase base(old.data(), old.size());
    Verdict whole = Apply(&base, patch, length, std::max<std::size_t>(length, 1));
    Verdict pieces = Apply(&base, patch, length, piece);
    Require(whole.outcome == pieces.outcome && whole.written == pieces.written && whole.crc == pieces.crc,
            "the pieces the data comes in change nothing");
    Verdict structure = Apply(nullptr, patch, length, piece);
    if (whole.outcome == PatchOutcome::Built) {
        PatchHeader header;
        Require(ReadPatchHeader(patch, length, header) && whole.crc == header.newCrc, "a built file has the header's CRC-32");
        Require(structure.outcome == PatchOutcome::Built, "the structure check accepts what builds");
    }
    return 0;
}
