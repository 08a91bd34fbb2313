#include "update/PartWriter.h"

#include "env/Text.h"
#include "platform/FileSystem.h"
#include "update/Folders.h"
#include "update/UpdateParts.h"

std::string PartWriter::failureLine(const std::string& path) const {
    return std::string("*** ").append(path).append(" nicht (vollständig) geschrieben.");
}

bool PlainWriter::prepareWrite(const std::string& path, bool, bool mayCreate, const Written&) {
    if (mayCreate) ForceFolder(FolderPart(path));
    return true;
}

bool PlainWriter::removeListed(const std::string& path) { return Fs().removeFile(path); }

void PlainWriter::supersedeRestartChanges(const std::string& path, StringList& problems) {
    SupersedeRestartChanges(path, problems);
}

JournaledWriter::JournaledWriter(const TUpdatePart& part, const StagedEntries* staging, const std::string& journal)
    : journal_(part.TargetFolder, part.AltTargetFolder, journal), top_(part.TargetFolder), staging_(staging) {}

bool JournaledWriter::prepareWrite(const std::string& path, bool exists, bool mayCreate, const Written& written) {
    if (mayCreate && !journal_.noteNewFolders(FolderPart(path), top_, staging_)) return false;
    if (mayCreate) ForceFolder(FolderPart(path));
    return exists ? journal_.keep(path, written) : journal_.noteNewFile(path, written);
}

// A read-only file is refused, as a deletion refuses it.
bool JournaledWriter::removeListed(const std::string& path) {
    return (Fs().attributes(path) & kAttrReadOnly) == 0 && journal_.keep(path, Written::Nothing());
}

void JournaledWriter::supersedeRestartChanges(const std::string& path, StringList& problems) {
    if (!journal_.noteSuperseded(path)) problems.push_back(failureLine(path));
}

std::string JournaledWriter::failureLine(const std::string& path) const {
    if (journal_.failed())
        return std::string("*** ").append(journal_.path()).append(" konnte nicht geschrieben werden.");
    return PartWriter::failureLine(path);
}
