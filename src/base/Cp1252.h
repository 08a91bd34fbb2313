// Conversion between the updater's 8-bit texts (code page 1252) and UTF-8,
// used only where text leaves for a Linux terminal or a Linux file name.
#pragma once

#include <cstdint>
#include <string>

std::string Cp1252ToUtf8(const std::string& text);
// Characters that code page 1252 cannot hold become '?', and `ok` turns false.
std::string Utf8ToCp1252(const std::string& text, bool* ok = nullptr);
// The byte of a code point in code page 1252; '?' where it has none.
char Cp1252CharOf(std::uint32_t codePoint);
