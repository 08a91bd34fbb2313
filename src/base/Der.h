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
    bool next(DerElement& out) {
        if (rest_.size() < 2 || (rest_[0] & 0x1F) == 0x1F) return false;
        std::size_t header = 2, length = rest_[1];
        if (length & 0x80) {
            std::size_t count = length & 0x7F;
            if (count == 0 || count > 4 || rest_.size() < 2 + count) return false;
            length = 0;
            for (std::size_t i = 0; i < count; ++i) length = length << 8 | rest_[2 + i];
            header += count;
        }
        if (length > rest_.size() - header) return false;
        out.tag = rest_[0];
        out.whole = rest_.first(header + length);
        out.content = out.whole.subspan(header);
        rest_ = rest_.subspan(header + length);
        return true;
    }

    // The next element, which must carry `tag`.
    bool next(unsigned char tag, DerElement& out) { return nextIs(tag) && next(out); }
    // The content of the next element, which must carry `tag`.
    bool enter(unsigned char tag, DerReader& inner) {
        DerElement e;
        if (!next(tag, e)) return false;
        inner = DerReader(e.content);
        return true;
    }

private:
    Bytes rest_;
};

inline bool SameBytes(Bytes a, Bytes b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}
