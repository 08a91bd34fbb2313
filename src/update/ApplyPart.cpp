#include "update/ApplyPart.h"

#include <algorithm>

#include "archive/Archive.h"
#include "archive/Patch.h"
#include "base/Text.h"
#include "env/System.h"
#include "env/Text.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"
#include "platform/RestartSchedule.h"
#include "platform/TempFiles.h"
#include "update/Folders.h"
#include "update/PartWriter.h"
#include "update/StagedEntries.h"
#include "update/Transaction.h"
#include "update/UpdateParts.h"

namespace {

constexpr int kDetail = 1;
constexpr int kResult = 2;

void Log(const TUpdatePart& part, const std::string& text, int level) { part.Owner->LogMessage(text, level); }

// `path` between `head` and `tail`, built in place: a chain of "+" would make a string for each step.
void Log(const TUpdatePart& part, const char* head, const std::string& path, const char* tail, int level) {
    std::string text(head);
    Log(part, text.append(path).append(tail), level);
}

// How the part writes: through the writer lent to it while it is applied with
// rollback, otherwise in place.
PartWriter& WriterOf(const TUpdatePart& part) {
    static PlainWriter plain;
    return part.Writer ? *part.Writer : plain;
}

// A part with rollback ends at its first failure: everything is undone anyway.
bool StopsHere(const TUpdatePart& part) { return WriterOf(part).stopsAtFirstError() && part.ErrorCount > 0; }

// Whether the file at `path` was found held open before the run's first change
// in a part with REBOOTOK: it is replaced, or deleted, at the next start of Windows.
bool HeldUntilRestart(const TUpdatePart& part, const std::string& path) {
    for (const std::string& held : part.HeldUntilRestart)
        if (SameText(held, path)) return true;
    return false;
}

// The stamp of the file at `path` after the next start of Windows: a run
// before this one may have left a newer copy to be moved over it then. A copy
// counts only when that is scheduled: one that a killed run left, or that
// someone else put there, is never moved (the run's clean-up removes it).
std::int32_t StampAfterRestart(const std::string& path) {
    std::int32_t stamp = FileDateOf(path);
    for (const std::string& copy : PendingCopiesOf(path))
        if (ScheduledAtRestart(copy, path)) stamp = std::max(stamp, FileDateOf(copy));
    return stamp;
}

// What this run wrote to, or deleted at, `path` is what stays: what earlier
// runs left for the next start at that path goes (with rollback: when the part commits).
void SupersedeRestartChangesAt(TUpdatePart& part, const std::string& path) {
    StringList problems;
    WriterOf(part).supersedeRestartChanges(path, problems);
    for (const std::string& line : problems) {
        ++part.ErrorCount;
        Log(part, line, kResult);
    }
}

// An entry that is not newer than what waits beside its path for the next
// start of Windows: the restart installs it, so the run is complete only then.
bool WaitsForRestart(TUpdatePart& part, const std::string& path, std::int32_t entryStamp) {
    if (entryStamp <= FileDateOf(path)) return false;
    part.Owner->RestartNeeded = true;
    Log(part, "", path, " wird beim nächsten Neustart ersetzt.", kResult);
    return true;
}

// The new file beside the held one, under a name that no later run takes for
// a leftover: the copy that the run's check staged (a patch's result is built
// from the held file then, before the first change), else the entry inflated
// now. `crc` receives the CRC-32 of what was written.
std::string PendingCopy(const TUpdatePart& part, const TArchive& archive, const PartTarget& target,
                        const std::string& path, std::uint32_t& crc) {
    StagedEntries* staging = part.Owner->Staging;
    std::string staged = FreeTempName(path, TempKind::Pending);
    if (staging && !staged.empty() && staging->commit(target.entry, staged, false, &crc)) return staged;
    if (target.kind == TargetKind::Patch) return {};
    TempFile pending(path, TempKind::Pending);
    if (!pending.file() || !archive.inflateInto(target.entry, *pending.file(), &crc)) return {};
    return pending.release(archive.entryAt(target.entry).fileDate());
}

// The new file, read back beside the held one (its final place is taken until
// then), to be moved over it by Windows at its next start.
bool ReplaceAtRestart(TUpdatePart& part, const TArchive& archive, const PartTarget& target, const std::string& path) {
    std::uint32_t crc = 0;
    std::string pending = PendingCopy(part, archive, target, path, crc);
    if (pending.empty()) return false;
    if (!ReadsBackAs(pending, crc) || !ScheduleAtRestart(pending, path)) {
        Fs().removeFile(pending);
        return false;
    }
    part.Owner->RestartNeeded = true;
    Log(part, "", path, " wird beim nächsten Neustart ersetzt.", kResult);
    return true;
}

// What writing entry `index` leaves at its path: the length that the run's
// check inflated, or the one the directory records, and the entry's stamp.
Written WhatEntryWrites(const TUpdatePart& part, const TArchive& archive, std::int32_t index) {
    const TPackedFile& entry = archive.entryAt(index);
    std::int64_t length = part.Owner->Staging ? part.Owner->Staging->lengthOf(index) : -1;
    return {length >= 0 ? length : std::int64_t(entry.unpackedSize), entry.fileDate()};
}

// A file that was written but read back otherwise. A part with rollback takes
// it away, or, where it cannot, has its undo put the kept file back anyway (the
// undo leaves a file that is not as the run wrote it, taking it for another's).
// Elsewhere it gets the oldest stamp, so that running the update again writes it.
void TakeBackBadWrite(PartWriter& writer, const std::string& path) {
    constexpr std::int32_t kOldestDosStamp = 0x00210000;  // 1980-01-01 00:00
    if (writer.replacesInPlace()) {
        SetFileDate(path, kOldestDosStamp);
    } else if (!Fs().removeFile(path)) {
        writer.disown(path);
    }
}

// One entry of this part: first the second system folder (never created
// there), then the target folder, unless the entry was written, or failed, there.
void InstallPartEntry(TUpdatePart& part, const TArchive& archive, const PartTarget& target) {
    const int errors = part.ErrorCount;
    if (!part.AltTargetFolder.empty() && InstallEntry(part, archive, part.AltTargetFolder + target.rel, target, false))
        return;
    if (part.ErrorCount != errors) return;
    InstallEntry(part, archive, part.TargetFolder + target.rel, target, target.kind == TargetKind::Add);
}

// A patch entry ("pat\") is written like a "rep\" one. The progress names
// every entry of the archive as the part passes it; the targets are in the archive's order.
void ApplyEntries(TUpdatePart& part, const TArchive& archive, const std::vector<PartTarget>& targets) {
    auto next = targets.begin();
    for (std::int32_t i = 0; i < archive.entryCount() && !StopsHere(part); ++i) {
        Ui().setProgress(archive.entryAt(i).name + ": " + part.SectionName);
        if (next == targets.end() || next->entry != i) continue;
        const PartTarget& target = *next++;
        if (!target.contained) {
            ++part.ErrorCount;
            Log(part, "*** ", archive.entryAt(i).name, " liegt außerhalb des Zielordners und wird nicht geschrieben.",
                kResult);
            continue;
        }
        InstallPartEntry(part, archive, target);
    }
}

void DeleteListedFiles(TUpdatePart& part, const std::vector<PartTarget>& targets) {
    for (const PartTarget& target : targets) {
        if (StopsHere(part)) return;
        if (target.kind != TargetKind::Delete) continue;
        if (!target.contained) {
            ++part.ErrorCount;
            Log(part, "*** ", part.SectionPrefix + target.rel,
                " liegt außerhalb des Zielordners und wird nicht gelöscht.", kResult);
            continue;
        }
        std::string path = part.TargetFolder + target.rel;
        if (!FileExists(path)) continue;
        // A folder of the path that is a junction or link leads out of the part's folder.
        if (CrossesReparsePoint(part.TargetFolder, path)) {
            ++part.ErrorCount;
            Log(part, "*** ", path, " liegt hinter einer Verknüpfung und wird nicht gelöscht.", kResult);
            continue;
        }
        Fs().clearChangeError();
        if (HeldUntilRestart(part, path)) {
            if (!ScheduleAtRestart(path, "")) {
                ++part.ErrorCount;
                Log(part, "", path, " konnte nicht gelöscht werden", kResult);
                continue;
            }
            part.Owner->RestartNeeded = true;
            Log(part, "", path, " wird beim nächsten Neustart gelöscht.", kResult);
            ++part.DeletedCount;
            continue;
        }
        if (WriterOf(part).removeListed(path)) {
            ++part.DeletedCount;
            SupersedeRestartChangesAt(part, path);
            continue;
        }
        ++part.ErrorCount;
        Log(part,
            std::string(path).append(" konnte nicht gelöscht werden.").append(FailureReason(Fs().lastChangeError())),
            kResult);
    }
}

// A copy staged by the run's check is moved into place; otherwise the entry is
// extracted. A patch entry's data is no file: without its staged result it is
// not written. `crc` receives the CRC-32 of what was written.
bool WriteEntry(const TUpdatePart& part, const TArchive& archive, const PartTarget& target, const std::string& path,
                bool exists, std::uint32_t& crc) {
    StagedEntries* staged = part.Owner->Staging;
    if (staged && staged->commit(target.entry, path, exists, &crc)) return true;
    return target.kind != TargetKind::Patch && archive.extractFile(target.entry, path, &crc);
}

void LogSummary(const TUpdatePart& part) {
    if (part.AddedCount > 0) Log(part, "", DecimalText(part.AddedCount), " Dateien zugefügt", kResult);
    Log(part, "", DecimalText(part.UpdatedCount), " Dateien aktualisiert", kResult);
    if (part.DeletedCount != 0) Log(part, "", DecimalText(part.DeletedCount), " Dateien gelöscht", kResult);
    if (part.ErrorCount > 0) Log(part, "", DecimalText(part.ErrorCount), " Fehler", kResult);
    if (part.KeptCount > 0)
        Log(part, "", DecimalText(part.KeptCount),
            " wurden nicht aktualisiert, da neuere oder gleiche Exemplare vorlagen.", kResult);
}

std::string PartName(const TUpdatePart& part) {
    return part.DisplayName.empty() ? part.SectionName : part.DisplayName;
}

void LogLines(const TUpdatePart& part, const StringList& lines) {
    for (const std::string& line : lines) Log(part, line, kResult);
}

void LogReport(const TUpdatePart& part, const UndoReport& report) {
    for (const std::string& line : report.notices) Log(part, line, kDetail);
    LogLines(part, report.problems);
}

// Takes back what the part changed; says so only when all of it went back.
// The part's staged files that it did not reach go first: the new folders that
// hold them can go then.
void Undo(const TUpdatePart& part, RollbackJournal& journal, const std::vector<PartTarget>& targets) {
    if (StagedEntries* staging = part.Owner->Staging)
        for (const PartTarget& target : targets) staging->drop(target.entry);
    UndoReport report;
    journal.undo(report);
    LogReport(part, report);
    if (report.problems.empty())
        Log(part, "Die Änderungen an ", PartName(part), " wurden zurückgenommen.", kResult);
    else
        Log(part, "Die Änderungen an ", PartName(part), " konnten nicht alle zurückgenommen werden.", kResult);
}

// Every change that the part may make, noted in one batch that reaches the
// disk in one flush before the first of them: each change finds its note then.
// False when the journal cannot be written.
bool NoteChangesAhead(const TUpdatePart& part, const TArchive& archive, const std::vector<PartTarget>& targets,
                      JournaledWriter& writer) {
    Fs().clearChangeError();
    for (const PartTarget& target : targets) {
        if (!target.contained) continue;
        if (target.kind == TargetKind::Delete) {
            writer.noteAhead(part.TargetFolder + target.rel, Written::Nothing(), false);
            continue;
        }
        const Written written = WhatEntryWrites(part, archive, target.entry);
        if (!part.AltTargetFolder.empty()) writer.noteAhead(part.AltTargetFolder + target.rel, written, false);
        writer.noteAhead(part.TargetFolder + target.rel, written, target.kind == TargetKind::Add);
    }
    return writer.journal().flush();
}

// The file work of a part with rollback: all of it, or, after the first
// failure (an error included), none of it.
// In a run with a transaction the part's journal is the run's, named in the
// run's journal first, and the run commits it.
bool ApplyAllOrNothing(TUpdatePart& part, const TArchive& archive, const std::vector<PartTarget>& targets) {
    RunTransaction* run = part.Owner->Transaction;
    const std::string path = run ? run->journalFor(part.TargetFolder, part.AltTargetFolder) : std::string();
    JournaledWriter writer(part, part.Owner->Staging, path);
    Lent<PartWriter> lent(part.Writer, writer);
    RollbackJournal& journal = writer.journal();
    if ((run && path.empty()) || !NoteChangesAhead(part, archive, targets, writer)) {
        ++part.ErrorCount;
        Log(part, writer.failureLine(journal.path()) + FailureReason(Fs().lastChangeError()), kResult);
    }
    try {
        ApplyEntries(part, archive, targets);
        DeleteListedFiles(part, targets);
    } catch (const std::exception&) {
        Undo(part, journal, targets);
        throw;
    }
    StringList problems;
    if (part.ErrorCount == 0 && !(run ? journal.flush() : journal.commit(problems))) {
        ++part.ErrorCount;
        Log(part, writer.failureLine(journal.path()), kResult);
    }
    if (part.ErrorCount > 0) {
        Undo(part, journal, targets);
        return false;
    }
    LogLines(part, problems);
    LogSummary(part);
    return true;
}

}  // namespace

bool RecoverInterruptedPart(const TUpdatePart& part) {
    if (part.TargetFolder.empty() || !FolderExists(part.TargetFolder)) return true;
    UndoReport report;
    RollbackJournal::Recovery recovery = RollbackJournal::Recover(part.TargetFolder, report, part.AltTargetFolder);
    LogReport(part, report);
    const std::string head = "Ein abgebrochenes Update in " + part.TargetFolder;
    switch (recovery) {
    case RollbackJournal::Recovery::NothingFound: return true;
    case RollbackJournal::Recovery::Cleaned:
        Log(part, "Die Reste eines abgebrochenen Updates in ", part.TargetFolder, " wurden entfernt.", kDetail);
        return true;
    case RollbackJournal::Recovery::Undone: Log(part, "", head, " wurde zurückgenommen.", kResult); return true;
    case RollbackJournal::Recovery::Finished: Log(part, "", head, " wurde abgeschlossen.", kResult); return true;
    case RollbackJournal::Recovery::Failed: break;
    case RollbackJournal::Recovery::Refused: Log(part, "Das Update kann nicht ausgeführt werden.", kResult); return false;
    }
    Log(part, "", head, " konnte nicht zurückgenommen werden.\r\nDas Update kann nicht ausgeführt werden.", kResult);
    return false;
}

void RemoveLeftoversOf(const TUpdatePart& part, const TArchive& archive, const StringList& toDelete) {
    if (part.TargetFolder.empty()) return;
    std::vector<std::string> targets, altTargets;
    std::vector<PartTarget> scratch;
    for (const PartTarget& target : PlannedTargets(part, archive, toDelete, scratch)) {
        if (!target.contained) continue;
        targets.push_back(part.TargetFolder + target.rel);
        if (target.kind != TargetKind::Delete && !part.AltTargetFolder.empty())
            altTargets.push_back(part.AltTargetFolder + target.rel);
    }
    for (const std::string* top : {&part.TargetFolder, &part.AltTargetFolder})
        for (const std::string& path : RemoveLeftoverTemporaries(*top, top == &part.TargetFolder ? targets : altTargets))
            Log(part, "", path, " (Rest eines abgebrochenen Updates) entfernt", kDetail);
}

bool CheckTargetFolder(const TUpdatePart& part) {
    Log(part, "Zielordner: ", part.TargetFolder, "", kDetail);
    if (!part.TargetFolder.empty() && FolderExists(part.TargetFolder)) return true;
    Log(part, "Die Anwendung\r\n        ", part.DisplayName,
        "\r\nist nicht installiert.\r\nDas Update kann nicht ausgeführt werden.", kResult);
    return false;
}

bool ApplyPart(TUpdatePart& part, const TArchive& archive, const StringList& toDelete) {
    int result = EvaluateVChk(part.VChk);
    if (result != kVChkPassed) {
        std::string message = VersionRefusal(part.SectionName, part.VChk, result);
        if (!message.empty()) Log(part, message, kResult);
        return false;
    }
    Log(part, "\r\n", part.DisplayName, "", kResult);
    bool applied = ApplyFiles(part, archive, toDelete);
    if (applied && !part.Owner->WriteResult(part.VResult)) {
        Log(part, "*** Der Wert ", part.VResult, " konnte nicht vorgemerkt werden.", kResult);
        return false;
    }
    return applied;
}

bool ApplyFiles(TUpdatePart& part, const TArchive& archive, const StringList& toDelete) {
    part.ResetCounters();
    std::vector<PartTarget> scratch;
    const std::vector<PartTarget>& targets = PlannedTargets(part, archive, toDelete, scratch);
    if (part.Rollback || part.Owner->Transaction) return ApplyAllOrNothing(part, archive, targets);
    ApplyEntries(part, archive, targets);
    DeleteListedFiles(part, targets);
    LogSummary(part);
    // A part that left files unwritten or undeleted is not applied: it writes no
    // result value, so the same package can repair it once the cause is gone.
    return part.ErrorCount == 0;
}

bool InstallEntry(TUpdatePart& part, const TArchive& archive, const std::string& path, const PartTarget& target,
                  bool mayCreate) {
    const std::int32_t index = target.entry;
    bool exists = FileExists(path);
    if (!exists && !mayCreate) return false;
    if (archive.entryAt(index).fileDate() <= StampAfterRestart(path)) {
        if (!WaitsForRestart(part, path, archive.entryAt(index).fileDate()))
            Log(part, "", path, " (neuere oder gleiche existiert)", kDetail);
        ++part.KeptCount;
        return false;
    }
    if (exists && HeldUntilRestart(part, path)) {
        if (ReplaceAtRestart(part, archive, target, path)) return ++part.UpdatedCount, true;
        ++part.ErrorCount;
        Log(part, "*** ", path, " nicht (vollständig) geschrieben.", kResult);
        return false;
    }
    PartWriter& writer = WriterOf(part);
    // A kept file is no longer there to be replaced; its successor takes its
    // attributes as a replaced file does, the read-only flag aside.
    const std::uint32_t previous = !writer.replacesInPlace() && exists ? Fs().attributes(path) : kAttrInvalid;
    const Written written = WhatEntryWrites(part, archive, index);
    Fs().clearChangeError();
    std::uint32_t crc = 0;
    // Read back from its final place: a file that a scanner, a filter or the
    // disk changed on its way is not written.
    const bool wrote = writer.prepareWrite(path, exists, mayCreate, written) &&
                       WriteEntry(part, archive, target, path, exists && writer.replacesInPlace(), crc);
    if (wrote && ReadsBackAs(path, crc)) {
        // The run's progress counts a patch by its own length, as the check inflated it.
        const bool patch = target.kind == TargetKind::Patch;
        Progress().advance(std::uint64_t(patch ? archive.entryAt(index).unpackedSize : written.size));
        if (previous != kAttrInvalid)
            Fs().setAttributes(path, (previous & ~std::uint32_t(kAttrReadOnly | kAttrDirectory)) | kAttrArchive);
        ++(exists ? part.UpdatedCount : part.AddedCount);
        SupersedeRestartChangesAt(part, path);
        return true;
    }
    ++part.ErrorCount;
    // After a write that read back otherwise no change failed: the line gives no reason.
    const std::string line = writer.failureLine(path) + FailureReason(Fs().lastChangeError());
    if (wrote) TakeBackBadWrite(writer, path);
    Log(part, line, kResult);
    return false;
}
