#include "ReleasePair.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

enum class Kind : std::uint8_t { Plain, Immediate, Absolute, Call, Jump };

struct Instruction {
    Kind kind;
    std::uint32_t a;  // vocabulary index, or the opcode's register bits
    std::uint32_t b;  // the immediate value, the jump distance, or the id of the string or function
};

using Function = std::vector<Instruction>;

// Functions and strings are known by an id that stays when others are
// inserted before them; the order says where each one lies.
struct Program {
    std::vector<Function> functions;   // by id
    std::vector<std::string> strings;  // by id
    std::vector<std::uint32_t> functionOrder, stringOrder;
    Bytes resources;  // already compressed data: next to incompressible
    std::string version;
};

constexpr std::uint32_t kImageBase = 0x400000;
constexpr std::uint64_t kImageBase64 = 0x140000000;
constexpr std::size_t kFunctions = 33000;

class Generator {
public:
    Generator() : random_(20261209) {
        for (int i = 0; i < 96; ++i) {
            Bytes op(1 + below(4));
            for (auto& b : op) b = static_cast<unsigned char>(below(256));
            vocabulary_.push_back(op);
        }
    }

    std::uint32_t below(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random_); }
    // Small indices far more often than large ones, as real opcodes are.
    std::uint32_t skewed(std::uint32_t n) { return std::min(n - 1, below(n) * below(n) / n); }

    // The id of what lies near place `centre` of `order`: code calls and uses what lies near it.
    std::uint32_t near(std::size_t centre, const std::vector<std::uint32_t>& order) {
        std::int64_t at = std::int64_t(centre) + std::int64_t(below(400)) - 200;
        return order[std::size_t(std::clamp<std::int64_t>(at, 0, std::int64_t(order.size()) - 1))];
    }

    // An instruction of the function at place `self`.
    Instruction instruction(const Program& p, std::size_t self) {
        switch (below(10)) {
        case 0: return {Kind::Immediate, skewed(24), below(4096)};
        case 1: return {Kind::Absolute, skewed(24), near(self * p.stringOrder.size() / p.functionOrder.size(), p.stringOrder)};
        case 2: return {Kind::Call, 0, near(self, p.functionOrder)};
        case 3: return {Kind::Jump, 0, below(120)};
        default: return {Kind::Plain, skewed(std::uint32_t(vocabulary_.size())), 0};
        }
    }

    Function function(const Program& p, std::size_t self) {
        Function f(8 + below(60));
        for (auto& i : f) i = instruction(p, self);
        return f;
    }

    std::string text() {
        static const char* words[] = {"Rechnung", "Kunde", "Datei", "Fehler", "Betrag", "Konto", "Drucker", "Beleg",
                                      "Lager", "Artikel", "nicht", "gefunden", "gespeichert", "Version", "%s", "%d"};
        std::string s;
        for (std::uint32_t n = 2 + below(6); n > 0; --n) s += std::string(words[below(16)]) + " ";
        return s;
    }

    Program program() {
        Program p;
        for (std::uint32_t i = 0; i < 20000; ++i) {
            p.strings.push_back(text());
            p.stringOrder.push_back(i);
        }
        for (std::uint32_t i = 0; i < kFunctions; ++i) p.functionOrder.push_back(i);
        for (std::size_t i = 0; i < kFunctions; ++i) p.functions.push_back(function(p, i));
        p.resources.resize(400000);
        for (auto& b : p.resources) b = static_cast<unsigned char>(below(256));
        p.version = "Version 4.1.0";
        return p;
    }

    // The next release: new functions and strings in between, some functions reworked.
    Program next(Program p) {
        for (int i = 0; i < 6; ++i) {
            std::uint32_t at = below(std::uint32_t(p.functionOrder.size()));
            p.functions.push_back(function(p, at));
            p.functionOrder.insert(p.functionOrder.begin() + at, std::uint32_t(p.functions.size() - 1));
        }
        for (int i = 0; i < 40; ++i) {
            std::uint32_t self = below(std::uint32_t(p.functionOrder.size()));
            Function& f = p.functions[p.functionOrder[self]];
            for (int k = 0; k < 3; ++k) f[below(std::uint32_t(f.size()))] = instruction(p, self);
            f.push_back(instruction(p, self));
        }
        // New messages mostly go near the end of the string table.
        for (int i = 0; i < 25; ++i) {
            std::uint32_t tail = std::uint32_t(p.stringOrder.size() / 20);
            p.strings.push_back(text());
            std::uint32_t back = below(i < 3 ? std::uint32_t(p.stringOrder.size()) : tail);
            p.stringOrder.insert(p.stringOrder.end() - back, std::uint32_t(p.strings.size() - 1));
        }
        p.version = "Version 4.2.0";
        return p;
    }

    const Bytes& op(std::uint32_t index) const { return vocabulary_[index]; }

    std::mt19937 random_;

private:
    std::vector<Bytes> vocabulary_;
};

void Put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// `wide`: the 64-bit form, whose data addresses are relative to the next instruction (REX.W mov).
std::size_t SizeOf(const Generator& g, const Instruction& i, bool wide) {
    switch (i.kind) {
    case Kind::Plain: return g.op(i.a).size();
    case Kind::Immediate: return 5;
    case Kind::Absolute: return wide ? 7 : 6;
    case Kind::Call: return 5;
    case Kind::Jump: return 2;
    }
    return 0;
}

std::size_t Aligned(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

void Put16At(Bytes& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<unsigned char>(v);
    out[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32At(Bytes& out, std::size_t at, std::uint32_t v) {
    Put16At(out, at, v);
    Put16At(out, at + 2, v >> 16);
}

// The relocation blocks for the absolute addresses at `sites` (ascending
// RVAs): one block per 4 KiB page, entries of type 3 (32-bit address) or,
// `wide`, 10 (64-bit address).
Bytes RelocationBlocks(const std::vector<std::uint32_t>& sites, bool wide) {
    const unsigned type = wide ? 0xA0 : 0x30;
    Bytes out;
    for (std::size_t i = 0; i < sites.size();) {
        const std::uint32_t page = sites[i] & ~0xFFFu;
        const std::size_t head = out.size();
        Put32(out, page);
        Put32(out, 0);
        for (; i < sites.size() && (sites[i] & ~0xFFFu) == page; ++i) {
            out.push_back(static_cast<unsigned char>(sites[i] & 0xFF));
            out.push_back(static_cast<unsigned char>(type | (sites[i] >> 8 & 0xF)));
        }
        if ((out.size() - head) % 4) out.insert(out.end(), 2, 0);
        Put32At(out, head + 4, std::uint32_t(out.size() - head));
    }
    return out;
}

// The PE headers of a 32-bit program (`wide`: a 64-bit one) whose sections lie
// in the file at their RVAs (alignment 0x200 for both): code, data,
// resources, relocations.
void WriteHeaders(Bytes& out, const std::vector<std::uint32_t>& sectionStarts, std::uint32_t relocSize, bool wide) {
    static const char* const kNames[] = {".text", ".data", ".rsrc", ".reloc"};
    static const std::uint32_t kFlags[] = {0x60000020, 0xC0000040, 0x40000040, 0x42000040};
    // PE32+ has a 64-bit image base and no base of data: its directories lie 16 bytes further.
    const std::size_t kPe = 0x40, kOptional = kPe + 24, kOptionalSize = wide ? 240 : 224,
                      kDirectories = kOptional + (wide ? 112 : 96), kSections = kOptional + kOptionalSize;
    Put32At(out, 0x3C, std::uint32_t(kPe));
    std::memcpy(&out[kPe], "PE\0\0", 4);
    Put16At(out, kPe + 4, wide ? 0x8664 : 0x14C);  // x64 or i386
    Put16At(out, kPe + 6, 4);
    Put16At(out, kPe + 20, std::uint32_t(kOptionalSize));
    Put16At(out, kPe + 22, wide ? 0x0022 : 0x0102);
    Put16At(out, kOptional, wide ? 0x20B : 0x10B);
    Put32At(out, kOptional + 16, 0x1000);  // entry point
    if (wide) {
        Put32At(out, kOptional + 24, std::uint32_t(kImageBase64));
        Put32At(out, kOptional + 28, std::uint32_t(kImageBase64 >> 32));
    } else {
        Put32At(out, kOptional + 28, kImageBase);
    }
    Put32At(out, kOptional + 32, 0x200);
    Put32At(out, kOptional + 36, 0x200);
    Put16At(out, kOptional + 40, 5);  // Windows 2000 and later
    Put16At(out, kOptional + 48, 5);
    Put32At(out, kOptional + 56, std::uint32_t(out.size()));
    Put32At(out, kOptional + 60, 0x1000);
    Put16At(out, kOptional + 68, 2);  // a window program
    Put16At(out, kOptional + 70, 0x40);  // relocatable
    Put32At(out, kDirectories - 4, 16);
    Put32At(out, kDirectories + 8 * 5, sectionStarts[3]);
    Put32At(out, kDirectories + 8 * 5 + 4, relocSize);
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t h = kSections + 40 * i;
        const std::uint32_t end = i + 1 < 4 ? sectionStarts[i + 1] : std::uint32_t(out.size());
        std::memcpy(&out[h], kNames[i], std::strlen(kNames[i]));
        Put32At(out, h + 8, end - sectionStarts[i]);
        Put32At(out, h + 12, sectionStarts[i]);
        Put32At(out, h + 16, end - sectionStarts[i]);
        Put32At(out, h + 20, sectionStarts[i]);
        Put32At(out, h + 36, kFlags[i]);
    }
}

// Lays the program out (code, then data) and writes its bytes: addresses
// follow from where each function and string ends up. The file is a PE image
// whose relocation table names every absolute address in code and data; in
// the 64-bit form (`wide`) code reaches data relative to the next
// instruction, as x64 code does, and only the pointer table is relocated.
Bytes Link(const Generator& g, const Program& p, bool wide) {
    std::vector<std::uint32_t> functionAt(p.functions.size()), stringAt(p.strings.size()), absolute;  // RVAs
    std::size_t at = 0x1000;
    for (std::uint32_t id : p.functionOrder) {
        functionAt[id] = std::uint32_t(at);
        for (const Instruction& i : p.functions[id]) at += SizeOf(g, i, wide);
        at = Aligned(at, 16);
    }
    std::size_t dataStart = Aligned(at, 0x1000);
    at = dataStart;
    for (std::uint32_t id : p.stringOrder) {
        stringAt[id] = std::uint32_t(at);
        at += p.strings[id].size() + 1;
    }
    Bytes out = {'M', 'Z'};
    out.resize(0x1000, 0);
    for (std::uint32_t id : p.functionOrder) {
        for (const Instruction& i : p.functions[id]) {
            std::uint32_t next = std::uint32_t(out.size() + SizeOf(g, i, wide));
            switch (i.kind) {
            case Kind::Plain: out.insert(out.end(), g.op(i.a).begin(), g.op(i.a).end()); break;
            case Kind::Immediate: out.push_back(0xB8 + (i.a & 7)); Put32(out, i.b); break;
            case Kind::Absolute:
                if (wide) out.push_back(0x48);
                out.push_back(0x8B);
                out.push_back(0x05 + (i.a & 0x38));
                if (!wide) absolute.push_back(std::uint32_t(out.size()));
                Put32(out, wide ? stringAt[i.b] - next : kImageBase + stringAt[i.b]);
                break;
            case Kind::Call: out.push_back(0xE8); Put32(out, functionAt[i.b] - next); break;
            case Kind::Jump: out.push_back(0xEB); out.push_back(static_cast<unsigned char>(i.b)); break;
            }
        }
        out.resize(Aligned(out.size(), 16), 0xCC);
    }
    out.resize(dataStart, 0);
    for (std::uint32_t id : p.stringOrder) {
        out.insert(out.end(), p.strings[id].begin(), p.strings[id].end());
        out.push_back(0);
    }
    for (std::uint32_t id : p.functionOrder) {  // a table of function pointers
        absolute.push_back(std::uint32_t(out.size()));
        const std::uint64_t pointer = (wide ? kImageBase64 : kImageBase) + functionAt[id];
        Put32(out, std::uint32_t(pointer));
        if (wide) Put32(out, std::uint32_t(pointer >> 32));
    }
    out.insert(out.end(), p.version.begin(), p.version.end());
    out.resize(Aligned(out.size(), 0x200), 0);
    const std::uint32_t resourcesStart = std::uint32_t(out.size());
    out.insert(out.end(), p.resources.begin(), p.resources.end());
    out.resize(Aligned(out.size(), 0x200), 0);
    const std::uint32_t relocStart = std::uint32_t(out.size());
    const Bytes relocations = RelocationBlocks(absolute, wide);
    out.insert(out.end(), relocations.begin(), relocations.end());
    out.resize(Aligned(out.size(), 0x200), 0);
    WriteHeaders(out, {0x1000, std::uint32_t(dataStart), resourcesStart, relocStart}, std::uint32_t(relocations.size()),
                 wide);
    return out;
}

std::string PriceList(Generator& g, int changedLines) {
    std::string text;
    for (int line = 0; line < 6000; ++line) {
        std::uint32_t price = 100 + (std::uint32_t(line) * 7919) % 90000;
        if (changedLines > 0 && line % 200 == 17) price += 5;
        text += "A" + std::to_string(10000 + line) + ";" + g.text() + ";" + std::to_string(price / 100) + "," +
                std::to_string(price % 100) + "\r\n";
    }
    return text;
}

void Write(const std::filesystem::path& path, const void* data, std::size_t size) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void Write(const std::filesystem::path& path, const std::string& text) { Write(path, text.data(), text.size()); }
void Write(const std::filesystem::path& path, const Bytes& bytes) { Write(path, bytes.data(), bytes.size()); }

}  // namespace

void WriteReleasePair(const std::string& oldDir, const std::string& newDir) {
    const std::filesystem::path oldPath(oldDir), newPath(newDir);
    Generator g;
    Program old = g.program();
    Program next = g.next(old);
    Write(oldPath / "Demo.exe", Link(g, old, false));
    Write(newPath / "Demo.exe", Link(g, next, false));
    std::mt19937 keep = g.random_;
    Write(oldPath / "Daten" / "Preise.dat", PriceList(g, 0));
    g.random_ = keep;  // the same texts: only the prices differ
    Write(newPath / "Daten" / "Preise.dat", PriceList(g, 1));
    Bytes library(300000);
    for (std::size_t i = 0; i < library.size(); ++i) library[i] = static_cast<unsigned char>((i * i) >> 7);
    Write(oldPath / "bin" / "gleich.dll", library);
    Write(newPath / "bin" / "gleich.dll", library);
    Write(oldPath / "alt.txt", std::string("entfaellt in 4.2\r\n"));
    Write(newPath / "neu.txt", std::string("neu in 4.2\r\n"));
}

void WriteProgramPair(const std::string& oldFile, const std::string& newFile, bool wide) {
    Generator g;
    Program old = g.program();
    Program next = g.next(old);
    Write(oldFile, Link(g, old, wide));
    Write(newFile, Link(g, next, wide));
}
