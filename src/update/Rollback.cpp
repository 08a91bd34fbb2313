#include "update/Rollback.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "archive/EntryName.h"
#include "base/Text.h"
#include "env/System.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
#include "platform/RestartSchedule.h"
#include "platform/TempFiles.h"
#include "update/Folders.h"
#include "update/StagedEntries.h"

namespace {

const char* const kJournalStem = "~update";
const char* const kJournalSuffix = ".~rj";
const char* const kLineEnd = "\r\n";

// Adds `path` between `head` and `tail` to `lines`, built in place: a chain of
// "+" would make a string for each step, and this is called in many places.
void Say(StringList& lines, const char* head, const std::string& path, const char* tail) {
    lines.emplace_back(head).append(path).append(tail);
}

bool IsFolder(const std::string& path) {
    std::uint32_t attributes = Fs().attributes(path);
    return attributes != kAttrInvalid && (attributes & kAttrDirectory) != 0;
}

bool Exists(const std::string& path) { return Fs().attributes(path) != kAttrInvalid; }

bool IsReparsePoint(const std::string& path) {
    std::uint32_t attributes = Fs().attributes(path);
    return attributes != kAttrInvalid && (attributes & kAttrReparsePoint) != 0;
}

// The largest journal read: far above any that a part writes (a line per changed file).
constexpr std::int64_t kMaxJournalBytes = 64 << 20;

bool IsJournalName(const std::string& name) {
    std::string upper = UpperCased(name), stem = UpperCased(kJournalStem), suffix = UpperCased(kJournalSuffix);
    return upper.size() > stem.size() + suffix.size() && upper.compare(0, stem.size(), stem) == 0 &&
           upper.compare(upper.size() - suffix.size(), suffix.size(), suffix) == 0;
}


bool KnownChange(char c) {
    return c == 'K' || c == 'N' || c == 'D' || c == 'P' || c == 'C' || c == 'T' || c == 'F';
}

// A decimal number, "-" allowed, within [low, high].
bool ParseNumber(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& out) {
    std::size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == first || text.size() - first > 18) return false;
    std::int64_t value = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    out = first ? -value : value;
    return out >= low && out <= high;
}

// A path in the form the updater writes, below `folder` (ending with "\"): no
// ".", "..", empty element or element ending in a dot or blank (which Windows
// drops), no drive, stream, wildcard or forward slash.
bool IsPlainPathBelow(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size() || !StartsWithText(folder, path)) return false;
    std::string rel = path.substr(folder.size());
    if (rel.find_first_of("/*?\"<>") != std::string::npos || !IsContainedRelativePath(rel)) return false;
    for (std::size_t end = rel.find('\\');; end = rel.find('\\', end + 1)) {
        char last = rel[(end == std::string::npos ? rel.size() : end) - 1];
        if (last == '.' || last == ' ') return false;
        if (end == std::string::npos) return true;
    }
}

// The name under which the updater keeps `path`: the path + ".~r" + a number below 100.
bool IsKeptNameOf(const std::string& kept, const std::string& path) {
    std::string stem = path + ".~r";
    std::size_t digits = kept.size() - stem.size();
    return kept.size() > stem.size() && digits <= 2 && kept.compare(0, stem.size(), stem) == 0 &&
           kept.find_first_not_of("0123456789", stem.size()) == std::string::npos;
}

// What a change notes: the stamp of what the run writes also in UTC.
Written InUtc(Written written) {
    if (written.size >= 0 && written.stamp != -1) written.utc = UtcOfDosDate(written.stamp);
    return written;
}

constexpr std::int64_t kTwoSeconds = 20000000;  // the resolution of an MS-DOS stamp

}  // namespace

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        std::size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return fields;
        start = bar + 1;
    }
}

void SupersedeRestartChanges(const std::string& path, StringList& problems) {
    for (const std::string& copy : PendingCopiesOf(path))
        if (!RemoveFileAnyway(copy)) Say(problems, "", copy, " konnte nicht gelöscht werden");
    if (!CancelDeletionAtRestart(path))
        Say(problems, "Das Löschen von ", path, " beim nächsten Neustart konnte nicht aufgehoben werden");
}

bool Written::isAt(const std::string& path) const {
    FindData found;
    if (!Fs().findFirst(path, found)) return true;
    if (size == kUnknown) return true;  // the journal does not say: as it was always undone
    if (size == kNothing || (found.attributes & kAttrDirectory) != 0 || found.size != size) return false;
    if (utc >= 0 && found.utcTime >= 0 && std::abs(found.utcTime - utc) <= kTwoSeconds) return true;
    // A journal without the UTC time, or a volume that keeps local stamps (FAT):
    // Windows reads the stamps of an NTFS volume in today's local time, so after a
    // change to or from summer time since the write, the file reads an hour off.
    return CompareFileDates(found.dosDate, stamp) == 0;
}

RollbackJournal::RollbackJournal(std::string folder, std::string altFolder, std::string path)
    : folder_(std::move(folder)), altFolder_(std::move(altFolder)), path_(std::move(path)), inRun_(!path_.empty()) {}

RollbackJournal::~RollbackJournal() = default;

bool RollbackJournal::open() {
    if (file_) return true;
    if (failed_) return false;
    if (!inRun_) path_ = FreeName(folder_ + kJournalStem, kJournalSuffix);
    if (path_.empty()) path_ = folder_ + kJournalStem + "0" + kJournalSuffix;
    file_ = Fs().open(path_, OpenMode::Create);
    failed_ = file_ == nullptr;
    return !failed_;
}

// A line: the change's letter, then path, kept copy, size, stamp and UTC time
// of what the run writes, separated by "|".
// Appended to one string: each "+" of a chain would make a string of its own.
std::string RollbackJournal::Line(const Record& r) {
    std::string line(1, static_cast<char>(r.change));
    line.append(r.path).append("|").append(r.kept);
    for (std::int64_t number : {r.written.size, std::int64_t(r.written.stamp), r.written.utc})
        line.append("|").append(DecimalText(number));
    return line.append(kLineEnd);
}

// A note waits for flush(), which comes before the change it notes, so that a
// run killed or a power cut after the change leaves a journal that knows it.
bool RollbackJournal::note(const Record& record) {
    if (!open()) return false;
    // What earlier runs left for the restart goes after the commit line: its note waits for that one.
    (record.change == Change::Superseded && !inRun_ ? superseded_ : unwritten_) += Line(record);
    records_.push_back(record);
    return true;
}

bool RollbackJournal::noteStaging(const std::vector<std::string>& folders, const std::vector<std::string>& paths) {
    for (const std::string& folder : folders)
        if (!note({Change::StagingFolder, folder, {}, {}})) return false;
    for (const std::string& path : paths)
        if (!note({Change::Temporaries, path, {}, {}})) return false;
    return flush();
}

void RollbackJournal::discard() {
    file_.reset();
    if (!path_.empty()) Fs().removeFile(path_);
}

bool RollbackJournal::flush() {
    if (failed_ || unwritten_.empty()) return !failed_;
    const std::int64_t size = std::int64_t(unwritten_.size());
    failed_ = file_->write(unwritten_.data(), size) != size || !file_->flush();
    unwritten_.clear();
    return !failed_;
}

// Where the note ahead for `path` is, or would go.
std::vector<std::size_t>::iterator RollbackJournal::aheadAt(const std::string& path) {
    return std::lower_bound(ahead_.begin(), ahead_.end(), path,
                            [&](std::size_t i, const std::string& p) { return records_[i].path < p; });
}

std::vector<std::size_t>::iterator RollbackJournal::aheadOf(const std::string& path) {
    auto it = aheadAt(path);
    return it != ahead_.end() && records_[*it].path == path ? it : ahead_.end();
}

// The note made ahead for the change, when it says the same (for a kept file:
// under a name still free); it serves one change, a folder's every one.
bool RollbackJournal::takeAhead(Record& wanted) {
    auto it = aheadOf(wanted.path);
    if (it == ahead_.end()) return false;
    const Record& noted = records_[*it];
    if (noted.change != wanted.change || noted.written.size != wanted.written.size ||
        noted.written.stamp != wanted.written.stamp || (noted.change == Change::Kept && Exists(noted.kept)))
        return false;
    wanted.kept = noted.kept;
    if (noted.change != Change::NewFolder) ahead_.erase(it);
    return true;
}

// The record noted last serves the change at its path when that comes.
void RollbackJournal::markAhead() { ahead_.insert(aheadAt(records_.back().path), records_.size() - 1); }

void RollbackJournal::noteAhead(const std::string& path, const Written& written, bool mayCreate,
                                const std::string& top, const StagedEntries* staging) {
    if (aheadOf(path) != ahead_.end()) return;
    Record record{Change::NewFile, path, {}, InUtc(written)};
    if (FileExists(path)) {
        record = {Change::Kept, path, FreeTempName(path, TempKind::Kept), InUtc(written)};
        if (record.kept.empty()) return;
    } else if (!mayCreate || !noteFolders(FolderPart(path), top, staging, true)) {
        return;
    }
    if (note(record)) markAhead();
}

bool RollbackJournal::keep(const std::string& path, const Written& written) {
    // A file open elsewhere could be neither written nor deleted; the rename might still succeed.
    if (!Fs().open(path, OpenMode::ReadExclusive)) return false;
    Record record{Change::Kept, path, {}, InUtc(written)};
    if (!takeAhead(record)) {
        record.kept = FreeTempName(path, TempKind::Kept);
        if (record.kept.empty() || !note(record)) return false;
    }
    return flush() && Fs().renameOver(path, record.kept);
}

bool RollbackJournal::noteNewFile(const std::string& path, const Written& written) {
    Record record{Change::NewFile, path, {}, InUtc(written)};
    return (takeAhead(record) || note(record)) && flush();
}

bool RollbackJournal::noteSuperseded(const std::string& path) { return note({Change::Superseded, path, {}, {}}); }

bool RollbackJournal::noteNewFolders(const std::string& folder, const std::string& top,
                                     const StagedEntries* staging) {
    return noteFolders(folder, top, staging, false) && flush();
}

bool RollbackJournal::noteFolders(const std::string& folder, const std::string& top, const StagedEntries* staging,
                                  bool ahead) {
    std::string topFolder = top;
    DropTrailingBackslash(topFolder);
    std::vector<std::string> made;  // innermost first
    for (std::string f = folder;; f = FolderPart(f)) {
        DropTrailingBackslash(f);
        if (f.size() <= 3 || SameText(f, topFolder)) break;
        if (FolderExists(f) && !(staging && staging->createdUnclaimed(f))) break;  // there before: so are its parents
        made.push_back(f);
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        Record record{Change::NewFolder, *it, {}, {}};
        if (takeAhead(record)) continue;
        if (!note(record)) return false;
        if (ahead) markAhead();
    }
    return true;
}

// A kept copy in use (the old .exe of a program still running) goes at the next start of Windows.
void RollbackJournal::removeKeptCopy(const Record& record, UndoReport& report) {
    if (!Exists(record.kept) || RemoveFileAnyway(record.kept)) return;
    if (ScheduleAtRestart(record.kept, ""))
        Say(report.notices, "", record.kept, " wird beim nächsten Neustart gelöscht.");
    else
        Say(report.problems, "", record.kept, " konnte nicht gelöscht werden");
}

// After the commit line: the kept copies go, and what earlier runs left for
// the restart at the paths the part wrote; neither through a junction or link.
void RollbackJournal::settleCommitted(UndoReport& report, bool kept) {
    for (const Record& record : records_) {
        if ((record.change != Change::Kept || !kept) && record.change != Change::Superseded) continue;
        if (CrossesReparsePoint(topOf(record.path), record.path))
            Say(report.problems, "*** ", record.path, " liegt hinter einer Verknüpfung und wird nicht angetastet.");
        else if (record.change == Change::Kept)
            removeKeptCopy(record, report);
        else
            SupersedeRestartChanges(record.path, report.problems);
    }
}

// The journal goes once nothing of it is left to do.
void RollbackJournal::finish(const StringList& problems) {
    file_.reset();
    if (problems.empty() && !path_.empty() && !failed_) Fs().removeFile(path_);
}

bool RollbackJournal::commit(StringList& problems) {
    if (records_.empty() && !failed_) return true;  // nothing was changed
    unwritten_ += superseded_;
    if (!note({Change::Succeeded, {}, {}, {}}) || !flush()) return false;
    UndoReport left;
    settleCommitted(left);
    finish(left.problems);
    problems.insert(problems.end(), left.notices.begin(), left.notices.end());
    problems.insert(problems.end(), left.problems.begin(), left.problems.end());
    return true;
}

// The change is noted once more, with what the run wrote unknown: an undo
// takes the later note first, and the earlier one then finds nothing left to do.
void RollbackJournal::disown(const std::string& path) {
    for (std::size_t i = 0, count = records_.size(); i < count; ++i) {
        if (records_[i].path != path || records_[i].written.size == Written::kUnknown) continue;
        records_[i].written = {};
        note(Record(records_[i]));
    }
    flush();
}

// The folder below which the journal's line for `path` lies: what is reached
// from it through a junction or link is not the part's.
const std::string& RollbackJournal::topOf(const std::string& path) const {
    return IsPlainPathBelow(path, folder_) || altFolder_.empty() ? folder_ : altFolder_;
}

// What killed writes, copies or staging left beside the paths of the lines,
// in one look at each folder.
void RollbackJournal::removeTemporaries(UndoReport& report) const {
    std::vector<std::string> paths[2];
    for (const Record& r : records_)
        if (r.change == Change::Kept || r.change == Change::NewFile || r.change == Change::Temporaries)
            paths[&topOf(r.path) == &folder_ ? 0 : 1].push_back(r.path);
    for (int i = 0; i < 2; ++i)
        for (const std::string& removed : RemoveLeftoverTemporaries(i == 0 ? folder_ : altFolder_, paths[i]))
            Say(report.notices, "", removed, " (Rest eines abgebrochenen Updates) entfernt");
}

// One change taken back, when it was made and what it made is still there.
// Nothing is done through a junction or link on the way to the path (someone
// put it there since the run: behind it lies someone else's folder); a change
// that stays so keeps the journal. Folders wait for the second pass.
void RollbackJournal::undoRecord(const Record& r, UndoReport& report, bool folders) {
    const bool folder = r.change == Change::NewFolder || r.change == Change::StagingFolder;
    if (folder != folders || r.change == Change::Superseded || r.change == Change::Succeeded ||
        r.change == Change::Temporaries)
        return;
    if (CrossesReparsePoint(topOf(r.path), r.path)) {
        if (r.change != Change::StagingFolder)
            Say(report.problems, "*** ", r.path, " liegt hinter einer Verknüpfung und wird nicht angetastet.");
        return;
    }
    switch (r.change) {
    case Change::Kept: undoKept(r, report); return;
    case Change::NewFile:
        if (!FileExists(r.path)) return;
        if (!r.written.isAt(r.path)) {
            Say(report.notices, "", r.path, " wurde inzwischen ersetzt und bleibt erhalten.");
            return;
        }
        if (!RemoveFileAnyway(r.path)) Say(report.problems, "*** ", r.path, " konnte nicht entfernt werden.");
        return;
    case Change::NewFolder:
        // What is left in it (files that others put there since, or one of the
        // run's that could not be removed and is named already) keeps the folder,
        // as it keeps a replaced file: no reason to hold the journal. So does a
        // junction or link put in its place.
        if (IsFolder(r.path) && (IsReparsePoint(r.path) || !Fs().removeFolder(r.path)))
            Say(report.notices, "", r.path, " konnte nicht entfernt werden und bleibt erhalten.");
        return;
    default:  // a folder made for staged files goes when it is empty
        if (IsFolder(r.path) && !IsReparsePoint(r.path)) Fs().removeFolder(r.path);
        return;
    }
}

void RollbackJournal::undoKept(const Record& r, UndoReport& report) {
    if (!Exists(r.kept)) return;
    if (!r.written.isAt(r.path)) {
        Say(report.notices, "", r.path, " wurde inzwischen ersetzt und bleibt erhalten.");
        if (!RemoveFileAnyway(r.kept)) Say(report.problems, "", r.kept, " konnte nicht gelöscht werden");
        return;
    }
    // One rename over the new file: the path holds one version or the other at every moment.
    if (EvenIfReadOnly(r.path, [&] { return Fs().renameOver(r.kept, r.path); })) return;
    Say(report.problems, "*** ", r.path, " konnte nicht wiederhergestellt werden (vorige Fassung: ");
    report.problems.back().append(r.kept).append(").");
}

// In reverse order: the files, what the run left beside them, then the folders.
void RollbackJournal::undo(UndoReport& report) {
    UndoReport mine;
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) undoRecord(*it, mine, false);
    removeTemporaries(mine);
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) undoRecord(*it, mine, true);
    finish(mine.problems);
    report.problems.insert(report.problems.end(), mine.problems.begin(), mine.problems.end());
    report.notices.insert(report.notices.end(), mine.notices.begin(), mine.notices.end());
}

// Complete lines only: a line cut short by a kill noted a change that was never
// made. Unreadable when the journal cannot be read whole (held open by a
// running updater, a read error); Foreign when a line is not one this updater
// writes (or an earlier version wrote: without size and stamp, without the UTC
// time) for the part's `folder` and `altFolder`.
RollbackJournal::Loaded RollbackJournal::load(const std::string& path, const std::string& folder, const std::string& altFolder) {
    path_ = path;
    std::unique_ptr<FileHandle> file = Fs().open(path, OpenMode::ReadShared);
    std::int64_t size = file ? file->size() : -1;
    if (size < 0) return Loaded::Unreadable;
    if (size > kMaxJournalBytes) return Loaded::Foreign;  // checked before a 32-bit size_t could cut it
    std::string text(std::size_t(size), '\0');
    if (size > 0 && file->read(&text[0], size) != size) return Loaded::Unreadable;
    return ParseText(text, folder, altFolder, records_) ? Loaded::Whole : Loaded::Foreign;
}

bool RollbackJournal::ParseText(const std::string& text, const std::string& folder, const std::string& altFolder,
                                std::vector<Record>& records) {
    for (std::size_t start = 0, end; (end = text.find(kLineEnd, start)) != std::string::npos; start = end + 2) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && !parse(line, folder, altFolder, records)) return false;
    }
    return true;
}

bool RollbackJournal::parse(const std::string& line, const std::string& folder, const std::string& altFolder,
                            std::vector<Record>& records) {
    if (!KnownChange(line[0])) return false;
    std::vector<std::string> fields = SplitFields(line.substr(1));
    if (fields.size() == 3 || fields.size() > 5) return false;
    Record record{static_cast<Change>(line[0]), fields[0], fields.size() > 1 ? fields[1] : std::string(), {}};
    std::int64_t stamp = -1;
    if (fields.size() >= 4 &&
        !(ParseNumber(fields[2], Written::kUnknown, std::numeric_limits<std::int64_t>::max(), record.written.size) &&
          ParseNumber(fields[3], std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                      stamp)))
        return false;
    if (fields.size() == 5 && !ParseNumber(fields[4], -1, std::numeric_limits<std::int64_t>::max(), record.written.utc))
        return false;
    record.written.stamp = static_cast<std::int32_t>(stamp);
    const bool wellFormed =
        record.change == Change::Succeeded
            ? record.path.empty() && record.kept.empty()
            : (IsPlainPathBelow(record.path, folder) || IsPlainPathBelow(record.path, altFolder)) &&
                  (record.change == Change::Kept ? IsKeptNameOf(record.kept, record.path) : record.kept.empty());
    if (wellFormed) records.push_back(record);
    return wellFormed;
}

// Whether the journal notes only what the run's check left: staged files and their folders.
bool RollbackJournal::onlyStaging() const {
    for (const Record& record : records_)
        if (record.change != Change::Temporaries && record.change != Change::StagingFolder) return false;
    return true;
}

// Settles one journal found whole: undone, or finished when its part had
// succeeded. A part that had succeeded only had its kept copies to remove; one
// that stays is left to a later run, which it does not stop.
RollbackJournal::Recovery RollbackJournal::settleFound(UndoReport& report) {
    if (onlyStaging()) {
        undo(report);
        return Recovery::Cleaned;
    }
    if (records_.back().change != Change::Succeeded) {
        undo(report);
        return Recovery::Undone;
    }
    UndoReport mine;
    settleCommitted(mine);
    finish(mine.problems);
    report.notices.insert(report.notices.end(), mine.notices.begin(), mine.notices.end());
    report.notices.insert(report.notices.end(), mine.problems.begin(), mine.problems.end());
    return Recovery::Finished;
}

RollbackJournal::Recovery RollbackJournal::Recover(const std::string& folder, UndoReport& report,
                                                    const std::string& altFolder) {
    FindData any;
    if (!Fs().findFirst(folder + kJournalStem + "*" + kJournalSuffix, any)) return Recovery::NothingFound;
    std::vector<FindData> entries;
    Fs().listFolder(folder, entries);
    std::vector<std::unique_ptr<RollbackJournal>> found;
    bool refused = false, failed = false;
    for (const FindData& entry : entries) {
        if ((entry.attributes & kAttrDirectory) || !IsJournalName(entry.name)) continue;
        const std::size_t problems = report.problems.size();
        auto journal = Found(folder + entry.name, folder, altFolder, report);
        if (journal) {
            found.push_back(std::move(journal));
            continue;
        }
        (report.problems[problems].find(" stammt nicht") != std::string::npos ? refused : failed) = true;
    }
    // What a killed check staged goes first: the folders that the undo of a
    // part removes are then empty of it.
    Recovery outcome = Recovery::NothingFound;
    for (bool staging : {true, false}) {
        for (const auto& journal : found) {
            if (journal->onlyStaging() != staging) continue;
            const std::size_t problems = report.problems.size();
            outcome = std::max(outcome, journal->settleFound(report));
            failed = failed || report.problems.size() != problems;
        }
    }
    if (refused) return Recovery::Refused;
    return failed ? Recovery::Failed : outcome;
}

std::unique_ptr<RollbackJournal> RollbackJournal::Found(const std::string& path, const std::string& folder,
                                                       const std::string& altFolder, UndoReport& report,
                                                       bool missingOk) {
    const std::uint32_t attributes = Fs().attributes(path);
    if (attributes == kAttrInvalid && missingOk) return nullptr;
    auto journal = std::make_unique<RollbackJournal>(folder, altFolder);
    // A journal that is a link, or not the updater's own, may say anything.
    const bool foreign = (attributes != kAttrInvalid && (attributes & (kAttrReparsePoint | kAttrDirectory))) ||
                         Fs().owner(path) == FileOwner::Other;
    Loaded loaded = foreign ? Loaded::Foreign : journal->load(path, folder, altFolder);
    if (loaded == Loaded::Whole) return journal;
    Say(report.problems, "*** ", path,
        loaded == Loaded::Foreign ? " stammt nicht von diesem Updater und wird nicht befolgt."
                                  : " kann nicht gelesen werden.");
    return nullptr;
}

void RollbackJournal::settle(UndoReport& report, bool kept) {
    UndoReport mine;
    settleCommitted(mine, kept);
    if (kept) finish(mine.problems);
    report.notices.insert(report.notices.end(), mine.notices.begin(), mine.notices.end());
    report.problems.insert(report.problems.end(), mine.problems.begin(), mine.problems.end());
}

std::string RollbackJournal::firstChanged() const {
    for (const Record& r : records_) {
        if (r.change != Change::Kept && r.change != Change::NewFile) continue;
        // A link put on the way since: the undo would not touch the path.
        if (CrossesReparsePoint(topOf(r.path), r.path)) return r.path;
        if ((r.change == Change::NewFile || Exists(r.kept)) && !r.written.isAt(r.path)) return r.path;
    }
    return {};
}

std::vector<std::string> RollbackJournal::changedPaths() const {
    std::vector<std::string> paths;
    for (const Record& r : records_)
        if (r.change == Change::Kept || r.change == Change::NewFile) paths.push_back(r.path);
    return paths;
}
