// The 32-bit update.exe's search of its unwinding tables (FrameSearch.cpp), on
// tables written here in each pointer form and augmentation the search reads,
// and (32-bit) on the test program's own table, which its exceptions go through.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/Windows/FrameSearch.h"

namespace {

// Writes CIEs and FDEs into one buffer that does not move.
class TableWriter {
public:
    const unsigned char* table() const { return bytes_; }
    unsigned char* at() { return bytes_ + size_; }
    void byte(unsigned char value) { bytes_[size_++] = value; }
    void word(std::uint32_t value) {
        std::memcpy(at(), &value, 4);
        size_ += 4;
    }
    // A CIE: code alignment 1, data alignment -4, return column 8 (a LEB128
    // of two bytes from version 3 on); returns its offset.
    std::size_t cie(unsigned char version, const char* augmentation, const std::vector<unsigned char>& data) {
        std::size_t start = begin();
        word(0);
        byte(version);
        for (const char* c = augmentation; *c; ++c) byte(*c);
        byte(0);
        byte(1);
        byte(0x7C);
        if (version == 1) {
            byte(8);
        } else {
            byte(0x88);
            byte(0x01);
        }
        if (*augmentation == 'z') byte(static_cast<unsigned char>(data.size()));
        for (unsigned char value : data) byte(value);
        end(start);
        return start;
    }
    // An FDE of the CIE at `cie` for the code from `start`, `length` bytes long.
    const unsigned char* fde(std::size_t cie, unsigned char form, std::uintptr_t start, std::uintptr_t length,
                             bool augmented) {
        std::size_t entry = begin();
        word(static_cast<std::uint32_t>(size_ - cie));
        pointer(form, start);
        pointer(form & 0x0F, length);
        if (augmented) byte(0);
        end(entry);
        return bytes_ + entry;
    }
    void finish() { word(0); }

private:
    std::size_t begin() {
        std::size_t start = size_;
        word(0);
        return start;
    }
    void end(std::size_t start) {
        while (size_ % 4) byte(0);  // DW_CFA_nop
        std::uint32_t length = static_cast<std::uint32_t>(size_ - start - 4);
        std::memcpy(bytes_ + start, &length, 4);
    }
    void pointer(unsigned char form, std::uintptr_t value) {
        if ((form & 0x70) == 0x10) value -= reinterpret_cast<std::uintptr_t>(at());
        std::size_t size = (form & 0x0F) == 0x02 ? 2 : (form & 0x0F) == 0x00 ? sizeof value : 4;
        std::memcpy(at(), &value, size);
        size_ += size;
    }

    alignas(8) unsigned char bytes_[256] = {};
    std::size_t size_ = 0;
};

struct FormCase {
    const char* what;
    unsigned char version;
    const char* augmentation;
    std::vector<unsigned char> data;  // the augmentation's data
    unsigned char form;               // the FDEs' pointer form
};

TEST(FrameSearchWindows, FindsTheEntryWhoseRangeHoldsTheAddressInEachForm) {
    const FormCase cases[] = {
        {"zR, pc-relative 4 bytes", 1, "zR", {0x1B}, 0x1B},
        {"zR, absolute 4 bytes", 1, "zR", {0x03}, 0x03},
        {"zR, absolute 2 bytes", 1, "zR", {0x02}, 0x02},
        {"zPLR, personality through a pc-relative pointer", 1, "zPLR", {0x9B, 4, 3, 2, 1, 0x1B, 0x1B}, 0x1B},
        {"zPLR, personality as 4 bytes", 1, "zPLR", {0x03, 4, 3, 2, 1, 0x1B, 0x03}, 0x03},
        {"version 3, return column as LEB128", 3, "zR", {0x1B}, 0x1B},
        {"no augmentation: absolute pointers", 1, "", {}, 0x00},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.what);
        TableWriter writer;
        std::size_t cie = writer.cie(c.version, c.augmentation, c.data);
        std::uintptr_t start = (c.form & 0x70) == 0x10 ? reinterpret_cast<std::uintptr_t>(writer.table()) + 0x1000 : 0x1230;
        const unsigned char* entry = writer.fde(cie, c.form, start, 0x20, *c.augmentation == 'z');
        writer.finish();
        const struct {
            std::uintptr_t pc;
            bool found;
        } probes[] = {{start, true}, {start + 0x1F, true}, {start + 0x20, false}, {start - 1, false}};
        for (const auto& probe : probes) {
            FrameBases bases{};
            const void* found = FindFrameEntry(writer.table(), probe.pc, bases);
            EXPECT_EQ(found, probe.found ? entry : nullptr) << std::hex << probe.pc - start;
            if (probe.found) EXPECT_EQ(bases.function, reinterpret_cast<void*>(start));
        }
    }
}

TEST(FrameSearchWindows, SkipsEntriesWithoutCodeAndReadsEachEntryInItsOwnCiesForm) {
    TableWriter writer;
    std::size_t fourBytes = writer.cie(1, "zR", {0x03});
    writer.fde(fourBytes, 0x03, 0, 0x100000, true);  // left out by the linker
    std::size_t twoBytes = writer.cie(1, "zR", {0x02});
    const unsigned char* second = writer.fde(twoBytes, 0x02, 0x1230, 0x10, true);
    writer.finish();
    FrameBases bases{};
    EXPECT_EQ(FindFrameEntry(writer.table(), 0x10, bases), nullptr);
    EXPECT_EQ(FindFrameEntry(writer.table(), 0x1235, bases), second);
    EXPECT_EQ(FindFrameEntry(nullptr, 0x1235, bases), nullptr);
}

}  // namespace

#if defined(__i386__)
// The test program registers its table with FrameTables.cpp, as update.exe does.
extern "C" const void* _Unwind_Find_FDE(void* pc, FrameBases* bases);

namespace {

const char kData[] = "keine Funktion";

void __attribute__((noinline)) Described(int* counter) { ++*counter; }

TEST(FrameSearchWindows, FindsTheProgramsOwnFunctionsAndNoData) {
    auto* function = reinterpret_cast<unsigned char*>(&Described);
    FrameBases bases{};
    EXPECT_NE(_Unwind_Find_FDE(function + 1, &bases), nullptr);
    EXPECT_EQ(bases.function, function);
    EXPECT_EQ(_Unwind_Find_FDE(const_cast<char*>(kData), &bases), nullptr);
}

}  // namespace
#endif
