#include "platform/UpdaterLock.h"

namespace {

const char* const kLockName = "Mevo.Tarnix.Update.Apply";

}  // namespace

std::unique_ptr<UpdaterLock> TryLockByName(NamedLocks& locks) {
    std::unique_ptr<UpdaterLock> lock;
    switch (locks.tryAcquire(std::string("Global\\") + kLockName, lock)) {
    case NamedLocks::Result::Acquired: return lock;
    case NamedLocks::Result::NoNamespace: break;
    default: return nullptr;
    }
    return locks.tryAcquire(kLockName, lock) == NamedLocks::Result::Acquired ? std::move(lock) : nullptr;
}

#ifdef _WIN32
#include "Windows/UpdaterLock.inc"
#else
#include "Native/UpdaterLock.inc"
#endif
