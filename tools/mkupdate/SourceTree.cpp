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

// Checks one file and appends it, or records why the archive cannot hold it.
void AddFile(const fs::path& dir, const fs::path& path, SourceTree& tree) {
    std::string shown = Utf8Of(path.lexically_relative(dir));
    bool representable = true;
    std::string name = Utf8ToCp1252(shown, &representable);
    if (name.find('\\') != std::string::npos)
        return tree.errors.push_back(shown + ": name holds a backslash, which separates folders in the archive");
    std::replace(name.begin(), name.end(), '/', '\\');
    if (!representable) return tree.errors.push_back(shown + ": name not representable in code page 1252");
    if (name.size() > std::size_t(kMaxNameLength))
        return tree.errors.push_back(shown + ": name is " + std::to_string(name.size()) +
                                     " bytes long, the archive holds at most 127");
    std::string problem = WindowsNameProblem(name);
    if (!problem.empty()) return tree.errors.push_back(shown + ": " + problem);

    SourceFile file{name, path};
    std::error_code ec;
    file.size = std::int64_t(fs::file_size(path, ec));
    if (ec || !ModificationTime(path, file.modified)) return tree.errors.push_back(shown + ": cannot be read");
    if (file.size > kMaxEntrySize)
        return tree.errors.push_back(shown + ": " + std::to_string(file.size) +
                                     " bytes, beyond the format's limit of 2 GiB");
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

// NUL, CON, PRN, AUX, COM1-COM9 and LPT1-LPT9 name devices, with any extension.
bool IsReservedDeviceName(const std::string& element) {
    std::string base = UpperCased(element.substr(0, element.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "NUL" || base == "CON" || base == "PRN" || base == "AUX") return true;
    return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
           base[3] <= '9';
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
        if (IsReservedDeviceName(element))
            return "a name element is a Windows device name (NUL, CON, PRN, AUX, COM1-9, LPT1-9), which no file or "
                   "folder can bear; rename it";
        if (end == std::string::npos) return "";
        start = end + 1;
    }
}

SourceTree ScanSourceTree(const fs::path& dir) {
    SourceTree tree;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        tree.errors.push_back(Utf8Of(dir) + ": not a folder");
        return tree;
    }
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec)) continue;
        if (it->is_regular_file(ec))
            AddFile(dir, it->path(), tree);
        else
            tree.errors.push_back(Utf8Of(it->path().lexically_relative(dir)) + ": neither a file nor a folder");
    }
    if (ec) tree.errors.push_back(Utf8Of(dir) + ": " + ec.message());
    OrderAndComplete(tree);
    return tree;
}
