#include "update/Folders.h"

#include "base/Exception.h"
#include "base/Text.h"
#include "env/Text.h"
#include "platform/FileSystem.h"

bool FolderExists(const std::string& path) {
    std::string p = path;
    DropTrailingBackslash(p);
    if (p.size() == 2 && p[1] == ':') p += "\\*.*";
    FindData found;
    return Fs().findFirst(p, found);
}

bool ForceFolder(const std::string& path) {
    std::string p = path;
    DropTrailingBackslash(p);
    if (p.size() < 3 || FolderExists(p)) return true;
    ForceFolder(FolderPart(p));
    if (!Fs().createFolder(p))
        throw Exception(p + "\rkann nicht angelegt werden (" + DecimalText(Fs().lastError()) + ")");
    return true;
}

void ForceFolderOnce(const std::string& path, std::string& last) {
    if (path == last) return;
    ForceFolder(path);
    last = path;
}

std::string FormatThousands(std::int64_t n) {
    std::string digits = DecimalText(n < 0 ? 0 : n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(std::size_t(i), ".");
    return digits;
}
