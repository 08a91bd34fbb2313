// Entries inflated ahead of a run's first change. A run checks every entry
// that it may write before it changes anything (RunUpdate). Instead of
// inflating such an entry once for the check and once more to write it, the
// check inflates it into a staged file beside its probable target (a
// temporary of kind Staged, TempFiles.h), already stamped with the entry's date; writing the entry later
// renames that file into place. When the object goes away, staged files that
// were not used are removed, and so are the folders created for them that
// writing an entry did not ask for: a refused run leaves nothing behind, and
// a run leaves the folders that it would have created without staging. So
// that a killed run leaves nothing either, the targets and the folders are
// noted in a journal in the part's folder before anything is staged
// (announce); the next run's recovery removes what the journal names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "update/Rollback.h"

class StagedEntries {
public:
    StagedEntries() = default;
    ~StagedEntries();
    StagedEntries(const StagedEntries&) = delete;
    StagedEntries& operator=(const StagedEntries&) = delete;

    // Notes the targets below a part's folder `journalFolder` beside which
    // entries may be staged, and the folders missing on their way, in a
    // journal there; false, and no more staging, when it cannot be written.
    bool announce(const std::string& journalFolder, const std::vector<std::string>& targets);
    // Inflates entry `index` into a staged file beside `target`, creating the
    // target's folder when needed, and checks every segment on the way. The
    // result is that of the walk; raises as the walk does, and when the entry
    // inflates to another length than its unpackedSize while its stored extent
    // overlaps another entry's (a damaged stored size or data offset: the one
    // damage that only the length tells). A length that differs alone is no damage: other
    // writers may record it differently (see lastLength). When the staged
    // file cannot be created or written, the check goes on without it, and
    // after a failed write no more entries are staged (patches aside: they
    // have no other way to be written).
    StreamResult stage(const TArchive& archive, std::int32_t index, const std::string& target);
    // A patch entry (Patch.h): builds the new file from the installed `target`
    // into a staged file beside it. Raises InstalledFileDiffers (StagedPatch.h)
    // when `target` is not the file the patch was made for or the new file
    // cannot be staged, and as stage does when the patch is damaged. lengthOf
    // then gives the new file's length.
    StreamResult stagePatch(const TArchive& archive, std::int32_t index, const std::string& target);
    // Checks entry `index`, its length included, without keeping anything.
    StreamResult check(const TArchive& archive, std::int32_t index);
    // Moves the staged copy of entry `index` to `target`, replacing the file
    // there (`targetExists`: the caller found one). False when there is none
    // or the move fails; the caller then extracts the entry as usual. Either
    // way the target's folders are the caller's from now on. `crc`, when
    // given, receives the CRC-32 of what was staged.
    bool commit(std::int32_t index, const std::string& target, bool targetExists, std::uint32_t* crc = nullptr);
    // Puts the staged files on the disk together, at the latest before the
    // first of them is moved into place (commit does it then): one flush for
    // all of them where the system can (MakeDurable). A file whose flush fails
    // is removed; its entry is extracted when it is written.
    void makeDurable();

    // Removes the staged copy of entry `index`, which is not going to be written.
    void drop(std::int32_t index);
    // What the object leaves when it goes away: staged files not used, their
    // folders not asked for, the journals that name them. Called by the run
    // when it ends; the destructor does it for a run that ends otherwise.
    void finish();

    std::size_t stagedCount() const { return stagedCount_; }
    // The byte count that checking or staging entry `index` inflated; -1 when it was not checked.
    std::int64_t lengthOf(std::int32_t index) const;
    // The byte count that the last check or staging inflated.
    std::uint64_t lastLength() const { return lastLength_; }
    // Whether the folder was created here and no entry has been written into it yet.
    bool createdUnclaimed(const std::string& folder) const;

private:
    bool prepareFolder(const std::string& folder);
    void keep(std::int32_t index, std::string staged, std::uint32_t crc, std::uint64_t length);
    void noteLength(std::int32_t index, std::uint64_t length);
    bool claimed(const std::string& upperFolder) const;

    struct StagedFile {
        std::string path;   // empty: none
        std::uint32_t crc;  // of its bytes
        bool durable;       // flushed since it was written
    };
    // By entry index; plain vectors keep the updater small.
    std::vector<StagedFile> staged_;
    std::vector<std::int64_t> lengths_;        // inflated length, -1: not checked
    std::size_t stagedCount_ = 0;
    std::vector<std::string> createdFolders_;  // in the order of their creation
    std::vector<std::string> claimedFolders_;  // folders of committed targets, upper case, sorted
    std::string readyFolder_;                     // the folder the last staged file went to
    SegmentInflater inflater_;
    bool refused_ = false;  // a staged file or a journal could not be written: stage no more
    bool unannounced_ = false;  // a journal could not be written: patches cannot be staged
    std::vector<std::unique_ptr<RollbackJournal>> journals_;
    std::uint64_t lastLength_ = 0;
};

// Whether the file at `path` reads back, to its end, with the CRC-32 `crc`:
// what reached the disk is what was written.
bool ReadsBackAs(const std::string& path, std::uint32_t crc);
