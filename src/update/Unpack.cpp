#include "update/Unpack.h"

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "archive/Patch.h"
#include "env/Text.h"
#include "update/Folders.h"

UnpackCounts UnpackAll(const TArchive& archive, const std::string& folder,
                       FunctionRef<void(const std::string&)> refused,
                       FunctionRef<void(const std::string&)> failed) {
    UnpackCounts counts;
    std::string made;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const std::string& name = archive.entryAt(i).name;
        if (!IsContainedRelativePath(name)) {
            ++counts.refused;
            if (refused) refused(name);
            continue;
        }
        std::string target = folder + name;
        for (char& c : target)
            if (c == '/') c = '\\';
        ForceFolderOnce(FolderPart(target), made);
        if (archive.extractFile(i, target, nullptr, TArchive::Extraction::ToFolder)) {
            ++counts.extracted;
            if (IsPatchEntryName(name)) counts.patches.push_back(name);
        } else {
            ++counts.failed;
            made.clear();
            if (failed) failed(name);
        }
    }
    return counts;
}

std::string PatchEntriesNote(const UnpackCounts& counts) {
    if (counts.patches.empty()) return {};
    std::string text = "Diese Einträge sind Patches: Sie ergeben die neue Datei nur zusammen mit der installierten "
                       "und wurden so ausgepackt, wie sie im Update liegen:";
    for (const std::string& name : counts.patches) text += "\r\n" + name;
    return text;
}
