#include "driver/RunUpdate.h"

#include "archive/Archive.h"
#include "driver/UpdateSession.h"
#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/System.h"
#include "env/Text.h"
#include "env/UiHooks.h"
#include "fonts/FontInstaller.h"
#include "update/ApplyPart.h"
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

// The main version check; false (after its log line) when the run must stop.
bool MainVersionAccepted(const TUpdateParts& parts, const std::string& project) {
    const std::string head = "\r\nDie Version des installierten Projekts " + project;
    switch (EvaluateVChk(parts.MainVChk)) {
    case kVChkPassed: return true;
    case kVChkUnknown:
        parts.LogMessage(head + " kann nicht ermittelt werden.\r\nDas Update wird nicht ausgeführt.", 2);
        return false;
    case kVChkTooNew:
        parts.LogMessage(head + " ist neuer als dieses Update.\r\nDas Update wird nicht ausgeführt.", 2);
        return false;
    case kVChkTooOld:
        parts.LogMessage(head + " ist nicht mindestens " + parts.MainVChk.Earliest +
                             ".\r\nDas Update kann nicht ausgeführt werden.",
                         2);
        return false;
    default: return false;
    }
}

bool EntryMayBeWritten(const TPackedFile& entry, const TUpdatePart& part) {
    for (const char* kind : {"add\\", "rep\\"}) {
        std::string prefix = kind + part.SectionPrefix;
        if (!StartsWithText(prefix, entry.name)) continue;
        std::string rel = entry.name.substr(prefix.size());
        if (entry.fileDate() > FileDateOf(part.TargetFolder + rel)) return true;
        if (!part.AltTargetFolder.empty() && entry.fileDate() > FileDateOf(part.AltTargetFolder + rel)) return true;
    }
    return false;
}

bool VerifyEntry(const TArchive& archive, std::int32_t index, std::string& problem) {
    std::int32_t position = 0;
    std::vector<unsigned char> buffer;
    try {
        while (position >= 0) {
            if (archive.readBuffer(index, position, buffer) < 0) {
                problem = "Segment unvollständig";
                return false;
            }
        }
    } catch (const std::exception& e) {
        problem = e.what();
        return false;
    }
    return true;
}

}  // namespace

bool VerifyEntriesToWrite(const TArchive& archive, const TUpdateParts& parts, std::string& name,
                          std::string& problem) {
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const TPackedFile& entry = archive.entryAt(i);
        bool needed = false;
        for (std::size_t p = 0; p < parts.Count() && !needed; ++p) needed = EntryMayBeWritten(entry, parts[p]);
        if (needed && !VerifyEntry(archive, i, problem)) {
            name = entry.name;
            return false;
        }
    }
    return true;
}

bool RunUpdate(UpdateSession& session, StringList& log) {
    TUpdateParts& parts = *session.UpdateParts;
    parts.Log = &log;
    log.clear();
    if (!HasAdminRights()) {
        ShowInfo(kNoRightsText);
        return false;
    }
    if (!parts.CheckFilesFree()) return false;
    if (!MainVersionAccepted(parts, session.UpdateName)) return false;

    BusyCursor busy;
    for (std::size_t i = 0; i < parts.Count(); ++i)
        if (!CheckTargetFolder(parts[i])) return false;
    std::string damagedEntry, problem;
    if (!VerifyEntriesToWrite(session.Archive, parts, damagedEntry, problem)) {
        parts.LogMessage(std::string("\r\n") + kDamagedPackageText + "\r\n" + damagedEntry + ": " + problem, 2);
        return false;
    }

    bool succeeded = true;
    for (std::size_t i = 0; i < parts.Count(); ++i)
        if (!ApplyPart(parts[i], session.Archive, session.ToDelList)) succeeded = false;

    if (succeeded) {
        InstallArchiveFonts(
            session.Archive, [&](const std::string& file) { return parts.FontNameOf(file); }, &log, LogThreshold);
        TUpdateParts::WriteResultValue(parts.VResult);
        session.SetCompleted(true);
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
