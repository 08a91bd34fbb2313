#include "driver/HeldFiles.h"

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "driver/RunUpdate.h"
#include "env/Text.h"
#include "platform/FileHolders.h"
#include "platform/FileSystem.h"
#include "update/UpdateParts.h"
#include "update/VersionCheck.h"

namespace {

constexpr std::size_t kNamedFiles = 10;
// The longest suffix of a name that the run makes beside a file: ".~" + kind + two digits.
constexpr std::size_t kTempSuffix = 5;

// Each file that a part whose own version check passes will most probably
// write or delete.
std::vector<HeldFile> ChangedFiles(const TArchive& archive, const TUpdateParts& parts, const StringList& toDelete) {
    std::vector<HeldFile> changed;
    for (std::size_t p = 0; p < parts.Count(); ++p) {
        const TUpdatePart& part = parts[p];
        if (ClassifyVChk(part.VChk) != kVChkPassed) continue;
        for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
            std::string target = ProbableTargetOf(archive.entryAt(i), part);
            if (!target.empty()) changed.push_back({target, p, true});
        }
        for (const std::string& line : toDelete) {
            if (!StartsWithText(part.SectionPrefix, line)) continue;
            std::string rel = line.substr(part.SectionPrefix.size());
            if (!rel.empty() && IsContainedRelativePath(rel) && FileExists(part.TargetFolder + rel))
                changed.push_back({part.TargetFolder + rel, p, false});
        }
    }
    return changed;
}

// The folder that holds `path`, without its closing backslash.
std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The too-long path among what the run makes for `path`, or empty: the file
// (with the suffix of a temporary or kept copy when the run makes one) and
// its folder when the run has to create it.
std::string TooLong(const std::string& path, bool written, bool rollback) {
    std::size_t longest = path.size() + (written || rollback ? kTempSuffix : 0);
    if (longest > kMaxPathLength) return path;
    std::string folder = FolderOf(path);
    if (written && folder.size() > kMaxNewFolderLength && Fs().attributes(folder) == kAttrInvalid) return folder;
    return {};
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
    for (const HeldFile& c : ChangedFiles(archive, parts, toDelete)) {
        bool seen = false;
        for (const HeldFile& h : held) seen = seen || SameText(h.path, c.path);
        if (!seen && FileInUse(c.path)) held.push_back(c);
    }
    return held;
}

std::string FirstTooLongPath(const TArchive& archive, const TUpdateParts& parts, const StringList& toDelete) {
    for (const HeldFile& c : ChangedFiles(archive, parts, toDelete)) {
        std::string path = TooLong(c.path, c.written, parts[c.part].Rollback);
        if (!path.empty()) return path;
    }
    return {};
}

std::string HeldFilesText(const std::vector<HeldFile>& held) {
    std::string text = "Diese Dateien werden im Moment benutzt und können nicht ersetzt werden:\r";
    for (std::size_t i = 0; i < held.size() && i < kNamedFiles; ++i)
        text += "    " + held[i].path + HoldersText(held[i].path) + "\r";
    if (held.size() > kNamedFiles) text += "    und " + std::to_string(held.size() - kNamedFiles) + " weitere\r";
    return text + "\rBeenden Sie die Programme, die sie benutzen, und versuchen Sie es erneut.";
}
