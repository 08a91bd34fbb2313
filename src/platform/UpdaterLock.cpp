#include "platform/UpdaterLock.h"

namespace {

const char* const kLockName = "Mevo.Tarnix.Update.Apply";

using Found = NamedLocks::Found;

class BothLocks final : public UpdaterLock {
public:
    BothLocks(std::unique_ptr<UpdaterLock> mutex, std::unique_ptr<UpdaterLock> file)
        : mutex_(std::move(mutex)), file_(std::move(file)) {}

private:
    std::unique_ptr<UpdaterLock> mutex_, file_;
};

bool MadeByAdministrators(FileOwner owner) { return owner == FileOwner::Administrators || owner == FileOwner::System; }
bool Taken(Found found) { return found == Found::Made || found == Found::Free; }

}  // namespace

// A standard user's process may make a mutex in "Global\" before any updater
// (no privilege is needed), or one closed to everyone. So the mutex, which an
// updater makes with Administrators as its owner and open to them and SYSTEM
// alone, is obeyed only when its owner is one of these; one made by anyone
// else, or whose owner cannot be read, is not obeyed. Then the lock file
// decides: held without sharing in the Windows folder, where only
// Administrators and SYSTEM may make files, and free again when its holder
// ends (also when killed). Every updater takes the file too; where another
// process holds it, the updater goes on with its own mutex alone if the file's
// holder is not one of them (someone with the rights to write there, or a FAT
// volume, whose files have no owners, and then the mutex is all there is).
// So two updaters never run together: each holds the file or its own mutex,
// and the second found that one held.
LockOutcome TryLockByName(NamedLocks& locks, std::unique_ptr<UpdaterLock>& lock) {
    std::unique_ptr<UpdaterLock> mutex, file;
    NamedLocks::Answer m = locks.mutex(std::string("Global\\") + kLockName, mutex);
    if (m.found == Found::NoNamespace) m = locks.mutex(kLockName, mutex);
    if (m.found == Found::NoRights) return LockOutcome::NoRights;
    if (m.owner == FileOwner::Unknown) {
        lock = std::move(mutex);
        return Taken(m.found) ? LockOutcome::Acquired : LockOutcome::Busy;
    }
    const bool ours = m.found == Found::Made || MadeByAdministrators(m.owner);
    if (ours && !Taken(m.found)) return LockOutcome::Busy;
    if (!ours) mutex.reset();
    NamedLocks::Answer f = locks.file(file);
    if (Taken(f.found)) {
        lock = std::make_unique<BothLocks>(std::move(mutex), std::move(file));
        return LockOutcome::Acquired;
    }
    const bool fileOurs = MadeByAdministrators(f.owner) || f.owner == FileOwner::Unknown;
    if (f.found == Found::Held && fileOurs) return LockOutcome::Busy;
    if (mutex) {
        lock = std::move(mutex);
        return LockOutcome::Acquired;
    }
    return f.found == Found::NoRights ? LockOutcome::NoRights : LockOutcome::Busy;
}

std::unique_ptr<UpdaterLock> TryLockUpdater() {
    std::unique_ptr<UpdaterLock> lock;
    return TryLockUpdater(lock) == LockOutcome::Acquired ? std::move(lock) : nullptr;
}

#ifdef _WIN32
#include "Windows/UpdaterLock.inc"
#else
#include "Native/UpdaterLock.inc"
#endif
