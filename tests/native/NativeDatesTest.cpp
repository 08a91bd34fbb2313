// The moment the native file system gives a file for a local date: that of the
// zone's offset at the date; an hour that a change of daylight saving time
// repeats is its first time, one that the change skips takes the offset from before.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "common/UpdateTestSupport.h"
#include "platform/FileSystem.h"

TEST(NativeDates, ALocalDateTakesTheZonesOffsetOfThatMoment) {
    struct Row {
        const char* zone;
        int year, month, day, hour, minute;
        int offset;  // minutes east of UTC that the date is read with
    } const rows[] = {
        {"Europe/Berlin", 2024, 3, 15, 14, 30, 60},   {"Europe/Berlin", 2024, 7, 1, 12, 0, 120},
        {"Europe/Berlin", 2024, 3, 31, 2, 30, 60},    // skipped
        {"Europe/Berlin", 2024, 10, 27, 2, 30, 120},  // occurs twice
        {"Europe/Berlin", 2024, 10, 27, 3, 0, 60},    {"America/New_York", 2024, 3, 10, 2, 30, -300},
        {"America/New_York", 2024, 11, 3, 1, 30, -240},
        {"Australia/Lord_Howe", 2024, 4, 7, 1, 45, 660},  // a change of half an hour
        {"UTC", 1980, 1, 1, 0, 0, 0},
    };
    const char* previous = std::getenv("TZ");
    const std::string zone = previous ? previous : "";
    for (const Row& r : rows) {
        setenv("TZ", r.zone, 1), tzset();
        struct tm f = {};
        f.tm_year = r.year - 1900, f.tm_mon = r.month - 1, f.tm_mday = r.day, f.tm_hour = r.hour, f.tm_min = r.minute;
        EXPECT_EQ(UtcOfDosDate(Stamp(r.year, r.month, r.day, r.hour, r.minute, 0)),
                  (std::int64_t(timegm(&f)) - r.offset * 60 + 11644473600) * 10000000)
            << r.zone << " " << r.year << "-" << r.month << "-" << r.day << " " << r.hour << ":" << r.minute;
    }
    previous ? setenv("TZ", zone.c_str(), 1) : unsetenv("TZ");
    tzset();
}
