// Inflation of one archive segment (a complete zlib stream) into a new buffer
// that holds exactly its decompressed bytes, and zlib's result codes turned
// into the updater's decompression error.
#pragma once

#include <cstdint>
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

// zlib's allocation functions: the process's ordinary heap.
void* zlibAlloc(void* opaque, unsigned items, unsigned size);
void zlibFree(void* opaque, void* block);
