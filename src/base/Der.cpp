#include "base/Der.h"

bool DerReader::next(DerElement& out) {
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

bool DerReader::next(unsigned char tag, DerElement& out) { return nextIs(tag) && next(out); }

bool DerReader::enter(unsigned char tag, DerReader& inner) {
    DerElement e;
    if (!next(tag, e)) return false;
    inner = DerReader(e.content);
    return true;
}

bool SameBytes(Bytes a, Bytes b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}
