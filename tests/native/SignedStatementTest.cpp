// A package signed for real, with a key made at test time by OpenSSL: the
// publisher check accepts it whole and refuses it when the file, the digest
// that the signed statement carries, or the signed attributes were changed.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "common/TestSupport.h"
#include "archive/Authenticode.h"
#include "platform/FileSystem.h"

namespace {

using B = std::string;

B Tlv(unsigned char tag, const B& content) {
    B out(1, char(tag));
    const std::size_t n = content.size();
    if (n >= 256) out += {'\x82', char(n >> 8), char(n)};
    else if (n >= 128) out += {'\x81', char(n)};
    else out += char(n);
    return out + content;
}

B Sha256(const B& bytes) {
    unsigned char digest[32];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    return B(reinterpret_cast<char*>(digest), size);
}

const B kSha256Id = Tlv(0x30, Tlv(0x06, "\x60\x86\x48\x01\x65\x03\x04\x02\x01"));
const B kRsaId = Tlv(0x30, Tlv(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01"));
constexpr std::size_t kPe = 0x80, kChecksum = kPe + 24 + 64, kSecurityEntry = kPe + 24 + 96 + 4 * 8;
constexpr std::size_t kBody = 0x400;  // the image: headers, then data; the table follows

void PutU32(B& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + std::size_t(i)] = char(v >> (8 * i));
}

// A PE32 image of kBody bytes whose security directory names a table of `size` bytes after it.
B Image(std::uint32_t tableSize) {
    B image(kBody, '\x5A');
    image.replace(0, 2, "MZ");
    PutU32(image, 0x3C, kPe);
    image.replace(kPe, 24 + 96 + 16 * 8, B(24 + 96 + 16 * 8, '\0'));
    image.replace(kPe, 4, B("PE\0\0", 4));
    image[kPe + 4] = '\x4C', image[kPe + 5] = '\x01';  // i386
    image[kPe + 20] = char(224);                      // size of the optional header
    image[kPe + 24] = '\x0B', image[kPe + 25] = '\x01';
    PutU32(image, kPe + 24 + 92, 16);  // data directories
    PutU32(image, kSecurityEntry, kBody);
    PutU32(image, kSecurityEntry + 4, tableSize);
    return image;
}

// The file's digest as Authenticode takes it: all before the table but the CheckSum and the entry.
B FileDigest(const B& image) {
    return Sha256(image.substr(0, kChecksum) + image.substr(kChecksum + 4, kSecurityEntry - kChecksum - 4) +
                  image.substr(kSecurityEntry + 8));
}

struct Key {
    Key() : key(EVP_RSA_gen(1024)) {}
    ~Key() { EVP_PKEY_free(key); }
    B publicKeyInfo() const {
        unsigned char* der = nullptr;
        int length = i2d_PUBKEY(key, &der);
        B out(reinterpret_cast<char*>(der), std::size_t(length > 0 ? length : 0));
        OPENSSL_free(der);
        return out;
    }
    B sign(const B& message) const {
        std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        std::size_t size = 0;
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key);
        EVP_DigestSign(context.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(message.data()), message.size());
        B out(size, '\0');
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&out[0]), &size,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size());
        return out.substr(0, size);
    }
    EVP_PKEY* key;
};

// The statement of `fileDigest` and its messageDigest `statementDigest`, signed by `key`
// (the signature over the attributes of `signedDigest`), as a WIN_CERTIFICATE.
B Table(const Key& key, const B& fileDigest, const B& statementDigest, const B& signedDigest) {
    const B name = Tlv(0x30, Tlv(0x31, Tlv(0x30, Tlv(0x06, "\x55\x04\x03") + Tlv(0x0C, "Mevo Test"))));
    const B tbs = Tlv(0x30, Tlv(0xA0, Tlv(0x02, "\x02")) + Tlv(0x02, "\x05") + kSha256Id + name + Tlv(0x30, "") +
                                name + key.publicKeyInfo());
    const B certificate = Tlv(0x30, tbs + kSha256Id + Tlv(0x03, B(1, '\0') + "sig"));
    const B indirect = Tlv(0x30, Tlv(0x06, "\x2B\x06\x01")) + Tlv(0x30, kSha256Id + Tlv(0x04, fileDigest));
    const B indirectOid = Tlv(0x06, "\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x04");
    auto attributes = [&](const B& digest) {
        return Tlv(0x30, Tlv(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x03") + Tlv(0x31, indirectOid)) +
               Tlv(0x30, Tlv(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x04") + Tlv(0x31, Tlv(0x04, digest)));
    };
    const B signature = key.sign(Tlv(0x31, attributes(signedDigest)));
    const B signer = Tlv(0x30, Tlv(0x02, "\x01") + Tlv(0x30, name + Tlv(0x02, "\x05")) + kSha256Id +
                                   Tlv(0xA0, attributes(statementDigest)) + kRsaId + Tlv(0x04, signature));
    const B signedData = Tlv(0x30, Tlv(0x02, "\x01") + Tlv(0x31, kSha256Id) +
                                       Tlv(0x30, indirectOid + Tlv(0xA0, Tlv(0x30, indirect))) +
                                       Tlv(0xA0, certificate) + Tlv(0x31, signer));
    B table = B(8, '\0') + Tlv(0x30, Tlv(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02") + Tlv(0xA0, signedData));
    table += B((8 - table.size() % 8) % 8, '\0');
    PutU32(table, 0, std::uint32_t(table.size()));
    table[5] = '\x02', table[6] = '\x02';  // revision 2.0, PKCS#7
    return table;
}

B IndirectOf(const B& fileDigest) {
    return Tlv(0x30, Tlv(0x06, "\x2B\x06\x01")) + Tlv(0x30, kSha256Id + Tlv(0x04, fileDigest));
}

TEST(SignedStatement, EveryLinkFromFileToSignatureIsChecked) {
    const Key key;
    ASSERT_TRUE(key.key);
    TempFolder dir;
    const B signedImage = Image(0);  // the table's size is filled in below: not part of the digest
    const B altered = B(signedImage).replace(0x300, 4, "evil");
    const B good = FileDigest(signedImage), bad = FileDigest(altered);
    const struct {
        const char* what;
        const B& image;
        B fileDigest, statementDigest, signedDigest;
        SignerState state;
    } cases[] = {
        {"intact", signedImage, good, Sha256(IndirectOf(good)), Sha256(IndirectOf(good)), SignerState::Matches},
        {"file altered", altered, good, Sha256(IndirectOf(good)), Sha256(IndirectOf(good)), SignerState::Mismatch},
        {"file altered, its digest put into the statement", altered, bad, Sha256(IndirectOf(good)),
         Sha256(IndirectOf(good)), SignerState::Mismatch},
        {"and the statement's digest into the attributes", altered, bad, Sha256(IndirectOf(bad)),
         Sha256(IndirectOf(good)), SignerState::Mismatch},
    };
    for (const auto& c : cases) {
        B table = Table(key, c.fileDigest, c.statementDigest, c.signedDigest);
        B image = c.image;
        PutU32(image, kSecurityEntry + 4, std::uint32_t(table.size()));
        WriteBytes(dir / "update.exe", image + table);
        auto file = Fs().open(dir / "update.exe", OpenMode::ReadShared);
        ASSERT_TRUE(file);
        Signer signer = CheckSigner(*file, true);
        EXPECT_EQ(signer.state, c.state) << c.what;
        EXPECT_EQ(signer.subject, "Mevo Test") << c.what;
    }
}

}  // namespace
