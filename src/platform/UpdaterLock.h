// One updater at a time: a lock that an updater holds while it applies a
// package, whatever package, so that a second one (a double-click, a
// deployment retry) neither applies beside it nor recovers its journal.
// Windows: a named mutex for the whole machine ("Global\", where Windows
// knows that namespace) and a lock file in the Windows folder, both made for
// Administrators and SYSTEM alone (the rule below); natively: a lock file in
// the sandbox.
#pragma once

#include <memory>
#include <string>

#include "platform/FileSystem.h"

class UpdaterLock {
public:
    virtual ~UpdaterLock() = default;
};

enum class LockOutcome {
    Acquired,
    Busy,      // another updater holds it (or the lock cannot be had: see TryLockByName)
    NoRights,  // only an administrator or SYSTEM may make it
};

// The lock in `lock`, or why there is none.
LockOutcome TryLockUpdater(std::unique_ptr<UpdaterLock>& lock);
// The lock, or nullptr whatever the reason.
std::unique_ptr<UpdaterLock> TryLockUpdater();

// The system's two lock objects, as the rule below needs them.
class NamedLocks {
public:
    enum class Found {
        Made,         // this process made it and holds it now (in `lock`)
        Free,         // it existed; this process holds it now (in `lock`)
        Held,         // it exists and another process holds it
        Closed,       // it exists and this process may not open it, nor read its owner
        NoRights,     // this process may not make it (no administrator)
        NoNamespace,  // the system has no such name space (no "Global\")
        Failed,       // anything else
    };
    struct Answer {
        Found found;
        FileOwner owner;  // who made what was found; Unknown where the system keeps no owners (Windows 9x)
    };

protected:
    // Never deleted through this interface: no virtual destructor to keep.
    ~NamedLocks() = default;

public:
    // The named mutex.
    virtual Answer mutex(const std::string& name, std::unique_ptr<UpdaterLock>& lock) = 0;
    // The lock file in the system's Windows folder, held without sharing.
    virtual Answer file(std::unique_ptr<UpdaterLock>& lock) = 0;
};

// The one-updater rule: a lock object counts only when Administrators or
// SYSTEM made it, so that no standard user's process can stop every update
// (UpdaterLock.cpp says how). Windows 9x keeps no owners: the mutex alone.
LockOutcome TryLockByName(NamedLocks& locks, std::unique_ptr<UpdaterLock>& lock);
