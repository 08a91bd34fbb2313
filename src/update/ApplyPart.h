// Applying an update part: the readiness test of its target folder, its own
// version check, writing its archive entries where the archive's copy is
// newer, the deletion list, the counters and their log lines.
//
// Entries named "add\" + section + "\" + relative path are created where
// missing; "rep\" + section + "\" + relative path only replace installed
// files. Deletion lines read section + "\" + relative path. A relative path
// that would leave the target folder is never written or deleted.
#pragma once

#include <cstdint>
#include <string>

#include "base/StringList.h"

class TArchive;
class TUpdatePart;
struct PartTarget;

// Logs the target folder (level 1); false, with the not-installed message,
// when it is empty or does not exist.
bool CheckTargetFolder(const TUpdatePart& part);
// Undoes, or finishes, every journal that a killed run left in the part's
// target folder, whether or not this package gives the part rollback; logs
// what it did. False, after logging why, when a journal could not be read or
// finished: it stays for the next run. True when the folder does not resolve.
bool RecoverInterruptedPart(const TUpdatePart& part);
// Removes the temporaries that killed runs left beside the part's targets
// (entries and deletion lines).
void RemoveLeftoversOf(const TUpdatePart& part, const TArchive& archive, const StringList& toDelete);
// Tests the part's version range, then writes its files, deletes its listed
// files and writes its VRESULT. False, without VRESULT, when the version check
// stops it or a file could not be written or deleted (a part with rollback has
// then undone all its changes).
bool ApplyPart(TUpdatePart& part, const TArchive& archive, const StringList& toDelete);
// The file work of an application: counters zeroed, entries, deletions, summary.
// True when no file failed (ErrorCount 0).
bool ApplyFiles(TUpdatePart& part, const TArchive& archive, const StringList& toDelete);
// Writes the entry of `target` to `path` when it is newer than an installed
// file (a missing file is created only when `mayCreate`). True when it was written.
bool InstallEntry(TUpdatePart& part, const TArchive& archive, const std::string& path, const PartTarget& target,
                  bool mayCreate);
