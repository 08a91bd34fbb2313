// The updater's own files beside a target: the temporaries of its writes and
// the copies that a part with rollback keeps. All of them follow one naming
// rule, target + ".~" + kind + number, so that a later run recognises what a
// killed run left beside a target and removes it (RemoveLeftoverTemporaries),
// a kept copy aside: its journal puts it back or removes it. A file is never
// removed for its name alone: only beside a target that a package or a
// journal names.
// A name that is taken is never reused while it exists: the file under it may
// still be wanted by this run (two entries for one target, a kept copy).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

enum class TempKind : char {
    Extract = 'u',  // an entry inflated before it is renamed over its target
    Copy = 'c',     // a careful copy before it is renamed over its destination
    Staged = 's',   // an entry inflated by the check before the first change
    Kept = 'r',     // the previous file, kept by a part with rollback
    Backup = 'b',   // the replaced file while the system replaces it
    Pending = 'p',  // a new file that Windows moves over its target at its next start:
                    // a leftover only when that is not scheduled (a run killed before it)
};

std::string TempName(const std::string& target, TempKind kind, int number);
// The first name of the form base + n + suffix (n from 0 to 99) that nothing has; empty when all are taken.
std::string FreeName(const std::string& base, const std::string& suffix);
// The first name of the kind beside `target` that nothing has; empty when all are taken.
std::string FreeTempName(const std::string& target, TempKind kind);
// Whether `fileName` (without folder) follows the rule; `base` receives the target's name.
bool ParseTempName(const std::string& fileName, std::string& base);

// The copies beside `target` that Windows is to move over it at its next
// start (runs before this one left them): ".~p0" on, up to the first free number.
std::vector<std::string> PendingCopiesOf(const std::string& target);

// A new file under a free temporary name beside a target, removed again
// unless released.
class TempFile {
public:
    TempFile(const std::string& target, TempKind kind);
    // The new file `path` itself, created only where nothing has the name.
    explicit TempFile(const std::string& path);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    FileHandle* file() { return file_.get(); }
    const std::string& path() const { return path_; }
    // Stamps, flushes and closes the file; it stays, and its path is handed
    // over. Empty when the flush fails (the file is removed then): its data may
    // not be on the disk, which the rename that puts it in place relies on.
    // Without `flush`, the caller puts it on the disk (MakeDurable) before that rename.
    std::string release(std::int32_t stamp, bool flush = true);
    // Stamps, flushes (unless `flush` is false) and closes the file and renames
    // it over `target`; false when the flush or the rename fails (the file is removed then).
    bool commit(const std::string& target, std::int32_t stamp, bool flush = true);

private:
    std::unique_ptr<FileHandle> file_;
    std::string path_;
};

// Runs `change` on `path`; when it fails and the file is read-only, clears the
// flag and runs it once more.
template <class Change>
bool EvenIfReadOnly(const std::string& path, Change change) {
    if (change()) return true;
    std::uint32_t attributes = Fs().attributes(path);
    if (attributes == kAttrInvalid || (attributes & (kAttrDirectory | kAttrReadOnly)) != kAttrReadOnly) return false;
    return Fs().setAttributes(path, attributes & ~std::uint32_t(kAttrReadOnly)) && change();
}

inline bool RemoveFileAnyway(const std::string& path) {
    return EvenIfReadOnly(path, [&] { return Fs().removeFile(path); });
}

// Removes every file that follows the naming rule beside one of `targets`
// (full paths below the folder `top`), read-only or not: what killed runs
// left. Kept copies stay for the journals that note them, pending copies that
// are scheduled for the next start of Windows stay too; a backup whose target
// is missing becomes the target again (after a failed replace it may be the
// only copy). Nothing is touched through a reparse point below `top`
// (CrossesReparsePoint), nor a temporary that is one itself. Returns the paths
// removed; one that cannot be removed (in use) stays.
std::vector<std::string> RemoveLeftoverTemporaries(const std::string& top, const std::vector<std::string>& targets);
