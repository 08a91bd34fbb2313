#include "archive/Signature.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "base/ByteReader.h"
#include "platform/FileSystem.h"

namespace {

constexpr std::size_t kDosHeaderSize = 64, kPeOffsetField = 0x3C;
constexpr std::size_t kCoffHeaderSize = 24;  // "PE\0\0" and the file header
constexpr std::uint16_t kPe32 = 0x10B, kPe32Plus = 0x20B;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::int64_t kMaxAlignment = 7;

// Reads up to `count` bytes at `position`; fewer at the end of the file.
std::vector<unsigned char> ReadAt(FileHandle& file, std::int64_t position, std::size_t count) {
    std::vector<unsigned char> bytes(count);
    if (position < 0 || !file.seek(position)) return {};
    std::int64_t got = file.read(bytes.data(), std::int64_t(count));
    bytes.resize(got > 0 ? std::size_t(got) : 0);
    return bytes;
}

// The file offset of the PE signature, from the MS-DOS header.
bool PeHeaderOffset(FileHandle& file, std::uint32_t& offset) {
    std::vector<unsigned char> dos = ReadAt(file, 0, kDosHeaderSize);
    ByteReader r(dos.data(), dos.size());
    std::string mz;
    return r.readBytes(2, mz) && mz == "MZ" && r.skip(kPeOffsetField - 2) && r.readU32(offset);
}

// Where the data directories start inside the optional header, by its magic.
bool DirectoryLayout(std::uint16_t magic, std::size_t& countField, std::size_t& directories) {
    if (magic == kPe32) {
        countField = 92;
        directories = 96;
        return true;
    }
    if (magic == kPe32Plus) {
        countField = 108;
        directories = 112;
        return true;
    }
    return false;
}

constexpr std::size_t kChecksumField = 64;  // in the optional header, for both magics

// The table's offset and size; `entry`: where its directory entry lies in the optional header.
bool SecurityDirectory(const std::vector<unsigned char>& headers, std::uint32_t& offset, std::uint32_t& size,
                       std::size_t& entry) {
    ByteReader r(headers.data(), headers.size());
    std::string signature;
    std::uint16_t optionalSize = 0, magic = 0;
    if (!r.readBytes(4, signature) || signature != std::string("PE\0\0", 4)) return false;
    if (!r.skip(16) || !r.readU16(optionalSize) || !r.skip(2) || !r.readU16(magic)) return false;
    std::size_t countField = 0, directories = 0;
    if (!DirectoryLayout(magic, countField, directories)) return false;
    entry = directories + kSecurityDirectory * 8;
    std::size_t entryEnd = entry + 8;
    if (optionalSize < entryEnd) return false;

    ByteReader optional(headers.data() + kCoffHeaderSize, headers.size() - kCoffHeaderSize);
    std::uint32_t count = 0;
    if (!optional.skip(countField) || !optional.readU32(count) || count <= kSecurityDirectory) return false;
    return optional.skip(directories + kSecurityDirectory * 8 - countField - 4) && optional.readU32(offset) &&
           optional.readU32(size);
}

}  // namespace

bool FindCertificateTable(FileHandle& file, std::int64_t fileSize, CertificateTable& table) {
    std::uint32_t peOffset = 0;
    if (!PeHeaderOffset(file, peOffset) || std::int64_t(peOffset) >= fileSize) return false;
    std::vector<unsigned char> headers = ReadAt(file, peOffset, kCoffHeaderSize + 240);
    std::uint32_t offset = 0, size = 0;
    std::size_t entry = 0;
    if (headers.size() < kCoffHeaderSize || !SecurityDirectory(headers, offset, size, entry)) return false;
    if (offset == 0 || size < 8 || std::int64_t(offset) + size != fileSize) return false;
    table.offset = offset;
    table.size = size;
    table.checksumField = std::int64_t(peOffset) + kCoffHeaderSize + kChecksumField;
    table.directoryEntry = std::int64_t(peOffset) + kCoffHeaderSize + entry;
    return true;
}

bool ReadTailBeforeCertificates(FileHandle& file, std::int64_t fileSize, unsigned char tail[8]) {
    CertificateTable table;
    if (!FindCertificateTable(file, fileSize, table) || table.offset < kTailSize) return false;
    std::int64_t from = std::max<std::int64_t>(0, table.offset - kTailSize - kMaxAlignment);
    std::vector<unsigned char> before = ReadAt(file, from, std::size_t(table.offset - from));
    if (std::int64_t(before.size()) != table.offset - from) return false;
    // Try the unpadded position first, then one more zero byte of padding at a time.
    for (std::size_t padding = 0; padding <= kMaxAlignment && padding + kTailSize <= before.size(); ++padding) {
        const unsigned char* record = before.data() + before.size() - padding - kTailSize;
        if (padding > 0 && before[before.size() - padding] != 0) return false;
        if (static_cast<std::int32_t>(getU32(record + 4)) != kArchiveMagic) continue;
        std::memcpy(tail, record, kTailSize);
        return true;
    }
    return false;
}
