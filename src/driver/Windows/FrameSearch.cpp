#include "driver/Windows/FrameSearch.h"

#include <cstdlib>
#include <cstring>

namespace {

// Pointer forms (DW_EH_PE_*): the low four bits give the size, the next three
// what the value counts from, the top bit reads the pointer it gives.
constexpr unsigned char kAbsolute = 0x00, kUleb128 = 0x01, kUdata2 = 0x02, kUdata4 = 0x03, kUdata8 = 0x04,
                        kSleb128 = 0x09, kSdata2 = 0x0A, kSdata4 = 0x0B, kSdata8 = 0x0C;
constexpr unsigned char kPcRelative = 0x10, kDataRelative = 0x30, kAligned = 0x50, kIndirect = 0x80, kOmit = 0xFF;

template <typename T>
T Load(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

const unsigned char* ReadLeb(const unsigned char* p, std::uintptr_t& value, bool isSigned) {
    value = 0;
    unsigned shift = 0;
    unsigned char byte;
    do {
        byte = *p++;
        if (shift < 8 * sizeof value) value |= std::uintptr_t(byte & 0x7F) << shift;
        shift += 7;
    } while (byte & 0x80);
    if (isSigned && shift < 8 * sizeof value && (byte & 0x40)) value |= ~std::uintptr_t(0) << shift;
    return p;
}

// The pointer of form `form` at `p` into `value`; the position after it. Text-
// and data-relative pointers count from 0: the registered table gives no bases.
const unsigned char* ReadPointer(unsigned char form, const unsigned char* p, std::uintptr_t& value) {
    if (form == kAligned) {
        std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(p) + sizeof(void*) - 1) & ~(sizeof(void*) - 1);
        value = Load<std::uintptr_t>(reinterpret_cast<const unsigned char*>(at));
        return reinterpret_cast<const unsigned char*>(at) + sizeof(void*);
    }
    if ((form & 0x70) > kDataRelative) std::abort();
    const unsigned char* start = p;
    switch (form & 0x0F) {
    case kAbsolute: value = Load<std::uintptr_t>(p); p += sizeof(std::uintptr_t); break;
    case kUleb128: p = ReadLeb(p, value, false); break;
    case kSleb128: p = ReadLeb(p, value, true); break;
    case kUdata2: value = Load<std::uint16_t>(p); p += 2; break;
    case kSdata2: value = std::uintptr_t(Load<std::int16_t>(p)); p += 2; break;
    case kUdata4: value = Load<std::uint32_t>(p); p += 4; break;
    case kSdata4: value = std::uintptr_t(Load<std::int32_t>(p)); p += 4; break;
    case kUdata8:
    case kSdata8: value = std::uintptr_t(Load<std::uint64_t>(p)); p += 8; break;
    default: std::abort();
    }
    if (value == 0) return p;  // no pointer: neither relative nor read through
    if ((form & 0x70) == kPcRelative) value += reinterpret_cast<std::uintptr_t>(start);
    if (form & kIndirect) value = Load<std::uintptr_t>(reinterpret_cast<const unsigned char*>(value));
    return p;
}

// The pointer form of the code ranges of a CIE's entries: its augmentation's
// 'R' item; absolute pointers without one.
unsigned char RangeForm(const unsigned char* cie) {
    const unsigned char* p = cie + 8;  // after the length and the CIE id
    unsigned char version = *p++;
    const char* augmentation = reinterpret_cast<const char*>(p);
    p += std::strlen(augmentation) + 1;
    if (version >= 4) {
        if (p[0] != sizeof(void*) || p[1] != 0) return kOmit;
        p += 2;
    }
    if (augmentation[0] != 'z') return kAbsolute;
    std::uintptr_t skipped;
    p = ReadLeb(p, skipped, false);  // code alignment
    p = ReadLeb(p, skipped, true);   // data alignment
    if (version == 1) ++p;           // return address column
    else p = ReadLeb(p, skipped, false);
    p = ReadLeb(p, skipped, false);  // length of the augmentation data
    for (const char* item = augmentation + 1;; ++item) {
        if (*item == 'R') return *p;
        if (*item == 'P') p = ReadPointer(*p & 0x7F, p + 1, skipped);  // the personality routine
        else if (*item == 'L' || *item == 'B') ++p;
        else return kAbsolute;
    }
}

}  // namespace

const void* FindFrameEntry(const unsigned char* table, std::uintptr_t pc, FrameBases& bases) noexcept {
    if (!table) return nullptr;
    const unsigned char* lastCie = nullptr;
    unsigned char form = kAbsolute;
    for (const unsigned char* entry = table;; entry += 4 + Load<std::uint32_t>(entry)) {
        if (Load<std::uint32_t>(entry) == 0) return nullptr;  // the end of the table
        std::uint32_t cieOffset = Load<std::uint32_t>(entry + 4);
        if (cieOffset == 0) continue;  // a CIE
        const unsigned char* cie = entry + 4 - cieOffset;
        if (cie != lastCie) {
            form = RangeForm(cie);
            lastCie = cie;
        }
        std::uintptr_t start, length;
        ReadPointer(form & 0x0F, ReadPointer(form, entry + 8, start), length);
        // A start of 0 is an entry whose code the linker left out.
        if (start != 0 && pc - start < length) {
            bases = {nullptr, nullptr, reinterpret_cast<void*>(start)};
            return entry;
        }
    }
}
