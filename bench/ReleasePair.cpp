#include "ReleasePair.h"

#include <algorithm>
#include <cstdint>
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

std::size_t SizeOf(const Generator& g, const Instruction& i) {
    switch (i.kind) {
    case Kind::Plain: return g.op(i.a).size();
    case Kind::Immediate: return 5;
    case Kind::Absolute: return 6;
    case Kind::Call: return 5;
    case Kind::Jump: return 2;
    }
    return 0;
}

std::size_t Aligned(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// Lays the program out (code, then data) and writes its bytes: addresses
// follow from where each function and string ends up.
Bytes Link(const Generator& g, const Program& p) {
    std::vector<std::uint32_t> functionAt(p.functions.size()), stringAt(p.strings.size());
    std::size_t at = 0x1000;
    for (std::uint32_t id : p.functionOrder) {
        functionAt[id] = std::uint32_t(kImageBase + at);
        for (const Instruction& i : p.functions[id]) at += SizeOf(g, i);
        at = Aligned(at, 16);
    }
    std::size_t dataStart = Aligned(at, 0x1000);
    at = dataStart;
    for (std::uint32_t id : p.stringOrder) {
        stringAt[id] = std::uint32_t(kImageBase + at);
        at += p.strings[id].size() + 1;
    }
    Bytes out = {'M', 'Z'};
    out.resize(0x1000, 0);
    for (std::uint32_t id : p.functionOrder) {
        for (const Instruction& i : p.functions[id]) {
            std::uint32_t next = std::uint32_t(kImageBase + out.size() + SizeOf(g, i));
            switch (i.kind) {
            case Kind::Plain: out.insert(out.end(), g.op(i.a).begin(), g.op(i.a).end()); break;
            case Kind::Immediate: out.push_back(0xB8 + (i.a & 7)); Put32(out, i.b); break;
            case Kind::Absolute: out.push_back(0x8B); out.push_back(0x05 + (i.a & 0x38)); Put32(out, stringAt[i.b]); break;
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
    for (std::uint32_t id : p.functionOrder) Put32(out, functionAt[id]);  // a table of function pointers
    out.insert(out.end(), p.version.begin(), p.version.end());
    out.resize(Aligned(out.size(), 0x200), 0);
    out.insert(out.end(), p.resources.begin(), p.resources.end());
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
    Write(oldPath / "Demo.exe", Link(g, old));
    Write(newPath / "Demo.exe", Link(g, next));
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
