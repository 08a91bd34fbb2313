#include "base/Text.h"

char ToUpperChar(char ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 0x61 && c <= 0x7A) return static_cast<char>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE) return static_cast<char>(c - 0x20);
    if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<char>(c - 0x10);
    if (c == 0xFF) return static_cast<char>(0x9F);
    return ch;
}

char ToLowerChar(char ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 0x41 && c <= 0x5A) return static_cast<char>(c + 0x20);
    if (c >= 0xC0 && c <= 0xDE) return static_cast<char>(c + 0x20);
    if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<char>(c + 0x10);
    if (c == 0x9F) return static_cast<char>(0xFF);
    return ch;
}

void UpperCaseText(std::string& text) {
    for (char& c : text) c = ToUpperChar(c);
}

void LowerCaseText(std::string& text) {
    for (char& c : text) c = ToLowerChar(c);
}

std::string UpperCased(std::string text) {
    UpperCaseText(text);
    return text;
}

bool EndsWithText(const std::string& suffix, const std::string& text) {
    if (suffix.empty() || suffix.size() > text.size()) return false;
    return SameText(suffix, text.substr(text.size() - suffix.size()));
}

std::string AddPathSeparator(const std::string& text) {
    if (text.empty() || text.back() == ':' || text.back() == '\\') return text;
    return text + "\\";
}

void EnsureTrailingBackslash(std::string& text) {
    if (!text.empty() && text.back() != '\\') text += '\\';
}

void DropTrailingBackslash(std::string& text) {
    if (!text.empty() && text.back() == '\\') text.pop_back();
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && StartsWithText(a, b);
}

bool StartsWithText(const std::string& prefix, const std::string& text) {
    if (prefix.size() > text.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (ToUpperChar(prefix[i]) != ToUpperChar(text[i])) return false;
    return true;
}

std::string FolderPart(const std::string& path) {
    std::size_t pos = path.find_last_of("\\:");
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string NamePart(const std::string& path) {
    std::size_t pos = path.find_last_of("\\:");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string DecimalDigits(std::uint64_t magnitude, bool negative) {
    char digits[21];  // 20 digits of 2^64 - 1 and a sign
    char* at = digits + sizeof digits;
    do {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) *--at = '-';
    return std::string(at, digits + sizeof digits);
}
