#include "tools/mkupdate/Host.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <io.h>
#else
#include <cstdlib>
#include <unistd.h>
#endif

namespace {

void FromTm(const std::tm& t, CalendarTime& out) {
    out = CalendarTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

// A local time whose daylight saving the C library works out.
std::tm TmOf(const CalendarTime& t) {
    std::tm local{};
    local.tm_year = t.year - 1900;
    local.tm_mon = t.month - 1;
    local.tm_mday = t.day;
    local.tm_hour = t.hour;
    local.tm_min = t.minute;
    local.tm_sec = t.second;
    local.tm_isdst = -1;
    return local;
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

bool SetModificationTime(const std::filesystem::path& path, std::int64_t epochSeconds) {
    std::error_code ec;
    auto system = std::chrono::sys_seconds(std::chrono::seconds(epochSeconds));
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(system), ec);
    return !ec;
}

std::filesystem::path HostPath(const std::string& utf8) { return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())); }

std::string PathText(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

#ifdef _WIN32

// The wide command line, so that any name arrives whatever the code page.
std::vector<std::string> Utf8Arguments(int, char**) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(n > 0 ? std::size_t(n) : 1, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
        arg.resize(arg.size() - 1);
        args.push_back(arg);
    }
    LocalFree(wide);
    return args;
}

// Windows programs that use no "\\?\" prefix open paths of up to 259 characters.
std::string HostPathProblem(const std::filesystem::path& path) {
    std::error_code ec;
    std::size_t length = std::filesystem::absolute(path, ec).native().size();
    if (ec || length < 260) return "";
    return "the full path is " + std::to_string(length) + " characters long; Windows opens at most 259";
}

bool EpochOfLocal(const CalendarTime& t, std::int64_t& epochSeconds) {
    std::tm local = TmOf(t);
    __time64_t seconds = _mktime64(&local);
    if (seconds == -1) return false;
    epochSeconds = seconds;
    return true;
}

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

std::string HostPathProblem(const std::filesystem::path&) { return ""; }

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

bool EpochOfLocal(const CalendarTime& t, std::int64_t& epochSeconds) {
    std::tm local = TmOf(t);
    time_t seconds = mktime(&local);
    if (seconds == time_t(-1)) return false;
    epochSeconds = seconds;
    return true;
}

#endif
