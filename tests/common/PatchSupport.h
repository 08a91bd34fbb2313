// Patches built by hand for the tests: a header for the two files and the
// records given, deflated as the package tool does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/ArchiveWriter.h"
#include "archive/Patch.h"
#include "base/ByteReader.h"

struct PatchRecord {
    std::string diff, extra;
    std::int32_t seek;
};

inline std::uint32_t CrcOf(const std::string& s) { return Crc32(0, reinterpret_cast<const unsigned char*>(s.data()), s.size()); }

inline std::string Records(const std::vector<PatchRecord>& records) {
    std::string body;
    for (const PatchRecord& r : records) {
        putU32(body, std::uint32_t(r.diff.size()));
        putU32(body, std::uint32_t(r.extra.size()));
        putU32(body, std::uint32_t(r.seek));
        body += r.diff + r.extra;
    }
    return body;
}

// A patch from `oldFile` to `newFile` whose records are given by hand.
inline std::string MakePatch(const std::string& oldFile, const std::string& newFile, const std::vector<PatchRecord>& records) {
    PatchHeader h{std::int32_t(oldFile.size()), CrcOf(oldFile), std::int32_t(newFile.size()), CrcOf(newFile)};
    std::string body = Records(records);
    return PatchHeaderBytes(h) + CompressZlib(body.data(), body.size(), 9);
}
