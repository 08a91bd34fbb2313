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
// Takes back a deletion of `path` that an earlier run left to the next start:
// a later run has written a new file there, which must stay. True when none
// is left scheduled.
bool CancelDeletionAtRestart(const std::string& path);
// Whether a change is scheduled at which `from` replaces `to`: a copy that a
// killed run left beside its target, or that someone else put there, is not.
bool ScheduledAtRestart(const std::string& from, const std::string& to);

// WININIT.INI's `text` with `line` added at the end of its [rename] section,
// which is added when there is none. Windows 9x carries the lines out in
// order, so a later change (a newer copy, a deletion after a replacement)
// must come after the earlier ones.
std::string WithRenameLine(const std::string& text, const std::string& line);

// WININIT.INI's `text` without the [rename] lines that delete `shortPath` ("NUL=" + it).
std::string WithoutDeletionLine(const std::string& text, const std::string& shortPath);

// Native build: the scheduled changes in order, (from, to).
std::vector<std::pair<std::string, std::string>>& NativeScheduledChanges();
