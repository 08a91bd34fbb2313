#include "archive/Decompress.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <zlib.h>

const char* const zlibErrorMessages[10] = {
    "need dictionary", "stream end",   "",
    "file error",      "stream error", "data error",
    "insufficient memory", "buffer error", "incompatible version", "",
};

int checkInflate(int code) {
    if (code >= 0) return code;
    // Codes below the table have no text of their own; zlib produces none.
    int index = 2 - code;
    throw EZDecompressionError(index < 10 ? zlibErrorMessages[index] : "");
}

void* zlibAlloc(void*, unsigned items, unsigned size) {
    return std::malloc(static_cast<std::size_t>(items) * size);
}

void zlibFree(void*, void* block) { std::free(block); }

namespace {

// Ends inflation on every path; a failing end is reported only when nothing else failed.
class InflateStream {
public:
    InflateStream() {
        stream_.zalloc = zlibAlloc;
        stream_.zfree = zlibFree;
    }
    ~InflateStream() {
        if (open_) inflateEnd(&stream_);
    }
    void init() {
        checkInflate(inflateInit(&stream_));
        open_ = true;
    }
    void end() {
        open_ = false;
        checkInflate(inflateEnd(&stream_));
    }
    z_stream& get() { return stream_; }

private:
    z_stream stream_ = {};
    bool open_ = false;
};

constexpr std::size_t kMaxOutput = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

}  // namespace

void decompressBuffer(const unsigned char* input, std::int32_t count, std::int32_t initialSize,
                      std::vector<unsigned char>& output) {
    if (count < 0) throw EZDecompressionError(zlibErrorMessages[2 - Z_BUF_ERROR]);
    // The first step is the input length rounded up to 256; later steps double
    // the buffer so that a large segment costs only a logarithmic number of moves.
    const std::size_t step = (static_cast<std::size_t>(count) + 255) / 256 * 256;
    std::vector<unsigned char> out(initialSize > 0 ? static_cast<std::size_t>(initialSize) : step);

    InflateStream zs;
    z_stream& s = zs.get();
    s.next_in = const_cast<unsigned char*>(input);
    s.avail_in = static_cast<uInt>(count);
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    zs.init();

    bool askedForDictionary = false;
    for (;;) {
        int rc = checkInflate(inflate(&s, Z_NO_FLUSH));
        if (rc == Z_STREAM_END) break;
        if (rc == Z_NEED_DICT) {
            // The format has no preset dictionaries: make room once, as for any
            // other stop, and refuse the stream when it asks again.
            if (askedForDictionary) checkInflate(Z_STREAM_ERROR);
            askedForDictionary = true;
        }
        if (s.avail_out > 0 && rc != Z_NEED_DICT) continue;
        std::size_t used = s.total_out;
        std::size_t grow = std::max<std::size_t>({step, out.size(), 256});
        if (out.size() + grow > kMaxOutput) {
            if (out.size() >= kMaxOutput) checkInflate(Z_MEM_ERROR);
            grow = kMaxOutput - out.size();
        }
        out.resize(out.size() + grow);
        s.next_out = out.data() + used;
        s.avail_out = static_cast<uInt>(out.size() - used);
    }
    std::size_t total = s.total_out;
    zs.end();
    out.resize(total);
    output.swap(out);
}

// The stream record lives from the first segment to the destruction of the
// inflater; inflateReset gives every further segment a fresh stream.
struct SegmentInflater::State {
    z_stream stream = {};
    bool open = false;
    std::vector<unsigned char> input, output;
};

namespace {

constexpr std::size_t kInputPiece = 256 * 1024;
constexpr std::size_t kOutputPiece = 256 * 1024;

}  // namespace

SegmentInflater::SegmentInflater() : state_(std::make_unique<State>()) {
    state_->stream.zalloc = zlibAlloc;
    state_->stream.zfree = zlibFree;
    state_->input.resize(kInputPiece);
    state_->output.resize(kOutputPiece);
}

SegmentInflater::~SegmentInflater() {
    if (state_->open) inflateEnd(&state_->stream);
}

void SegmentInflater::start() {
    z_stream& s = state_->stream;
    s.next_in = nullptr;
    s.avail_in = 0;
    if (state_->open) {
        checkInflate(inflateReset(&s));
        return;
    }
    checkInflate(inflateInit(&s));
    state_->open = true;
}

InflateResult SegmentInflater::inflate(ByteSource& input, std::int32_t length, ByteSink& sink) {
    if (length < 0) checkInflate(Z_BUF_ERROR);
    start();
    // decompressBuffer gives a segment of no bytes no output room either, which zlib refuses.
    if (length == 0) checkInflate(Z_STREAM_ERROR);
    z_stream& s = state_->stream;
    std::size_t unread = static_cast<std::size_t>(length);
    std::uint64_t total = 0;
    bool askedForDictionary = false;
    for (;;) {
        if (s.avail_in == 0 && unread > 0) {
            std::size_t piece = std::min(unread, state_->input.size());
            if (!input.read(state_->input.data(), piece)) return InflateResult::InputShort;
            unread -= piece;
            s.next_in = state_->input.data();
            s.avail_in = static_cast<uInt>(piece);
        }
        s.next_out = state_->output.data();
        s.avail_out = static_cast<uInt>(state_->output.size());
        int rc = checkInflate(::inflate(&s, Z_NO_FLUSH));
        std::size_t produced = state_->output.size() - s.avail_out;
        total += produced;
        // decompressBuffer's buffer cannot hold more than this.
        if (total > kMaxOutput) checkInflate(Z_MEM_ERROR);
        if (produced > 0 && !sink.put(state_->output.data(), produced)) return InflateResult::NotTaken;
        if (rc == Z_STREAM_END) return InflateResult::Complete;
        if (rc == Z_NEED_DICT) {
            if (askedForDictionary) checkInflate(Z_STREAM_ERROR);
            askedForDictionary = true;
        }
    }
}
