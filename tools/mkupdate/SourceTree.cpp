#include "tools/mkupdate/SourceTree.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "archive/ArchiveFormat.h"
#include "base/Cp1252.h"
#include "env/Text.h"
#include "tools/mkupdate/Host.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kMaxEntrySize = 0x7FFFFFFF;

std::string Utf8Of(const fs::path& p) {
    std::u8string s = p.generic_u8string();
    return std::string(s.begin(), s.end());
}

// The archive name of a file below `dir` (code page 1252, backslashes) and
// why the archive or Windows cannot hold it, or an empty problem.
std::string ArchiveNameOf(const fs::path& dir, const fs::path& path, std::string& shown, std::string& problem) {
    shown = Utf8Of(path.lexically_relative(dir));
    bool representable = true;
    std::string name = Utf8ToCp1252(shown, &representable);
    if (name.find('\\') != std::string::npos) {
        problem = "name holds a backslash, which separates folders in the archive";
        return name;
    }
    std::replace(name.begin(), name.end(), '/', '\\');
    if (!representable) problem = "name not representable in code page 1252";
    else problem = WindowsNameProblem(name);
    if (problem.empty()) problem = HostPathProblem(path);
    return name;
}

// Size and modification time; false with `problem` set when the file cannot be read or is too large.
bool ReadFacts(const fs::path& path, std::int64_t& size, std::int64_t& modified, std::string& problem) {
    std::error_code ec;
    size = std::int64_t(fs::file_size(path, ec));
    if (ec || !ModificationTime(path, modified)) return problem = "cannot be read", false;
    if (size > kMaxEntrySize)
        return problem = std::to_string(size) + " bytes, beyond the format's limit of 2 GiB", false;
    return true;
}

// Checks one file and appends it, or records why the archive cannot hold it.
void AddFile(const fs::path& dir, const fs::path& path, SourceTree& tree) {
    std::string shown, problem;
    std::string name = ArchiveNameOf(dir, path, shown, problem);
    if (problem.empty() && name.size() > std::size_t(kMaxNameLength))
        problem = "name is " + std::to_string(name.size()) + " bytes long, the archive holds at most 127";
    SourceFile file{name, path};
    if (problem.empty()) ReadFacts(path, file.size, file.modified, problem);
    if (!problem.empty()) return tree.errors.push_back(shown + ": " + problem);
    tree.files.push_back(std::move(file));
}

// update.ini and todel.txt are found in any letter case and stored in lower case.
int ControlRank(const std::string& name) {
    if (SameText(name, kDeletionListName)) return 0;
    if (SameText(name, kControlFileName)) return 1;
    return 2;
}

void ReportCaseTwins(SourceTree& tree) {
    std::map<std::string, std::string> seen;
    for (const SourceFile& f : tree.files) {
        auto [it, fresh] = seen.emplace(UpperCased(f.name), f.name);
        if (!fresh)
            tree.errors.push_back(Cp1252ToUtf8(it->second) + " and " + Cp1252ToUtf8(f.name) +
                                  ": names that differ only in letter case are one file on Windows");
    }
}

void OrderAndComplete(SourceTree& tree) {
    std::sort(tree.files.begin(), tree.files.end(), [](const SourceFile& a, const SourceFile& b) {
        int ra = ControlRank(a.name), rb = ControlRank(b.name);
        return ra != rb ? ra < rb : a.name < b.name;
    });
    ReportCaseTwins(tree);
    bool hasDeletions = !tree.files.empty() && ControlRank(tree.files[0].name) == 0;
    if (!hasDeletions) {
        SourceFile empty;
        empty.name = kDeletionListName;
        tree.files.insert(tree.files.begin(), empty);
        tree.generatedDeletionList = true;
    }
    if (tree.files.size() < 2 || ControlRank(tree.files[1].name) != 1)
        tree.errors.push_back(std::string(kControlFileName) + " is missing");
    for (std::size_t i = 0; i < tree.files.size() && i < 2; ++i) {
        if (ControlRank(tree.files[i].name) == 2) continue;
        tree.files[i].singleSegment = true;
        tree.files[i].name = ControlRank(tree.files[i].name) == 0 ? kDeletionListName : kControlFileName;
    }
}

}  // namespace

std::string WindowsNameProblem(const std::string& name) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = name.find('\\', start);
        std::string element = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        for (unsigned char c : element)
            if (c < 32 || std::string("<>:\"|?*").find(char(c)) != std::string::npos)
                return "name holds a character that Windows does not allow in file names";
        if (!element.empty() && (element.back() == '.' || element.back() == ' '))
            return "a name element ends with a dot or blank, which Windows drops";
        if (end == std::string::npos) return "";
        start = end + 1;
    }
}

// Calls `visit` for every file below `dir`; what cannot be walked goes to
// `errors`. False when `dir` is no folder.
template <class Visit>
bool WalkFiles(const fs::path& dir, std::vector<std::string>& errors, Visit visit) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        errors.push_back(Utf8Of(dir) + ": not a folder");
        return false;
    }
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec)) continue;
        if (it->is_regular_file(ec))
            visit(it->path());
        else
            errors.push_back(Utf8Of(it->path().lexically_relative(dir)) + ": neither a file nor a folder");
    }
    if (ec) errors.push_back(Utf8Of(dir) + ": " + ec.message());
    return true;
}

SourceTree ScanSourceTree(const fs::path& dir) {
    SourceTree tree;
    if (WalkFiles(dir, tree.errors, [&](const fs::path& path) { AddFile(dir, path, tree); })) OrderAndComplete(tree);
    return tree;
}

ReleaseTree ScanReleaseTree(const fs::path& dir) {
    ReleaseTree tree;
    WalkFiles(dir, tree.errors, [&](const fs::path& path) {
        ReleaseFile file;
        file.path = path;
        file.name = ArchiveNameOf(dir, path, file.shown, file.problem);
        if (file.problem.empty()) ReadFacts(path, file.size, file.modified, file.problem);
        tree.files.push_back(std::move(file));
    });
    std::sort(tree.files.begin(), tree.files.end(),
              [](const ReleaseFile& a, const ReleaseFile& b) { return a.name < b.name; });
    return tree;
}
