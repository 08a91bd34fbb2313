#include "archive/Authenticode.h"

#include <cstring>
#include <iterator>
#include <vector>

#include "archive/Signature.h"
#include "base/Cp1252.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"

namespace {

constexpr unsigned char kOidSignedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
constexpr unsigned char kOidIndirectData[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
constexpr unsigned char kOidMessageDigest[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
constexpr unsigned char kOidSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
constexpr unsigned char kOidSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
constexpr unsigned char kOidCommonName[] = {0x55, 0x04, 0x03};
constexpr unsigned char kOidRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

constexpr std::uint16_t kRevision2 = 0x0200, kTypePkcs7 = 2;
constexpr std::int64_t kMaxTableSize = 1 << 20;
constexpr std::size_t kChunkSize = 64 * 1024;

// The parse is a walk through nested elements, one step per element of the
// current level, which must carry the step's tag: `In` goes down into it,
// `Out` back up to the level above, `Optional` passes over an element that is
// not there, and a slot keeps the element for what follows the walk.
enum : unsigned char { In = 1, Out = 2, Optional = 4 };
struct Step {
    unsigned char tag, flags, slot;
};
constexpr unsigned char kNoSlot = 0;

enum Slot : unsigned char {
    ContentType = 1, IndirectType, Indirect, FileHashOid, FileDigest, Certificates, Issuer, Serial, SignerHashOid, Attributes,
    Signature, SlotCount,
    // of a certificate
    Certificate = 1, CertSerial, CertIssuer, Subject, PublicKey, CertSlotCount,
    // of an attribute
    AttributeType = 1, AttributeValue, AttributeSlotCount,
};

// ContentInfo { signedData, [0] SignedData { version, digest algorithms,
// ContentInfo { indirect data, [0] SpcIndirectDataContent { data, DigestInfo } },
// [0] certificates, [1] revocation lists, signer infos { SignerInfo { version,
// issuer and serial, digest algorithm, [0] signed attributes, signature algorithm, signature } } } }
constexpr Step kSignedData[] = {
    {kDerSequence, In, kNoSlot}, {kDerOid, 0, ContentType}, {kDerContext0, In, kNoSlot},
    {kDerSequence, In, kNoSlot}, {kDerInteger, 0, kNoSlot}, {kDerSet, 0, kNoSlot},
    {kDerSequence, In, kNoSlot}, {kDerOid, 0, IndirectType}, {kDerContext0, In, kNoSlot},
    {kDerSequence, In, Indirect}, {kDerSequence, 0, kNoSlot}, {kDerSequence, In, kNoSlot},
    {kDerSequence, In, kNoSlot}, {kDerOid, 0, FileHashOid}, {0, Out, kNoSlot}, {kDerOctetString, 0, FileDigest},
    {0, Out, kNoSlot}, {0, Out, kNoSlot}, {0, Out, kNoSlot}, {0, Out, kNoSlot},
    {kDerContext0, 0, Certificates}, {kDerContext1, Optional, kNoSlot},
    {kDerSet, In, kNoSlot}, {kDerSequence, In, kNoSlot}, {kDerInteger, 0, kNoSlot},
    {kDerSequence, In, kNoSlot}, {kDerSequence, 0, Issuer}, {kDerInteger, 0, Serial}, {0, Out, kNoSlot},
    {kDerSequence, In, kNoSlot}, {kDerOid, 0, SignerHashOid}, {0, Out, kNoSlot},
    {kDerContext0, 0, Attributes}, {kDerSequence, 0, kNoSlot}, {kDerOctetString, 0, Signature},
};
// Certificate { TBSCertificate { [0] version, serial, signature algorithm, issuer, validity, subject, key } }
constexpr Step kCertificate[] = {
    {kDerSequence, In, Certificate}, {kDerSequence, In, kNoSlot}, {kDerContext0, Optional, kNoSlot},
    {kDerInteger, 0, CertSerial}, {kDerSequence, 0, kNoSlot}, {kDerSequence, 0, CertIssuer},
    {kDerSequence, 0, kNoSlot}, {kDerSequence, 0, Subject}, {kDerSequence, 0, PublicKey},
};
// Attribute { type, SET { value } }; RelativeDistinguishedName { { type, value } }
constexpr Step kAttribute[] = {{kDerSequence, In, kNoSlot}, {kDerOid, 0, AttributeType}, {kDerSet, In, kNoSlot},
                               {kDerOctetString, 0, AttributeValue}};
constexpr Step kNamePart[] = {{kDerSet, In, kNoSlot}, {kDerSequence, In, kNoSlot}, {kDerOid, 0, AttributeType},
                              {0, 0, AttributeValue}};

static_assert(std::size(kAttribute) == 4 && std::size(kNamePart) == 4);

// Walks the steps from the start of `reader`, which is left after the walk's first element.
bool Walk(DerReader& reader, const Step* steps, std::size_t count, DerElement* slots) {
    DerReader levels[10] = {reader};
    int depth = 0;
    for (const Step* step = steps; step != steps + count; ++step) {
        if (step->flags & Out) {
            --depth;
            continue;
        }
        DerReader& level = levels[depth];
        DerElement e;
        if ((step->flags & Optional) && !level.nextIs(step->tag)) continue;
        if (!(step->tag ? level.next(step->tag, e) : level.next(e))) return false;
        if (step->slot) slots[step->slot] = e;
        if (step->flags & In) levels[++depth] = DerReader(e.content);
    }
    reader = levels[0];
    return true;
}

// SHA-1 or SHA-256, by the content of its identifier.
// SHA-384 and SHA-512 (the next identifiers of SHA-256's arc) are read, but
// not computed: such a signature cannot be checked here, which is no damage.
bool HashOf(const DerElement& oid, HashKind& kind) {
    Bytes id = oid.content;
    const bool sha2 = id.size() == sizeof kOidSha256 && std::memcmp(id.data(), kOidSha256, sizeof kOidSha256 - 1) == 0;
    kind = SameBytes(id, kOidSha1) ? HashKind::Sha1 : SameBytes(id, kOidSha256) ? HashKind::Sha256 : HashKind::Other;
    return kind != HashKind::Other || (sha2 && (id.back() == 2 || id.back() == 3));
}

// Whether a SubjectPublicKeyInfo holds an RSA key, the only kind the check verifies.
bool IsRsaKey(Bytes publicKeyInfo) {
    DerReader reader(publicKeyInfo);
    DerElement info, algorithm, oid;
    if (!reader.next(kDerSequence, info)) return false;
    DerReader inInfo(info.content);
    if (!inInfo.next(kDerSequence, algorithm)) return false;
    DerReader inAlgorithm(algorithm.content);
    return inAlgorithm.next(kDerOid, oid) && SameBytes(oid.content, kOidRsa);
}

// The value of the first attribute of `type` in a SET of attributes or a Name.
bool FindAttribute(Bytes all, const Step* steps, Bytes type, DerElement& value) {
    DerReader reader(all);
    DerElement slots[AttributeSlotCount];
    while (!reader.atEnd()) {
        DerReader before = reader;
        bool read = Walk(reader, steps, 4, slots);  // both shapes take 4 steps
        if (read && SameBytes(slots[AttributeType].content, type)) {
            value = slots[AttributeValue];
            return true;
        }
        // An element of another shape is passed over.
        DerElement skipped;
        if (!read && !(reader = before).next(skipped)) return false;
    }
    return false;
}

// The certificate among `certificates` with that issuer and serial number.
bool FindCertificate(Bytes certificates, const DerElement& issuer, const DerElement& serial,
                     AuthenticodeSignature& out) {
    DerReader reader(certificates);
    DerElement slots[CertSlotCount];
    while (Walk(reader, kCertificate, std::size(kCertificate), slots)) {
        if (!SameBytes(slots[CertIssuer].whole, issuer.whole) || !SameBytes(slots[CertSerial].whole, serial.whole))
            continue;
        out.certificate = slots[Certificate].whole;
        out.subject = slots[Subject].whole;
        out.publicKeyInfo = slots[PublicKey].whole;
        return true;
    }
    return false;
}

std::size_t DigestOf(HashKind kind, Bytes bytes, unsigned char out[]) {
    Hasher hasher(kind);
    return hasher.add(bytes) ? hasher.finish(out) : 0;
}

// Whether the digest that `hasher` ends with is `expected`; Unverifiable when it cannot be computed.
SignerState Compare(Hasher& hasher, Bytes expected) {
    unsigned char digest[kMaxDigestSize];
    std::size_t size = hasher.finish(digest);
    if (size == 0) return SignerState::Unverifiable;
    return SameBytes(expected, Bytes(digest, size)) ? SignerState::Matches : SignerState::Mismatch;
}

// The file's digest as Authenticode computes it, read in pieces: every byte
// before the certificate table but the CheckSum field and the table's directory entry.
SignerState CompareFileDigest(FileHandle& file, const CertificateTable& table, const AuthenticodeSignature& s) {
    Hasher hasher(s.fileDigestKind);
    const std::int64_t ranges[] = {0, table.checksumField, table.checksumField + 4, table.directoryEntry,
                                   table.directoryEntry + 8, table.offset};
    std::vector<unsigned char> buffer(kChunkSize);
    for (int i = 0; hasher.ok() && i < 6; i += 2) {
        std::int64_t from = ranges[i], to = ranges[i + 1];
        if (from > to || !file.seek(from)) return SignerState::Mismatch;
        for (std::int64_t count; from < to; from += count) {
            count = std::min<std::int64_t>(to - from, kChunkSize);
            if (file.read(buffer.data(), count) != count || !hasher.add(Bytes(buffer.data(), std::size_t(count))))
                return SignerState::Unverifiable;
            Ui().pumpMessages();  // a large package takes seconds: the window keeps answering
        }
    }
    return Compare(hasher, s.fileDigest);
}

// Whether the file's digest, the signed statement and the signature (over
// the signed attributes, whose tag the caller has made that of a SET) agree.
SignerState Verify(FileHandle& file, const CertificateTable& table, const AuthenticodeSignature& s) {
    SignerState state = CompareFileDigest(file, table, s);
    if (state != SignerState::Matches) return state;
    Hasher hasher(s.signerKind);
    hasher.add(s.indirectContent);
    if ((state = Compare(hasher, s.messageDigest)) != SignerState::Matches) return state;
    if (!IsRsaKey(s.publicKeyInfo)) return SignerState::Unverifiable;
    SignatureCheck check = VerifyRsaSignature(s.signerKind, s.publicKeyInfo, s.signedAttributes, s.signature);
    return check == SignatureCheck::Valid     ? SignerState::Matches
           : check == SignatureCheck::Invalid ? SignerState::Mismatch
                                              : SignerState::Unverifiable;
}

}  // namespace

bool ParseAuthenticode(Bytes table, AuthenticodeSignature& out) {
    if (table.size() < 8) return false;
    std::uint32_t length = std::uint32_t(table[0] | table[1] << 8 | table[2] << 16 | std::uint32_t(table[3]) << 24);
    if (length < 8 || length > table.size() || (table[4] | table[5] << 8) != kRevision2 ||
        (table[6] | table[7] << 8) != kTypePkcs7)
        return false;
    DerReader reader(table.subspan(8, length - 8));
    DerElement slots[SlotCount];
    DerElement messageDigest;
    if (!Walk(reader, kSignedData, std::size(kSignedData), slots) || !SameBytes(slots[ContentType].content, kOidSignedData) ||
        !SameBytes(slots[IndirectType].content, kOidIndirectData) || !HashOf(slots[FileHashOid], out.fileDigestKind) ||
        !HashOf(slots[SignerHashOid], out.signerKind))
        return false;
    out.indirectContent = slots[Indirect].content;
    out.fileDigest = slots[FileDigest].content;
    out.signedAttributes = slots[Attributes].whole;
    out.signature = slots[Signature].content;
    return !out.fileDigest.empty() && !out.signature.empty() &&
           FindAttribute(slots[Attributes].content, kAttribute, kOidMessageDigest, messageDigest) &&
           !(out.messageDigest = messageDigest.content).empty() &&
           FindCertificate(slots[Certificates].content, slots[Issuer], slots[Serial], out);
}

std::string CommonName(Bytes name) {
    constexpr unsigned char kUtf8String = 0x0C, kBmpString = 0x1E;
    DerReader reader(name);
    DerElement sequence, value;
    if (!reader.next(kDerSequence, sequence) || !FindAttribute(sequence.content, kNamePart, kOidCommonName, value))
        return {};
    Bytes raw = value.content;
    std::string text(raw.begin(), raw.end());
    if (value.tag == kUtf8String) text = Utf8ToCp1252(text);
    if (value.tag == kBmpString) {
        text.clear();
        for (std::size_t i = 0; i + 1 < raw.size(); i += 2) text += Cp1252CharOf(std::uint32_t(raw[i] << 8 | raw[i + 1]));
    }
    // A name never adds a line to the log.
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

Signer CheckSigner(FileHandle& file, bool verify) {
    Signer signer;
    CertificateTable table;
    if (!FindCertificateTable(file, file.size(), table)) return signer;
    signer.state = SignerState::Unreadable;
    if (table.size > kMaxTableSize) return signer;
    std::vector<unsigned char> bytes(std::size_t(table.size));
    AuthenticodeSignature s;
    if (!file.seek(table.offset) || file.read(bytes.data(), table.size) != table.size || !ParseAuthenticode(bytes, s))
        return signer;
    signer.subject = CommonName(s.subject);
    unsigned char thumbprint[kMaxDigestSize];
    std::size_t size = DigestOf(HashKind::Sha256, s.certificate, thumbprint);
    for (std::size_t i = 0; i < size; ++i) {
        signer.thumbprint += "0123456789ABCDEF"[thumbprint[i] >> 4];
        signer.thumbprint += "0123456789ABCDEF"[thumbprint[i] & 15];
    }
    // The signature covers the signed attributes under the tag of a SET.
    bytes[std::size_t(s.signedAttributes.data() - bytes.data())] = kDerSet;
    signer.state = size == 0 ? SignerState::Unverifiable : verify ? Verify(file, table, s) : SignerState::NotChecked;
    return signer;
}
