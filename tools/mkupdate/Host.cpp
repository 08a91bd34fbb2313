#include "tools/mkupdate/Host.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <cstdlib>
#include <unistd.h>
#endif

namespace {

void FromTm(const std::tm& t, CalendarTime& out) {
    out = CalendarTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

// A POSIX TZ text names its offset with digits ("CET-1CEST,M3.5.0,M10.5.0/3").
bool LooksLikePosixZone(const std::string& zone) { return zone.find_first_of("0123456789") != std::string::npos; }

}  // namespace

bool ModificationTime(const std::filesystem::path& path, std::int64_t& epochSeconds) {
    std::error_code ec;
    auto stamp = std::filesystem::last_write_time(path, ec);
    if (ec) return false;
    auto system = std::chrono::file_clock::to_sys(stamp);
    epochSeconds = std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
    if (system.time_since_epoch() < std::chrono::seconds(epochSeconds)) --epochSeconds;  // floor, not truncate
    return true;
}

#ifdef _WIN32

// The Windows C runtime knows only POSIX-style TZ texts.
bool SelectTimeZone(const std::string& zone, std::string& error) {
    if (!LooksLikePosixZone(zone)) {
        error = "unknown time zone: " + zone + " (give a TZ text such as CET-1CEST here)";
        return false;
    }
    _putenv_s("TZ", zone.c_str());
    _tzset();
    return true;
}

bool LocalCalendar(std::int64_t epochSeconds, CalendarTime& out) {
    __time64_t t = epochSeconds;
    std::tm local{};
    if (_localtime64_s(&local, &t) != 0) return false;
    FromTm(local, out);
    return true;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

#else

// glibc falls back to UTC for a name it cannot find, so names are looked up first.
bool SelectTimeZone(const std::string& zone, std::string& error) {
    const char* dir = std::getenv("TZDIR");
    std::string file = std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + "/" + zone;
    bool named = !zone.empty() && zone.find("..") == std::string::npos && std::filesystem::is_regular_file(file);
    if (!named && !LooksLikePosixZone(zone)) {
        error = "unknown time zone: " + zone;
        return false;
    }
    setenv("TZ", zone.c_str(), 1);
    tzset();
    return true;
}

bool LocalCalendar(std::int64_t epochSeconds, CalendarTime& out) {
    time_t t = static_cast<time_t>(epochSeconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return false;
    FromTm(local, out);
    return true;
}

bool StderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

#endif
