// All or nothing for a part with ROLLBACK=1. Before such a part changes
// anything, a journal in its target folder ("~update" + n + ".~rj") notes the
// change: a file about to be replaced or deleted is kept under a name of the
// updater's own (its path + ".~r" + n; renamed, so that it keeps its
// attributes and stamp), and a new file or folder is noted before it is made.
// When the part succeeds, the kept copies are removed; when it fails, the
// journal is undone in reverse order. A journal that a killed run left behind
// is found by the next run before it changes anything: undone, or, when the
// killed part had already succeeded, finished by removing its kept copies.
//
// Every step of an undo does nothing when it finds its change not made (a
// kept copy that is not there, a new file that is gone), so an undo that is
// itself interrupted is simply done again.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/StringList.h"

class FileHandle;
class StagedEntries;

class RollbackJournal {
public:
    // The journal is made in `folder` (ending with "\") at the first change.
    explicit RollbackJournal(std::string folder);
    ~RollbackJournal();
    RollbackJournal(const RollbackJournal&) = delete;
    RollbackJournal& operator=(const RollbackJournal&) = delete;

    // A file about to be replaced or deleted: false, with nothing changed, when
    // another program holds it open (it could be neither replaced nor deleted)
    // or it cannot be noted or renamed; otherwise it is gone from its name.
    bool keep(const std::string& path);
    bool noteNewFile(const std::string& path);
    // Notes the folders from `folder` up to `top` (not included) that writing
    // into `folder` makes new: those missing, and those that staging created
    // and no entry has been written into yet.
    bool noteNewFolders(const std::string& folder, const std::string& top, const StagedEntries* staging);

    // The part succeeded: noted as such, then the kept copies are removed. A
    // kept copy that stays gets a line in `problems` and keeps the journal for
    // the next run. False, with nothing removed, when the note cannot be written.
    bool commit(StringList& problems);
    // Undoes every change in reverse order; a line in `problems` per change
    // that stays (the journal then stays too, for the next run).
    void undo(StringList& problems);

    const std::string& path() const { return path_; }

    // Journals that a killed run left in `folder`, each undone or finished.
    // False when something could not be undone; `found` counts the journals.
    static bool Recover(const std::string& folder, StringList& problems, int& found);

private:
    struct Record {
        char kind;  // 'K' kept copy, 'N' new file, 'D' new folder, 'C' the part succeeded
        std::string path, kept;
    };

    bool note(const Record& record);
    bool open();
    void removeKeptCopies(StringList& problems);
    void finish(const StringList& problems);
    void load(const std::string& path);

    std::string folder_, path_;
    std::unique_ptr<FileHandle> file_;
    std::vector<Record> records_;
};
