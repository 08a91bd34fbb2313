// DER, the encoding of ASN.1 that signatures and certificates use, read from a
// byte span: one element after another, tag and length, every length checked
// against the bytes that remain.
#pragma once

#include <cstddef>
#include <span>

using Bytes = std::span<const unsigned char>;

// The tags the updater reads.
enum : unsigned char {
    kDerInteger = 0x02,
    kDerBitString = 0x03,
    kDerOctetString = 0x04,
    kDerOid = 0x06,
    kDerSequence = 0x30,
    kDerSet = 0x31,
    kDerContext0 = 0xA0,  // [0], constructed
    kDerContext1 = 0xA1,
};

struct DerElement {
    unsigned char tag = 0;
    Bytes whole;    // tag, length and content
    Bytes content;
};

class DerReader {
public:
    DerReader() = default;
    explicit DerReader(Bytes bytes) : rest_(bytes) {}

    bool atEnd() const { return rest_.empty(); }
    bool nextIs(unsigned char tag) const { return !rest_.empty() && rest_[0] == tag; }

    // The next element; false, with nothing consumed, when it is cut short or
    // uses a multi-byte tag, the indefinite length or more than 4 length bytes.
    bool next(DerElement& out);
    // The next element, which must carry `tag`.
    bool next(unsigned char tag, DerElement& out);
    // The content of the next element, which must carry `tag`.
    bool enter(unsigned char tag, DerReader& inner);

private:
    Bytes rest_;
};

bool SameBytes(Bytes a, Bytes b);
