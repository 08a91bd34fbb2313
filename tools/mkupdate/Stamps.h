// The MS-DOS stamps that the builder gives its entries: each file's
// modification time as local time of the installing machines' zone, or one
// fixed stamp for reproducible builds.
#pragma once

#include <cstdint>
#include <string>

#include "base/DosDate.h"

// "YYYY-MM-DD hh:mm:ss", a real calendar date; false for anything else.
bool ParseDateText(const std::string& text, CalendarTime& out);

class StampPolicy {
public:
    // Every entry gets `stamp`.
    void fix(std::int32_t stamp) {
        fixed_ = true;
        stamp_ = stamp;
    }
    bool fixed() const { return fixed_; }
    // The stamp of a file modified at `epochSeconds`, in the zone chosen with
    // SelectTimeZone. Times before 1980 become 1980-01-01 00:00:00 (counted in
    // clamped()); false with `error` set from 2044 on, where the updater's
    // signed comparison would take the stamp for older than any file.
    bool stampOf(std::int64_t epochSeconds, std::int32_t& stamp, std::string& error);
    int clamped() const { return clamped_; }

private:
    bool fixed_ = false;
    std::int32_t stamp_ = 0;
    int clamped_ = 0;
};

// The stamp of a calendar time from 1980 to 2043; false with `error` set otherwise.
bool StampOfCalendar(const CalendarTime& t, std::int32_t& stamp, std::string& error);
