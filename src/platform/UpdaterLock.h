// One updater at a time: a lock that an updater holds while it applies a
// package, whatever package, so that a second one (a double-click, a
// deployment retry) neither applies beside it nor recovers its journal.
// Windows: a named mutex for the whole machine ("Global\", where Windows
// knows that namespace); natively: a lock file in the sandbox.
#pragma once

#include <memory>

class UpdaterLock {
public:
    virtual ~UpdaterLock() = default;
};

// The lock, or nullptr while another updater holds it.
std::unique_ptr<UpdaterLock> TryLockUpdater();
