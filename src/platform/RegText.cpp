#include "platform/RegText.h"

#include <cstdio>
#include <vector>

#include "base/Exception.h"
#include "base/Text.h"

namespace {

struct HiveSpelling {
    RootKey hive;
    const char* longName;
    const char* shortName;
};

const HiveSpelling kHives[] = {
    {RootKey::CurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {RootKey::LocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RootKey::ClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
};

[[noreturn]] void Malformed(int line, const std::string& what) {
    throw Exception("line " + DecimalText(line) + ": " + what);
}

bool SameAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

std::string TrimmedLine(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    std::size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : line.substr(first);
}

// The logical lines of the text with their first physical line numbers;
// a value line ending with a backslash (long hex data) continues on the next.
std::vector<std::pair<int, std::string>> LogicalLines(const std::string& text) {
    std::vector<std::pair<int, std::string>> out;
    std::size_t pos = 0;
    int number = 0;
    bool continued = false;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = TrimmedLine(text.substr(pos, end - pos));
        pos = end + 1;
        ++number;
        if (continued) {
            out.back().second += line;
        } else {
            out.emplace_back(number, line);
        }
        std::string& last = out.back().second;
        continued = !last.empty() && last.front() != '[' && last.back() == '\\' && last.find('=') != std::string::npos &&
                    last[last.find('=') + 1] != '"';
        if (continued) last.pop_back();
    }
    return out;
}

bool ParseKeyLine(const std::string& line, int number, RootKey& hive, std::string& path) {
    if (line.size() < 2 || line.back() != ']') Malformed(number, "key line without ]");
    std::string inner = line.substr(1, line.size() - 2);
    if (!inner.empty() && inner[0] == '-') Malformed(number, "deleting keys is not supported");
    std::size_t slash = inner.find('\\');
    std::string root = inner.substr(0, slash);
    path = slash == std::string::npos ? std::string() : inner.substr(slash + 1);
    for (const HiveSpelling& h : kHives) {
        if (SameAscii(root, h.longName) || SameAscii(root, h.shortName)) {
            hive = h.hive;
            return true;
        }
    }
    Malformed(number, "unknown hive " + root);
}

// A quoted text starting at `pos` (the opening quote); moves `pos` behind the closing quote.
std::string ParseQuoted(const std::string& line, std::size_t& pos, int number) {
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < line.size()) c = line[++pos];
        out.push_back(c);
    }
    Malformed(number, "unterminated string");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

unsigned long ParseHexNumber(const std::string& text, int number) {
    if (text.empty() || text.size() > 8) Malformed(number, "bad hex number " + text);
    unsigned long value = 0;
    for (char c : text) {
        if (HexDigit(c) < 0) Malformed(number, "bad hex number " + text);
        value = value * 16 + static_cast<unsigned long>(HexDigit(c));
    }
    return value;
}

std::string ParseHexBytes(const std::string& text, int number) {
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = std::min(text.find(',', pos), text.size());
        std::string item = TrimmedLine(text.substr(pos, end - pos));
        pos = end + 1;
        if (item.empty()) continue;
        if (item.size() > 2) Malformed(number, "bad hex byte " + item);
        out.push_back(static_cast<char>(ParseHexNumber(item, number)));
    }
    return out;
}

void ParseData(const std::string& text, int number, RegValue& value) {
    if (!text.empty() && text[0] == '"') {
        std::size_t pos = 0;
        value.type = kRegSz;
        value.data = ParseQuoted(text, pos, number) + '\0';
        if (pos != text.size()) Malformed(number, "text after the closing quote");
        return;
    }
    if (text == "-") Malformed(number, "deleting values is not supported");
    if (text.rfind("dword:", 0) == 0) {
        unsigned long v = ParseHexNumber(text.substr(6), number);
        value.type = kRegDword;
        value.data.clear();
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return;
    }
    if (text.rfind("hex:", 0) == 0) {
        value.type = kRegBinary;
        value.data = ParseHexBytes(text.substr(4), number);
        return;
    }
    std::size_t close = text.find("):");
    if (text.rfind("hex(", 0) == 0 && close != std::string::npos) {
        value.type = static_cast<std::uint32_t>(ParseHexNumber(text.substr(4, close - 4), number));
        value.data = ParseHexBytes(text.substr(close + 2), number);
        return;
    }
    Malformed(number, "unknown value data " + text);
}

RegValue ParseValueLine(const std::string& line, int number) {
    RegValue value;
    std::size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else {
        value.name = ParseQuoted(line, pos, number);
    }
    if (pos >= line.size() || line[pos] != '=') Malformed(number, "missing =");
    ParseData(TrimmedLine(line.substr(pos + 1)), number, value);
    return value;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::string HexList(const std::string& data) {
    std::string out;
    char buffer[4];
    for (unsigned char c : data) {
        std::snprintf(buffer, sizeof(buffer), "%02x", c);
        out += (out.empty() ? "" : ",") + std::string(buffer);
    }
    return out;
}

std::string DataText(const RegValue& v) {
    bool plainText = v.type == kRegSz && !v.data.empty() && v.data.find('\0') == v.data.size() - 1;
    if (plainText) return Quoted(v.data.substr(0, v.data.size() - 1));
    if (v.type == kRegDword && v.data.size() == 4) {
        unsigned long n = 0;
        for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(v.data[i]);
        char buffer[16];
        std::snprintf(buffer, sizeof(buffer), "dword:%08lx", n);
        return buffer;
    }
    if (v.type == kRegBinary) return "hex:" + HexList(v.data);
    char prefix[16];
    std::snprintf(prefix, sizeof(prefix), "hex(%x):", static_cast<unsigned>(v.type));
    return prefix + HexList(v.data);
}

}  // namespace

std::string HiveName(RootKey hive) {
    for (const HiveSpelling& h : kHives)
        if (h.hive == hive) return h.longName;
    return std::string();
}

void ImportRegText(MemoryRegistry& registry, const std::string& text) {
    bool headerSeen = false;
    bool inKey = false;
    RootKey hive = RootKey::CurrentUser;
    std::string path;
    for (const auto& [number, line] : LogicalLines(text)) {
        if (line.empty() || line[0] == ';') continue;
        if (!headerSeen) {
            if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00") Malformed(number, "not REGEDIT4");
            headerSeen = true;
            continue;
        }
        if (line[0] == '[') {
            inKey = ParseKeyLine(line, number, hive, path);
            registry.createPath(hive, path);
            continue;
        }
        if (!inKey) Malformed(number, "value outside a key");
        if (line[0] != '@' && line[0] != '"') Malformed(number, "unexpected text");
        RegValue value = ParseValueLine(line, number);
        registry.setValue(hive, path, value.name, value.type, value.data);
    }
}

std::string ExportRegText(const MemoryRegistry& registry, RootKey hive, const std::string& path) {
    std::vector<MemoryRegistry::KeyView> keys;
    if (!registry.walk(hive, path, keys)) return std::string();
    std::string out = "REGEDIT4\n";
    for (const MemoryRegistry::KeyView& key : keys) {
        out += "\n[" + HiveName(hive) + (key.path.empty() ? "" : "\\" + key.path) + "]\n";
        for (const RegValue& v : key.values) out += (v.name.empty() ? "@" : Quoted(v.name)) + "=" + DataText(v) + "\n";
    }
    return out;
}
