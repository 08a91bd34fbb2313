#include "update/Rollback.h"

#include <cstdlib>

#include "env/System.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "update/Folders.h"
#include "update/StagedEntries.h"

namespace {

const char* const kJournalStem = "~update";
const char* const kJournalSuffix = ".~rj";
const char* const kLineEnd = "\r\n";

bool IsFolder(const std::string& path) {
    std::uint32_t attributes = Fs().attributes(path);
    return attributes != kAttrInvalid && (attributes & kAttrDirectory) != 0;
}

bool Exists(const std::string& path) { return Fs().attributes(path) != kAttrInvalid; }

// A folder that a part made, with the updater's own temporaries in it (staged
// files, what a killed write left) and the folders made for them. Anything
// else in it stays, and so does the folder.
bool RemoveNewFolder(const std::string& folder) {
    std::vector<FindData> children;
    Fs().listFolder(folder, children);
    std::string base;
    for (const FindData& child : children) {
        std::string path = folder + "\\" + child.name;
        if (child.attributes & kAttrDirectory)
            RemoveNewFolder(path);
        else if (ParseTempName(child.name, base))
            RemoveFileAnyway(path);
    }
    return Fs().removeFolder(folder);
}

bool IsJournalName(const std::string& name) {
    std::string upper = UpperCased(name), stem = UpperCased(kJournalStem), suffix = UpperCased(kJournalSuffix);
    return upper.size() > stem.size() + suffix.size() && upper.compare(0, stem.size(), stem) == 0 &&
           upper.compare(upper.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        std::size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return fields;
        start = bar + 1;
    }
}

bool KnownChange(char c) { return c == 'K' || c == 'N' || c == 'D' || c == 'C'; }

}  // namespace

bool Written::isAt(const std::string& path) const {
    FindData found;
    if (!Fs().findFirst(path, found)) return true;
    if (size == kUnknown) return true;  // the journal does not say: as it was always undone
    // Windows reads the stamps of an NTFS volume in today's local time: after a
    // change to or from summer time since the write, the file reads an hour off.
    return size != kNothing && (found.attributes & kAttrDirectory) == 0 && found.size == size &&
           CompareFileDates(found.dosDate, stamp) == 0;
}

RollbackJournal::RollbackJournal(std::string folder) : folder_(std::move(folder)) {}

RollbackJournal::~RollbackJournal() = default;

bool RollbackJournal::open() {
    if (file_) return true;
    if (failed_) return false;
    path_ = FreeName(folder_ + kJournalStem, kJournalSuffix);
    if (path_.empty()) path_ = folder_ + kJournalStem + "0" + kJournalSuffix;
    file_ = Fs().open(path_, OpenMode::Create);
    failed_ = file_ == nullptr;
    return !failed_;
}

// Written, and flushed, before the change it notes, so that a run killed or a
// power cut after the change leaves a journal that knows it. A line: the change's letter, then path,
// kept copy, size and stamp of what the run writes, separated by "|".
bool RollbackJournal::note(const Record& record) {
    if (!open()) return false;
    std::string line = static_cast<char>(record.change) + record.path + "|" + record.kept + "|" +
                       std::to_string(record.written.size) + "|" + std::to_string(record.written.stamp) + kLineEnd;
    if (file_->write(line.data(), std::int64_t(line.size())) != std::int64_t(line.size()) || !file_->flush()) {
        failed_ = true;
        return false;
    }
    records_.push_back(record);
    return true;
}

bool RollbackJournal::keep(const std::string& path, const Written& written) {
    // A file open elsewhere could be neither written nor deleted; the rename might still succeed.
    if (!Fs().open(path, OpenMode::ReadExclusive)) return false;
    std::string kept = FreeTempName(path, TempKind::Kept);
    return !kept.empty() && note({Change::Kept, path, kept, written}) && Fs().renameOver(path, kept);
}

bool RollbackJournal::noteNewFile(const std::string& path, const Written& written) {
    return note({Change::NewFile, path, {}, written});
}

bool RollbackJournal::noteNewFolders(const std::string& folder, const std::string& top,
                                     const StagedEntries* staging) {
    std::string topFolder = top;
    DropTrailingBackslash(topFolder);
    std::vector<std::string> made;  // innermost first
    for (std::string f = folder;; f = FolderPart(f)) {
        DropTrailingBackslash(f);
        if (f.size() <= 3 || SameText(f, topFolder)) break;
        if (FolderExists(f) && !(staging && staging->createdUnclaimed(f))) break;  // there before: so are its parents
        made.push_back(f);
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        if (!note({Change::NewFolder, *it, {}, {}})) return false;
    return true;
}

void RollbackJournal::removeKeptCopies(StringList& problems) {
    for (const Record& record : records_)
        if (record.change == Change::Kept && Exists(record.kept) && !RemoveFileAnyway(record.kept))
            problems.push_back(record.kept + " konnte nicht gelöscht werden");
}

// The journal goes once nothing of it is left to do.
void RollbackJournal::finish(const StringList& problems) {
    file_.reset();
    if (problems.empty() && !path_.empty() && !failed_) Fs().removeFile(path_);
}

bool RollbackJournal::commit(StringList& problems) {
    if (records_.empty() && !failed_) return true;  // nothing was changed
    if (!note({Change::Succeeded, {}, {}, {}})) return false;
    StringList left;
    removeKeptCopies(left);
    finish(left);
    problems.insert(problems.end(), left.begin(), left.end());
    return true;
}

// One change taken back, when it was made and what it made is still there.
void RollbackJournal::undoRecord(const Record& r, UndoReport& report) {
    switch (r.change) {
    case Change::Kept:
        if (!Exists(r.kept)) return;
        if (!r.written.isAt(r.path)) {
            report.notices.push_back(r.path + " wurde inzwischen ersetzt und bleibt erhalten.");
            if (!RemoveFileAnyway(r.kept)) report.problems.push_back(r.kept + " konnte nicht gelöscht werden");
            return;
        }
        // One rename over the new file: the path holds one version or the other at every moment.
        if (!EvenIfReadOnly(r.path, [&] { return Fs().renameOver(r.kept, r.path); }))
            report.problems.push_back("*** " + r.path + " konnte nicht wiederhergestellt werden (vorige Fassung: " +
                                      r.kept + ").");
        return;
    case Change::NewFile:
        if (!FileExists(r.path)) return;
        if (!r.written.isAt(r.path)) {
            report.notices.push_back(r.path + " wurde inzwischen ersetzt und bleibt erhalten.");
            return;
        }
        if (!RemoveFileAnyway(r.path)) report.problems.push_back("*** " + r.path + " konnte nicht entfernt werden.");
        return;
    case Change::NewFolder:
        // What is left in it (files that others put there since, or one of the
        // run's that could not be removed and is named already) keeps the folder,
        // as it keeps a replaced file: no reason to hold the journal.
        if (IsFolder(r.path) && !RemoveNewFolder(r.path))
            report.notices.push_back(r.path + " konnte nicht entfernt werden und bleibt erhalten.");
        return;
    case Change::Succeeded: return;
    }
}

void RollbackJournal::undo(UndoReport& report) {
    UndoReport mine;
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) undoRecord(*it, mine);
    finish(mine.problems);
    report.problems.insert(report.problems.end(), mine.problems.begin(), mine.problems.end());
    report.notices.insert(report.notices.end(), mine.notices.begin(), mine.notices.end());
}

// Complete lines only: a line cut short by a kill noted a change that was never
// made. False when the journal cannot be read whole (held open by a running
// updater, a read error).
bool RollbackJournal::load(const std::string& path) {
    path_ = path;
    std::unique_ptr<FileHandle> file = Fs().open(path, OpenMode::ReadShared);
    std::int64_t size = file ? file->size() : -1;
    if (size < 0) return false;
    std::string text(std::size_t(size), '\0');
    if (size > 0 && file->read(&text[0], size) != size) return false;
    for (std::size_t start = 0, end; (end = text.find(kLineEnd, start)) != std::string::npos; start = end + 2) {
        std::string line = text.substr(start, end - start);
        if (line.empty()) continue;
        if (!KnownChange(line[0])) return false;
        std::vector<std::string> fields = SplitFields(line.substr(1));
        Record record{static_cast<Change>(line[0]), fields[0], fields.size() > 1 ? fields[1] : std::string(), {}};
        if (fields.size() >= 4) {
            record.written.size = std::strtoll(fields[2].c_str(), nullptr, 10);
            record.written.stamp = static_cast<std::int32_t>(std::strtol(fields[3].c_str(), nullptr, 10));
        }
        records_.push_back(record);
    }
    return true;
}

RollbackJournal::Recovery RollbackJournal::Recover(const std::string& folder, UndoReport& report) {
    FindData any;
    if (!Fs().findFirst(folder + kJournalStem + "*" + kJournalSuffix, any)) return Recovery::NothingFound;
    std::vector<FindData> entries;
    Fs().listFolder(folder, entries);
    Recovery outcome = Recovery::NothingFound;
    bool failed = false, undone = false;
    for (const FindData& entry : entries) {
        if ((entry.attributes & kAttrDirectory) || !IsJournalName(entry.name)) continue;
        RollbackJournal journal(folder);
        if (!journal.load(folder + entry.name)) {
            report.problems.push_back("*** " + folder + entry.name + " kann nicht gelesen werden.");
            failed = true;
            continue;
        }
        UndoReport mine;
        // A part that had succeeded only had its kept copies to remove.
        if (!journal.records_.empty() && journal.records_.back().change == Change::Succeeded) {
            journal.removeKeptCopies(mine.problems);
            journal.finish(mine.problems);
        } else {
            journal.undo(mine);
            undone = true;
        }
        failed = failed || !mine.problems.empty();
        report.problems.insert(report.problems.end(), mine.problems.begin(), mine.problems.end());
        report.notices.insert(report.notices.end(), mine.notices.begin(), mine.notices.end());
        outcome = Recovery::Finished;
    }
    if (failed) return Recovery::Failed;
    if (undone) return Recovery::Undone;
    return outcome;
}
