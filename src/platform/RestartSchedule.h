// Changes that Windows carries out at its next start, for files that a
// program holds open now: NT moves them before any program runs
// (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT), Windows 9x through the
// [rename] section of WININIT.INI. The native build only records them.
#pragma once

#include <string>
#include <utility>
#include <vector>

// At the next start `from` replaces `to`; with `to` empty, `from` is deleted.
bool ScheduleAtRestart(const std::string& from, const std::string& to);

// Native build: the scheduled changes in order, (from, to).
std::vector<std::pair<std::string, std::string>>& NativeScheduledChanges();
