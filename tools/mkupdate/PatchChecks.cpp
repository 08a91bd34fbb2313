#include "tools/mkupdate/PatchChecks.h"

#include <set>

#include "archive/Patch.h"
#include "base/Text.h"

namespace {

// The installed file that an entry or a deletion line names.
struct Target {
    std::string key;   // the part's TDIR and the path, upper-cased: parts with one TDIR share a folder
    int part = -1;
    std::string name;  // the entry's name
};

int PartIndex(const ControlFileFacts& ini, const std::string& section) {
    for (std::size_t i = 0; i < ini.parts.size(); ++i)
        if (SameText(ini.parts[i], section)) return int(i);
    return -1;
}

std::string FileKey(const ControlFileFacts& ini, int part, const std::string& rel) {
    std::string folder = ini.partFacts[part].target;
    if (folder.empty()) folder = "[" + ini.parts[part] + "]";
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return UpperCased(folder + "\\" + rel);
}

// An add\, rep\ or pat\ entry of a known part; false for any other name.
bool EntryTarget(const ControlFileFacts& ini, const std::string& name, Target& out) {
    bool partEntry = StartsWithText("add\\", name) || StartsWithText("rep\\", name) || IsPatchEntryName(name);
    std::size_t slash = partEntry ? name.find('\\', 4) : std::string::npos;
    if (slash == std::string::npos) return false;
    int part = PartIndex(ini, name.substr(4, slash - 4));
    if (part < 0) return false;
    out = Target{FileKey(ini, part, name.substr(slash + 1)), part, name};
    return true;
}

// The deletion lines' files with their line numbers, as CheckDeletions assigns lines to parts.
std::vector<std::pair<std::string, std::size_t>> DeletedFiles(const StringList& lines, const ControlFileFacts& ini) {
    std::vector<std::pair<std::string, std::size_t>> files;
    for (std::size_t i = 0; i < lines.size(); ++i)
        for (std::size_t p = 0; p < ini.parts.size(); ++p) {
            if (!StartsWithText(ini.parts[p] + "\\", lines[i])) continue;
            files.emplace_back(FileKey(ini, int(p), lines[i].substr(ini.parts[p].size() + 1)), i + 1);
            break;
        }
    return files;
}

// Patch `index` against the patches before it, the whole files and the deletions.
void CheckOne(const std::vector<Target>& patches, std::size_t index, const std::vector<Target>& files,
              const std::vector<std::pair<std::string, std::size_t>>& deleted, const ControlFileFacts& ini,
              std::vector<Finding>& out) {
    const Target& patch = patches[index];
    for (std::size_t i = 0; i < index; ++i) {
        const Target& other = patches[i];
        if (other.key == patch.key)
            out.push_back(Finding{true, patch.name,
                                  "patches the same installed file as " + other.name + " (parts [" +
                                      ini.parts[other.part] + "] and [" + ini.parts[patch.part] +
                                      "] write into one folder): the updater builds every patch from the installed "
                                      "file before its first change, so a patch of the other's result never finds "
                                      "its base and the run stops; make one patch from the installed release",
                                  "patch-chained"});
    }
    for (const Target& file : files)
        if (file.key == patch.key)
            out.push_back(Finding{false, patch.name,
                                  "the package also carries " + file.name + " for the same file: the whole file "
                                  "makes the patch pointless, and an installed file that is not the patch's base "
                                  "stops the run although the whole file could replace it; keep one of them",
                                  "patch-and-file"});
    for (const auto& [key, line] : deleted)
        if (key == patch.key)
            out.push_back(Finding{true, patch.name,
                                  "todel.txt:" + std::to_string(line) + " deletes the file this patch builds (the "
                                  "updater deletes after it writes); leave out the patch or the deletion line",
                                  "patch-deleted"});
}

}  // namespace

void CheckPatchEntries(const std::vector<std::string>& names, const StringList& deletions,
                       const ControlFileFacts& ini, std::vector<Finding>& out) {
    std::vector<Target> patches, files;
    for (const std::string& name : names) {
        Target t;
        if (EntryTarget(ini, name, t)) (IsPatchEntryName(name) ? patches : files).push_back(t);
    }
    std::vector<std::pair<std::string, std::size_t>> deleted = DeletedFiles(deletions, ini);
    std::set<int> unchecked;
    for (std::size_t i = 0; i < patches.size(); ++i) {
        CheckOne(patches, i, files, deleted, ini, out);
        if (!ini.mainVersionChecked && !ini.partFacts[patches[i].part].versionChecked) unchecked.insert(patches[i].part);
    }
    for (int part : unchecked)
        out.push_back(Finding{false, "update.ini",
                              "part [" + ini.parts[part] + "] carries patches, but neither it nor the main section "
                              "has a VCHK: every installed version receives the part, a patch installs only over "
                              "the one file it was made from, and machines with another version stop with exit "
                              "code 1; add a VCHK for the release the patches were made from",
                              "patch-without-version-check"});
}
