// What the package tool needs of the machine it runs on: local calendar time
// in a chosen time zone, file modification times, and whether stderr is a terminal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/DosDate.h"

// Makes `zone` (an IANA name such as "Europe/Berlin", or a POSIX TZ text) the
// zone of every later LocalCalendar. False with `error` set when it is unknown.
bool SelectTimeZone(const std::string& zone, std::string& error);
// The local calendar time of seconds since 1970-01-01 00:00 UTC; false when out of range.
bool LocalCalendar(std::int64_t epochSeconds, CalendarTime& out);
// A file's last-write time in seconds since 1970-01-01 00:00 UTC.
bool ModificationTime(const std::filesystem::path& path, std::int64_t& epochSeconds);
bool StderrIsTerminal();
// Seconds since 1970 of a local calendar time in the selected zone; false when out of range.
bool EpochOfLocal(const CalendarTime& t, std::int64_t& epochSeconds);
bool SetModificationTime(const std::filesystem::path& path, std::int64_t epochSeconds);

// The command-line arguments after the program's name, in UTF-8.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// Command-line arguments and the texts that name paths are UTF-8 on every host.
std::filesystem::path HostPath(const std::string& utf8);
std::string PathText(const std::filesystem::path& path);
// Why the host cannot open `path`: on Windows, a full path of 260 characters
// or more; empty when it can.
std::string HostPathProblem(const std::filesystem::path& path);
