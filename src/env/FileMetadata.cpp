// File time stamps (MS-DOS stamps, local time), their tolerant comparison and
// display form, and the strings of a file's version record.
#include <cstdlib>

#include "base/DosDate.h"
#include "base/Text.h"
#include "env/System.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
#include "platform/SystemInfo.h"
#include "platform/VersionInfo.h"

namespace {

const char* const kVersionStringNames[] = {
    "CompanyName",    "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTradeMarks", "OriginalFileName", "ProductName", "ProductVersion", "Comments",
};

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidCalendarTime(const CalendarTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) && t.hour <= 23 &&
           t.minute <= 59 && t.second <= 59;
}

// Days since 1 March of year 0 of the proleptic Gregorian calendar.
std::int64_t DayNumber(int year, int month, int day) {
    if (month <= 2) --year;
    std::int64_t era = year / 400;
    std::int64_t yearOfEra = year - era * 400;
    std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
}

std::int64_t SecondsOf(const CalendarTime& t) {
    return DayNumber(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

int Clamped(std::int64_t n) {
    if (n > 0x7FFFFFFF) return 0x7FFFFFFF;
    if (n < -0x7FFFFFFF) return -0x7FFFFFFF;
    return static_cast<int>(n);
}

// What "%02d" makes of n % 100, without the printf machinery that update.exe would carry for it.
// Appends the last two digits of `n` ("-" and the digit(s) when it is negative).
void AppendTwoDigits(std::string& text, int n) {
    int v = n % 100;
    if (v < 0) {
        text.append(1, '-').append(DecimalText(-v));
        return;
    }
    text.append(1, char('0' + v / 10)).append(1, char('0' + v % 10));
}

// "Name = Value" from the German block, else from the US English one; false when neither has it.
bool VersionString(VersionRecord& record, const std::string& name, std::string& entry) {
    std::string value;
    if (!record.queryString("\\StringFileInfo\\040704E4\\" + name, value) &&
        !record.queryString("\\StringFileInfo\\040904E4\\" + name, value))
        return false;
    entry = name + " = " + value;
    return true;
}

// "Name=Value" with blanks trimmed around both parts.
std::string TrimmedEntry(const std::string& entry) {
    std::size_t equals = entry.find('=');
    if (equals == std::string::npos) return entry;
    std::string name = entry.substr(0, equals);
    std::string value = entry.substr(equals + 1);
    TrimBlanks(name);
    TrimBlanks(value);
    return name + "=" + value;
}

}  // namespace

std::int32_t FileDateOf(const std::string& path) {
    FindData found;
    if (!Fs().findFirst(path, found)) return -1;
    return found.dosDate;
}

bool SetFileDate(const std::string& path, std::int32_t stamp) {
    if (path.empty()) return false;
    std::unique_ptr<FileHandle> file = Fs().open(path, OpenMode::ReadWrite);
    if (!file) return false;
    return file->setDosDate(stamp);
}

int CompareFileDates(std::int32_t a, std::int32_t b) {
    if (a < 0 || b < 0) return Clamped(std::int64_t(a) - std::int64_t(b));
    if (std::llabs(std::int64_t(a) - std::int64_t(b)) <= 2) return 0;
    CalendarTime ta = UnpackDosDate(a), tb = UnpackDosDate(b);
    // Stamps that name no calendar time are compared as plain numbers.
    if (IsValidCalendarTime(ta) && IsValidCalendarTime(tb)) {
        std::int64_t d = std::llabs(SecondsOf(ta) - SecondsOf(tb));
        if (d <= 3 || std::llabs(d - 3600) <= 3) return 0;
    }
    return a > b ? 1 : -1;
}

std::string FileDateText(const std::string& path) {
    if (!FileExists(path)) return std::string();
    std::int32_t stamp = FileDateOf(path);
    if (stamp < 0) return std::string();
    CalendarTime t = UnpackDosDate(stamp);
    const std::string separator = Sys().timeSeparator();
    // Built in place: a chain of "+" makes a string for each step.
    const int fields[] = {t.day, t.month, t.year, t.hour, t.minute, t.second};
    const char* const before[] = {"", ".", ".", " ", nullptr, nullptr};  // nullptr: the time separator
    std::string text;
    for (int i = 0; i < 6; ++i) {
        if (before[i]) text.append(before[i]);
        else text.append(separator);
        AppendTwoDigits(text, fields[i]);
    }
    return text;
}

void ReadVersionStrings(const std::string& path, StringList& list) {
    std::uint32_t size = VersionInfo().recordSize(path);
    if (size == 0) return;
    std::unique_ptr<VersionRecord> record = VersionInfo().readRecord(path, size);
    if (!record) return;
    std::size_t first = list.size();
    for (const char* name : kVersionStringNames) {
        std::string entry;
        if (VersionString(*record, name, entry)) list.push_back(entry);
    }
    for (std::size_t i = first; i < list.size(); ++i) list[i] = TrimmedEntry(list[i]);
}
