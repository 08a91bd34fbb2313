// Reading Authenticode signatures from hand-built DER, the system's digests,
// and what a run does with a package under the pinned publishers.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "archive/Authenticode.h"
#include "base/Der.h"
#include "EnvTestSupport.h"
#include "driver/Publisher.h"
#include "platform/Crypto.h"

namespace {

using B = std::vector<unsigned char>;

B Tlv(unsigned char tag, const B& content) {
    B out{tag};
    std::size_t n = content.size();
    if (n >= 256) out.insert(out.end(), {0x82, (unsigned char)(n >> 8), (unsigned char)n});
    else if (n >= 128) out.insert(out.end(), {0x81, (unsigned char)n});
    else out.push_back((unsigned char)n);
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

B Cat(std::initializer_list<B> parts) {
    B out;
    for (const B& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

B Text(const std::string& s) { return B(s.begin(), s.end()); }

const B kSignedData{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const B kIndirectData{0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const B kMessageDigest{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
const B kSha256{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const B kRsa{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

// What the hand-built signature is made of; each case changes one of them.
struct Parts {
    B signedDataOid = kSignedData, indirectOid = kIndirectData, messageDigestOid = kMessageDigest, hashOid = kSha256;
    B certSerial{0x05};  // the signer names serial 5
    unsigned char revisionHigh = 0x02, type = 0x02;
};

struct Built {
    B table, certificate, indirectContent;
};

// A WIN_CERTIFICATE: header (length, revision, type), then ContentInfo {
// signedData, [0] SignedData { version, digest algorithms, ContentInfo {
// indirect data, [0] SpcIndirectDataContent }, [0] certificates, signer infos } }.
Built Build(const Parts& p) {
    const B hash = Tlv(0x30, Tlv(0x06, p.hashOid));
    const B name = Tlv(0x30, Tlv(0x31, Tlv(0x30, Cat({Tlv(0x06, {0x55, 0x04, 0x03}), Tlv(0x0C, Text("Mevo Test"))}))));
    const B key = Tlv(0x30, Cat({Tlv(0x30, Tlv(0x06, kRsa)), Tlv(0x03, {0x00, 0x30, 0x00})}));
    const B tbs = Tlv(0x30, Cat({Tlv(0xA0, Tlv(0x02, {2})), Tlv(0x02, p.certSerial), hash, name, Tlv(0x30, {}), name, key}));
    Built b;
    b.certificate = Tlv(0x30, Cat({tbs, hash, Tlv(0x03, {0x00, 0xAA})}));
    b.indirectContent = Cat({Tlv(0x30, Tlv(0x06, {0x2B, 0x06, 0x01})), Tlv(0x30, Cat({hash, Tlv(0x04, B(32, 0x11))}))});
    const B content = Tlv(0x30, Cat({Tlv(0x06, p.indirectOid), Tlv(0xA0, Tlv(0x30, b.indirectContent))}));
    const B attributes = Tlv(0xA0, Cat({Tlv(0x30, Cat({Tlv(0x06, {0x55, 0x04}), Tlv(0x31, Tlv(0x05, {}))})),
                                        Tlv(0x30, Cat({Tlv(0x06, p.messageDigestOid), Tlv(0x31, Tlv(0x04, B(32, 0x22)))}))}));
    const B signer = Tlv(0x30, Cat({Tlv(0x02, {1}), Tlv(0x30, Cat({name, Tlv(0x02, {0x05})})), hash, attributes,
                                    Tlv(0x30, Tlv(0x06, kRsa)), Tlv(0x04, {0x33, 0x33})}));
    const B signedData = Tlv(0x30, Cat({Tlv(0x02, {1}), Tlv(0x31, hash), content, Tlv(0xA0, b.certificate), Tlv(0x31, signer)}));
    const B pkcs7 = Tlv(0x30, Cat({Tlv(0x06, p.signedDataOid), Tlv(0xA0, signedData)}));
    std::uint32_t length = std::uint32_t(8 + pkcs7.size());
    b.table = Cat({{(unsigned char)length, (unsigned char)(length >> 8), 0, 0, 0x00, p.revisionHigh, p.type, 0x00}, pkcs7,
                   B(3, 0)});  // signers pad the table to 8 bytes
    return b;
}

TEST(DerReaderTest, RefusesElementsThatDoNotFit) {
    const B cases[] = {
        {},                        // nothing
        {0x30},                    // a tag without length
        {0x30, 0x03, 0x01, 0x02},  // 3 bytes of content announced, 2 there
        {0x1F, 0x01, 0x00},        // a multi-byte tag
        {0x30, 0x80, 0x00, 0x00},  // the indefinite length
        {0x30, 0x85, 0, 0, 0, 0, 1, 0},  // 5 length bytes
        {0x30, 0x82, 0x01},        // the length's second byte missing
        {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xF0, 0x00},  // a length near 4 GiB
    };
    for (const B& bytes : cases) {
        DerReader r(bytes);
        DerElement e;
        EXPECT_FALSE(r.next(e)) << testing::PrintToString(bytes);
    }
}

TEST(AuthenticodeTest, ReadsTheSignersPartsAndItsCertificate) {
    Built b = Build({});
    AuthenticodeSignature s;
    ASSERT_TRUE(ParseAuthenticode(b.table, s));
    EXPECT_EQ(B(s.fileDigest.begin(), s.fileDigest.end()), B(32, 0x11));
    EXPECT_EQ(B(s.messageDigest.begin(), s.messageDigest.end()), B(32, 0x22));
    EXPECT_EQ(B(s.signature.begin(), s.signature.end()), (B{0x33, 0x33}));
    EXPECT_EQ(B(s.certificate.begin(), s.certificate.end()), b.certificate);
    EXPECT_EQ(B(s.indirectContent.begin(), s.indirectContent.end()), b.indirectContent);
    EXPECT_EQ(s.signedAttributes[0], 0xA0);
    EXPECT_EQ(CommonName(s.subject), "Mevo Test");
}

TEST(AuthenticodeTest, RefusesWhatIsNotASignatureOfThisKind) {
    const std::function<void(Parts&)> changes[] = {
        [](Parts& p) { p.revisionHigh = 0x01; },             // WIN_CERTIFICATE revision 1.0
        [](Parts& p) { p.type = 0x01; },                     // an X.509 table, not PKCS#7
        [](Parts& p) { p.signedDataOid.back() = 0x01; },     // plain data instead of signedData
        [](Parts& p) { p.indirectOid.back() = 0x0F; },       // not SpcIndirectDataContent
        [](Parts& p) { p.messageDigestOid.back() = 0x05; },  // no messageDigest attribute
        [](Parts& p) { p.hashOid.back() = 0x09; },           // no digest of this kind
        [](Parts& p) { p.certSerial = {0x06}; },             // no certificate of the signer
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        Parts p;
        changes[i](p);
        AuthenticodeSignature s;
        EXPECT_FALSE(ParseAuthenticode(Build(p).table, s)) << "case " << i;
    }
}

// SHA-384 and SHA-512 are read, to be reported as not checkable here rather than as damage.
TEST(AuthenticodeTest, ReadsDigestsItDoesNotCompute) {
    for (unsigned char last : {0x02, 0x03}) {
        Parts p;
        p.hashOid.back() = last;
        AuthenticodeSignature s;
        ASSERT_TRUE(ParseAuthenticode(Build(p).table, s)) << int(last);
        EXPECT_EQ(s.signerKind, HashKind::Other);
        EXPECT_FALSE(Hasher(HashKind::Other).ok());
    }
}

TEST(AuthenticodeTest, EveryShorterTableLengthIsRefused) {
    B table = Build({}).table;
    for (std::size_t length = 0; length + 3 < table.size(); ++length) {  // the 3 bytes of padding lie outside
        B cut(table.begin(), table.begin() + std::ptrdiff_t(length));
        AuthenticodeSignature s;
        EXPECT_FALSE(ParseAuthenticode(cut, s)) << length;
        B claimed = table;
        claimed[0] = (unsigned char)length;
        claimed[1] = (unsigned char)(length >> 8);
        EXPECT_FALSE(ParseAuthenticode(claimed, s)) << "length field " << length;
    }
}

TEST(CryptoTest, DigestsAndRsaOfTheSystem) {
    const B abc = Text("abc");  // the digests of "abc" that FIPS 180 gives
    const std::pair<HashKind, std::string> cases[] = {
        {HashKind::Sha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {HashKind::Sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}};
    for (const auto& [kind, digest] : cases) {
        Hasher hasher(kind);
        ASSERT_TRUE(hasher.add(Bytes(abc).first(1)) && hasher.add(Bytes(abc).subspan(1)));  // in two pieces
        unsigned char out[kMaxDigestSize];
        char hex[2 * kMaxDigestSize + 1] = {};
        for (std::size_t i = 0, n = hasher.finish(out); i < n; ++i) std::snprintf(hex + 2 * i, 3, "%02x", out[i]);
        EXPECT_EQ(std::string(hex), digest);
    }
    // A key that is no RSA key verifies nothing.
    EXPECT_EQ(VerifyRsaSignature(HashKind::Sha256, Build({}).certificate, abc, abc), SignatureCheck::Invalid);
}

TEST(PublisherTest, OnlyAMatchingSignatureOfAPinnedCertificateGoesOn) {
    const std::string t1(32, 'A'), t2(32, 'C');
    const std::string T1 = t1 + t1, T2 = t2 + t2, lower = std::string(64, 'a');
    struct Case {
        std::string pins;
        SignerState state;
        std::string thumbprint;
        bool accepted;
        const char* said;  // in the log's text, whose level is `level`
        int level;
    } cases[] = {
        {"", SignerState::Unsigned, "", true, "", 1},
        {"", SignerState::NotChecked, T1, true, T1.c_str(), 1},
        {"", SignerState::Mismatch, T1, true, T1.c_str(), 1},  // without pins, runs go on as before
        {T1, SignerState::Matches, T1, true, "Signiert mit Zertifikat", 1},
        {lower, SignerState::Matches, T1, true, "", 1},
        {T2 + " ; " + T1 + ";", SignerState::Matches, T1, true, "", 1},
        {T1, SignerState::Unsigned, "", false, "keine Signatur", 2},
        {T1, SignerState::Unreadable, "", false, "unlesbar", 2},
        {T1, SignerState::Matches, T2, false, "nicht hinterlegten Zertifikat.", 2},
        {T1, SignerState::Mismatch, T1, false, "passt nicht zur Datei", 2},
        {T1, SignerState::Unverifiable, T1, false, "nicht geprüft", 2},
        {T1 + "0", SignerState::Matches, T1, false, "ungültigen Fingerabdruck", 2},
        {"XYZ;" + T1, SignerState::Matches, T1, true, "ungültigen Fingerabdruck: XYZ", 2},
    };
    for (const Case& c : cases) {
        Signer signer{c.state, "Mevo Test", c.thumbprint};
        PublisherVerdict v = JudgePublisher(c.pins, signer);
        SCOPED_TRACE(c.pins + " / " + c.thumbprint + " / " + std::to_string(int(c.state)));
        EXPECT_EQ(v.accepted, c.accepted);
        EXPECT_NE(v.text.find(c.said), std::string::npos) << v.text;
        EXPECT_EQ(v.text.find("Zertifikat " + c.thumbprint + " (Mevo Test).") != std::string::npos, !c.thumbprint.empty());
        EXPECT_EQ(v.level, v.text.empty() ? 1 : c.level);
        EXPECT_EQ(v.text.find("Das Update wird nicht ausgeführt.") != std::string::npos, !c.accepted);
    }
}

}  // namespace

// The pin never turns off because the value is there in a form or beside a key
// that a plain string lookup misses: it is read whole, or the run is refused.
TEST(PublisherTest, TheValueIsReadWholeOrRefusesTheRun) {
    const char kHost[] = "Software\\Mevo\\Tarnix.exe";
    const std::string pin(64, 'A');
    std::string many = pin;
    for (int i = 0; i < 63; ++i) many += ";" + std::string(64, 'B');
    struct Case {
        const char* what;
        std::uint32_t type;
        std::string data;
        bool keyOfThatName;
        bool readable;
        std::string pins;
    } cases[] = {
        {"not set", kRegNone, "", false, true, ""},
        {"one pin", kRegSz, pin + '\0', false, true, pin},
        {"64 pins, over 4 KB", kRegSz, many + '\0', false, true, many},
        {"beside a key named UpdateSigner", kRegSz, pin + '\0', true, true, pin},
        {"a list of strings", kRegMultiSz, pin + '\0' + '\0', false, false, ""},
        {"a number", kRegDword, std::string(4, '\1'), false, false, ""},
    };
    for (const Case& c : cases) {
        ScopedMemoryRegistry reg;
        reg.registry.createPath(RootKey::LocalMachine, kHost);
        if (c.type != kRegNone) reg.registry.setValue(RootKey::LocalMachine, kHost, "UpdateSigner", c.type, c.data);
        if (c.keyOfThatName) reg.registry.createPath(RootKey::LocalMachine, std::string(kHost) + "\\UpdateSigner");
        std::string pins;
        EXPECT_EQ(PinnedPublishers(pins), c.readable) << c.what;
        EXPECT_EQ(pins.size(), c.pins.size()) << c.what;
    }
}

// The signer's name as the log shows it: code page 1252 from any of the string
// kinds, and never a control character that could start a line of its own.
TEST(AuthenticodeTest, CommonNameInCodePage1252) {
    // Name { RDN { AttributeTypeAndValue { commonName, <tag> <value> } } }
    auto name = [](unsigned char tag, B value) {
        B atv = {0x06, 0x03, 0x55, 0x04, 0x03, tag, static_cast<unsigned char>(value.size())};
        atv.insert(atv.end(), value.begin(), value.end());
        B seq = {0x30, static_cast<unsigned char>(atv.size())};
        seq.insert(seq.end(), atv.begin(), atv.end());
        B set = {0x31, static_cast<unsigned char>(seq.size())};
        set.insert(set.end(), seq.begin(), seq.end());
        B out = {0x30, static_cast<unsigned char>(set.size())};
        out.insert(out.end(), set.begin(), set.end());
        return out;
    };
    const struct {
        unsigned char tag;
        B value;
        std::string text;
    } cases[] = {
        {0x13, {'M', 'e', 'v', 'o'}, "Mevo"},                                     // PrintableString
        {0x0C, {'M', 0xC3, 0xBC, 'l', 'l', 'e', 'r'}, "M\xFCller"},               // UTF8String ü
        {0x0C, {'A', 0xE2, 0x82, 0xAC, 0xE4, 0xB8, 0xAD}, "A\x80?"},              // € and a CJK sign
        {0x1E, {0x00, 'M', 0x00, 0xFC, 0x4E, 0x2D}, "M\xFC?"},                    // BMPString
        {0x0C, {'A', '\r', '\n', '*', 0x7F}, "A??*?"},                            // no new line in the log
    };
    for (const auto& c : cases) {
        B der = name(c.tag, c.value);
        EXPECT_EQ(CommonName(Bytes(der.data(), der.size())), c.text) << int(c.tag);
    }
}
