#include "driver/HeldFiles.h"

#include "archive/Archive.h"
#include "env/Text.h"
#include "platform/FileHolders.h"
#include "platform/FileSystem.h"
#include "update/UpdateParts.h"
#include "update/VersionCheck.h"

namespace {

constexpr std::size_t kMaxPath = 260;  // MAX_PATH: the path with its terminating zero
constexpr std::size_t kNamedFiles = 10;

// Whether the run could not change the file at `path`.
bool Held(const std::string& path, bool& tooLong) {
    tooLong = path.size() >= kMaxPath;
    if (tooLong) return true;
    return FileExists(path) && !Fs().open(path, OpenMode::ReadExclusive);
}

void Test(const std::string& path, std::size_t part, std::vector<HeldFile>& held) {
    for (const HeldFile& h : held)
        if (SameText(h.path, path)) return;
    bool tooLong = false;
    if (Held(path, tooLong)) held.push_back({path, part, tooLong});
}

std::string HoldersText(const std::string& path) {
    std::string text;
    for (const FileHolder& holder : HoldersOf(path))
        text += (text.empty() ? " (benutzt von " : ", ") + holder.name + ", Prozess " + std::to_string(holder.processId);
    return text.empty() ? text : text + ")";
}

}  // namespace

std::vector<HeldFile> FindHeldFiles(const TArchive& archive, const TUpdateParts& parts, const StringList& toDelete) {
    std::vector<HeldFile> held;
    for (std::size_t p = 0; p < parts.Count(); ++p) {
        const TUpdatePart& part = parts[p];
        if (ClassifyVChk(part.VChk) != kVChkPassed) continue;
        std::vector<PartTarget> scratch;
        for (const PartTarget& target : PlannedTargets(part, archive, toDelete, scratch)) {
            if (target.kind != TargetKind::Delete) {
                std::string path = ProbableTargetOf(target, archive.entryAt(target.entry), part);
                if (!path.empty()) Test(path, p, held);
            } else if (target.contained && FileExists(part.TargetFolder + target.rel)) {
                Test(part.TargetFolder + target.rel, p, held);
            }
        }
    }
    return held;
}

std::string HeldFilesText(const std::vector<HeldFile>& held) {
    std::string text = "Diese Dateien werden im Moment benutzt und können nicht ersetzt werden:\r";
    for (std::size_t i = 0; i < held.size() && i < kNamedFiles; ++i)
        text += "    " + held[i].path + (held[i].tooLong ? " (Pfad zu lang)" : HoldersText(held[i].path)) + "\r";
    if (held.size() > kNamedFiles) text += "    und " + std::to_string(held.size() - kNamedFiles) + " weitere\r";
    return text + "\rBeenden Sie die Programme, die sie benutzen, und versuchen Sie es erneut.";
}
