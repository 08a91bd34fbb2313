#include "env/Text.h"

#include <algorithm>

#include "base/Exception.h"

char FirstChar(const std::string& text) { return text.empty() ? ' ' : text.front(); }

char LastChar(const std::string& text) { return text.empty() ? ' ' : text.back(); }

std::string DropLastChar(const std::string& text) {
    return text.size() >= 2 ? text.substr(0, text.size() - 1) : std::string();
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
