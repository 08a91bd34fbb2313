// Fuzz target: the inflation of one segment, compared with zlib driven
// directly and with the streaming inflater that extraction uses. The first
// byte chooses the initial output size (0: the function chooses), the rest is
// the segment. Whatever zlib inflates completely must come out byte for byte;
// whatever it refuses must raise EZDecompressionError, with the same message
// from both inflaters.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

#include "archive/Decompress.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 16;

// zlib's own verdict: true with the whole output when the stream ends properly.
bool ReferenceInflate(const std::uint8_t* input, std::size_t count, std::string& out) {
    z_stream s = {};
    if (inflateInit(&s) != Z_OK) return false;
    s.next_in = const_cast<Bytef*>(input);
    s.avail_in = static_cast<uInt>(count);
    std::vector<unsigned char> chunk(1 << 16);
    int rc = Z_OK;
    for (;;) {
        s.next_out = chunk.data();
        s.avail_out = static_cast<uInt>(chunk.size());
        rc = inflate(&s, Z_NO_FLUSH);
        out.append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - s.avail_out);
        if (rc != Z_OK) break;
        if (s.avail_out != 0 && s.avail_in == 0) {
            rc = Z_BUF_ERROR;  // the input ended before the stream did
            break;
        }
    }
    inflateEnd(&s);
    return rc == Z_STREAM_END;
}

class MemorySource final : public ByteSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool read(unsigned char* buffer, std::size_t count) override {
        if (count > size_ - at_) return false;
        std::copy(data_ + at_, data_ + at_ + count, buffer);
        at_ += count;
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_, at_ = 0;
};

class StringSink final : public ByteSink {
public:
    bool put(const unsigned char* data, std::size_t count) override {
        bytes.append(reinterpret_cast<const char*>(data), count);
        return true;
    }
    std::string bytes;
};

// The streaming inflater's verdict: its bytes, or the message it raised.
bool StreamInflate(const std::uint8_t* input, std::size_t count, std::string& out, std::string& message) {
    MemorySource source(input, count);
    StringSink sink;
    SegmentInflater inflater;
    try {
        InflateResult result = inflater.inflate(source, static_cast<std::int32_t>(count), sink);
        Require(result == InflateResult::Complete, "a segment held in memory is never short");
    } catch (const EZDecompressionError& e) {
        message = e.what();
        return false;
    }
    out = sink.bytes;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > kMaxInput) return 0;
    std::int32_t initialSize = data[0] < 0x80 ? 0 : (data[0] - 0x80) * 7;
    const std::uint8_t* segment = data + 1;
    std::size_t length = size - 1;

    std::string expected;
    bool sound = ReferenceInflate(segment, length, expected);
    std::vector<unsigned char> output;
    bool raised = false;
    std::string message;
    try {
        decompressBuffer(segment, static_cast<std::int32_t>(length), initialSize, output);
    } catch (const EZDecompressionError& e) {
        raised = true;
        message = e.what();
        Require(!message.empty(), "a decompression error carries a message");
    }
    Require(raised == !sound, "decompressBuffer refuses exactly what zlib refuses");
    if (!raised)
        Require(std::string(output.begin(), output.end()) == expected, "decompressBuffer gives zlib's bytes");

    std::string streamed, streamMessage;
    bool streamedWhole = StreamInflate(segment, length, streamed, streamMessage);
    Require(streamedWhole == !raised, "the streaming inflater refuses what decompressBuffer refuses");
    if (streamedWhole) Require(streamed == expected, "the streaming inflater gives zlib's bytes");
    // The streaming inflater stands in for the form that the reader uses, with the initial size 0.
    if (raised && initialSize == 0) Require(streamMessage == message, "both inflaters give the same message");
    return 0;
}
