// Packages written directly with the product's ArchiveWriter, for the figures
// that need sizes no generated tree should have: 100,000 entries, one 1 GiB
// entry (in 1 MiB segments or as one single segment), and a package as large
// as the format allows. Large contents repeat one compressed block, so that
// writing them costs little more than the disk.
#pragma once

#include <cstdint>
#include <string>

// The control file of every benchmark package: one part "App" for C:\App\.
extern const char* const kBenchControlFile;
// The same with `mainKeys` (lines ending in CR LF) in the main section and `partKeys` in the part's.
std::string BenchControlFile(const std::string& mainKeys, const std::string& partKeys);

struct PackageInfo {
    std::int64_t entries = 0;
    std::int64_t contentBytes = 0;  // of the part's entries
    std::int64_t fileBytes = 0;     // of the whole package file
};

// An updater (a stub of `stubBytes` bytes) carrying `count` small entries below
// add\App\, "update.ini", and a deletion list of `deletionLines` lines.
PackageInfo WriteManyEntries(const std::string& path, std::int32_t count, std::int32_t deletionLines);
// One entry add\App\big.bin of `mebibytes` MiB, in 1 MiB segments or as one segment.
PackageInfo WriteLargeEntry(const std::string& path, std::int32_t mebibytes, bool singleSegment,
                            const std::string& controlFile = kBenchControlFile);
// A part that replaces `count` files App\datei0000.dat ... of `bytes` bytes
// each (at most 1 MiB); WriteRollbackPart gives the part ROLLBACK=1.
PackageInfo WriteReplacingPart(const std::string& path, std::int32_t count, std::size_t bytes,
                               const std::string& controlFile);
PackageInfo WriteRollbackPart(const std::string& path, std::int32_t count, std::size_t bytes);
// The installed files that such a part replaces: `count` files of `bytes` / 2
// bytes "o" in `app`, older than the package's entries.
void InstallOlderFiles(const std::string& app, std::int32_t count, std::size_t bytes);
// Entries of 128 MiB of incompressible data in 1 MiB segments, until the
// package is as large as the format's limit allows.
PackageInfo WriteLargestPackage(const std::string& path);

// One zlib stream whose content is `block` repeated `count` times, made from
// one compression of `block` (full flushes make the copies independent).
std::string RepeatedBlockStream(const std::string& block, std::size_t count);
