// System information and file metadata.
#pragma once

#include <cstdint>
#include <string>

#include "base/StringList.h"

enum class WindowsVersion {
    Undetermined = 1,
    Windows95 = 3,
    Windows98 = 4,
    WindowsMe = 6,
    Windows2000 = 7,
    WindowsNT = 8,
    WindowsXP = 9,
};

inline bool IsNtFamily(WindowsVersion v) { return static_cast<int>(v) >= 7; }

WindowsVersion DetectWindowsVersion();

// Process-wide values computed once at start-up (InitSystemPaths).
extern std::string OwnExePath;
extern std::string OwnExeFolder;   // ends with "\"
extern std::string WindowsFolder;  // ends with "\" when it passed the check
// Computes the three values; a Windows folder that fails the check shows
// "Windows-Pfad fehlerhaft oder unvollständig" (WarnOkCancel) and start-up goes on.
void InitSystemPaths();

std::string SystemErrorText(std::uint32_t code);
std::string LastErrorText();
// Why a file could not be written or deleted, for the end of a log line:
// " Grund: " and Windows' reason in German (the frequent ones in the
// updater's own words, others as the system words them) and "."; empty for 0.
std::string FailureReason(std::uint32_t code);

// MS-DOS stamp of the first directory entry matching the path (files and folders), -1 when none.
std::int32_t FileDateOf(const std::string& path);
bool SetFileDate(const std::string& path, std::int32_t stamp);
// 0 when equal within 3 seconds or within 3 seconds of a one-hour shift;
// positive when a is later, negative when a is earlier; a - b when either is negative.
int CompareFileDates(std::int32_t a, std::int32_t b);
// "dd.mm.yy hh:nn:ss" of a file's date; empty when no file (folders do not count) exists.
std::string FileDateText(const std::string& path);
// Appends "Name=Value" for each version string found in the 040704E4 or 040904E4 block.
void ReadVersionStrings(const std::string& path, StringList& list);
