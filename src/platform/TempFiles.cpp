#include "platform/TempFiles.h"

#include "base/Text.h"
#include "platform/RestartSchedule.h"

namespace {

constexpr int kNameAttempts = 100;
const char* const kKinds = "ucsrbp";

// Whether `path` is one of the targets, ignoring case.
bool IsOneOf(const std::string& path, const std::vector<std::string>& targets) {
    for (const std::string& target : targets)
        if (SameText(target, path)) return true;
    return false;
}

// What a killed run left under `name` in `folder` (ending with "\"), where
// `base` is its target's name: true when removed; a backup without its target
// is put back instead, and a pending copy that Windows moves over its target
// at its next start stays.
bool Settle(const std::string& folder, const std::string& name, const std::string& base) {
    const char kind = static_cast<char>(name[base.size() + 2] | 0x20);
    const std::string path = folder + name, target = folder + base;
    if (kind == char(TempKind::Pending) && ScheduledAtRestart(path, target)) return false;
    if (kind != char(TempKind::Backup) || Fs().attributes(target) != kAttrInvalid) return RemoveFileAnyway(path);
    Fs().renameOver(path, target);
    return false;
}

bool IsKept(const std::string& name, const std::string& base) {
    return (name[base.size() + 2] | 0x20) == char(TempKind::Kept);
}

}  // namespace

std::string TempName(const std::string& target, TempKind kind, int number) {
    const char infix[] = {'.', '~', static_cast<char>(kind), '\0'};
    std::string name = target + infix;
    name += DecimalText(number);
    return name;
}

std::string FreeName(const std::string& base, const std::string& suffix) {
    for (int n = 0; n < kNameAttempts; ++n) {
        std::string candidate = base + DecimalText(n);
        candidate += suffix;
        if (Fs().attributes(candidate) == kAttrInvalid) return candidate;
    }
    return {};
}

std::string FreeTempName(const std::string& target, TempKind kind) {
    const char infix[] = {'.', '~', static_cast<char>(kind), '\0'};
    return FreeName(target + infix, "");
}

std::vector<std::string> PendingCopiesOf(const std::string& target) {
    std::vector<std::string> copies;
    for (int n = 0; n < kNameAttempts; ++n) {
        std::string candidate = TempName(target, TempKind::Pending, n);
        if (Fs().attributes(candidate) == kAttrInvalid) break;
        copies.push_back(candidate);
    }
    return copies;
}

bool ParseTempName(const std::string& fileName, std::string& base) {
    std::size_t digits = fileName.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 == fileName.size() || fileName.size() - digits > 3) return false;
    if (digits < 3 || fileName[digits - 2] != '.' || fileName[digits - 1] != '~') return false;
    char kind = static_cast<char>(fileName[digits] | 0x20);
    if (std::string(kKinds).find(kind) == std::string::npos) return false;
    base = fileName.substr(0, digits - 2);
    return true;
}

TempFile::TempFile(const std::string& target, TempKind kind) {
    std::string candidate = FreeTempName(target, kind);
    if (candidate.empty()) return;
    file_ = Fs().open(candidate, OpenMode::Create);
    if (file_) path_ = candidate;
}

TempFile::TempFile(const std::string& path) : file_(Fs().open(path, OpenMode::CreateNew)) {
    if (file_) path_ = path;
}

TempFile::~TempFile() {
    file_.reset();
    if (!path_.empty()) Fs().removeFile(path_);
}

std::string TempFile::release(std::int32_t stamp, bool flush) {
    file_->setDosDate(stamp);
    bool durable = !flush || file_->flush();
    file_.reset();
    std::string path;
    if (durable) path.swap(path_);
    return path;
}

bool TempFile::commit(const std::string& target, std::int32_t stamp, bool flush) {
    file_->setDosDate(stamp);
    bool durable = !flush || file_->flush();
    file_.reset();
    if (!durable || !Fs().replaceFile(path_, target)) return false;
    path_.clear();
    return true;
}

std::vector<std::string> RemoveLeftoverTemporaries(const std::string& top, const std::vector<std::string>& targets) {
    std::vector<std::string> folders;  // each listed once; temporaries are rare, so a name is looked up plainly
    for (const std::string& target : targets) {
        std::string folder = FolderPart(target);
        if (!folder.empty() && !IsOneOf(folder, folders) && !CrossesReparsePoint(top, target)) folders.push_back(folder);
    }
    std::vector<std::string> removed;
    for (const std::string& folder : folders) {
        std::vector<FindData> children;
        if (!Fs().listFolder(folder, children)) continue;
        for (const FindData& child : children) {
            std::string base;
            if ((child.attributes & (kAttrDirectory | kAttrReparsePoint)) || !ParseTempName(child.name, base)) continue;
            // A kept copy belongs to the journal that notes it, which may lie in
            // a folder of another package's part: only its undo or commit removes it.
            if (IsKept(child.name, base)) continue;
            if (IsOneOf(folder + base, targets) && Settle(folder, child.name, base))
                removed.push_back(folder + child.name);
        }
    }
    return removed;
}
