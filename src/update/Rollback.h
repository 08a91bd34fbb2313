// All or nothing for a part with ROLLBACK=1. Before such a part changes
// anything, a journal in its target folder ("~update" + n + ".~rj") notes the
// change: a file about to be replaced or deleted is kept under a name of the
// updater's own (its path + ".~r" + n; renamed, so that it keeps its
// attributes and stamp), and a new file or folder is noted before it is made.
// Each note also says what the run is going to write at the path (size and
// stamp, or nothing for a deleted file). The notes of every change that the
// part may make are written ahead, in one batch that reaches the disk in one
// flush before the first change; a change found without its note is noted,
// and flushed, on its own. When the part succeeds, the kept
// copies are removed; when it fails, the journal is undone in reverse order.
// A journal that a killed run left behind is found by the next run of any
// package before it looks at anything: undone, or, when the killed part had
// already succeeded, finished by removing its kept copies. A kept copy that
// cannot be removed (the old .exe of a program still running) is left to the
// next start of Windows.
//
// A journal found is untrusted input: anyone who may write to the folder can
// put one there. It is obeyed only when every line is one this updater could
// have written (paths in the plain form below the journal's folder or the
// part's second folder, each kept name its path + ".~r" + digits, numbers well
// formed) and, where the system keeps owners, its owner is the user the
// updater runs as, the administrators or the system. Otherwise not one file is
// touched because of it: it stays, named in the log, and the run stops.
//
// An undo puts back only what the run wrote: a file at a noted path that is
// not the one the run wrote (another installer has been there since) stays,
// and its kept copy goes. A kept copy comes back by one rename over the new
// file, so that the path never stays empty. Every step of an undo does nothing
// when it finds its change not made (a kept copy that is not there, a new file
// that is gone), so an undo that is itself interrupted is simply done again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/StringList.h"

class FileHandle;
class StagedEntries;

// Removes the copies that earlier runs left beside `path` for Windows to move
// over it at its next start, and takes back a deletion of `path` scheduled
// then: the run has written or deleted the file, and that is what stays.
// Lines in `problems` name a copy that could not be removed.
void SupersedeRestartChanges(const std::string& path, StringList& problems);

// What a run writes at a path, as its journal notes it.
struct Written {
    static constexpr std::int64_t kNothing = -1;  // the path is left empty (a deleted file)
    static constexpr std::int64_t kUnknown = -2;  // a journal of an earlier version does not say
    std::int64_t size = kUnknown;
    std::int32_t stamp = -1;
    // The stamp as the run writes it, in UTC (100 ns since 1601), which no change of
    // zone or summer time moves; -1 when the journal does not say.
    std::int64_t utc = -1;

    static Written Nothing() { return {kNothing, -1, -1}; }
    // Whether what is at `path` now is what the run wrote (nothing counts, too:
    // there is nothing there that someone else put).
    bool isAt(const std::string& path) const;
};

// What the lines of an undo or recovery say: `problems` keep the journal and
// are errors (level 2), `notices` name files left as someone else put them (level 1).
struct UndoReport {
    StringList problems, notices;
};

// The fields of a journal line, split at each '|' (an empty text is one empty field).
std::vector<std::string> SplitFields(const std::string& text);

class RollbackJournal {
public:
    // Temporaries and StagingFolder note what the run's check stages before
    // the first change: the target beside which a staged file is made, and a
    // folder made for it. Their undo removes the temporaries beside the target
    // (whatever their kind) and the folder when it is empty.
    enum class Change : char {
        Kept = 'K',
        NewFile = 'N',
        NewFolder = 'D',
        Superseded = 'P',
        Succeeded = 'C',
        Temporaries = 'T',
        StagingFolder = 'F',
    };

    // The journal is made in `folder` (ending with "\") at the first change;
    // `altFolder` is the part's second folder, where its paths may lie too.
    // With `path`, the journal is that file and belongs to the run's
    // transaction (Transaction.h): it never commits on its own, and what earlier
    // runs left for the restart is noted as any change.
    explicit RollbackJournal(std::string folder, std::string altFolder = {}, std::string path = {});
    ~RollbackJournal();
    RollbackJournal(const RollbackJournal&) = delete;
    RollbackJournal& operator=(const RollbackJournal&) = delete;

    // A file about to be replaced by `written` (or deleted: Written::Nothing()):
    // false, with nothing changed, when another program holds it open (it could
    // be neither replaced nor deleted) or it cannot be noted or renamed;
    // otherwise it is gone from its name.
    bool keep(const std::string& path, const Written& written);
    bool noteNewFile(const std::string& path, const Written& written);
    // What earlier runs left for the next start of Windows at `path` goes when
    // the part commits (SupersedeRestartChanges), not before: undone, it stays.
    bool noteSuperseded(const std::string& path);
    // Notes the folders from `folder` up to `top` (not included) that writing
    // into `folder` makes new: those missing, and those that staging created
    // and no entry has been written into yet.
    bool noteNewFolders(const std::string& folder, const std::string& top, const StagedEntries* staging);
    // Notes ahead, in one batch, a change that the part may make at `path`: the
    // file there kept, or, where there is none and `mayCreate`, a new file
    // and its new folders. The change then finds its note and adds none; the
    // note of a change never made leaves its undo nothing to do. flush() puts
    // the batch on the disk.
    void noteAhead(const std::string& path, const Written& written, bool mayCreate, const std::string& top,
                   const StagedEntries* staging);
    // Puts the notes written so far on the disk, in one flush: every change
    // waits for its own note to be there (keep, noteNewFile, noteNewFolders
    // and commit call it). False when the journal cannot be written.
    bool flush();

    // Before the run's check stages anything: the folders it may make
    // (outermost first) and the targets beside which it may put staged files,
    // in one write.
    bool noteStaging(const std::vector<std::string>& folders, const std::vector<std::string>& paths);
    // The staging is over and what it left is removed: the journal goes.
    void discard();

    // The part succeeded: noted as such, then the kept copies are removed. A
    // kept copy that stays gets a line in `problems` and keeps the journal for
    // the next run. False, with nothing removed, when the note cannot be written.
    bool commit(StringList& problems);
    // The file at `path` holds this run's write whatever its size and stamp say
    // (it read back otherwise and could not be removed): undo takes it back as its
    // own, and so does the next run's recovery after a kill from here on.
    void disown(const std::string& path);
    // Undoes every change in reverse order.
    void undo(UndoReport& report);
    // Of a journal of the run's transaction, found whole: what earlier runs
    // left for the restart at its paths goes (the run has committed); with
    // `kept`, the kept copies go too and then the journal (the record is settled).
    void settle(UndoReport& report, bool kept);
    // The first path whose file is not what the run wrote (changed since), or
    // that a link put on its way since leads elsewhere; empty when none.
    std::string firstChanged() const;
    // The paths that the journal's files were written or deleted at.
    std::vector<std::string> changedPaths() const;
    // A journal found at `path`, loaded whole when it is the updater's own (not
    // a link, owner, size and every line checked); otherwise nullptr and a
    // problem line, unless the file is simply not there (`missingOk`).
    static std::unique_ptr<RollbackJournal> Found(const std::string& path, const std::string& folder,
                                                  const std::string& altFolder, UndoReport& report,
                                                  bool missingOk = false);
    // Whether the journal itself could not be made or written.
    bool failed() const { return failed_; }

    const std::string& path() const { return path_; }

    // In the order of precedence: Cleaned when the journals noted no change
    // but what the run's check staged.
    enum class Recovery { NothingFound, Cleaned, Finished, Undone, Failed, Refused };
    // Journals that a killed run left in `folder`, each undone or finished;
    // `altFolder` is the part's second folder, where its paths may lie too. A
    // journal that cannot be read, or whose undo leaves something, stays
    // (Failed); so does one that is not the updater's (Refused, before Failed).
    // The temporaries beside the paths that an obeyed journal names go with
    // it, and nothing else: not a file for its name alone, nor anything
    // reached through a junction or link below the folders.
    static Recovery Recover(const std::string& folder, UndoReport& report, const std::string& altFolder = {});

    struct Record {
        Change change;
        std::string path, kept;
        Written written;
    };
    // A journal's text as recovery reads it, before anything is obeyed: the
    // changes of its complete lines in `records`; false when a line is not one
    // this updater writes for `folder` and `altFolder` (a foreign journal).
    static bool ParseText(const std::string& text, const std::string& folder, const std::string& altFolder,
                          std::vector<Record>& records);

private:
    enum class Loaded { Whole, Unreadable, Foreign };

    static std::string Line(const Record& record);
    bool note(const Record& record);
    bool noteFolders(const std::string& folder, const std::string& top, const StagedEntries* staging, bool ahead);
    std::vector<std::size_t>::iterator aheadAt(const std::string& path);
    std::vector<std::size_t>::iterator aheadOf(const std::string& path);
    bool takeAhead(Record& wanted);
    void markAhead();
    bool open();
    const std::string& topOf(const std::string& path) const;
    void removeTemporaries(UndoReport& report) const;
    void removeKeptCopy(const Record& record, UndoReport& report);
    void settleCommitted(UndoReport& report, bool kept = true);
    void undoRecord(const Record& record, UndoReport& report, bool folders);
    void undoKept(const Record& record, UndoReport& report);
    bool onlyStaging() const;
    Recovery settleFound(UndoReport& report);
    void finish(const StringList& problems);
    Loaded load(const std::string& path, const std::string& folder, const std::string& altFolder);
    static bool parse(const std::string& line, const std::string& folder, const std::string& altFolder,
                      std::vector<Record>& records);

    std::string folder_, altFolder_, path_;
    std::unique_ptr<FileHandle> file_;
    std::vector<Record> records_;
    std::string unwritten_;           // lines noted and not yet flushed
    std::string superseded_;          // lines that wait for the commit line
    std::vector<std::size_t> ahead_;  // records noted ahead and not yet used, sorted by path
    bool failed_ = false;
    bool inRun_ = false;  // a journal of the run's transaction
};
