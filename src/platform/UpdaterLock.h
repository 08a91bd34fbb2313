// One updater at a time: a lock that an updater holds while it applies a
// package, whatever package, so that a second one (a double-click, a
// deployment retry) neither applies beside it nor recovers its journal.
// Windows: a named mutex for the whole machine ("Global\", where Windows
// knows that namespace); natively: a lock file in the sandbox.
#pragma once

#include <memory>
#include <string>

class UpdaterLock {
public:
    virtual ~UpdaterLock() = default;
};

// The lock, or nullptr while another updater holds it.
std::unique_ptr<UpdaterLock> TryLockUpdater();

// The system's named locks, as the rule below needs them.
class NamedLocks {
public:
    enum class Result {
        Acquired,     // `lock` holds it now
        Busy,         // another process holds it
        Denied,       // it exists, made by someone whose rights keep this process out
        NoNamespace,  // the system has no such name space (no "Global\")
        Failed,       // anything else
    };
    virtual ~NamedLocks() = default;
    virtual Result tryAcquire(const std::string& name, std::unique_ptr<UpdaterLock>& lock) = 0;
};

// The one-updater rule over named locks: the machine-wide name first; a lock
// that this process may not open is held by an updater of another user (a
// deployment service as SYSTEM), so it counts as busy; the name of the session
// is taken only where the system has no machine-wide names. Any other failure
// refuses too: two updaters side by side are worse than a run that waits.
std::unique_ptr<UpdaterLock> TryLockByName(NamedLocks& locks);
