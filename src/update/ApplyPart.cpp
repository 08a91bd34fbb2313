#include "update/ApplyPart.h"

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "env/System.h"
#include "env/Text.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"
#include "update/Folders.h"
#include "update/Rollback.h"
#include "update/StagedEntries.h"
#include "update/UpdateParts.h"

namespace {

constexpr int kDetail = 1;
constexpr int kResult = 2;

void Log(const TUpdatePart& part, const std::string& text, int level) { part.Owner->LogMessage(text, level); }

std::string VersionMessage(const TUpdatePart& part, int result) {
    std::string head = "\r\nDie Version des installierten Projekts " + part.SectionName;
    switch (result) {
    case kVChkUnknown: return head + " kann nicht ermittelt werden.\r\nDas Update wird nicht ausgeführt.";
    case kVChkTooNew: return head + " ist neuer als dieses Update.\r\nDas Update wird nicht ausgeführt.";
    case kVChkTooOld:
        return head + " ist nicht mindestens " + part.VChk.Earliest +
               ".\r\nDas Update kann nicht ausgeführt werden.";
    default: return {};
    }
}

// A part with rollback ends at its first failure: everything is undone anyway.
bool StopsHere(const TUpdatePart& part) { return part.Journal && part.ErrorCount > 0; }

// A part with rollback notes what writing the entry will change, and keeps
// the file that it replaces, before anything is written.
bool ReadyToWrite(const TUpdatePart& part, const std::string& path, bool exists, bool mayCreate) {
    RollbackJournal* journal = part.Journal;
    if (journal && mayCreate &&
        !journal->noteNewFolders(FolderPart(path), part.TargetFolder, part.Owner->Staging))
        return false;
    if (mayCreate) ForceFolder(FolderPart(path));
    if (!journal) return true;
    return exists ? journal->keep(path) : journal->noteNewFile(path);
}

// One entry of this part: first the second system folder (never created
// there), then the target folder.
void InstallPartEntry(TUpdatePart& part, const TArchive& archive, std::int32_t index, const std::string& rel,
                      bool mayCreate) {
    if (!part.AltTargetFolder.empty() && InstallEntry(part, archive, part.AltTargetFolder + rel, index, false))
        return;
    InstallEntry(part, archive, part.TargetFolder + rel, index, mayCreate);
}

void ApplyEntries(TUpdatePart& part, const TArchive& archive) {
    const std::string addPrefix = "add\\" + part.SectionPrefix;
    const std::string repPrefix = "rep\\" + part.SectionPrefix;
    for (std::int32_t i = 0; i < archive.entryCount() && !StopsHere(part); ++i) {
        const std::string& name = archive.entryAt(i).name;
        Ui().setProgress(name + ": " + part.SectionName);
        bool add = StartsWithText(addPrefix, name);
        if (!add && !StartsWithText(repPrefix, name)) continue;
        std::string rel = name.substr((add ? addPrefix : repPrefix).size());
        if (!IsContainedRelativePath(rel)) {
            ++part.ErrorCount;
            Log(part, "*** " + name + " liegt außerhalb des Zielordners und wird nicht geschrieben.", kResult);
            continue;
        }
        InstallPartEntry(part, archive, i, rel, add);
    }
}

// A part with rollback keeps a listed file instead of deleting it; a
// read-only file is refused, as a deletion refuses it.
bool RemoveListedFile(const TUpdatePart& part, const std::string& path) {
    if (!part.Journal) return Fs().removeFile(path);
    return (Fs().attributes(path) & kAttrReadOnly) == 0 && part.Journal->keep(path);
}

void DeleteListedFiles(TUpdatePart& part, const StringList& toDelete) {
    for (const std::string& line : toDelete) {
        if (StopsHere(part)) return;
        if (!StartsWithText(part.SectionPrefix, line)) continue;
        std::string rel = line.substr(part.SectionPrefix.size());
        if (rel.empty()) continue;  // names the folder itself, never a file
        if (!IsContainedRelativePath(rel)) {
            ++part.ErrorCount;
            Log(part, "*** " + line + " liegt außerhalb des Zielordners und wird nicht gelöscht.", kResult);
            continue;
        }
        std::string path = part.TargetFolder + rel;
        if (!FileExists(path)) continue;
        if (RemoveListedFile(part, path)) {
            ++part.DeletedCount;
            continue;
        }
        ++part.ErrorCount;
        Log(part, path + " konnte nicht gelöscht werden", kResult);
    }
}

// A copy staged by the run's check is moved into place; otherwise the entry is extracted.
bool WriteEntry(const TUpdatePart& part, const TArchive& archive, std::int32_t index, const std::string& path,
                bool exists) {
    StagedEntries* staged = part.Owner->Staging;
    if (staged && staged->commit(index, path, exists)) return true;
    return archive.extractFile(index, path);
}

void LogSummary(const TUpdatePart& part) {
    if (part.AddedCount > 0) Log(part, std::to_string(part.AddedCount) + " Dateien zugefügt", kResult);
    Log(part, std::to_string(part.UpdatedCount) + " Dateien aktualisiert", kResult);
    if (part.DeletedCount != 0) Log(part, std::to_string(part.DeletedCount) + " Dateien gelöscht", kResult);
    if (part.ErrorCount > 0) Log(part, std::to_string(part.ErrorCount) + " Fehler", kResult);
    if (part.KeptCount > 0)
        Log(part,
            std::to_string(part.KeptCount) + " wurden nicht aktualisiert, " +
                "da neuere oder gleiche Exemplare vorlagen.",
            kResult);
}

std::string PartName(const TUpdatePart& part) {
    return part.DisplayName.empty() ? part.SectionName : part.DisplayName;
}

void LogLines(const TUpdatePart& part, const StringList& lines) {
    for (const std::string& line : lines) Log(part, line, kResult);
}

void Undo(const TUpdatePart& part, RollbackJournal& journal) {
    StringList problems;
    journal.undo(problems);
    LogLines(part, problems);
    Log(part, "Die Änderungen an " + PartName(part) + " wurden zurückgenommen.", kResult);
}

// Lends the journal to the part while its files are written.
class JournalLent {
public:
    JournalLent(TUpdatePart& part, RollbackJournal& journal) : part_(part) { part_.Journal = &journal; }
    ~JournalLent() { part_.Journal = nullptr; }

private:
    TUpdatePart& part_;
};

// The file work of a part with rollback: all of it, or, after the first
// failure (an error included), none of it.
bool ApplyAllOrNothing(TUpdatePart& part, const TArchive& archive, const StringList& toDelete) {
    RollbackJournal journal(part.TargetFolder);
    JournalLent lent(part, journal);
    try {
        ApplyEntries(part, archive);
        DeleteListedFiles(part, toDelete);
    } catch (const std::exception&) {
        Undo(part, journal);
        throw;
    }
    StringList problems;
    if (part.ErrorCount == 0 && !journal.commit(problems)) {
        ++part.ErrorCount;
        Log(part, "*** " + journal.path() + " nicht (vollständig) geschrieben.", kResult);
    }
    if (part.ErrorCount > 0) {
        Undo(part, journal);
        return false;
    }
    LogLines(part, problems);
    LogSummary(part);
    return true;
}

}  // namespace

bool RecoverInterruptedPart(const TUpdatePart& part) {
    if (!part.Rollback) return true;
    StringList problems;
    int found = 0;
    bool recovered = RollbackJournal::Recover(part.TargetFolder, problems, found);
    LogLines(part, problems);
    if (found > 0 && recovered)
        Log(part, "Die Änderungen eines abgebrochenen Laufs an " + PartName(part) + " wurden bereinigt.", kDetail);
    if (!recovered)
        Log(part,
            "Die Änderungen eines abgebrochenen Laufs an " + PartName(part) +
                " konnten nicht zurückgenommen werden.\r\nDas Update kann nicht ausgeführt werden.",
            kResult);
    return recovered;
}

bool CheckTargetFolder(const TUpdatePart& part) {
    Log(part, "Zielordner: " + part.TargetFolder, kDetail);
    if (!part.TargetFolder.empty() && FolderExists(part.TargetFolder)) return true;
    Log(part,
        "Die Anwendung\r\n        " + part.DisplayName + "\r\n" + "ist nicht installiert.\r\n" +
            "Das Update kann nicht ausgeführt werden.",
        kResult);
    return false;
}

bool ApplyPart(TUpdatePart& part, const TArchive& archive, const StringList& toDelete) {
    int result = EvaluateVChk(part.VChk);
    if (result != kVChkPassed) {
        std::string message = VersionMessage(part, result);
        if (!message.empty()) Log(part, message, kResult);
        return false;
    }
    Log(part, "\r\n" + part.DisplayName, kResult);
    bool applied = ApplyFiles(part, archive, toDelete);
    if (applied) TUpdateParts::WriteResultValue(part.VResult);
    return applied;
}

bool ApplyFiles(TUpdatePart& part, const TArchive& archive, const StringList& toDelete) {
    part.ResetCounters();
    if (part.Rollback) return ApplyAllOrNothing(part, archive, toDelete);
    ApplyEntries(part, archive);
    DeleteListedFiles(part, toDelete);
    LogSummary(part);
    // A part that left files unwritten or undeleted is not applied: it writes no
    // result value, so the same package can repair it once the cause is gone.
    return part.ErrorCount == 0;
}

bool InstallEntry(TUpdatePart& part, const TArchive& archive, const std::string& path, std::int32_t index,
                  bool mayCreate) {
    bool exists = FileExists(path);
    if (!exists && !mayCreate) return false;
    if (archive.entryAt(index).fileDate() <= FileDateOf(path)) {
        Log(part, path + " (neuere oder gleiche existiert)", kDetail);
        ++part.KeptCount;
        return false;
    }
    // A kept file is no longer there to be replaced; its successor takes its
    // attributes as a replaced file does, the read-only flag aside.
    const std::uint32_t previous = part.Journal && exists ? Fs().attributes(path) : kAttrInvalid;
    if (ReadyToWrite(part, path, exists, mayCreate) && WriteEntry(part, archive, index, path, exists && !part.Journal)) {
        if (previous != kAttrInvalid)
            Fs().setAttributes(path, (previous & ~std::uint32_t(kAttrReadOnly | kAttrDirectory)) | kAttrArchive);
        ++(exists ? part.UpdatedCount : part.AddedCount);
        return true;
    }
    ++part.ErrorCount;
    Log(part, "*** " + path + " nicht (vollständig) geschrieben.", kResult);
    return false;
}
