// Finding the certificate table of hand-built PE images, and the archive of a
// signed updater in front of it.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "TestSupport.h"
#include "archive/Archive.h"
#include "archive/ArchiveWriter.h"
#include "archive/Signature.h"
#include "base/ByteReader.h"
#include "platform/FileSystem.h"

namespace {

constexpr std::uint32_t kPeAt = 0x80;

void PutU16(std::string& s, std::size_t at, std::uint16_t v) {
    s[at] = char(v & 0xFF);
    s[at + 1] = char(v >> 8);
}
void PutU32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + std::size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

// The headers of a PE image: MS-DOS header, "PE\0\0", file header and an
// optional header of `magic` with 16 data directories, padded to 0x400 bytes.
struct PeImage {
    std::string bytes;
    std::size_t directories;  // file offset of data directory 0

    explicit PeImage(std::uint16_t magic = 0x10B) : bytes(0x400, '\0') {
        bool plus = magic == 0x20B;
        bytes[0] = 'M';
        bytes[1] = 'Z';
        PutU32(bytes, 0x3C, kPeAt);
        bytes.replace(kPeAt, 4, std::string("PE\0\0", 4));
        PutU16(bytes, kPeAt + 4, plus ? 0x8664 : 0x14C);      // machine
        PutU16(bytes, kPeAt + 20, plus ? 240 : 224);          // size of the optional header
        std::size_t optional = kPeAt + 24;
        PutU16(bytes, optional, magic);
        PutU32(bytes, optional + (plus ? 108 : 92), 16);      // number of data directories
        directories = optional + (plus ? 112 : 96);
    }
    void security(std::uint32_t offset, std::uint32_t size) {
        PutU32(bytes, directories + 32, offset);
        PutU32(bytes, directories + 36, size);
    }
};

// A certificate table of `size` bytes, starting with its WIN_CERTIFICATE header.
std::string CertificateBlob(std::uint32_t size) {
    std::string blob(size, '\x5A');
    PutU32(blob, 0, size);
    PutU16(blob, 4, 0x0200);
    PutU16(blob, 6, 0x0002);
    return blob;
}

// `image` with `tailing` appended, then `padding` zero bytes and a certificate
// table of 24 bytes that the security directory names.
std::string Signed(PeImage image, const std::string& tailing, std::size_t padding) {
    std::string body = image.bytes + tailing + std::string(padding, '\0');
    image.security(std::uint32_t(body.size()), 24);
    return image.bytes + tailing + std::string(padding, '\0') + CertificateBlob(24);
}

class SignatureTest : public ::testing::Test {
protected:
    bool find(const std::string& bytes, CertificateTable& table) {
        WriteBytes(dir / "x.exe", bytes);
        auto file = openReadOnly(dir / "x.exe");
        return FindCertificateTable(*file, file->size(), table);
    }
    TempFolder dir;
};

TEST_F(SignatureTest, FindsTheTableOfPe32AndPe32Plus) {
    for (std::uint16_t magic : {std::uint16_t(0x10B), std::uint16_t(0x20B)}) {
        PeImage image(magic);
        image.security(0x400, 24);
        CertificateTable table;
        ASSERT_TRUE(find(image.bytes + CertificateBlob(24), table)) << std::hex << magic;
        EXPECT_EQ(table.offset, 0x400);
        EXPECT_EQ(table.size, 24);
        EXPECT_EQ(table.checksumField, kPeAt + 24 + 64);
        EXPECT_EQ(table.directoryEntry, std::int64_t(image.directories) + 32);
    }
}

TEST_F(SignatureTest, RefusesHeadersThatDoNotNameATableAtTheEnd) {
    const std::string blob = CertificateBlob(24);
    struct Case {
        const char* what;
        std::function<void(PeImage&)> change;
        std::string tailing;
    };
    const Case cases[] = {
        {"no MZ", [](PeImage& p) { p.bytes[0] = 'Z'; }, blob},
        {"PE offset beyond the file", [](PeImage& p) { PutU32(p.bytes, 0x3C, 0xFFFFFFF0); }, blob},
        {"PE offset near the end", [](PeImage& p) { PutU32(p.bytes, 0x3C, 0x410); }, blob},
        {"no PE signature", [](PeImage& p) { p.bytes[kPeAt + 1] = 'X'; }, blob},
        {"unknown optional header", [](PeImage& p) { PutU16(p.bytes, kPeAt + 24, 0x107); }, blob},
        {"four data directories", [](PeImage& p) { PutU32(p.bytes, kPeAt + 24 + 92, 4); }, blob},
        {"optional header too small", [](PeImage& p) { PutU16(p.bytes, kPeAt + 20, 96 + 32); }, blob},
        {"no table", [](PeImage& p) { p.security(0, 0); }, ""},
        {"table shorter than its header", [](PeImage& p) { p.security(0x400, 4); }, "1234"},
        {"table not at the end", [](PeImage& p) { p.security(0x400, 24); }, blob + "trailing"},
        {"table past the end", [](PeImage& p) { p.security(0x400, 32); }, blob},
        {"table offset wraps", [](PeImage& p) { p.security(0xFFFFFFF0, 0x428); }, blob},
    };
    for (const Case& c : cases) {
        PeImage image;
        image.security(0x400, 24);
        c.change(image);
        CertificateTable table;
        EXPECT_FALSE(find(image.bytes + c.tailing, table)) << c.what;
    }
    CertificateTable table;
    EXPECT_FALSE(find(PeImage().bytes.substr(0, kPeAt + 60), table)) << "cut inside the optional header";
    EXPECT_FALSE(find("MZ", table)) << "two bytes";
}

// An updater with an archive attached, signed afterwards: the archive is found
// before the table, also when the signer aligned the table with zero bytes.
std::string SignedUpdater(std::size_t padding, std::string* archiveOnly = nullptr) {
    PeImage image;
    std::ostringstream out;
    out << image.bytes;
    ArchiveWriter writer(out, std::int32_t(image.bytes.size()));
    writer.declare("update.ini", Stamp(2024, 3, 15, 14, 30, 10));
    writer.addContent(0, "P=Signed\r\n");
    writer.finish(true);
    std::string attached = out.str().substr(image.bytes.size());
    if (archiveOnly) *archiveOnly = attached;
    return Signed(image, attached, padding);
}

TEST_F(SignatureTest, OpenAttachedFindsTheArchiveOfASignedUpdater) {
    for (std::size_t padding : {0u, 1u, 5u, 7u}) {
        WriteBytes(dir / "signed.exe", SignedUpdater(padding));
        TArchive archive;
        ASSERT_TRUE(archive.openAttached(dir / "signed.exe")) << "padding " << padding;
        EXPECT_EQ(archive.baseOffset, 0x400);
        ASSERT_EQ(archive.entryCount(), 1);
        EXPECT_EQ(archive.readLines("update.ini"), StringList{"P=Signed"});
    }
}

TEST_F(SignatureTest, SignedFilesWithoutAnArchiveStayWithoutOne) {
    std::string archive;
    SignedUpdater(0, &archive);
    std::string noTail = archive.substr(0, archive.size() - 8);
    std::string nonZeroPadding = archive + "\x01";
    const std::pair<const char*, std::string> cases[] = {
        {"no archive", ""},
        {"archive without tail", noTail},
        {"padding that is not zero", nonZeroPadding},
        {"more than 7 bytes of padding", archive + std::string(8, '\0')},
    };
    for (const auto& [what, tailing] : cases) {
        WriteBytes(dir / "signed.exe", Signed(PeImage(), tailing, 0));
        TArchive reader;
        EXPECT_FALSE(reader.openAttached(dir / "signed.exe")) << what;
        EXPECT_EQ(reader.entryCount(), 0) << what;
    }
}

}  // namespace
