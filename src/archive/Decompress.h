// Inflation of one archive segment (a complete zlib stream) into a new buffer
// that holds exactly its decompressed bytes, and zlib's result codes turned
// into the updater's decompression error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/Exception.h"

class EZLibError : public Exception {
public:
    using Exception::Exception;
};

class EZDecompressionError : public EZLibError {
public:
    using EZLibError::EZLibError;
};

// Texts indexed by 2 minus the zlib result code.
extern const char* const zlibErrorMessages[10];

// Returns `code` when it is 0 or positive; raises EZDecompressionError otherwise.
int checkInflate(int code);

// Inflates `count` bytes. `initialSize` 0 lets the function choose the first
// output size (the input length rounded up to a multiple of 256). `output`
// receives exactly the decompressed bytes. Raises EZDecompressionError.
void decompressBuffer(const unsigned char* input, std::int32_t count, std::int32_t initialSize,
                      std::vector<unsigned char>& output);

// Where a segment's compressed bytes come from, piece by piece.
class ByteSource {
protected:
    // Never deleted through this interface: no virtual destructor to keep.
    ~ByteSource() = default;

public:
    // Exactly `count` bytes, or false when fewer arrive.
    virtual bool read(unsigned char* buffer, std::size_t count) = 0;
};

// Takes inflated bytes, piece by piece.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes could not be taken (a short write).
    virtual bool put(const unsigned char* data, std::size_t count) = 0;
};

enum class InflateResult { Complete, InputShort, NotTaken };

// Inflates segments of any size through fixed buffers (a few hundred KiB),
// with the results and messages of decompressBuffer: the same zlib calls on
// the same bytes, only the output goes to a sink instead of a growing buffer.
// One inflater serves many segments; each is a stream of its own.
class SegmentInflater {
public:
    SegmentInflater();
    ~SegmentInflater();
    SegmentInflater(const SegmentInflater&) = delete;
    SegmentInflater& operator=(const SegmentInflater&) = delete;

    // Reads `length` bytes from `input` as one zlib stream. InputShort when the
    // source ends first, NotTaken when the sink refuses; raises EZDecompressionError.
    InflateResult inflate(ByteSource& input, std::int32_t length, ByteSink& sink);

private:
    struct State;
    void start();
    std::unique_ptr<State> state_;
};

// zlib's allocation functions: the process's ordinary heap.
void* zlibAlloc(void* opaque, unsigned items, unsigned size);
void zlibFree(void* opaque, void* block);
