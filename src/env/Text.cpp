#include "env/Text.h"

#include <algorithm>

#include "base/Exception.h"

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

char FirstChar(const std::string& text) { return text.empty() ? ' ' : text.front(); }
char LastChar(const std::string& text) { return text.empty() ? ' ' : text.back(); }

std::string DropLastChar(const std::string& text) {
    return text.size() >= 2 ? text.substr(0, text.size() - 1) : std::string();
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

void TrimRightBlanks(std::string& text) {
    std::size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
}

void TrimLeftBlanks(std::string& text) { text.erase(0, std::min(text.find_first_not_of(' '), text.size())); }

void TrimBlanks(std::string& text) {
    TrimRightBlanks(text);
    TrimLeftBlanks(text);
}

void StripQuotes(std::string& text) {
    if (text.size() < 2) return;
    char first = text.front();
    if ((first == '"' || first == '\'') && text.back() == first) text = text.substr(1, text.size() - 2);
}

bool EndsWithText(const std::string& suffix, const std::string& text) {
    if (suffix.empty() || suffix.size() > text.size()) return false;
    return SameText(suffix, text.substr(text.size() - suffix.size()));
}

std::string CutAtQuestionMark(const std::string& text) { return text.substr(0, text.find('?')); }

int FindCharFrom(char c, const std::string& text, int start) {
    if (start < 1) start = 1;
    if (static_cast<std::size_t>(start) > text.size()) return 0;
    std::size_t pos = text.find(c, static_cast<std::size_t>(start - 1));
    return pos == std::string::npos ? 0 : static_cast<int>(pos + 1);
}

char skipTo(char c, const char*& cursor) {
    if (cursor == nullptr) throw Exception("skipTo mit Nil-Pointer");
    while (*cursor != '\0' && *cursor != c) ++cursor;
    return *cursor;
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
