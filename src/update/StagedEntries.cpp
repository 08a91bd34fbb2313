#include "update/StagedEntries.h"

#include <algorithm>

#include "base/Exception.h"
#include "base/Text.h"
#include "env/Text.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "update/Folders.h"
#include "update/StagingSinks.h"

namespace {

// Takes the inflated bytes and drops them: a check alone.
class DiscardSink final : public ByteSink {
public:
    bool put(const unsigned char*, std::size_t) override { return true; }
};

// The whole entry into `sink`; `inflated` receives the byte count. A stored
// size or data offset that was damaged can take in segments of another entry,
// which inflate without an error: an entry whose stored extent overlaps
// another entry's and whose length differs from the recorded one is damaged.
// The length alone decides nothing.
StreamResult Walk(const TArchive& archive, std::int32_t index, ByteSink& sink, SegmentInflater& inflater,
                  std::uint64_t& inflated) {
    CountingSink counted(sink);
    StreamResult result = archive.streamEntry(index, counted, inflater);
    inflated = counted.total;
    std::int32_t recorded = archive.entryAt(index).unpackedSize;
    if (result == StreamResult::Complete && counted.total != static_cast<std::uint64_t>(recorded) &&
        archive.overlapsAnotherEntry(index))
        throw Exception(DecimalText(counted.total) + " Bytes entpackt statt " + DecimalText(recorded));
    return result;
}

// Creates the folder and its missing parents as ForceFolder does, noting every
// folder it creates; false instead of an error when one cannot be created.
bool CreateFolders(const std::string& path, std::vector<std::string>& created) {
    std::string folder = path;
    DropTrailingBackslash(folder);
    if (folder.size() < 3 || FolderExists(folder)) return true;
    if (!CreateFolders(FolderPart(folder), created) || !Fs().createFolder(folder)) return false;
    created.push_back(folder);
    return true;
}

// Whether the sorted `keys` hold `key`; `at` receives where it is or would go.
bool FindSorted(const std::vector<std::string>& keys, const std::string& key, std::size_t& at) {
    at = std::size_t(std::lower_bound(keys.begin(), keys.end(), key) - keys.begin());
    return at < keys.size() && keys[at] == key;
}

}  // namespace

bool StagedEntries::claimed(const std::string& upperFolder) const {
    std::size_t at;
    return FindSorted(claimedFolders_, upperFolder, at);
}

void StagedEntries::noteLength(std::int32_t index, std::uint64_t length) {
    if (std::size_t(index) >= lengths_.size()) lengths_.resize(std::size_t(index) + 1, -1);
    lengths_[std::size_t(index)] = std::int64_t(length);
}

void StagedEntries::keep(std::int32_t index, std::string staged, std::uint32_t crc, std::uint64_t length) {
    noteLength(index, length);
    if (std::size_t(index) >= staged_.size()) staged_.resize(std::size_t(index) + 1);
    if (staged_[std::size_t(index)].path.empty()) ++stagedCount_;
    staged_[std::size_t(index)] = {std::move(staged), crc, false};
}

bool StagedEntries::createdUnclaimed(const std::string& folder) const {
    std::string key = UpperCased(folder);
    DropTrailingBackslash(key);
    if (claimed(key)) return false;
    for (const std::string& created : createdFolders_)
        if (UpperCased(created) == key) return true;
    return false;
}

StagedEntries::~StagedEntries() { finish(); }

void StagedEntries::finish() {
    for (StagedFile& staged : staged_)
        if (!staged.path.empty()) Fs().removeFile(staged.path), staged.path.clear();
    stagedCount_ = 0;
    for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it)
        if (!claimed(UpperCased(*it))) Fs().removeFolder(*it);
    createdFolders_.clear();
    for (const auto& journal : journals_) journal->discard();
    journals_.clear();
}

bool StagedEntries::announce(const std::string& journalFolder, const std::vector<std::string>& targets) {
    std::vector<std::string> folders, chain;  // outermost first; the missing ones of one target, innermost first
    for (const std::string& target : targets) {
        chain.clear();
        for (std::string f = FolderPart(target); f.size() > journalFolder.size(); f = FolderPart(f)) {
            DropTrailingBackslash(f);
            if (FolderExists(f) || std::find(folders.begin(), folders.end(), f) != folders.end()) break;
            chain.push_back(f);
        }
        for (std::size_t i = chain.size(); i > 0; --i) folders.push_back(chain[i - 1]);
    }
    journals_.push_back(std::make_unique<RollbackJournal>(journalFolder));
    if (journals_.back()->noteStaging(folders, targets)) return true;
    refused_ = unannounced_ = true;
    return false;
}

void StagedEntries::drop(std::int32_t index) {
    if (index < 0 || std::size_t(index) >= staged_.size() || staged_[std::size_t(index)].path.empty()) return;
    Fs().removeFile(staged_[std::size_t(index)].path);
    staged_[std::size_t(index)].path.clear();
    --stagedCount_;
}

StreamResult StagedEntries::check(const TArchive& archive, std::int32_t index) {
    DiscardSink sink;
    StreamResult result = Walk(archive, index, sink, inflater_, lastLength_);
    if (result == StreamResult::Complete) noteLength(index, lastLength_);
    return result;
}

std::int64_t StagedEntries::lengthOf(std::int32_t index) const {
    return index >= 0 && std::size_t(index) < lengths_.size() ? lengths_[std::size_t(index)] : -1;
}

// Entries of one folder come one after the other: a folder made or found for
// the last staged file is not looked up again. Should it be gone meanwhile,
// the staged file cannot be created and the entry is only checked.
bool StagedEntries::prepareFolder(const std::string& folder) {
    if (folder == readyFolder_) return true;
    if (!CreateFolders(folder, createdFolders_)) return false;
    readyFolder_ = folder;
    return true;
}

StreamResult StagedEntries::stage(const TArchive& archive, std::int32_t index, const std::string& target) {
    bool done = std::size_t(index) < staged_.size() && !staged_[std::size_t(index)].path.empty();
    if (refused_ || done || !prepareFolder(FolderPart(target))) return check(archive, index);
    TempFile pending(target, TempKind::Staged);
    if (!pending.file()) return check(archive, index);
    StagingSink sink(pending.file());
    StreamResult result = Walk(archive, index, sink, inflater_, lastLength_);
    if (result != StreamResult::Complete) return result;
    noteLength(index, lastLength_);
    std::string staged = sink.failed() ? std::string() : pending.release(archive.entryAt(index).fileDate(), false);
    if (staged.empty()) {
        refused_ = true;
        return result;
    }
    keep(index, std::move(staged), sink.crc, lastLength_);
    return result;
}

bool StagedEntries::commit(std::int32_t index, const std::string& target, bool targetExists, std::uint32_t* crc) {
    // The folder and its parents, as ForceFolder names them.
    for (std::string folder = FolderPart(target); folder.size() > 3; folder = FolderPart(folder)) {
        DropTrailingBackslash(folder);
        std::string key = UpperCased(folder);
        std::size_t at;
        if (FindSorted(claimedFolders_, key, at)) break;
        claimedFolders_.insert(claimedFolders_.begin() + std::ptrdiff_t(at), std::move(key));
    }
    if (index < 0 || std::size_t(index) >= staged_.size() || staged_[std::size_t(index)].path.empty()) return false;
    StagedFile* it = &staged_[std::size_t(index)];
    if (!it->durable) makeDurable();
    if (it->path.empty()) return false;  // it could not be flushed
    // The rename itself refuses a target in use or a folder; a read-only
    // target has its flag cleared and is tried once more, as extraction does.
    const std::string& staged = it->path;
    bool moved = targetExists ? EvenIfReadOnly(target, [&] { return Fs().replaceFile(staged, target); })
                              : Fs().replaceFile(staged, target);
    if (!moved) return false;
    if (crc) *crc = it->crc;
    it->path.clear();
    --stagedCount_;
    return true;
}

void StagedEntries::makeDurable() {
    std::vector<std::string> paths;
    for (StagedFile& staged : staged_) {
        if (staged.path.empty() || staged.durable) continue;
        staged.durable = true;
        paths.push_back(staged.path);
    }
    // A file whose flush failed is dropped: the rename must not rely on its data.
    for (std::size_t failed : MakeDurable(paths)) {
        for (StagedFile& staged : staged_)
            if (staged.path == paths[failed]) staged.path.clear();
        Fs().removeFile(paths[failed]);
        --stagedCount_;
    }
}

bool ReadsBackAs(const std::string& path, std::uint32_t crc) {
    std::unique_ptr<FileHandle> file = openReadOnly(path);
    if (!file) return false;
    constexpr std::int64_t kBlock = 1 << 16;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlock]);
    std::uint32_t found = 0;
    std::int64_t count;
    // A large file takes seconds to read: the window keeps answering meanwhile.
    while ((count = file->read(buffer.get(), kBlock)) > 0) {
        found = Crc32(found, buffer.get(), std::size_t(count));
        Ui().pumpMessages();
    }
    return count == 0 && found == crc;
}
