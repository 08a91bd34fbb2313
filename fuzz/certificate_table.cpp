// Fuzz target: a certificate table with its signed statement, as the
// publisher check reads it. The input is the table, put behind a fixed PE
// image whose security directory names it; the signer is read and verified
// (the DER reader, the Authenticode steps, the file's digest, the signature
// check of the system) and read once more without verifying. Whatever the
// input: a table that the reader refuses is Unreadable; one it reads has its
// parts inside the table, a name without control characters and a thumbprint
// of 64 hex digits; unverified it is NotChecked, verified never.
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/Authenticode.h"
#include "fuzz/FuzzSupport.h"
#include "platform/FileSystem.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 14;
constexpr std::size_t kPe = 0x80, kSecurityEntry = kPe + 24 + 96 + 4 * 8, kBody = 0x400;

void PutU32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + std::size_t(i)] = char(v >> (8 * i));
}

// A PE32 image of kBody bytes whose security directory names `size` bytes after it
// (make_seeds.py builds the same to sign its seeds).
std::string Image(std::uint32_t size) {
    std::string image(kBody, '\0');
    for (std::size_t i = 0; i < kBody; ++i) image[i] = char(i * 7);
    image.replace(0, 2, "MZ");
    PutU32(image, 0x3C, kPe);
    image.replace(kPe, 24 + 96 + 16 * 8, std::string(24 + 96 + 16 * 8, '\0'));
    image.replace(kPe, 8, std::string("PE\0\0\x4C\x01\0\0", 8));
    image[kPe + 20] = char(224);
    image.replace(kPe + 24, 2, "\x0B\x01");
    PutU32(image, kPe + 24 + 92, 16);
    PutU32(image, kSecurityEntry, kBody);
    PutU32(image, kSecurityEntry + 4, size);
    return image;
}

bool Inside(Bytes part, const std::uint8_t* data, std::size_t size) {
    return part.empty() || (part.data() >= data && part.data() + part.size() <= data + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    AuthenticodeSignature s;
    const bool read = ParseAuthenticode(Bytes(data, size), s);
    if (read)
        for (Bytes part : {s.fileDigest, s.indirectContent, s.messageDigest, s.signedAttributes, s.signature,
                           s.certificate, s.subject, s.publicKeyInfo})
            Require(Inside(part, data, size), "every part of a signature lies inside the table");

    const std::string path = FreshWorkFolder() + "update.exe";
    {
        const std::string image = Image(std::uint32_t(size)) + AsText(data, size);
        auto file = Fs().open(path, OpenMode::Create);
        Require(file && file->write(image.data(), std::int64_t(image.size())) == std::int64_t(image.size()),
                "the image is written");
    }
    auto file = Fs().open(path, OpenMode::ReadShared);
    Require(file != nullptr, "the image is read");
    for (bool verify : {true, false}) {
        Signer signer = CheckSigner(*file, verify);
        if (signer.state == SignerState::Unsigned) continue;  // a table the directory may not name (too short)
        Require((signer.state == SignerState::Unreadable) == !read, "the check reads what the reader reads");
        if (!read) continue;
        for (char c : signer.subject) Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a name is one line");
        Require(signer.thumbprint.size() == 64 || signer.state == SignerState::Unverifiable, "a thumbprint of 64 digits");
        Require((signer.state == SignerState::NotChecked) == !verify || signer.state == SignerState::Unverifiable,
                "only an unverified signer is NotChecked");
    }
    return 0;
}
