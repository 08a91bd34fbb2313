// Writes the archive layout of ArchiveFormat.h: the directory is reserved
// first (its size follows from the names alone), segments are streamed after
// it, and the directory is filled in at the end. Used by the package builder
// and by tests that need exact or deliberately odd archives.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "base/Exception.h"

// One complete zlib stream of `size` bytes at the given level (6 gives 78 9C).
std::string CompressZlib(const void* data, std::size_t size, int level = 6);

class ArchiveWriter {
public:
    // `out` stands at the archive's first byte; `baseOffset` is that position in
    // the file (the host executable's length, or 0 for a stand-alone archive).
    ArchiveWriter(std::ostream& out, std::int32_t baseOffset, std::int32_t segmentSize = kDefaultSegmentSize);

    // Declares the next entry in directory order; all entries come before any data.
    std::size_t declare(const std::string& name, std::int32_t fileDate);
    // Appends one zlib stream as the next segment of `index`. An entry's segments
    // are contiguous: once another entry's data follows, it takes no more.
    void addSegment(std::size_t index, const std::string& zlibStream, std::int64_t unpackedBytes);
    // Compresses `content` into segments of at most `maxSegment` bytes of content
    // (an empty content becomes the one stream of no data).
    void addContent(std::size_t index, const std::string& content, std::size_t maxSegment = 0, int level = 6);
    // Replaces the stored size that finish() would compute (the total length of
    // the segments with their length fields, minus 4 for several segments).
    void overrideStoredSize(std::size_t index, std::int32_t storedSize);
    // Writes the directory and, when asked, the tail record. Returns the archive's length.
    std::int64_t finish(bool withTail);

private:
    struct Entry {
        std::string name;
        std::int32_t date = 0;
        std::int64_t dataOffset = -1;
        std::int64_t unpacked = 0;
        std::int64_t stored = 0;
        int segments = 0;
        bool storedOverridden = false;
        std::int32_t storedOverride = 0;
    };

    void writeDirectory();

    std::ostream& out_;
    std::int32_t base_;
    std::int32_t segmentSize_;
    std::int64_t position_ = 0;  // relative to the base
    bool dataStarted_ = false;
    std::size_t lastIndex_ = SIZE_MAX;
    std::vector<Entry> entries_;
};
