#include "driver/HeldFiles.h"

#include "archive/Archive.h"
#include "base/Text.h"
#include "env/Text.h"
#include "platform/FileHolders.h"
#include "platform/FileSystem.h"
#include "update/UpdateParts.h"
#include "update/VersionCheck.h"

namespace {

constexpr std::size_t kNamedFiles = 10;
// The longest suffix of a name that the run makes beside a file: ".~" + kind + two digits.
constexpr std::size_t kTempSuffix = 5;

std::string HoldersText(const std::string& path) {
    std::string text;
    for (const FileHolder& holder : HoldersOf(path))
        text.append(text.empty() ? " (benutzt von " : ", ")
            .append(holder.name)
            .append(", Prozess ")
            .append(DecimalText(holder.processId));
    if (!text.empty()) text += ')';
    return text;
}

}  // namespace

std::vector<ChangedFile> ChangedFiles(const TArchive& archive, const TUpdateParts& parts, const StringList& toDelete) {
    std::vector<ChangedFile> changed;
    for (std::size_t p = 0; p < parts.Count(); ++p) {
        const TUpdatePart& part = parts[p];
        if (ClassifyVChk(part.VChk) != kVChkPassed) continue;
        std::vector<PartTarget> scratch;
        for (const PartTarget& target : PlannedTargets(part, archive, toDelete, scratch)) {
            if (target.kind != TargetKind::Delete) {
                std::string path = ProbableTargetOf(target, archive.entryAt(target.entry), part);
                if (!path.empty()) changed.push_back({path, p, true, target.kind == TargetKind::Patch});
            } else if (target.contained && FileExists(part.TargetFolder + target.rel)) {
                changed.push_back({part.TargetFolder + target.rel, p, false});
            }
        }
    }
    return changed;
}

std::vector<HeldFile> FindHeldFiles(const std::vector<ChangedFile>& changed) {
    std::vector<HeldFile> held;
    for (const ChangedFile& c : changed) {
        bool seen = false;
        for (const HeldFile& h : held) seen = seen || SameText(h.path, c.path);
        if (!seen && FileInUse(c.path)) held.push_back(c);
    }
    return held;
}

std::string FirstTooLongPath(const std::vector<ChangedFile>& changed, const TUpdateParts& parts) {
    for (const ChangedFile& c : changed) {
        // The file, with the suffix of a temporary or kept copy where the run makes one.
        if (c.path.size() + (c.written || parts[c.part].Rollback ? kTempSuffix : 0) > kMaxPathLength) return c.path;
        // Its folder (named with its closing backslash), where the run has to create it.
        std::string folder = FolderPart(c.path);
        if (folder.size() > kMaxNewFolderLength + 1 && Fs().attributes(folder) == kAttrInvalid) return folder;
    }
    return {};
}

std::string HeldFilesText(const std::vector<HeldFile>& held) {
    std::string text = "Diese Dateien werden im Moment benutzt und können nicht ersetzt werden:\r";
    // Built in place: a chain of "+" makes a string at each step.
    for (std::size_t i = 0; i < held.size() && i < kNamedFiles; ++i)
        text.append("    ").append(held[i].path).append(HoldersText(held[i].path)).append(1, '\r');
    if (held.size() > kNamedFiles)
        text.append("    und ").append(DecimalText(held.size() - kNamedFiles)).append(" weitere\r");
    text += "\rBeenden Sie die Programme, die sie benutzen, und versuchen Sie es erneut.";
    return text;
}
