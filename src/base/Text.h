// Case and path helpers on 8-bit code page 1252 strings: what the file
// system layer needs of text (names compared without regard to case, folder
// and name parts of Windows paths).
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

char ToUpperChar(char c);
char ToLowerChar(char c);

void UpperCaseText(std::string& text);
void LowerCaseText(std::string& text);
std::string UpperCased(std::string text);

// Case-insensitive equality and prefix and suffix tests with the ToUpperChar mapping.
bool SameText(const std::string& a, const std::string& b);
bool StartsWithText(const std::string& prefix, const std::string& text);
bool EndsWithText(const std::string& suffix, const std::string& text);

std::string AddPathSeparator(const std::string& text);
void EnsureTrailingBackslash(std::string& text);
void DropTrailingBackslash(std::string& text);

// The folder part of a path: up to and including its last "\" or ":"; empty when there is none.
std::string FolderPart(const std::string& path);
// The name part of a path: after its last "\" or ":".
std::string NamePart(const std::string& path);

// An integer's decimal digits as std::to_string writes them, through one routine
// for every integer type (the updater carries one instead of four with their helpers).
std::string DecimalDigits(std::uint64_t magnitude, bool negative);
template <typename T>
std::string DecimalText(T value) {
    static_assert(std::is_integral_v<T>);
    if constexpr (std::is_signed_v<T>)
        return DecimalDigits(value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value), value < 0);
    else
        return DecimalDigits(value, false);
}
