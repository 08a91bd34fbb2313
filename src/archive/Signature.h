// Signed updaters. Authenticode signing appends a certificate table to the
// executable, after the attached archive, so the archive's tail record is no
// longer the file's last 8 bytes: it ends where the certificate table begins,
// which the PE optional header's security directory (data directory 4) names
// by file offset and size.
#pragma once

#include <cstdint>

class FileHandle;

struct CertificateTable {
    std::int64_t offset = 0;
    std::int64_t size = 0;
    // File offsets of the optional header's CheckSum field (4 bytes) and of the
    // directory entry that names the table (8 bytes): a signature's digest of
    // the file leaves them out, with the table itself.
    std::int64_t checksumField = 0;
    std::int64_t directoryEntry = 0;
};

// The certificate table of a PE image (PE32 or PE32+). False when the file is
// no PE image, names no table, or its table does not end the file.
bool FindCertificateTable(FileHandle& file, std::int64_t fileSize, CertificateTable& table);

// Fills `tail` with the 8 bytes before the certificate table when they hold the
// archive magic. Signers align the table to 8 bytes with up to 7 zero bytes,
// which are skipped. False, with `tail` unchanged, when there is no such record.
bool ReadTailBeforeCertificates(FileHandle& file, std::int64_t fileSize, unsigned char tail[8]);
