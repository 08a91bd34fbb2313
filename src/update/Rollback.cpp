#include "update/Rollback.h"

#include "env/Text.h"
#include "platform/FileSystem.h"
#include "update/Folders.h"
#include "update/StagedEntries.h"

namespace {

constexpr int kNameAttempts = 100;
const char* const kJournalStem = "~update";
const char* const kJournalSuffix = ".~rj";
const char* const kLineEnd = "\r\n";

// The first name of the form base + n + suffix that nothing has.
std::string FreeName(const std::string& base, const std::string& suffix) {
    for (int n = 0; n < kNameAttempts; ++n) {
        std::string candidate = base + std::to_string(n) + suffix;
        if (Fs().attributes(candidate) == kAttrInvalid) return candidate;
    }
    return {};
}

bool IsFolder(const std::string& path) {
    std::uint32_t attributes = Fs().attributes(path);
    return attributes != kAttrInvalid && (attributes & kAttrDirectory) != 0;
}

// Removes a file, clearing its read-only flag when that is what stands in the way.
bool RemoveFileAnyway(const std::string& path) {
    if (Fs().removeFile(path)) return true;
    std::uint32_t attributes = Fs().attributes(path);
    if (attributes == kAttrInvalid || (attributes & kAttrReadOnly) == 0) return false;
    return Fs().setAttributes(path, attributes & ~std::uint32_t(kAttrReadOnly)) && Fs().removeFile(path);
}

// A folder that a part made, with what staging left in it: staged files and
// the folders made for them. Anything else in it stays, and so does the folder.
bool RemoveNewFolder(const std::string& folder) {
    std::vector<FindData> children;
    Fs().listFolder(folder, children);
    for (const FindData& child : children) {
        std::string path = folder + "\\" + child.name;
        if (child.attributes & kAttrDirectory)
            RemoveNewFolder(path);
        else if (IsStagedFileName(child.name))
            Fs().removeFile(path);
    }
    return Fs().removeFolder(folder);
}

bool IsJournalName(const std::string& name) {
    std::string upper = UpperCased(name), stem = UpperCased(kJournalStem), suffix = UpperCased(kJournalSuffix);
    return upper.size() > stem.size() + suffix.size() && upper.compare(0, stem.size(), stem) == 0 &&
           upper.compare(upper.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

RollbackJournal::RollbackJournal(std::string folder) : folder_(std::move(folder)) {}

RollbackJournal::~RollbackJournal() = default;

bool RollbackJournal::open() {
    if (file_) return true;
    path_ = FreeName(folder_ + kJournalStem, kJournalSuffix);
    if (!path_.empty()) file_ = Fs().open(path_, OpenMode::Create);
    return file_ != nullptr;
}

// Written before the change it notes, so that a run killed after the change
// leaves a journal that knows it.
bool RollbackJournal::note(const Record& record) {
    if (!open()) return false;
    std::string line = record.kind + record.path + (record.kept.empty() ? "" : "|" + record.kept) + kLineEnd;
    if (file_->write(line.data(), std::int64_t(line.size())) != std::int64_t(line.size())) return false;
    records_.push_back(record);
    return true;
}

bool RollbackJournal::keep(const std::string& path) {
    // A file open elsewhere could be neither written nor deleted; the rename might still succeed.
    if (!Fs().open(path, OpenMode::ReadExclusive)) return false;
    std::string kept = FreeName(path + ".~r", "");
    return !kept.empty() && note({'K', path, kept}) && Fs().replaceFile(path, kept);
}

bool RollbackJournal::noteNewFile(const std::string& path) { return note({'N', path, {}}); }

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
        if (!note({'D', *it, {}})) return false;
    return true;
}

void RollbackJournal::removeKeptCopies(StringList& problems) {
    for (const Record& record : records_)
        if (record.kind == 'K' && Fs().attributes(record.kept) != kAttrInvalid && !RemoveFileAnyway(record.kept))
            problems.push_back(record.kept + " konnte nicht gelöscht werden");
}

// The journal goes once nothing of it is left to do.
void RollbackJournal::finish(const StringList& problems) {
    file_.reset();
    if (problems.empty() && !path_.empty()) Fs().removeFile(path_);
}

bool RollbackJournal::commit(StringList& problems) {
    if (path_.empty()) return true;  // nothing was changed
    if (!note({'C', {}, {}})) return false;
    StringList left;
    removeKeptCopies(left);
    finish(left);
    problems.insert(problems.end(), left.begin(), left.end());
    return true;
}

void RollbackJournal::undo(StringList& problems) {
    StringList left;
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
        const Record& r = *it;
        // The new file goes first, so the previous copy comes back with its own attributes and not the new one's.
        if (r.kind == 'K' && Fs().attributes(r.kept) != kAttrInvalid &&
            ((FileExists(r.path) && !RemoveFileAnyway(r.path)) || !Fs().replaceFile(r.kept, r.path)))
            left.push_back("*** " + r.path + " konnte nicht wiederhergestellt werden (vorige Fassung: " + r.kept + ").");
        if (r.kind == 'N' && FileExists(r.path) && !RemoveFileAnyway(r.path))
            left.push_back("*** " + r.path + " konnte nicht entfernt werden.");
        if (r.kind == 'D' && IsFolder(r.path) && !RemoveNewFolder(r.path))
            left.push_back("*** " + r.path + " konnte nicht entfernt werden.");
    }
    finish(left);
    problems.insert(problems.end(), left.begin(), left.end());
}

// Complete lines only: a line cut short by a kill noted a change that was never made.
void RollbackJournal::load(const std::string& path) {
    path_ = path;
    std::unique_ptr<FileHandle> file = Fs().open(path, OpenMode::ReadShared);
    std::int64_t size = file ? file->size() : -1;
    std::string text(size > 0 ? std::size_t(size) : 0, '\0');
    if (size > 0 && file->read(&text[0], size) != size) text.clear();
    for (std::size_t start = 0, end; (end = text.find(kLineEnd, start)) != std::string::npos; start = end + 2) {
        std::string line = text.substr(start, end - start);
        if (line.empty()) continue;
        std::size_t bar = line.find('|');
        records_.push_back({line[0], line.substr(1, bar == std::string::npos ? std::string::npos : bar - 1),
                            bar == std::string::npos ? std::string() : line.substr(bar + 1)});
    }
}

bool RollbackJournal::Recover(const std::string& folder, StringList& problems, int& found) {
    FindData any;
    if (!Fs().findFirst(folder + kJournalStem + "*" + kJournalSuffix, any)) return true;
    std::vector<FindData> entries;
    Fs().listFolder(folder, entries);
    bool undone = true;
    for (const FindData& entry : entries) {
        if ((entry.attributes & kAttrDirectory) || !IsJournalName(entry.name)) continue;
        ++found;
        RollbackJournal journal(folder);
        journal.load(folder + entry.name);
        StringList left;
        // A part that had succeeded only had its kept copies to remove; one that stays does no harm.
        if (!journal.records_.empty() && journal.records_.back().kind == 'C') {
            journal.removeKeptCopies(left);
            journal.finish(left);
        } else {
            journal.undo(left);
            undone = undone && left.empty();
        }
        problems.insert(problems.end(), left.begin(), left.end());
    }
    return undone;
}
