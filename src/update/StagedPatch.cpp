#include "update/StagedPatch.h"

#include "archive/Patch.h"
#include "base/Text.h"
#include "env/System.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "update/StagedEntries.h"
#include "update/StagingSinks.h"

namespace {

const char* const kNotRun = ".\r\nDas Update wird nicht ausgeführt.";

// head + target + middle + end, built in place: a chain of "+" makes a string for each step.
std::string About(const char* head, const std::string& target, const char* middle, const char* end = kNotRun) {
    std::string text(head);
    text.append(target).append(middle).append(end);
    return text;
}

// The installed file does not fit the patch: `why` says how.
std::string DiffersText(const std::string& target, const std::string& why) {
    std::string text =
        About("Die installierte Datei ", target, " ist nicht die, für die dieses Update gemacht ist (", "");
    text.append(why).append("; von Hand geändert oder eine andere Version)").append(kNotRun);
    return text;
}

std::string UnreadableText(const std::string& target) {
    return About("Die installierte Datei ", target, " kann nicht gelesen werden");
}

// The new file cannot be put beside the installed one; the system's error says why.
std::string NotStagedText(const std::string& target) {
    std::string text = About("Die neue Fassung von ", target, " kann nicht daneben angelegt werden.", "");
    text.append(FailureReason(Fs().lastChangeError())).append(kNotRun + 1);
    return text;
}

std::string NoRoomText(const std::string& target, std::int32_t size) {
    std::string text = About("Auf dem Laufwerk von ", target, " ist nicht genug Platz für die neue Fassung (", "");
    text.append(DecimalText(size)).append(" Bytes)").append(kNotRun);
    return text;
}

// Takes the new file's first byte only when the target's volume has room for
// the size that the patch's header gives: a patch that lies about it does not
// fill the disk before its CRC-32 fails.
class RoomSink final : public ByteSink {
public:
    RoomSink(const std::string& target, ByteSink& next)
        : folder_(target.substr(0, target.find_last_of('\\') + 1)), next_(next) {}
    bool put(const unsigned char* data, std::size_t count) override {
        if (!checked_) {
            const std::int64_t room = Fs().freeSpace(folder_);
            tooLittle = room >= 0 && room < applier->header().newSize;
            checked_ = true;
        }
        return !tooLittle && next_.put(data, count);
    }
    const PatchApplier* applier = nullptr;  // whose header gives the size
    bool tooLittle = false;

private:
    std::string folder_;
    ByteSink& next_;
    bool checked_ = false;
};

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
                  SegmentInflater& inflater, PatchBuild& build) {
    std::unique_ptr<FileHandle> installed = openReadOnly(target);
    if (!installed) throw InstalledFileDiffers(UnreadableText(target));
    HandlePatchBase base(*installed);
    StagingSink sink(out);
    RoomSink room(target, sink);
    PatchApplier applier(&base, out ? static_cast<ByteSink&>(room) : sink);
    room.applier = &applier;
    CountingSink counted(applier);  // the window answers while a large file is built
    StreamResult result = archive.streamEntry(index, counted, inflater);
    build.taken = applier.taken();
    if (result == StreamResult::Unreadable) return false;
    switch (applier.finish()) {
    case PatchOutcome::BaseDiffers: throw InstalledFileDiffers(DiffersText(target, applier.problem()));
    case PatchOutcome::BaseUnreadable: throw InstalledFileDiffers(UnreadableText(target));
    case PatchOutcome::NotTaken:
        if (room.tooLittle) throw InstalledFileDiffers(NoRoomText(target, applier.header().newSize));
        [[fallthrough]];
    case PatchOutcome::Damaged: throw Exception(std::string(applier.problem()));
    case PatchOutcome::Built: break;
    }
    build.written = applier.written();
    build.crc = sink.crc;
    build.stored = !sink.failed();
    return true;
}

}  // namespace

StreamResult StagedEntries::stagePatch(const TArchive& archive, std::int32_t index, const std::string& target) {
    // The new file exists nowhere but here: one that cannot be staged could
    // not be written later, so it stops the run before its first change,
    // whatever other entries' staging came to, or when the journal that names
    // it could not be written.
    if (unannounced_) throw InstalledFileDiffers(NotStagedText(target));
    Fs().clearChangeError();
    TempFile pending(target, TempKind::Staged);
    PatchBuild build;
    bool read = BuildPatched(archive, index, target, pending.file(), inflater_, build);
    lastLength_ = build.taken;
    if (!read) return StreamResult::Unreadable;
    noteLength(index, build.written);
    std::string staged = build.stored ? pending.release(archive.entryAt(index).fileDate(), false) : std::string();
    if (staged.empty()) throw InstalledFileDiffers(NotStagedText(target));
    keep(index, std::move(staged), build.crc, build.written);
    return StreamResult::Complete;
}
