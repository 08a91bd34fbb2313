#include "TreeGenerator.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "BenchSupport.h"

namespace {

const char* const kSyllables[] = {"an", "be", "da", "ter", "ung", "ver", "sch", "ein", "lich", "keit", "pro",
                                  "dat", "ei", "up", "in", "stal", "le", "ord", "ner", "wert", "zu", "ab",
                                  "for", "mat", "ion", "file", "ex", "ist", "re", "gi", "stry", "ko", "pie"};

std::string Word(TreeBytes& source) {
    std::string w;
    int parts = 1 + int(source.below(3));
    for (int i = 0; i < parts; ++i) w += kSyllables[source.below(sizeof(kSyllables) / sizeof(*kSyllables))];
    return w;
}

}  // namespace

TreeBytes::TreeBytes(std::uint64_t seed) : state_(seed) {
    for (std::string& s : snippets_) {
        std::size_t n = 2 + below(9);
        for (std::size_t i = 0; i < n; ++i) s += char(below(4) == 0 ? below(256) : below(32) * 4);
    }
}

// splitmix64: fast, and the same sequence on every machine.
std::uint64_t TreeBytes::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void TreeBytes::text(std::string& out, std::size_t size) {
    static thread_local std::vector<std::string> vocabulary;
    if (vocabulary.empty())
        for (int i = 0; i < 600; ++i) vocabulary.push_back(Word(*this));
    std::size_t end = out.size() + size;
    std::size_t lineStart = out.size();
    while (out.size() < end) {
        out += vocabulary[std::min(below(600), below(600))];
        if (out.size() - lineStart > 40 + below(50)) {
            out += "\r\n";
            lineStart = out.size();
        } else {
            out += ' ';
        }
    }
    out.resize(end);
}

void TreeBytes::code(std::string& out, std::size_t size) {
    std::size_t end = out.size() + size;
    while (out.size() < end) {
        out += snippets_[std::min(below(256), below(256))];
        if (below(4) != 0) continue;
        std::uint32_t address = 0x00401000u + below(65536) * 4;
        for (int i = 0; i < 4; ++i) out += char(address >> (8 * i));
    }
    out.resize(end);
}

void TreeBytes::random(std::string& out, std::size_t size) {
    std::size_t start = out.size();
    out.resize(start + size);
    for (std::size_t i = start; i < out.size(); i += 8) {
        std::uint64_t v = next();
        for (std::size_t k = 0; k < 8 && i + k < out.size(); ++k) out[i + k] = char(v >> (8 * k));
    }
}

namespace {

enum class Kind { Text, Code, Random };

struct Batch {
    const char* folder;  // below the root; "%02u" is the sub-folder number
    const char* name;    // "%u" is the file number
    Kind kind;
    unsigned files;
    unsigned subFolders;
    std::size_t minSize, maxSize;
};

// About 200 MB: a few large files, mid-sized ones of every kind, many small ones.
const Batch kBatches[] = {
    {"docs", "handbuch%u.txt", Kind::Text, 2, 1, 8'000'000, 12'000'000},
    {"bin", "tarnix%u.exe", Kind::Code, 2, 1, 10'000'000, 16'000'000},
    {"media", "film%u.dat", Kind::Random, 2, 1, 14'000'000, 20'000'000},
    {"docs/kapitel%02u", "seite%u.htm", Kind::Text, 300, 10, 20'000, 180'000},
    {"bin/module%02u", "modul%u.dll", Kind::Code, 200, 8, 30'000, 270'000},
    {"media/bilder%02u", "bild%u.jpg", Kind::Random, 300, 12, 30'000, 270'000},
    {"hilfe/thema%02u", "eintrag%u.txt", Kind::Text, 5000, 25, 200, 4'000},
};

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Format(const char* pattern, unsigned n) {
    char buffer[200];
    std::snprintf(buffer, sizeof(buffer), pattern, n);
    return buffer;
}

void Fill(TreeBytes& source, Kind kind, std::string& out, std::size_t size) {
    switch (kind) {
    case Kind::Text: return source.text(out, size);
    case Kind::Code: return source.code(out, size);
    case Kind::Random: return source.random(out, size);
    }
}

}  // namespace

TreeInfo GenerateTree(const std::string& root, std::uint64_t seed, double scale) {
    TreeBytes source(seed);
    TreeInfo info;
    std::string content;
    for (const Batch& b : kBatches) {
        unsigned files = std::max(1u, unsigned(b.files * scale));
        for (unsigned i = 0; i < files; ++i) {
            std::string folder = root + "/" + Format(b.folder, i % b.subFolders);
            MakeFolders(folder);
            std::size_t size = b.minSize + source.below(std::uint32_t(b.maxSize - b.minSize + 1));
            content.clear();
            Fill(source, b.kind, content, size);
            WriteFile(folder + "/" + Format(b.name, i), content);
            ++info.files;
            info.bytes += std::int64_t(size);
        }
    }
    return info;
}
