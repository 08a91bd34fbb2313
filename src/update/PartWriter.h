// How a part changes its files, chosen once per part: in place, or through a
// rollback journal (ROLLBACK=1), so that a failure takes back all of it.
#pragma once

#include <string>

#include "update/Rollback.h"

class StagedEntries;
class TUpdatePart;

class PartWriter {
protected:
    // Never deleted through this interface: no virtual destructor to keep.
    ~PartWriter() = default;

public:
    // Before an entry is written to `path` (`exists`: a file is there; `mayCreate`:
    // its folders may be made): the folders made and, journaled, the change
    // noted and the installed file kept. False when the entry cannot be written.
    virtual bool prepareWrite(const std::string& path, bool exists, bool mayCreate, const Written& written) = 0;
    // Deletes a file of the deletion list (journaled: keeps it).
    virtual bool removeListed(const std::string& path) = 0;
    // The run has written or deleted `path`: what earlier runs left for the next
    // start of Windows to do there (copies to move over it, its deletion) is
    // void, so that the restart leaves what this run installed. Journaled, it
    // is noted now and done when the part commits; a failed part keeps them.
    // Lines in `problems` name what could not be settled.
    virtual void supersedeRestartChanges(const std::string& path, StringList& problems) = 0;
    // Whether an installed file is still at its path when the entry is written
    // over it (a journaled part has kept it under another name by then).
    virtual bool replacesInPlace() const = 0;
    // Whether the part's file work ends at its first failure.
    virtual bool stopsAtFirstError() const = 0;
    // The file at `path` holds a write of this run that read back otherwise and
    // could not be taken away: undoing the part puts back what it replaced.
    virtual void disown(const std::string& path) {}
    // The log line of a write of `path` that failed.
    virtual std::string failureLine(const std::string& path) const;
};

class PlainWriter final : public PartWriter {
public:
    bool prepareWrite(const std::string& path, bool exists, bool mayCreate, const Written& written) override;
    bool removeListed(const std::string& path) override;
    void supersedeRestartChanges(const std::string& path, StringList& problems) override;
    bool replacesInPlace() const override { return true; }
    bool stopsAtFirstError() const override { return false; }
};

class JournaledWriter final : public PartWriter {
public:
    // `staging`: the entries staged by the run's check, whose folders may be new;
    // `journal`: the path of a journal of the run's transaction (RollbackJournal).
    JournaledWriter(const TUpdatePart& part, const StagedEntries* staging, const std::string& journal = {});
    bool prepareWrite(const std::string& path, bool exists, bool mayCreate, const Written& written) override;
    bool removeListed(const std::string& path) override;
    void supersedeRestartChanges(const std::string& path, StringList& problems) override;
    bool replacesInPlace() const override { return false; }
    bool stopsAtFirstError() const override { return true; }
    void disown(const std::string& path) override { journal_.disown(path); }
    // Notes ahead that an entry may be written to `path` (RollbackJournal::noteAhead).
    void noteAhead(const std::string& path, const Written& written, bool mayCreate) {
        journal_.noteAhead(path, written, mayCreate, top_, staging_);
    }
    std::string failureLine(const std::string& path) const override;

    RollbackJournal& journal() { return journal_; }

private:
    RollbackJournal journal_;
    std::string top_;
    const StagedEntries* staging_;
};

// Puts `value` into `slot` for the life of the object.
template <class T>
class Lent {
public:
    Lent(T*& slot, T& value) : slot_(slot) { slot_ = &value; }
    ~Lent() { slot_ = nullptr; }
    Lent(const Lent&) = delete;
    Lent& operator=(const Lent&) = delete;

private:
    T*& slot_;
};
