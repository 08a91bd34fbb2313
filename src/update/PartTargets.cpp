#include "update/PartTargets.h"

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "update/UpdateParts.h"

namespace {

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

}  // namespace

std::vector<PartTarget> TargetsOf(const TUpdatePart& part, const TArchive& archive, const StringList& toDelete) {
    static const struct {
        const char* prefix;
        TargetKind kind;
    } kinds[] = {{"add\\", TargetKind::Add}, {"rep\\", TargetKind::Replace}, {"pat\\", TargetKind::Patch}};
    std::vector<PartTarget> targets;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const std::string& name = archive.entryAt(i).name;
        for (const auto& k : kinds) {
            const std::string prefix = k.prefix + part.SectionPrefix;
            if (!StartsWithText(prefix, name)) continue;
            std::string rel = name.substr(prefix.size());
            targets.push_back({k.kind, i, rel, IsContainedRelativePath(rel)});
            break;
        }
    }
    for (const std::string& line : toDelete) {
        if (!StartsWithText(part.SectionPrefix, line)) continue;
        std::string rel = line.substr(part.SectionPrefix.size());
        if (!rel.empty()) targets.push_back({TargetKind::Delete, -1, rel, IsContainedRelativePath(rel)});
    }
    return targets;
}

void PlanTargets(TUpdatePart& part, const TArchive& archive, const StringList& toDelete) {
    part.Targets = TargetsOf(part, archive, toDelete);
    part.TargetsPlanned = true;
}

const std::vector<PartTarget>& PlannedTargets(const TUpdatePart& part, const TArchive& archive,
                                              const StringList& toDelete, std::vector<PartTarget>& scratch) {
    if (part.TargetsPlanned) return part.Targets;
    scratch = TargetsOf(part, archive, toDelete);
    return scratch;
}

std::string ProbableTargetOf(const PartTarget& target, const TPackedFile& entry, const TUpdatePart& part) {
    if (!target.contained || target.kind == TargetKind::Delete) return {};
    if (!part.AltTargetFolder.empty()) {
        Installed alt = LookUp(part.AltTargetFolder + target.rel);
        if (alt.file && entry.fileDate() > alt.stamp) return part.AltTargetFolder + target.rel;
    }
    Installed main = LookUp(part.TargetFolder + target.rel);
    if ((main.file || target.kind == TargetKind::Add) && entry.fileDate() > main.stamp)
        return part.TargetFolder + target.rel;
    return {};
}
