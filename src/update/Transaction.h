// One transaction for a whole run (a check after the update, or ROLLBACK=1 in
// the main section): every part writes through a journal of its own (as a
// part with rollback does, RollbackJournal), the result values and fonts are
// noted before they change, and nothing commits before the run does.
//
// The run's journal lies in the Windows folder, where only administrators
// write and any package's updater looks at every start: "~updrun.~rx" while
// the run is open, renamed to "~updrec.~rx" once it has committed; that one
// is the record that /UNDO takes back. It names the parts' journals
// ("~update" + n + ".~rt" in each part's folder, a name that per-part recovery
// leaves alone), the fonts folder's journal, the previous state of every
// result value and the fonts that were added. Its lines:
//   B<package>              the package that made the run (P|V)
//   J<journal>|<folder>|<second folder>
//   R<hive>|<key>|<value>|<type>|<data>   (key, value name and data in hex; type -1: there was no value)
//   F<font file>|<1: a font of that file was there before>
//   C                       the commit point of the whole run
//   U                       /UNDO has begun to take the record back
// A run that has not committed, or a record with U, is taken back by the next
// start of any package; a committed run settles the record of the run before
// it (its kept copies and journals go) and becomes the record. A run without
// a transaction settles the record before its first change: one level.
// Every step of an undo does nothing when it finds its change not made, so an
// undo that is itself interrupted is simply done again.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "update/Rollback.h"

class FileHandle;
struct Written;

class RunTransaction {
public:
    // The run's journal is begun with its first line; failed() when it cannot be.
    explicit RunTransaction(const std::string& package);
    ~RunTransaction();
    RunTransaction(const RunTransaction&) = delete;
    RunTransaction& operator=(const RunTransaction&) = delete;

    bool failed() const { return failed_; }
    // The path of a new journal for a part in `folder`, named durably in the
    // run's journal; empty when that cannot be written.
    std::string journalFor(const std::string& folder, const std::string& altFolder);
    // The value `valueName` of the key that `reference` names (as WriteRegistryString
    // takes them), as it is now, noted durably before it is written.
    bool noteValue(const std::string& reference, const std::string& valueName);
    // A file of the fonts folder about to be written at `path` (`written`: what
    // it will be): noted, and an existing one kept aside; with `font`, the font
    // is taken out of the font table on undo (and one that was there added again).
    bool changeFont(const std::string& path, const Written& written, bool font = true);
    // A font about to be added to the font table: taken out on undo, and added
    // again when it was there `before`.
    bool noteFont(const std::string& path, bool before);
    // The commit point, then the previous record settled: false when the line cannot be written.
    bool commit(UndoReport& report);
    // Takes back every change of the run.
    void undo(UndoReport& report);

    // At every start, before anything else: a run left open is undone (or,
    // committed, finished), a record being taken back is taken back. False
    // when something of it stays (named in `report`).
    static bool Recover(UndoReport& report);
    // Before the first change of a run without a transaction: the record goes.
    static void SettleRecord(UndoReport& report);

    enum class Undo { Done, Nothing, Held, Changed, Failed };
    // /UNDO: the record of `package` taken back. `held` tells which of its paths
    // are in use (Held, nothing changed); Changed names in `report` the file
    // that was changed since (nothing changed).
    using HeldTest = bool (*)(const std::vector<std::string>& paths, void* context);
    static Undo UndoRecord(const std::string& package, HeldTest held, void* context, UndoReport& report);

private:
    bool append(const std::string& line);

    std::unique_ptr<FileHandle> file_;
    std::unique_ptr<RollbackJournal> fonts_;
    bool failed_ = false;
};
