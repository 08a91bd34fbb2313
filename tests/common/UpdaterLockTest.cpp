// The one-updater rule over the system's lock objects: which it tries, which
// it obeys (only those that Administrators or SYSTEM made) and which it holds,
// for each answer and owner the system may give.
#include <gtest/gtest.h>

#include <map>

#include "platform/UpdaterLock.h"

namespace {

using Found = NamedLocks::Found;
using Owner = FileOwner;
using Answer = NamedLocks::Answer;

class ScriptedLocks final : public NamedLocks {
public:
    ScriptedLocks(std::map<std::string, Answer> mutexes, Answer file) : mutexes_(std::move(mutexes)), file_(file) {}
    // The global name is "G", the session's "L", the file "F"; any other name "?".
    Answer mutex(const std::string& name, std::unique_ptr<UpdaterLock>& lock) override {
        if (name == "Global\\Mevo.Tarnix.Update.Apply") return give("G", mutexes_["G"], lock);
        if (name == "Mevo.Tarnix.Update.Apply") return give("L", mutexes_["L"], lock);
        return give("?", {Found::Failed, Owner::Other}, lock);
    }
    Answer file(std::unique_ptr<UpdaterLock>& lock) override { return give("F", file_, lock); }

    std::string tried;
    std::map<std::string, int> held;  // by letter: how many of its locks are alive

private:
    class Marker final : public UpdaterLock {
    public:
        explicit Marker(int& count) : count_(++count) {}
        ~Marker() override { --count_; }

    private:
        int& count_;
    };
    Answer give(const std::string& name, Answer answer, std::unique_ptr<UpdaterLock>& lock) {
        tried += (tried.empty() ? "" : " ") + name;
        if (answer.found == Found::Made || answer.found == Found::Free) lock = std::make_unique<Marker>(held[name]);
        return answer;
    }
    std::map<std::string, Answer> mutexes_;
    Answer file_;
};

TEST(UpdaterLockRule, ObeysOnlyWhatAdministratorsOrSystemMadeAndHoldsWhatItTook) {
    const Answer made{Found::Made, Owner::Administrators}, none{Found::Failed, Owner::Other};
    const struct {
        const char* what;
        Answer globalMutex, localMutex, file;
        LockOutcome outcome;
        const char* holds;  // what the lock holds: "mutex", "file", both or none
        const char* tried;  // "G" the global name, "L" the session's, "F" the file
    } cases[] = {
        {"all free", made, none, made, LockOutcome::Acquired, "mutex file", "G F"},
        {"SYSTEM's mutex, free", {Found::Free, Owner::System}, none, made, LockOutcome::Acquired, "mutex file", "G F"},
        {"an administrator's updater", {Found::Held, Owner::Administrators}, none, made, LockOutcome::Busy, "", "G"},
        {"SYSTEM's updater", {Found::Held, Owner::System}, none, made, LockOutcome::Busy, "", "G"},
        {"mutex of the same user, unelevated", {Found::Held, Owner::Self}, none, made, LockOutcome::Acquired, "file",
         "G F"},
        {"mutex of another user, held", {Found::Held, Owner::Other}, none, made, LockOutcome::Acquired, "file", "G F"},
        {"mutex of another user, free", {Found::Free, Owner::Other}, none, made, LockOutcome::Acquired, "file", "G F"},
        {"mutex closed to everyone", {Found::Closed, Owner::Other}, none, made, LockOutcome::Acquired, "file", "G F"},
        {"mutex fails otherwise", none, none, {Found::Free, Owner::Administrators}, LockOutcome::Acquired, "file",
         "G F"},
        {"squatted mutex, an updater has the file", {Found::Closed, Owner::Other}, none,
         {Found::Held, Owner::Administrators}, LockOutcome::Busy, "", "G F"},
        {"squatted mutex, SYSTEM's file", {Found::Held, Owner::Other}, none, {Found::Held, Owner::System},
         LockOutcome::Busy, "", "G F"},
        {"both held by others", {Found::Held, Owner::Other}, none, {Found::Held, Owner::Other}, LockOutcome::Busy, "",
         "G F"},
        {"file held by another user", made, none, {Found::Held, Owner::Other}, LockOutcome::Acquired, "mutex", "G F"},
        {"file closed to us", made, none, {Found::Closed, Owner::Other}, LockOutcome::Acquired, "mutex", "G F"},
        {"file fails", made, none, none, LockOutcome::Acquired, "mutex", "G F"},
        {"file of an updater whose mutex was squatted", made, none, {Found::Held, Owner::Administrators},
         LockOutcome::Busy, "", "G F"},
        {"file without owners (FAT), held", made, none, {Found::Held, Owner::Unknown}, LockOutcome::Busy, "", "G F"},
        {"a standard user, nothing there", {Found::NoRights, Owner::Other}, none, made, LockOutcome::NoRights, "", "G"},
        {"a standard user, an updater runs", {Found::Closed, Owner::Other}, none, {Found::NoRights, Owner::Other},
         LockOutcome::NoRights, "", "G F"},
        {"NT 4", {Found::NoNamespace, Owner::Other}, made, made, LockOutcome::Acquired, "mutex file", "G L F"},
        {"Windows 9x", {Found::NoNamespace, Owner::Other}, {Found::Made, Owner::Unknown}, made, LockOutcome::Acquired,
         "mutex", "G L"},
        {"Windows 9x, busy", {Found::NoNamespace, Owner::Other}, {Found::Held, Owner::Unknown}, made,
         LockOutcome::Busy, "", "G L"},
    };
    for (const auto& c : cases) {
        ScriptedLocks locks({{"G", c.globalMutex}, {"L", c.localMutex}}, c.file);
        std::unique_ptr<UpdaterLock> lock;
        EXPECT_EQ(TryLockByName(locks, lock), c.outcome) << c.what;
        EXPECT_EQ(lock != nullptr, c.outcome == LockOutcome::Acquired) << c.what;
        std::string holds = locks.held["G"] + locks.held["L"] > 0 ? "mutex" : "";
        if (locks.held["F"] > 0) holds += holds.empty() ? "file" : " file";
        EXPECT_EQ(holds, c.holds) << c.what;
        EXPECT_EQ(locks.tried, c.tried) << c.what;
        lock.reset();
        EXPECT_EQ(locks.held["G"] + locks.held["L"] + locks.held["F"], 0) << c.what << ": let go";
    }
}

}  // namespace
