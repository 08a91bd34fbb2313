// Digests and RSA signature checks, the system's own: the updater carries no
// cryptography. Windows: the CryptoAPI, looked up at run time, so that the
// program still starts where it is missing (Windows 95, NT 4 without it);
// native: OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/Der.h"  // Bytes

// Other: a digest (SHA-384, SHA-512) that the check does not compute; a Hasher of it is never ok().
enum class HashKind { Sha1, Sha256, Other };

constexpr std::size_t kMaxDigestSize = 32;

// One digest being computed, by the system. `ok()` is false where the system
// cannot compute `kind`; then every call fails.
class Hasher {
public:
    explicit Hasher(HashKind kind);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    bool ok() const { return handle_ != 0; }
    bool add(Bytes bytes);
    // The digest's length (20 or 32) into `out`; 0 on failure.
    std::size_t finish(unsigned char out[kMaxDigestSize]);

private:
    std::uintptr_t handle_ = 0;  // the system's digest object
};

enum class SignatureCheck { Valid, Invalid, Unavailable };

// Whether `signature` is the RSA PKCS#1 v1.5 signature of the `kind` digest of
// `message` by the key of `publicKeyInfo` (a DER SubjectPublicKeyInfo). A key
// the system cannot read is Invalid; Unavailable where the system has no RSA.
SignatureCheck VerifyRsaSignature(HashKind kind, Bytes publicKeyInfo, Bytes message, Bytes signature);
