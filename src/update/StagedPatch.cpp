#include "update/StagedPatch.h"

#include "archive/Patch.h"
#include "env/System.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "update/StagedEntries.h"
#include "update/StagingSinks.h"

namespace {

const char* const kNotRun = ".\r\nDas Update wird nicht ausgeführt.";

// The installed file does not fit the patch: `why` says how.
std::string DiffersText(const std::string& target, const std::string& why) {
    return "Die installierte Datei " + target + " ist nicht die, für die dieses Update gemacht ist (" + why +
           "; von Hand geändert oder eine andere Version)" + kNotRun;
}

std::string UnreadableText(const std::string& target) {
    return "Die installierte Datei " + target + " kann nicht gelesen werden" + kNotRun;
}

// The new file cannot be put beside the installed one; the system's error says why.
std::string NotStagedText(const std::string& target) {
    return "Die neue Fassung von " + target + " kann nicht daneben angelegt werden." +
           FailureReason(Fs().lastChangeError()) + (kNotRun + 1);
}

// What building a patch's new file came to.
struct PatchBuild {
    std::uint64_t taken = 0;    // bytes of patch data
    std::uint64_t written = 0;  // bytes of the new file
    std::uint32_t crc = 0;      // CRC-32 of what `out` received
    bool stored = false;        // the new file is complete in `out`
};

// Builds the new file of patch entry `index` from the installed `target` into
// `out` (nullptr: checked only). Raises InstalledFileDiffers when `target` is
// not the file the patch was made for, Exception when the patch is damaged;
// false when the archive cannot be read.
bool BuildPatched(const TArchive& archive, std::int32_t index, const std::string& target, FileHandle* out,
                  SegmentInflater& inflater, FileHandle* archiveFile, PatchBuild& build) {
    std::unique_ptr<FileHandle> installed = openReadOnly(target);
    if (!installed) throw InstalledFileDiffers(UnreadableText(target));
    HandlePatchBase base(*installed);
    StagingSink sink(out);
    PatchApplier applier(&base, sink);
    CountingSink counted(applier);  // the window answers while a large file is built
    StreamResult result = archive.streamEntry(index, counted, inflater, archiveFile);
    build.taken = applier.taken();
    if (result == StreamResult::Unreadable) return false;
    switch (applier.finish()) {
    case PatchOutcome::BaseDiffers: throw InstalledFileDiffers(DiffersText(target, applier.problem()));
    case PatchOutcome::BaseUnreadable: throw InstalledFileDiffers(UnreadableText(target));
    case PatchOutcome::Damaged:
    case PatchOutcome::NotTaken: throw Exception(std::string(applier.problem()));
    case PatchOutcome::Built: break;
    }
    build.written = applier.written();
    build.crc = sink.crc;
    build.stored = !sink.failed();
    return true;
}

}  // namespace

StreamResult StagedEntries::stagePatch(const TArchive& archive, std::int32_t index, const std::string& target,
                                       FileHandle* archiveFile) {
    // The new file exists nowhere but here: one that cannot be staged could
    // not be written later, so it stops the run before its first change,
    // whatever other entries' staging came to.
    Fs().clearChangeError();
    TempFile pending(target, TempKind::Staged);
    PatchBuild build;
    bool read = BuildPatched(archive, index, target, pending.file(), inflater_, archiveFile, build);
    lastLength_ = build.taken;
    if (!read) return StreamResult::Unreadable;
    noteLength(index, build.written);
    std::string staged = build.stored ? pending.release(archive.entryAt(index).fileDate(), false) : std::string();
    if (staged.empty()) throw InstalledFileDiffers(NotStagedText(target));
    keep(index, std::move(staged), build.crc, build.written);
    return StreamResult::Complete;
}
