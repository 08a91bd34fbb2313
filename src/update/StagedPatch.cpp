#include "update/StagedPatch.h"

#include "archive/Patch.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "update/StagedEntries.h"

namespace {

// Writes the new file while it can; after a failed write it takes the bytes
// without writing them, so that the patch is still checked to its end.
class PatchedFileSink final : public ByteSink {
public:
    explicit PatchedFileSink(FileHandle* file) : file_(file), failed_(file == nullptr) {}
    bool put(const unsigned char* data, std::size_t count) override {
        if (!failed_ && file_->write(data, std::int64_t(count)) != std::int64_t(count)) failed_ = true;
        return true;
    }
    bool failed() const { return failed_; }

private:
    FileHandle* file_;
    bool failed_;
};

const char* const kNotRun = ".\r\nDas Update wird nicht ausgeführt.";

// Hands the patch's data on and counts it for the run's progress, which lets
// the window answer while a large file is built.
class ProgressSink final : public ByteSink {
public:
    explicit ProgressSink(ByteSink& next) : next_(next) {}
    bool put(const unsigned char* data, std::size_t count) override {
        Progress().advance(count);
        return next_.put(data, count);
    }

private:
    ByteSink& next_;
};

std::string DiffersText(const std::string& target, const std::string& why) {
    return "Die installierte Datei " + target + " ist nicht die, für die dieses Update gemacht ist (" + why +
           "; von Hand geändert oder eine andere Version)" + kNotRun;
}

std::string UnreadableText(const std::string& target) {
    return "Die installierte Datei " + target + " kann nicht gelesen werden" + kNotRun;
}

}  // namespace

StreamResult StagedEntries::stagePatch(const TArchive& archive, std::int32_t index, const std::string& target,
                                       FileHandle* archiveFile) {
    std::unique_ptr<FileHandle> installed = openReadOnly(target);
    if (!installed) throw InstalledFileDiffers(UnreadableText(target));
    HandlePatchBase base(*installed);
    // Without a staged file the patch is checked all the same; writing the
    // entry then fails, as a patch is never written from anything else.
    TempFile pending(target, TempKind::Staged);
    PatchedFileSink sink(refused_ ? nullptr : pending.file());
    PatchApplier applier(&base, sink);
    ProgressSink counted(applier);
    StreamResult result = archive.streamEntry(index, counted, inflater_, archiveFile);
    lastLength_ = applier.taken();
    if (result == StreamResult::Unreadable) return result;
    switch (applier.finish()) {
    case PatchOutcome::BaseDiffers: throw InstalledFileDiffers(DiffersText(target, applier.problem()));
    case PatchOutcome::BaseUnreadable: throw InstalledFileDiffers(UnreadableText(target));
    case PatchOutcome::Damaged: throw Exception(applier.problem());
    case PatchOutcome::NotTaken: return StreamResult::NotTaken;
    case PatchOutcome::Built: break;
    }
    lengths_[index] = applier.written();
    if (sink.failed()) {
        refused_ = refused_ || pending.file() != nullptr;
        return StreamResult::Complete;
    }
    staged_[index] = pending.release(archive.entryAt(index).fileDate());
    return StreamResult::Complete;
}

bool WritePatchedFile(const TArchive& archive, std::int32_t index, const std::string& installed, FileHandle& out) {
    std::unique_ptr<FileHandle> file = openReadOnly(installed);
    if (!file) return false;
    HandlePatchBase base(*file);
    PatchedFileSink sink(&out);
    PatchApplier applier(&base, sink);
    SegmentInflater inflater;
    try {
        if (archive.streamEntry(index, applier, inflater) != StreamResult::Complete) return false;
    } catch (const std::exception&) {
        return false;
    }
    return applier.finish() == PatchOutcome::Built && !sink.failed();
}
