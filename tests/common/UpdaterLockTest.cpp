// The one-updater rule over the system's named locks: which names it tries
// and when it takes the lock, for each answer the system may give.
#include <gtest/gtest.h>

#include <map>

#include "platform/UpdaterLock.h"

namespace {

using Result = NamedLocks::Result;

class ScriptedLocks final : public NamedLocks {
public:
    explicit ScriptedLocks(std::map<std::string, Result> answers) : answers_(std::move(answers)) {}
    Result tryAcquire(const std::string& name, std::unique_ptr<UpdaterLock>& lock) override {
        tried += (tried.empty() ? "" : " ") + name;
        auto it = answers_.find(name);
        Result result = it == answers_.end() ? Result::Failed : it->second;
        if (result == Result::Acquired) lock = std::make_unique<UpdaterLock>();
        return result;
    }
    std::string tried;

private:
    std::map<std::string, Result> answers_;
};

TEST(UpdaterLockRule, MachineWideNameFirstAndTheSessionsOnlyWhereThereIsNone) {
    const std::string global = "Global\\Mevo.Tarnix.Update.Apply", local = "Mevo.Tarnix.Update.Apply";
    const struct {
        const char* what;
        Result globalAnswer, localAnswer;
        bool locked;
        std::string tried;
    } cases[] = {
        {"free", Result::Acquired, Result::Acquired, true, global},
        {"another updater has it", Result::Busy, Result::Acquired, false, global},
        {"made by SYSTEM, closed to us", Result::Denied, Result::Acquired, false, global},
        {"other failure", Result::Failed, Result::Acquired, false, global},
        {"no Global\\ names", Result::NoNamespace, Result::Acquired, true, global + " " + local},
        {"no Global\\ names, busy", Result::NoNamespace, Result::Busy, false, global + " " + local},
    };
    for (const auto& c : cases) {
        ScriptedLocks locks({{global, c.globalAnswer}, {local, c.localAnswer}});
        EXPECT_EQ(TryLockByName(locks) != nullptr, c.locked) << c.what;
        EXPECT_EQ(locks.tried, c.tried) << c.what;
    }
}

}  // namespace
