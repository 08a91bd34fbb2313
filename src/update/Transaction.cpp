#include "update/Transaction.h"

#include <cstdlib>

#include "base/Text.h"
#include "env/Registry.h"
#include "env/System.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
#include "platform/FontApi.h"
#include "platform/Registry.h"
#include "platform/TempFiles.h"

namespace {

const char* const kLineEnd = "\r\n";
constexpr std::int64_t kMaxRunJournalBytes = 16 << 20;

std::string RunPath() { return WindowsFolder + "~updrun.~rx"; }
std::string RecordPath() { return WindowsFolder + "~updrec.~rx"; }
std::string FontsFolder() { return WindowsFolder + "Fonts\\"; }

struct Line {
    char kind;
    std::vector<std::string> fields;
};

// A run's journal as read: its package, its lines, and whether it committed
// or is being taken back.
struct RunLines {
    std::string package;
    std::vector<Line> lines;
    bool committed = false, undoing = false;
};

bool IsAbsoluteFolder(const std::string& folder) {
    return folder.size() >= 3 && folder.back() == '\\' && folder.find("..") == std::string::npos &&
           ((folder[1] == ':' && folder[2] == '\\') || folder.compare(0, 2, "\\\\") == 0);
}

// A part's journal: "~update" + digits + ".~rt" right in its folder.
bool IsPartJournal(const std::string& path, const std::string& folder) {
    const std::string stem = folder + "~update", suffix = ".~rt";
    if (path.size() <= stem.size() + suffix.size() || path.compare(0, stem.size(), stem) != 0) return false;
    const std::string digits = path.substr(stem.size(), path.size() - stem.size() - suffix.size());
    return path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0 && digits.size() <= 2 &&
           digits.find_first_not_of("0123456789") == std::string::npos;
}

bool IsHex(const std::string& text) {
    return text.size() % 2 == 0 && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

bool IsNumber(const std::string& text) {
    return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789", text[0] == '-') == std::string::npos;
}

// Whether a line is one the updater writes: its fields counted and checked.
bool WellFormed(const Line& line) {
    const std::vector<std::string>& f = line.fields;
    switch (line.kind) {
    case 'B': return true;
    case 'C':
    case 'U': return f.size() == 1 && f[0].empty();
    case 'J':
        return f.size() == 3 && IsAbsoluteFolder(f[1]) && IsPartJournal(f[0], f[1]) &&
               (f[2].empty() || IsAbsoluteFolder(f[2]));
    case 'R':
        return f.size() == 5 && (f[0] == "0" || f[0] == "1" || f[0] == "2") && !f[1].empty() && IsHex(f[1]) &&
               IsHex(f[2]) && IsNumber(f[3]) && IsHex(f[4]);
    case 'F':
        return f.size() == 2 && StartsWithText(FontsFolder(), f[0]) &&
               f[0].find('\\', FontsFolder().size()) == std::string::npos && (f[1] == "0" || f[1] == "1");
    default: return false;
    }
}

enum class Read { Missing, Whole, Refused };

// The run's journal at `path`, as untrusted input: not a link, the updater's
// owner, a size within bounds and every complete line one that it writes.
Read ReadRun(const std::string& path, RunLines& out, UndoReport& report) {
    const std::uint32_t attributes = Fs().attributes(path);
    if (attributes == kAttrInvalid) return Read::Missing;
    std::unique_ptr<FileHandle> file;
    std::int64_t size = -1;
    if (!(attributes & (kAttrReparsePoint | kAttrDirectory)) && Fs().owner(path) != FileOwner::Other &&
        (file = Fs().open(path, OpenMode::ReadShared)))
        size = file->size();
    std::string text(size > 0 && size <= kMaxRunJournalBytes ? std::size_t(size) : 0, '\0');
    bool whole = size >= 0 && size <= kMaxRunJournalBytes && (text.empty() || file->read(&text[0], size) == size);
    for (std::size_t start = 0, end; whole && (end = text.find(kLineEnd, start)) != std::string::npos; start = end + 2) {
        if (end == start) continue;
        Line line{text[start], SplitFields(text.substr(start + 1, end - start - 1))};
        whole = WellFormed(line) && (line.kind == 'B') == out.lines.empty();
        if (line.kind == 'B') out.package = text.substr(start + 1, end - start - 1);
        out.committed = out.committed || line.kind == 'C';
        out.undoing = out.undoing || line.kind == 'U';
        out.lines.push_back(std::move(line));
    }
    if (whole) return Read::Whole;
    std::string problem = "*** ";
    report.problems.push_back(problem.append(path).append(" stammt nicht von diesem Updater und wird nicht befolgt."));
    return Read::Refused;
}

// Appends "|" and `data` in hexadecimal digits, a field of a value's line.
void AppendHexField(std::string& line, const std::string& data) {
    static const char digits[] = "0123456789ABCDEF";
    line += '|';
    for (unsigned char c : data) line.append(1, digits[c >> 4]).append(1, digits[c & 15]);
}

std::string Unhex(const std::string& hex) {
    std::string data;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) data += char(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return data;
}

std::string KeyPath(const ResolvedReference& resolved) {
    std::string path = resolved.keyPath;
    if (!path.empty() && path[0] == '\\') path.erase(0, 1);
    DropTrailingBackslash(path);
    return path;
}

// A result value as it was: written again, or removed where there was none.
void RestoreValue(const std::vector<std::string>& f, UndoReport& report) {
    const RootKey hive = static_cast<RootKey>(f[0][0] - '0');
    const bool absent = f[3] == "-1";
    const std::string path = Unhex(f[1]), name = Unhex(f[2]);
    std::unique_ptr<RegistryKey> key =
        absent ? Reg().openKey(hive, path, kKeyAllAccess) : Reg().createKey(hive, path, kKeyAllAccess);
    if (absent && !key) return;
    if (key && (absent ? key->removeValue(name)
                       : key->setRaw(name, std::uint32_t(std::strtoul(f[3].c_str(), nullptr, 10)), Unhex(f[4]))))
        return;
    report.problems.push_back(std::string("*** Der Registrierungswert ")
                                  .append(path)
                                  .append(1, '\\')
                                  .append(name)
                                  .append(" konnte nicht wiederhergestellt werden."));
}

// The journals that the run's lines name, each found whole (missing ones: never begun, or done).
std::vector<std::unique_ptr<RollbackJournal>> JournalsOf(const RunLines& run, UndoReport& report) {
    std::vector<std::unique_ptr<RollbackJournal>> journals;
    for (const Line& line : run.lines)
        if (line.kind == 'J')
            if (auto journal = RollbackJournal::Found(line.fields[0], line.fields[1], line.fields[2], report, true))
                journals.push_back(std::move(journal));
    return journals;
}

// Every change of the run taken back, the last first: the fonts leave the
// font table, the values come back, the journals are undone, and the fonts
// that were there before are added again. The journal at `path` goes when all is back.
bool UndoRun(const RunLines& run, const std::string& path, UndoReport& report) {
    const std::size_t problems = report.problems.size();
    auto journals = JournalsOf(run, report);
    bool fonts = false;
    for (auto it = run.lines.rbegin(); it != run.lines.rend(); ++it) {
        if (it->kind == 'F') fonts = true, Fonts().removeFontResource(it->fields[0]);
        if (it->kind == 'R') RestoreValue(it->fields, report);
    }
    for (auto it = journals.rbegin(); it != journals.rend(); ++it) (*it)->undo(report);
    for (const Line& line : run.lines)
        if (line.kind == 'F' && line.fields[1] == "1") Fonts().addFontResource(line.fields[0]);
    if (fonts) Fonts().broadcastFontChange();
    if (report.problems.size() != problems) return false;
    return Fs().removeFile(path);
}

bool NamesJournal(const RunLines& run, const std::string& path) {
    for (const Line& line : run.lines)
        if (line.kind == 'J' && SameText(line.fields[0], path)) return true;
    return false;
}

// The record's kept copies and journals go: a later run (`run`, if any) has
// committed. A journal of the record that someone removed may have left its
// name to one of that run's: that one is the run's. What of the record stays
// (a journal not the updater's, a kept copy behind a link that someone put in
// the application folder) is named and left: the record goes all the same, or
// it would stop every later run.
bool SettleRecordAt(UndoReport& report, const RunLines& run) {
    RunLines record;
    const std::size_t problems = report.problems.size();
    if (ReadRun(RecordPath(), record, report) != Read::Whole) return report.problems.size() == problems;
    UndoReport left;
    for (auto& journal : JournalsOf(record, left))
        if (!NamesJournal(run, journal->path())) journal->settle(left, true);
    for (const StringList* lines : {&left.notices, &left.problems})
        report.notices.insert(report.notices.end(), lines->begin(), lines->end());
    return Fs().removeFile(RecordPath());
}

// A committed run's last steps: what earlier runs left for the restart at its
// paths goes, the previous record is settled, and the run becomes the record.
bool FinishCommit(const RunLines& run, UndoReport& report) {
    for (auto& journal : JournalsOf(run, report)) journal->settle(report, false);
    return SettleRecordAt(report, run) && Fs().renameOver(RunPath(), RecordPath());
}

}  // namespace

RunTransaction::RunTransaction(const std::string& package) {
    file_ = Fs().open(RunPath(), OpenMode::Create);
    failed_ = !file_ || !append(std::string(1, 'B').append(package));
}

RunTransaction::~RunTransaction() = default;

bool RunTransaction::append(const std::string& line) {
    if (failed_ || !file_) return false;
    const std::string text = line + kLineEnd;
    failed_ = file_->write(text.data(), std::int64_t(text.size())) != std::int64_t(text.size()) || !file_->flush();
    return !failed_;
}

std::string RunTransaction::journalFor(const std::string& folder, const std::string& altFolder) {
    std::string path = FreeName(folder + "~update", ".~rt");
    if (path.empty()) return {};
    std::string line(1, 'J');
    if (!append(line.append(path).append(1, '|').append(folder).append(1, '|').append(altFolder))) return {};
    return path;
}

bool RunTransaction::noteValue(const std::string& reference, const std::string& valueName) {
    const ResolvedReference resolved = ResolveForReadWrite(reference, "");
    const std::string key = KeyPath(resolved);
    std::unique_ptr<RegistryKey> open = Reg().openKey(resolved.hive, key, kKeyQueryValue);
    std::uint32_t type = 0;
    std::string data;
    const bool present = open && open->queryRaw(valueName, type, data);
    // Built in place: a chain of "+" makes a string at each step.
    std::string line{'R', char('0' + int(resolved.hive))};
    AppendHexField(line, key);
    AppendHexField(line, valueName);
    line.append(1, '|').append(present ? DecimalText(type) : "-1");
    AppendHexField(line, present ? data : std::string());
    return append(line);
}

bool RunTransaction::changeFont(const std::string& path, const Written& written, bool font) {
    const bool present = FileExists(path);
    if (!fonts_) {
        const std::string journal = journalFor(FontsFolder(), "");
        if (journal.empty()) return false;
        fonts_ = std::make_unique<RollbackJournal>(FontsFolder(), "", journal);
    }
    if (font && !noteFont(path, present)) return false;
    return present ? fonts_->keep(path, written) : fonts_->noteNewFile(path, written);
}

bool RunTransaction::noteFont(const std::string& path, bool before) {
    return append(std::string(1, 'F').append(path).append(before ? "|1" : "|0"));
}

bool RunTransaction::commit(UndoReport& report) {
    if (!append("C")) return false;
    file_.reset();
    fonts_.reset();
    RunLines run;
    if (ReadRun(RunPath(), run, report) != Read::Whole) return true;  // committed: the next start finishes it
    FinishCommit(run, report);
    return true;
}

void RunTransaction::undo(UndoReport& report) {
    file_.reset();
    fonts_.reset();
    RunLines run;
    if (ReadRun(RunPath(), run, report) == Read::Whole) UndoRun(run, RunPath(), report);
}

bool RunTransaction::Recover(UndoReport& report) {
    const std::size_t problems = report.problems.size();
    RunLines run, record;
    Read found = ReadRun(RunPath(), run, report);
    if (found == Read::Whole) {
        if (run.committed)
            FinishCommit(run, report);
        else
            UndoRun(run, RunPath(), report);
    }
    if (found != Read::Refused && ReadRun(RecordPath(), record, report) == Read::Whole && record.undoing)
        UndoRun(record, RecordPath(), report);
    return report.problems.size() == problems;
}

void RunTransaction::SettleRecord(UndoReport& report) { SettleRecordAt(report, RunLines()); }

RunTransaction::Undo RunTransaction::UndoRecord(const std::string& package, HeldTest held, void* context,
                                                UndoReport& report) {
    RunLines record;
    const Read found = ReadRun(RecordPath(), record, report);
    if (found == Read::Refused) return Undo::Failed;
    if (found == Read::Missing || !record.committed || record.package != package) return Undo::Nothing;
    auto journals = JournalsOf(record, report);
    if (!report.problems.empty()) return Undo::Failed;
    std::vector<std::string> paths;
    for (const auto& journal : journals) {
        std::vector<std::string> more = journal->changedPaths();
        paths.insert(paths.end(), more.begin(), more.end());
    }
    if (held(paths, context)) return Undo::Held;
    for (const auto& journal : journals) {
        std::string changed = journal->firstChanged();
        if (changed.empty()) continue;
        report.problems.push_back(changed);
        return Undo::Changed;
    }
    journals.clear();
    std::unique_ptr<FileHandle> file = Fs().open(RecordPath(), OpenMode::ReadWrite);
    const std::string line = std::string("U") + kLineEnd;
    if (!file || !file->seek(file->size()) || file->write(line.data(), 3) != 3 || !file->flush()) return Undo::Failed;
    file.reset();
    return UndoRun(record, RecordPath(), report) ? Undo::Done : Undo::Failed;
}
