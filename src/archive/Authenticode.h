// Authenticode: the signature that a signer puts into a PE file's certificate
// table (a PKCS#7 SignedData), and whether it matches the file. The attached
// archive lies before that table, so the signed digest covers it.
#pragma once

#include <string>

#include "base/Der.h"
#include "platform/Crypto.h"

class FileHandle;

// The parts of a signature that its check needs; spans into the table's bytes.
struct AuthenticodeSignature {
    HashKind fileDigestKind = HashKind::Sha256;
    Bytes fileDigest;       // the file's digest as the signer computed it
    Bytes indirectContent;  // the content octets of the signed statement that holds it
    HashKind signerKind = HashKind::Sha256;
    Bytes messageDigest;     // the signed attributes' digest of indirectContent
    Bytes signedAttributes;  // whole, with its [0] tag; signed as a SET
    Bytes signature;
    Bytes certificate;  // the signer's certificate, whole
    Bytes subject;      // its subject name
    Bytes publicKeyInfo;
};

// Reads a WIN_CERTIFICATE (revision 2.0, PKCS#7 SignedData) of the first
// signer; false when anything is missing, malformed or of another kind.
bool ParseAuthenticode(Bytes table, AuthenticodeSignature& out);

// The common name of a DER Name, as its bytes stand; empty without one.
std::string CommonName(Bytes name);

enum class SignerState {
    Unsigned,      // no certificate table
    Unreadable,    // a table that holds no signature this check can read
    Unverifiable,  // the system cannot compute what the check needs
    NotChecked,    // read, but the file was not checked against it
    Mismatch,      // the digest or the signature does not match the file
    Matches,
};

struct Signer {
    SignerState state = SignerState::Unsigned;
    std::string subject;     // the certificate's common name
    std::string thumbprint;  // SHA-256 of the certificate, 64 upper-case hex digits
};

// The signer of the PE file and, with `verify`, whether its signature matches
// the file: the file is read in pieces, never whole.
Signer CheckSigner(FileHandle& file, bool verify);
