// Digests and RSA signature checks, the system's own: the updater carries no
// cryptography. Windows: the CryptoAPI, looked up at run time, so that the
// program still starts where it is missing (Windows 95, NT 4 without it);
// native: OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <memory>

#include "base/Der.h"  // Bytes

enum class HashKind { Sha1, Sha256 };

constexpr std::size_t kMaxDigestSize = 32;

// One digest being computed.
class Hasher {
public:
    virtual ~Hasher() = default;
    virtual bool add(Bytes bytes) = 0;
    // The digest's length (20 or 32) into `out`; 0 on failure.
    virtual std::size_t finish(unsigned char out[kMaxDigestSize]) = 0;
};

// nullptr when the system cannot compute `kind`.
std::unique_ptr<Hasher> StartHash(HashKind kind);

enum class SignatureCheck { Valid, Invalid, Unavailable };

// Whether `signature` is the RSA PKCS#1 v1.5 signature of the `kind` digest of
// `message` by the key of `publicKeyInfo` (a DER SubjectPublicKeyInfo). A key
// the system cannot read is Invalid; Unavailable where the system has no RSA.
SignatureCheck VerifyRsaSignature(HashKind kind, Bytes publicKeyInfo, Bytes message, Bytes signature);
