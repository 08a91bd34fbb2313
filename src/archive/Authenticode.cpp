#include "archive/Authenticode.h"

#include <cstring>
#include <vector>

#include "archive/Signature.h"
#include "platform/FileSystem.h"

namespace {

constexpr unsigned char kOidSignedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
constexpr unsigned char kOidIndirectData[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
constexpr unsigned char kOidMessageDigest[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
constexpr unsigned char kOidSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
constexpr unsigned char kOidSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
constexpr unsigned char kOidCommonName[] = {0x55, 0x04, 0x03};

constexpr std::uint16_t kRevision2 = 0x0200, kTypePkcs7 = 2;
constexpr std::int64_t kMaxTableSize = 1 << 20;
constexpr std::size_t kChunkSize = 64 * 1024;

bool NextOid(DerReader& r, Bytes oid) {
    DerElement e;
    return r.next(kDerOid, e) && SameBytes(e.content, oid);
}

// An AlgorithmIdentifier of SHA-1 or SHA-256.
bool NextHash(DerReader& r, HashKind& kind) {
    DerReader algorithm;
    DerElement oid;
    if (!r.enter(kDerSequence, algorithm) || !algorithm.next(kDerOid, oid)) return false;
    kind = SameBytes(oid.content, kOidSha1) ? HashKind::Sha1 : HashKind::Sha256;
    return SameBytes(oid.content, kOidSha1) || SameBytes(oid.content, kOidSha256);
}

// SpcIndirectDataContent: SEQUENCE { data, DigestInfo { algorithm, digest } }.
bool ReadIndirectData(DerReader& signedData, AuthenticodeSignature& out) {
    DerReader contentInfo, wrapper, indirect, digestInfo;
    DerElement statement, skipped, digest;
    if (!signedData.enter(kDerSequence, contentInfo) || !NextOid(contentInfo, kOidIndirectData) ||
        !contentInfo.enter(kDerContext0, wrapper) || !wrapper.next(kDerSequence, statement))
        return false;
    out.indirectContent = statement.content;
    indirect = DerReader(statement.content);
    return indirect.next(kDerSequence, skipped) && indirect.enter(kDerSequence, digestInfo) &&
           NextHash(digestInfo, out.fileDigestKind) && digestInfo.next(kDerOctetString, digest) &&
           !(out.fileDigest = digest.content).empty();
}

// The messageDigest attribute among the signed attributes.
bool FindMessageDigest(Bytes attributes, Bytes& digest) {
    DerReader all(attributes);
    while (!all.atEnd()) {
        DerReader attribute, values;
        DerElement value;
        if (!all.enter(kDerSequence, attribute)) return false;
        if (!NextOid(attribute, kOidMessageDigest)) continue;
        if (!attribute.enter(kDerSet, values) || !values.next(kDerOctetString, value)) return false;
        digest = value.content;
        return true;
    }
    return false;
}

// SignerInfo: version, issuer and serial, digest algorithm, [0] signed
// attributes, signature algorithm, signature.
bool ReadSignerInfo(DerReader& signerInfos, AuthenticodeSignature& out, DerElement& issuer, DerElement& serial) {
    DerReader info, issuerAndSerial;
    DerElement skipped, attributes, signature;
    return signerInfos.enter(kDerSequence, info) && info.next(kDerInteger, skipped) &&
           info.enter(kDerSequence, issuerAndSerial) && issuerAndSerial.next(kDerSequence, issuer) &&
           issuerAndSerial.next(kDerInteger, serial) && NextHash(info, out.signerKind) &&
           info.next(kDerContext0, attributes) && FindMessageDigest(attributes.content, out.messageDigest) &&
           !(out.signedAttributes = attributes.whole).empty() && info.next(kDerSequence, skipped) &&
           info.next(kDerOctetString, signature) && !(out.signature = signature.content).empty();
}

// The certificate of `certificates` with that issuer and serial number.
bool FindCertificate(Bytes certificates, const DerElement& issuer, const DerElement& serial,
                     AuthenticodeSignature& out) {
    DerReader all(certificates);
    DerElement certificate;
    while (all.next(kDerSequence, certificate)) {
        DerReader body(certificate.content), tbs;
        DerElement field, certIssuer, certSerial, subject, key;
        if (!body.enter(kDerSequence, tbs)) return false;
        if (tbs.nextIs(kDerContext0)) tbs.next(field);  // the version
        if (!tbs.next(kDerInteger, certSerial) || !tbs.next(kDerSequence, field) ||
            !tbs.next(kDerSequence, certIssuer) || !tbs.next(kDerSequence, field) ||
            !tbs.next(kDerSequence, subject) || !tbs.next(kDerSequence, key))
            return false;
        if (!SameBytes(certIssuer.whole, issuer.whole) || !SameBytes(certSerial.whole, serial.whole)) continue;
        out.certificate = certificate.whole;
        out.subject = subject.whole;
        out.publicKeyInfo = key.whole;
        return true;
    }
    return false;
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// Feeds [from, to) of the file to `hasher`; false when a read fails or falls short.
bool HashRange(FileHandle& file, std::int64_t from, std::int64_t to, Hasher& hasher, std::vector<unsigned char>& buffer) {
    if (!file.seek(from)) return false;
    while (from < to) {
        std::int64_t count = std::min<std::int64_t>(to - from, std::int64_t(buffer.size()));
        if (file.read(buffer.data(), count) != count || !hasher.add(Bytes(buffer.data(), std::size_t(count))))
            return false;
        from += count;
    }
    return true;
}

// The file's digest as Authenticode computes it: every byte before the
// certificate table but the CheckSum field and the table's directory entry.
std::size_t FileDigest(FileHandle& file, const CertificateTable& table, HashKind kind, unsigned char out[]) {
    std::unique_ptr<Hasher> hasher = StartHash(kind);
    std::vector<unsigned char> buffer(kChunkSize);
    if (!hasher || table.checksumField + 4 > table.directoryEntry) return 0;
    if (!HashRange(file, 0, table.checksumField, *hasher, buffer) ||
        !HashRange(file, table.checksumField + 4, table.directoryEntry, *hasher, buffer) ||
        !HashRange(file, table.directoryEntry + 8, table.offset, *hasher, buffer))
        return 0;
    return hasher->finish(out);
}

std::size_t DigestOf(HashKind kind, Bytes bytes, unsigned char out[]) {
    std::unique_ptr<Hasher> hasher = StartHash(kind);
    return hasher && hasher->add(bytes) ? hasher->finish(out) : 0;
}

bool Equal(Bytes expected, const unsigned char* digest, std::size_t size) {
    return SameBytes(expected, Bytes(digest, size));
}

// Whether the file's digest, the signed statement and the signature agree.
SignerState Verify(FileHandle& file, const CertificateTable& table, const AuthenticodeSignature& s) {
    unsigned char digest[kMaxDigestSize];
    std::size_t size = FileDigest(file, table, s.fileDigestKind, digest);
    if (size == 0) return SignerState::Unverifiable;
    if (!Equal(s.fileDigest, digest, size)) return SignerState::Mismatch;
    if (!(size = DigestOf(s.signerKind, s.indirectContent, digest))) return SignerState::Unverifiable;
    if (!Equal(s.messageDigest, digest, size)) return SignerState::Mismatch;
    // The signature covers the attributes under the tag of a SET.
    std::vector<unsigned char> attributes(s.signedAttributes.begin(), s.signedAttributes.end());
    attributes[0] = kDerSet;
    switch (VerifyRsaSignature(s.signerKind, s.publicKeyInfo, attributes, s.signature)) {
    case SignatureCheck::Valid: return SignerState::Matches;
    case SignatureCheck::Invalid: return SignerState::Mismatch;
    default: return SignerState::Unverifiable;
    }
}

}  // namespace

bool ParseAuthenticode(Bytes table, AuthenticodeSignature& out) {
    if (table.size() < 8) return false;
    std::uint32_t length = std::uint32_t(table[0] | table[1] << 8 | table[2] << 16 | std::uint32_t(table[3]) << 24);
    if (length < 8 || length > table.size() || (table[4] | table[5] << 8) != kRevision2 ||
        (table[6] | table[7] << 8) != kTypePkcs7)
        return false;
    DerReader top(table.subspan(8, length - 8)), contentInfo, wrapper, signedData, signerInfos;
    DerElement skipped, certificates, issuer, serial;
    if (!top.enter(kDerSequence, contentInfo) || !NextOid(contentInfo, kOidSignedData) ||
        !contentInfo.enter(kDerContext0, wrapper) || !wrapper.enter(kDerSequence, signedData) ||
        !signedData.next(kDerInteger, skipped) || !signedData.next(kDerSet, skipped) ||
        !ReadIndirectData(signedData, out) || !signedData.next(kDerContext0, certificates))
        return false;
    if (signedData.nextIs(kDerContext1)) signedData.next(skipped);  // revocation lists
    return signedData.enter(kDerSet, signerInfos) && ReadSignerInfo(signerInfos, out, issuer, serial) &&
           FindCertificate(certificates.content, issuer, serial, out);
}

std::string CommonName(Bytes name) {
    DerReader rdns(name), all;
    if (!rdns.enter(kDerSequence, all)) return {};
    DerReader set, pair;
    while (all.enter(kDerSet, set)) {
        DerElement value;
        if (set.enter(kDerSequence, pair) && NextOid(pair, kOidCommonName) && pair.next(value))
            return std::string(value.content.begin(), value.content.end());
    }
    return {};
}

Signer CheckSigner(FileHandle& file, bool verify) {
    Signer signer;
    CertificateTable table;
    if (!FindCertificateTable(file, file.size(), table)) return signer;
    signer.state = SignerState::Unreadable;
    std::vector<unsigned char> bytes(std::size_t(std::min(table.size, kMaxTableSize)));
    AuthenticodeSignature s;
    if (table.size > kMaxTableSize || !file.seek(table.offset) ||
        file.read(bytes.data(), std::int64_t(bytes.size())) != std::int64_t(bytes.size()) ||
        !ParseAuthenticode(bytes, s))
        return signer;
    signer.subject = CommonName(s.subject);
    unsigned char thumbprint[kMaxDigestSize];
    std::size_t size = DigestOf(HashKind::Sha256, s.certificate, thumbprint);
    signer.thumbprint = Hex(thumbprint, size);
    signer.state = size == 0 ? SignerState::Unverifiable : verify ? Verify(file, table, s) : SignerState::NotChecked;
    return signer;
}
