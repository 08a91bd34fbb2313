// Inflation through fixed buffers: the same outcomes and messages as the
// whole-segment inflation, for every kind of stream, whatever the size of a
// segment, and the whole-entry walk that extraction and the run's check use.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "TestSupport.h"
#include "archive/Archive.h"
#include "archive/ArchiveWriter.h"
#include "archive/Decompress.h"
#include "base/ByteReader.h"

namespace {

const char* const kAbcStream = "78 9C 4B 4C 4A 06 00 02 4D 01 27";

// Serves bytes from memory; `limit` of them at most, then reports the end.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string bytes, std::size_t limit = std::string::npos)
        : bytes_(std::move(bytes)), limit_(std::min(limit, bytes_.size())) {}
    bool read(unsigned char* buffer, std::size_t count) override {
        if (at_ + count > limit_) return false;
        bytes_.copy(reinterpret_cast<char*>(buffer), count, at_);
        at_ += count;
        reads_ += 1;
        return true;
    }
    int reads() const { return reads_; }

private:
    std::string bytes_;
    std::size_t limit_;
    std::size_t at_ = 0;
    int reads_ = 0;
};

// Collects what it is given; refuses once it holds `capacity` bytes.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::size_t capacity = std::string::npos) : capacity_(capacity) {}
    bool put(const unsigned char* data, std::size_t count) override {
        if (bytes.size() + count > capacity_) return false;
        bytes.append(reinterpret_cast<const char*>(data), count);
        largestPiece = std::max(largestPiece, count);
        return true;
    }
    std::string bytes;
    std::size_t largestPiece = 0;

private:
    std::size_t capacity_;
};

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919) >> 5 ^ (i % 13));
    return bytes;
}

// What decompressBuffer makes of a stream: its bytes, or "!" and the message.
std::string WholeSegment(const std::string& stream) {
    std::vector<unsigned char> out;
    std::string message = MessageOf([&] {
        decompressBuffer(reinterpret_cast<const unsigned char*>(stream.data()), std::int32_t(stream.size()), 0, out);
    });
    return message == "(no error)" ? std::string(out.begin(), out.end()) : "!" + message;
}

std::string ThroughInflater(SegmentInflater& inflater, const std::string& stream) {
    MemorySource source(stream);
    MemorySink sink;
    InflateResult result = InflateResult::Complete;
    std::string message = MessageOf([&] { result = inflater.inflate(source, std::int32_t(stream.size()), sink); });
    if (message != "(no error)") return "!" + message;
    return result == InflateResult::Complete ? sink.bytes : "!incomplete";
}

}  // namespace

TEST(SegmentInflaterTest, AgreesWithWholeSegmentInflationOnEveryStream) {
    std::string large = Pattern(3'000'000);
    std::string largeStream = CompressZlib(large.data(), large.size());
    std::string damagedLarge = largeStream;
    damagedLarge[damagedLarge.size() / 2] ^= 0x21;
    struct Case {
        const char* what;
        std::string stream;
    } cases[] = {
        {"stream of no data", Hex("78 9C 03 00 00 00 00 01")},
        {"abc", Hex(kAbcStream)},
        {"trailing bytes ignored", Hex(kAbcStream) + "garbage"},
        {"last byte missing", Hex(kAbcStream).substr(0, 10)},
        {"adler altered", Hex("78 9C 4B 4C 4A 06 00 02 4D 01 28")},
        {"bad header", Hex("78 9D 4B 4C 4A 06 00 02 4D 01 27")},
        {"zero length", ""},
        {"preset dictionary", Hex("78 BB 00 00 00 01 4B 4C 4A 06 00")},
        {"3 MB in many pieces", largeStream},
        {"3 MB damaged in the middle", damagedLarge},
        {"3 MB cut short", largeStream.substr(0, largeStream.size() - 100)},
    };
    // One inflater for all: every segment is a stream of its own.
    SegmentInflater inflater;
    for (const Case& c : cases) {
        std::string expected = WholeSegment(c.stream);
        EXPECT_EQ(ThroughInflater(inflater, c.stream), expected) << c.what;
    }
    EXPECT_EQ(WholeSegment(largeStream), large);
}

TEST(SegmentInflaterTest, OutputComesInBoundedPiecesAndInputIsReadPiecewise) {
    std::string content = Pattern(5'000'000);
    std::string stream = CompressZlib(content.data(), content.size(), 1);
    SegmentInflater inflater;
    MemorySource source(stream);
    MemorySink sink;
    ASSERT_EQ(inflater.inflate(source, std::int32_t(stream.size()), sink), InflateResult::Complete);
    EXPECT_TRUE(sink.bytes == content);
    EXPECT_LE(sink.largestPiece, 256u * 1024u);
    EXPECT_GT(source.reads(), 1);
}

TEST(SegmentInflaterTest, ShortSourceAndRefusingSinkEndTheSegment) {
    std::string content = Pattern(400'000);
    std::string stream = CompressZlib(content.data(), content.size());
    SegmentInflater inflater;
    MemorySource shortSource(stream, stream.size() / 2);
    MemorySink sink;
    EXPECT_EQ(inflater.inflate(shortSource, std::int32_t(stream.size()), sink), InflateResult::InputShort);

    MemorySource source(stream);
    MemorySink smallSink(1000);
    EXPECT_EQ(inflater.inflate(source, std::int32_t(stream.size()), smallSink), InflateResult::NotTaken);

    // The inflater is still good for the next segment.
    EXPECT_EQ(ThroughInflater(inflater, stream), content);
}

namespace {

class StreamEntryTest : public ::testing::Test {
protected:
    // One entry "big" of `content` in segments of `split` bytes (0: one segment).
    std::string writeArchive(const std::string& content, std::size_t split) {
        std::ostringstream out;
        ArchiveWriter writer(out, 0);
        writer.declare("big", Stamp(2024, 3, 15, 14, 30, 10));
        writer.addContent(0, content, split == 0 ? content.size() + 1 : split);
        writer.finish(false);
        WriteBytes(dir / "a.vpa", out.str());
        return out.str();
    }

    StreamResult stream(MemorySink& sink) {
        TArchive archive;
        archive.openFile(dir / "a.vpa");
        SegmentInflater inflater;
        return archive.streamEntry(0, sink, inflater);
    }

    TempFolder dir;
};

}  // namespace

TEST_F(StreamEntryTest, WalksEverySegmentOfAnEntry) {
    std::string content = Pattern(2'500'000);
    for (std::size_t split : {std::size_t(0), std::size_t(1) << 20, std::size_t(70'000)}) {
        writeArchive(content, split);
        MemorySink sink;
        ASSERT_EQ(stream(sink), StreamResult::Complete) << split;
        EXPECT_TRUE(sink.bytes == content) << split;
    }
}

TEST_F(StreamEntryTest, CutShortRefusedAndDamagedEntries) {
    std::string content = Pattern(300'000);
    std::string bytes = writeArchive(content, 100'000);

    MemorySink refusing(150'000);
    EXPECT_EQ(stream(refusing), StreamResult::NotTaken);

    WriteBytes(dir / "a.vpa", bytes.substr(0, bytes.size() - 10));
    MemorySink cut;
    EXPECT_EQ(stream(cut), StreamResult::Unreadable);

    // The first segment's stream begins behind the directory (12 + 20 + 3 bytes) and its length.
    std::string damaged = bytes;
    damaged[35 + 4 + 10] ^= 0x44;
    WriteBytes(dir / "a.vpa", damaged);
    MemorySink sink;
    EXPECT_EQ(MessageOf([&] { stream(sink); }), "data error");
}

TEST_F(StreamEntryTest, SingleSegmentOfSeveralMegabytesExtracts) {
    std::string content = Pattern(6'000'000);
    writeArchive(content, 0);
    TArchive archive;
    archive.openFile(dir / "a.vpa");
    ASSERT_TRUE(archive.extractFile(0, dir / "big.bin"));
    EXPECT_TRUE(ReadBytes(dir / "big.bin") == content);
    EXPECT_EQ(ListFolder(dir.path()), "a.vpa big.bin");
}
