// Reads and compresses segments on several threads and hands them on in job
// order, so that the archive's bytes do not depend on the number of threads.
// At most a few segments per thread are held in memory at any time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct SegmentJob {
    const std::filesystem::path* file = nullptr;  // nullptr: empty content
    std::string shownName;                        // for messages, UTF-8
    std::int64_t offset = 0;
    std::size_t length = 0;
};

// Calls `consume` for every job in order with its zlib stream (level 6).
// Errors of reading, compressing or `consume` end the work and propagate.
void CompressSegments(const std::vector<SegmentJob>& jobs, unsigned threads,
                      const std::function<void(std::size_t job, const std::string& stream)>& consume);
