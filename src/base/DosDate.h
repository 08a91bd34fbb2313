// MS-DOS date-time stamps: date in the high 16 bits (years since 1980, month,
// day), time in the low 16 bits (hour, minute, seconds / 2), local time.
#pragma once

#include <cstdint>

struct CalendarTime {
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

inline std::int32_t PackDosDate(const CalendarTime& t) {
    std::uint32_t date = std::uint32_t((t.year - 1980) & 0x7F) << 9 | std::uint32_t(t.month & 0x0F) << 5 |
                         std::uint32_t(t.day & 0x1F);
    std::uint32_t time = std::uint32_t(t.hour & 0x1F) << 11 | std::uint32_t(t.minute & 0x3F) << 5 |
                         std::uint32_t((t.second / 2) & 0x1F);
    return static_cast<std::int32_t>(date << 16 | time);
}

inline CalendarTime UnpackDosDate(std::int32_t stamp) {
    std::uint32_t v = static_cast<std::uint32_t>(stamp);
    CalendarTime t;
    t.year = 1980 + int((v >> 25) & 0x7F);
    t.month = int((v >> 21) & 0x0F);
    t.day = int((v >> 16) & 0x1F);
    t.hour = int((v >> 11) & 0x1F);
    t.minute = int((v >> 5) & 0x3F);
    t.second = int(v & 0x1F) * 2;
    return t;
}
