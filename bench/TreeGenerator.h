// The benchmark's package tree: a fixed-seed mix of text, program-like
// binaries, already-compressed (random) data, many small files and a few
// large ones, about 200 MB in all. The same seed gives the same bytes.
#pragma once

#include <cstdint>
#include <string>

struct TreeInfo {
    std::int64_t files = 0;
    std::int64_t bytes = 0;
};

// Writes the tree below `root` (which must exist). `scale` multiplies the file counts;
// 1.0 gives about 200 MB.
TreeInfo GenerateTree(const std::string& root, std::uint64_t seed, double scale = 1.0);

// Byte sources of the tree, also used for the synthetic packages.
class TreeBytes {
public:
    explicit TreeBytes(std::uint64_t seed);
    std::uint64_t next();
    std::uint32_t below(std::uint32_t bound) { return std::uint32_t(next() % bound); }
    void text(std::string& out, std::size_t size);
    void code(std::string& out, std::size_t size);
    void random(std::string& out, std::size_t size);

private:
    std::uint64_t state_;
    std::string snippets_[256];
};
