#include "tools/mkupdate/Stamps.h"

#include <cstdio>

#include "tools/mkupdate/Host.h"

namespace {

constexpr int kFirstYear = 1980, kLastYear = 2043;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

}  // namespace

bool ParseDateText(const std::string& text, CalendarTime& out) {
    CalendarTime t;
    int consumed = 0;
    if (text.size() != 19 || std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &t.year, &t.month, &t.day,
                                         &t.hour, &t.minute, &t.second, &consumed) != 6 || consumed != 19)
        return false;
    if (text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' || text[16] != ':') return false;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
    if (t.hour > 23 || t.minute > 59 || t.second > 59) return false;
    out = t;
    return true;
}

bool StampOfCalendar(const CalendarTime& t, std::int32_t& stamp, std::string& error) {
    if (t.year < kFirstYear || t.year > kLastYear) {
        error = "the date " + std::to_string(t.year) + "-... lies outside 1980 to 2043, which the updater can compare";
        return false;
    }
    stamp = PackDosDate(t);
    return true;
}

bool StampPolicy::stampOf(std::int64_t epochSeconds, std::int32_t& stamp, std::string& error) {
    if (fixed_) {
        stamp = stamp_;
        return true;
    }
    CalendarTime t;
    if (!LocalCalendar(epochSeconds, t)) {
        error = "modification time out of range";
        return false;
    }
    if (t.year < kFirstYear) {
        ++clamped_;
        t = CalendarTime{};
    }
    return StampOfCalendar(t, stamp, error);
}
