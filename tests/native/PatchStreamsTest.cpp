// Patches whose records come in three streams (PAT4): they come out exactly
// whatever the chunks' pieces and the pieces the data comes in, and a chunk
// that is unknown, missing, early, too long or cut makes the patch Damaged.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "common/PatchSupport.h"
#include "tools/mkupdate/PatchStreams.h"

namespace {

struct Sink final : ByteSink {
    bool put(const unsigned char* data, std::size_t count) override {
        return bytes.append(reinterpret_cast<const char*>(data), count), true;
    }
    std::string bytes;
};

PatchOutcome Apply(const std::string& old, const std::string& patch, std::size_t piece, std::string& built) {
    BufferPatchBase base(reinterpret_cast<const unsigned char*>(old.data()), old.size());
    Sink sink;
    PatchApplier applier(&base, sink);
    for (std::size_t at = 0; at < patch.size(); at += piece)
        if (!applier.put(reinterpret_cast<const unsigned char*>(patch.data()) + at, std::min(piece, patch.size() - at))) break;
    built = sink.bytes;
    return applier.finish();
}

// 300 records over a random old file of 200 KB: diff runs of mostly zeros, new
// bytes (one run of 100 KB), seeks back and forth; the new file made as the records say.
struct Pair {
    std::string old, next, records;
};
Pair Records() {
    std::mt19937 rng(38);
    Pair p;
    for (int i = 0; i < 200000; ++i) p.old.push_back(char(rng()));
    std::vector<PatchRecord> records;
    std::int64_t at = 0;
    for (int r = 0; r < 300; ++r) {
        const std::int64_t to = rng() % 190000, length = rng() % 2000;
        PatchRecord record{std::string(std::size_t(length), '\0'), std::string(r == 150 ? 100000 : rng() % 300, 'e'),
                           std::int32_t(to - at)};
        for (std::int64_t i = 0; i < length; i += 1 + rng() % 40) record.diff[std::size_t(i)] = char(rng());
        for (char& c : record.extra) c = char(rng() % 7);
        for (std::int64_t i = 0; i < length; ++i) p.next.push_back(char(p.old[std::size_t(to + i)] + record.diff[std::size_t(i)]));
        p.next += record.extra;
        at = to + length;
        records.push_back(record);
    }
    p.records = ::Records(records);
    return p;
}

PatchHeader HeaderOf(const std::string& old, const std::string& next) {
    return {std::int32_t(old.size()), CrcOf(old), std::int32_t(next.size()), CrcOf(next)};
}

struct Chunk {
    char stream;
    std::string bytes;
};
std::vector<Chunk> ChunksOf(const std::string& patch) {
    std::vector<Chunk> chunks;
    for (std::size_t at = kPatchHeaderSize; at + 5 <= patch.size();) {
        std::uint32_t length = 0;
        ByteReader(reinterpret_cast<const unsigned char*>(patch.data()) + at + 1, 4).readU32(length);
        chunks.push_back({patch[at], patch.substr(at + 5, length)});
        at += 5 + length;
    }
    return chunks;
}
std::string Joined(const std::string& head, const std::vector<Chunk>& chunks) {
    std::string out = head.substr(0, kPatchHeaderSize);
    for (const Chunk& c : chunks) {
        out.push_back(c.stream);
        putU32(out, std::uint32_t(c.bytes.size()));
        out += c.bytes;
    }
    return out;
}

TEST(PatchStreams, ComeOutExactlyWhateverTheChunksAndPieces) {
    const Pair p = Records();
    for (std::size_t chunk : {std::size_t(64), std::size_t(4096), kPatchPiece}) {
        const std::string patch = StreamedPatch(HeaderOf(p.old, p.next), "", p.records, chunk);
        EXPECT_EQ(patch.substr(0, 4), "PAT4");
        for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(4093), std::size_t(65536), patch.size()}) {
            std::string built;
            EXPECT_EQ(Apply(p.old, patch, piece, built), PatchOutcome::Built) << chunk << " " << piece;
            EXPECT_TRUE(built == p.next) << "chunks of " << chunk << ", pieces of " << piece;
        }
    }
}

TEST(PatchStreams, ChunksThatDoNotFitTheRecordsAreRefused) {
    const Pair p = Records();
    const std::string patch = StreamedPatch(HeaderOf(p.old, p.next), "", p.records, 4096);
    const std::vector<Chunk> chunks = ChunksOf(patch);
    ASSERT_GT(chunks.size(), 40u);
    // Two chunks of the extra bytes one after the other with chunks of other streams between them.
    std::vector<std::size_t> extra;
    for (std::size_t i = 0; i < chunks.size(); ++i)
        if (chunks[i].stream == 2) extra.push_back(i);
    std::size_t k = 1;
    while (k < extra.size() && extra[k] == extra[k - 1] + 1) ++k;
    ASSERT_LT(k, extra.size());
    const std::size_t first = extra[k - 1], second = extra[k];
    auto edited = [&](const std::function<void(std::vector<Chunk>&)>& edit) {
        std::vector<Chunk> c = chunks;
        edit(c);
        return Joined(patch, c);
    };
    // What the applier writes from the patch's first `count` chunks.
    auto written = [&](std::size_t count) {
        std::string built;
        Apply(p.old, Joined(patch, std::vector<Chunk>(chunks.begin(), chunks.begin() + std::ptrdiff_t(count))), 7, built);
        return built.size();
    };
    const std::size_t last = chunks.size() - 1, none = p.next.size();
    struct Case {
        const char* what;
        std::string patch;
        std::size_t most;  // what is written at most: no more than the chunks before the fault make
    } cases[] = {
        {"a chunk of an unknown stream", edited([](auto& c) { c.insert(c.begin() + 3, Chunk{3, "x"}); }), written(3)},
        {"an empty chunk where its stream is taken",
         edited([&](auto& c) { c.insert(c.begin() + std::ptrdiff_t(second), Chunk{2, ""}); }), written(second)},
        {"a chunk that never comes", edited([&](auto& c) { c.erase(c.begin() + std::ptrdiff_t(second)); }), written(second)},
        {"a chunk before its stream's last piece is taken", edited([&](auto& c) {
             c.insert(c.begin() + std::ptrdiff_t(first + 1), c[second]);
             c.erase(c.begin() + std::ptrdiff_t(second + 1));
         }), written(first + 1)},
        {"bytes after a stream's end", edited([](auto& c) { c.back().bytes += "x"; }), written(last)},
        {"a stream that does not end", edited([](auto& c) { c.back().bytes.resize(c.back().bytes.size() - 4); }), none},
        {"a chunk after the last", patch + std::string("\0\1\0\0\0\0", 6), none},
        {"a piece of more than 64 KiB", StreamedPatch(HeaderOf(p.old, p.next), "", p.records, 2 * kPatchPiece),
         none - 100000},  // not the run of 100 KB
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t(1), c.patch.size()}) {
            std::string built;
            EXPECT_EQ(Apply(p.old, c.patch, piece, built), PatchOutcome::Damaged) << c.what << ", pieces of " << piece;
            EXPECT_LE(built.size(), c.most) << c.what << ", pieces of " << piece;
        }
    }
    // Cut anywhere.
    for (std::size_t size = 0; size < patch.size(); size += 1 + size / 50) {
        std::string built;
        EXPECT_EQ(Apply(p.old, patch.substr(0, size), 7, built), PatchOutcome::Damaged) << "cut at " << size;
    }
}

// One record of "ABCDEFGHIJKLMNOP" in three chunks: the control stream's bytes as given.
TEST(PatchStreams, ControlNumbersOfAtMostFiveBytesAndThirtyTwoBits) {
    const std::string old = "ABCDEFGHIJKLMNOP";
    struct Case {
        const char* what;
        std::string control, next;
        PatchOutcome expected;
    } cases[] = {
        {"diff 3, extra 2, seek 0", std::string("\3\2\0", 3), "ABDxy", PatchOutcome::Built},
        {"seek -1 (zig-zag 1)", std::string("\3\2\1", 3), "ABDxy", PatchOutcome::Damaged},
        {"seek 3 (zig-zag 6)", std::string("\3\2\6", 3), "DEGxy", PatchOutcome::Built},
        {"diff 3 in five bytes", std::string("\x83\x80\x80\x80\0\2\0", 7), "ABDxy", PatchOutcome::Built},
        {"diff 3 in six bytes", std::string("\x83\x80\x80\x80\x80\0\2\0", 8), "ABDxy", PatchOutcome::Damaged},
        {"extra length above 32 bits", std::string("\3\x82\x80\x80\x80\x10\0", 7), "ABDxy", PatchOutcome::Damaged},
        {"a record cut short", std::string("\3\2", 2), "ABDxy", PatchOutcome::Damaged},
    };
    auto z = [](const std::string& s) { return CompressZlib(s.data(), s.size(), 9); };
    for (const Case& c : cases) {
        PatchHeader header = HeaderOf(old, c.next);
        header.streams = true;
        // No layout, then the control numbers; the tokens of (0, 0, 1); the extra bytes.
        const std::string patch =
            Joined(PatchHeaderBytes(header), {{0, z(std::string(4, '\0') + c.control)}, {1, z("\2\1")}, {2, z("xy")}});
        std::string built;
        EXPECT_EQ(Apply(old, patch, 1, built), c.expected) << c.what;
        EXPECT_TRUE(c.expected != PatchOutcome::Built || built == c.next) << c.what;
    }
}

}  // namespace
