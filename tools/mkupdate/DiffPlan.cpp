#include "tools/mkupdate/DiffPlan.h"

#include <fstream>
#include <map>
#include <set>

#include "archive/ArchiveFormat.h"
#include "base/Cp1252.h"
#include "env/System.h"
#include "env/Text.h"

namespace {

using NameMap = std::map<std::string, const ReleaseFile*>;  // by upper-cased name

bool SameContent(const ReleaseFile& a, const ReleaseFile& b) {
    if (a.size != b.size) return false;
    std::ifstream fa(a.path, std::ios::binary), fb(b.path, std::ios::binary);
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (fa && fb) {
        fa.read(ba.data(), std::streamsize(ba.size()));
        fb.read(bb.data(), std::streamsize(bb.size()));
        if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
    }
    return fa.eof() && fb.eof();
}

// Files by upper-cased name; names that differ only in letter case are one file on Windows.
NameMap IndexByName(const ReleaseTree& tree, const std::string& which, std::vector<std::string>& problems) {
    NameMap index;
    for (const ReleaseFile& f : tree.files) {
        auto [it, fresh] = index.emplace(UpperCased(f.name), &f);
        if (!fresh)
            problems.push_back(which + it->second->shown + " and " + f.shown +
                               ": names that differ only in letter case are one file on Windows");
    }
    return index;
}

// Every folder that holds a file of the tree, upper-cased.
std::set<std::string> FoldersOf(const NameMap& index) {
    std::set<std::string> folders;
    for (const auto& [name, file] : index)
        for (std::size_t at = name.find('\\'); at != std::string::npos; at = name.find('\\', at + 1))
            folders.insert(name.substr(0, at));
    return folders;
}

// A name that is a file in one release and a folder in the other: the updater
// writes files before it deletes, so neither the file nor the folder can take its place.
void ReportFileFolderClashes(const NameMap& oldIndex, const NameMap& newIndex, std::vector<std::string>& problems) {
    std::set<std::string> oldFolders = FoldersOf(oldIndex), newFolders = FoldersOf(newIndex);
    for (const auto& [name, file] : oldIndex)
        if (newFolders.count(name))
            problems.push_back(file->shown + ": a file in OLD and a folder in NEW; the updater writes new files "
                               "before it deletes old ones, so it cannot make that folder");
    for (const auto& [name, file] : newIndex)
        if (oldFolders.count(name))
            problems.push_back(file->shown + ": a folder in OLD and a file in NEW; the updater cannot write a file "
                               "where a folder is");
}

class Planner {
public:
    Planner(const std::string& section, StampPolicy& zone) : section_(section), zone_(zone) {}

    DiffPlan run(const ReleaseTree& oldTree, const ReleaseTree& newTree) {
        NameMap oldIndex = IndexByName(oldTree, "OLD: ", plan_.problems);
        NameMap newIndex = IndexByName(newTree, "NEW: ", plan_.problems);
        ReportFileFolderClashes(oldIndex, newIndex, plan_.problems);
        for (const ReleaseFile& f : newTree.files) {
            auto old = oldIndex.find(UpperCased(f.name));
            newFile(f, old == oldIndex.end() ? nullptr : old->second);
        }
        for (const ReleaseFile& f : oldTree.files)
            if (!newIndex.count(UpperCased(f.name))) goneFile(f);
        return std::move(plan_);
    }

private:
    void newFile(const ReleaseFile& f, const ReleaseFile* old) {
        if (old && old->name != f.name)
            plan_.notes.push_back(f.shown + ": installed as " + old->shown +
                                  "; Windows keeps the installed letter case of a name");
        if (old && old->problem.empty() && f.problem.empty() && SameContent(*old, f)) return;
        PlannedFile p{&f, old, f.name, IsTopLevelFontName(f.name), old != nullptr};
        if (!p.font) p.entry = "add\\" + section_ + "\\" + f.name;
        std::string problem = f.problem;
        if (problem.empty() && p.entry.size() > std::size_t(kMaxNameLength))
            problem = "its package name " + Cp1252ToUtf8(p.entry) + " is " + std::to_string(p.entry.size()) +
                      " bytes long, the archive holds at most 127";
        if (problem.empty() && p.font && f.name.find(',') != std::string::npos)
            problem = "a font whose file name holds \",\" cannot be named in a FONT key";
        std::int32_t newStamp = stamp(f, problem);
        if (old) p.oldStamp = stamp(*old, problem);
        if (!problem.empty()) return plan_.problems.push_back(f.shown + ": " + problem);
        p.stale = old && !StampWins(newStamp, p.oldStamp, p.font);
        plan_.files.push_back(p);
    }

    void goneFile(const ReleaseFile& f) {
        if (IsTopLevelFontName(f.name))
            return plan_.notes.push_back(f.shown + ": a font that NEW no longer has stays installed; updates remove no fonts");
        if (!f.problem.empty()) return plan_.problems.push_back(f.shown + ": cannot be named in todel.txt: " + f.problem);
        plan_.deletions.push_back(section_ + "\\" + f.name);
    }

    std::int32_t stamp(const ReleaseFile& f, std::string& problem) {
        std::int32_t s = 0;
        std::string error;
        if (!zone_.stampOf(f.modified, s, error) && problem.empty()) problem = error;
        return s;
    }

    std::string section_;
    StampPolicy& zone_;
    DiffPlan plan_;
};

}  // namespace

bool IsTopLevelFontName(const std::string& name) {
    return name.find('\\') == std::string::npos && name.size() >= 4 && SameText(name.substr(name.size() - 4), ".TTF");
}

bool StampWins(std::int32_t newStamp, std::int32_t oldStamp, bool font) {
    return font ? CompareFileDates(newStamp, oldStamp) > 0 : newStamp > oldStamp;
}

DiffPlan PlanDiff(const ReleaseTree& oldTree, const ReleaseTree& newTree, const std::string& section,
                  StampPolicy& zone) {
    return Planner(section, zone).run(oldTree, newTree);
}
