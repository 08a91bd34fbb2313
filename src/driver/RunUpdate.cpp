#include "driver/RunUpdate.h"

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "archive/Patch.h"
#include "driver/UpdateSession.h"
#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/System.h"
#include "env/Text.h"
#include "env/UiHooks.h"
#include "fonts/FontInstaller.h"
#include "platform/FileSystem.h"
#include "update/ApplyPart.h"
#include "update/PartWriter.h"
#include "update/StagedEntries.h"
#include "update/StagedPatch.h"
#include "update/UpdateParts.h"
#include "update/VersionCheck.h"

const char* const kNoRightsText =
    "Mit dem von Ihnen verwendeten Login sind Sie nicht berechtigt,\r"
    "Anwendungen auf diesem Computer zu installieren bzw. zu aktualisieren.\r\r"
    "Melden Sie sich als Administrator an oder bitten Sie Ihren\r"
    "Administrator, das Update auszuführen.";
const char* const kDamagedPackageText = "Das Update ist beschädigt oder unvollständig.";

namespace {

// Restores the default cursor however the run ends.
class BusyCursor {
public:
    BusyCursor() { Ui().setBusyCursor(true); }
    ~BusyCursor() { Ui().setBusyCursor(false); }
};

// The main version check: its result, after the log line of a refusal.
int CheckMainVersion(const TUpdateParts& parts, const std::string& project) {
    const std::string head = "\r\nDie Version des installierten Projekts " + project;
    int result = EvaluateVChk(parts.MainVChk);
    switch (result) {
    case kVChkUnknown:
        parts.LogMessage(head + " kann nicht ermittelt werden.\r\nDas Update wird nicht ausgeführt.", 2);
        break;
    case kVChkTooNew:
        parts.LogMessage(head + " ist neuer als dieses Update.\r\nDas Update wird nicht ausgeführt.", 2);
        break;
    case kVChkTooOld:
        parts.LogMessage(head + " ist nicht mindestens " + parts.MainVChk.Earliest +
                             ".\r\nDas Update kann nicht ausgeführt werden.",
                         2);
        break;
    default: break;
    }
    return result;
}

// What a lookup of an installed file tells: whether a file is there, and the
// stamp of whatever is there (-1 for nothing, as FileDateOf gives it).
struct Installed {
    bool file = false;
    std::int32_t stamp = -1;
};

Installed LookUp(const std::string& path) {
    FindData found;
    if (!Fs().findFirst(path, found)) return {};
    return {(found.attributes & kAttrDirectory) == 0, found.dosDate};
}

// Where applying the part will most probably write the entry, by the rules of
// InstallEntry: the second system folder when an older copy is there, else the
// target folder when an older copy is there or the entry may create it. Empty
// when the entry will most probably not be written.
std::string ProbableTarget(const TPackedFile& entry, const TUpdatePart& part, const std::string& rel, bool mayCreate,
                           const Installed& main, const Installed& alt) {
    if (!IsContainedRelativePath(rel)) return {};
    if (!part.AltTargetFolder.empty() && alt.file && entry.fileDate() > alt.stamp) return part.AltTargetFolder + rel;
    if ((main.file || mayCreate) && entry.fileDate() > main.stamp) return part.TargetFolder + rel;
    return {};
}

// Whether applying the part could write the entry: it is newer than what is
// installed in the second system folder, or than what is installed in the
// target folder (where an "add" entry may also create it). An entry as new as
// its installed copies, or one that replaces or patches a file that is not
// there, is not.
bool EntryMayBeWritten(const TPackedFile& entry, const TUpdatePart& part, std::string& target) {
    for (const char* kind : {"add\\", "rep\\", "pat\\"}) {
        std::string prefix = kind + part.SectionPrefix;
        if (!StartsWithText(prefix, entry.name)) continue;
        std::string rel = entry.name.substr(prefix.size());
        Installed main = LookUp(part.TargetFolder + rel);
        Installed alt = part.AltTargetFolder.empty() ? Installed{} : LookUp(part.AltTargetFolder + rel);
        target = ProbableTarget(entry, part, rel, kind[0] == 'a', main, alt);
        if (!target.empty()) return true;
    }
    return false;
}

// Inflates every segment of the entry, into a staged file when a target is
// given; false with the problem when the data is damaged or cut short, or
// when the archive could not be opened (`archiveFile` nullptr). A patch entry
// is always built from its target; when that is not the file the patch was
// made for, `differs` is set and the problem is the whole message. A sound entry
// whose length differs from the one the directory records is only noted in
// the extended log: writers may record that length differently.
bool VerifyEntry(const TArchive& archive, FileHandle* archiveFile, std::int32_t index, const std::string& target,
                 StagedEntries& staging, const TUpdateParts& parts, std::string& problem, bool& differs) {
    problem = "Segment unvollständig";
    if (!archiveFile) return false;
    try {
        StreamResult result = IsPatchEntryName(archive.entryAt(index).name)
                                  ? staging.stagePatch(archive, index, target, archiveFile)
                              : target.empty() ? staging.check(archive, index, archiveFile)
                                               : staging.stage(archive, index, target, archiveFile);
        if (result != StreamResult::Complete) return false;
    } catch (const InstalledFileDiffers& e) {
        problem = e.what();
        differs = true;
        return false;
    } catch (const std::exception& e) {
        problem = e.what();
        return false;
    }
    const TPackedFile& entry = archive.entryAt(index);
    if (staging.lastLength() != static_cast<std::uint64_t>(entry.unpackedSize))
        parts.LogMessage("Hinweis: " + entry.name + " ergibt " + std::to_string(staging.lastLength()) +
                             " Bytes, das Verzeichnis nennt " + std::to_string(entry.unpackedSize) + ".",
                         1);
    return true;
}

}  // namespace

bool VerifyEntriesToWrite(const TArchive& archive, const TUpdateParts& parts, std::string& name, std::string& problem,
                          StagedEntries* staging) {
    StagedEntries checkOnly;
    // The check is one request: it reads the archive through one handle.
    std::unique_ptr<FileHandle> archiveFile = openReadOnly(archive.archiveFileName);
    // Entries of a part whose own version check fails are never written.
    std::vector<bool> applied(parts.Count());
    for (std::size_t p = 0; p < parts.Count(); ++p) applied[p] = ClassifyVChk(parts[p].VChk) == kVChkPassed;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const TPackedFile& entry = archive.entryAt(i);
        std::string target;
        bool needed = false;
        for (std::size_t p = 0; p < parts.Count() && !needed; ++p)
            needed = applied[p] && EntryMayBeWritten(entry, parts[p], target);
        if (!needed) continue;
        bool differs = false;
        if (!staging && !IsPatchEntryName(entry.name)) target.clear();
        if (!VerifyEntry(archive, archiveFile.get(), i, target, staging ? *staging : checkOnly, parts, problem,
                         differs)) {
            name = differs ? std::string() : entry.name;
            return false;
        }
    }
    return true;
}

bool RunUpdate(UpdateSession& session, StringList& log, RunEnding* endingOut) {
    RunEnding ignored;
    RunEnding& ending = endingOut ? *endingOut : ignored;
    ending = RunEnding::Failed;
    TUpdateParts& parts = *session.UpdateParts;
    parts.Log = &log;
    log.clear();
    if (!HasAdminRights()) {
        ShowInfo(kNoRightsText);
        return false;
    }
    // What a killed run left is finished or undone before anything is looked
    // at, whichever package comes next: the checks then see the application
    // as it is, and a journal never outlives the run that found it.
    for (std::size_t i = 0; i < parts.Count(); ++i)
        if (!RecoverInterruptedPart(parts[i])) return false;
    for (std::size_t i = 0; i < parts.Count(); ++i) RemoveLeftoversOf(parts[i], session.Archive, session.ToDelList);
    if (!parts.CheckFilesFree()) {
        ending = RunEnding::ProgramRunning;
        return false;
    }
    int version = CheckMainVersion(parts, session.UpdateName);
    if (version != kVChkPassed) {
        if (version == kVChkTooNew) ending = RunEnding::InstalledNewer;
        return false;
    }

    BusyCursor busy;
    for (std::size_t i = 0; i < parts.Count(); ++i)
        if (!CheckTargetFolder(parts[i])) return false;
    StagedEntries staging;
    std::string damagedEntry, problem;
    if (!VerifyEntriesToWrite(session.Archive, parts, damagedEntry, problem, &staging)) {
        if (damagedEntry.empty()) parts.LogMessage("\r\n" + problem, 2);
        else parts.LogMessage(std::string("\r\n") + kDamagedPackageText + "\r\n" + damagedEntry + ": " + problem, 2);
        return false;
    }
    Lent<StagedEntries> lent(parts.Staging, staging);

    bool succeeded = true;
    for (std::size_t i = 0; i < parts.Count(); ++i)
        if (!ApplyPart(parts[i], session.Archive, session.ToDelList)) succeeded = false;

    if (succeeded) {
        InstallArchiveFonts(
            session.Archive, [&](const std::string& file) { return parts.FontNameOf(file); }, &log, LogThreshold);
        TUpdateParts::WriteResultValue(parts.VResult);
        session.SetCompleted(true);
        ending = RunEnding::Succeeded;
        parts.LogMessage("\r\nUpdate beendet.\r\nKlicken Sie auf \"Fertigstellen\"!", 2);
    } else {
        parts.LogMessage(
            "\r\nUpdate beendet.\r\nEs sind Fehler aufgetreten.\r\n"
            "Das Update sollte nach Beseitigung der Fehlerursache wiederholt werden.\r\n"
            "Klicken Sie auf \"Fertigstellen\" oder \"Abbrechen\"!",
            2);
    }
    return succeeded;
}
