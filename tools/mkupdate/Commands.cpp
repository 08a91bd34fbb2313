#include "tools/mkupdate/Commands.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "base/ByteReader.h"
#include "base/Cp1252.h"
#include "base/DosDate.h"
#include "base/Exception.h"
#include "archive/EntryName.h"
#include "env/Text.h"
#include "update/Folders.h"
#include "platform/FileSystem.h"
#include "tools/mkupdate/Host.h"
#include "tools/mkupdate/JsonReport.h"
#include "tools/mkupdate/PatchEntries.h"

namespace {

// Host paths become the updater's form: code page 1252 with backslashes.
std::string UpdaterPath(const std::string& hostPath) {
    std::string p = Utf8ToCp1252(hostPath);
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

void Error(const std::string& cp1252Text) { std::fprintf(stderr, "mkupdate: %s\n", ErrorText(cp1252Text).c_str()); }

// Opens the file as an updater with an attached archive, or else as a stand-alone
// archive; false with the error on standard error and in `problem` (UTF-8).
bool Open(const std::string& file, TArchive& archive, std::string& problem) {
    try {
        OpenPackage(UpdaterPath(file), archive);
        return true;
    } catch (const std::exception& e) {
        problem = ErrorText(e.what());
        Error(e.what());
        return false;
    }
}

bool Open(const std::string& file, TArchive& archive) {
    std::string problem;
    return Open(file, archive, problem);
}

std::string DateText(std::int32_t stamp) {
    CalendarTime t = UnpackDosDate(stamp);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}

// The number of segments that the walk of an entry visits, read from the length
// fields without inflating; -1 when a length field lies outside the file.
int SegmentCount(const TArchive& archive, const TPackedFile& e) {
    std::unique_ptr<FileHandle> file = openReadOnly(archive.archiveFileName);
    if (!file) return -1;
    std::int64_t position = 0;
    int count = 0;
    do {
        unsigned char head[4];
        if (position > e.storedSize || !file->seek(std::int64_t(archive.baseOffset) + e.dataOffset + position) ||
            file->read(head, 4) != 4)
            return -1;
        position += 4 + std::int64_t(static_cast<std::int32_t>(getU32(head)));
        ++count;
    } while (position < e.storedSize);
    return count;
}

// Extracts entry i below `folder` (ending in "\\"), its folders created first;
// what went wrong, or empty. A name that would leave the folder is never written.
std::string ExtractEntry(const TArchive& archive, std::int32_t i, const std::string& folder) {
    const std::string& name = archive.entryAt(i).name;
    if (!IsContainedRelativePath(name)) return "name leaves the folder, not extracted";
    std::string target = folder + name;
    for (char& c : target)
        if (c == '/') c = '\\';
    if (std::string problem = HostPathProblem(HostPath(Cp1252ToUtf8(target))); !problem.empty()) return problem;
    try {
        ForceFolder(FolderPart(target));
        return archive.extractFile(i, target) ? "" : "not (completely) written";
    } catch (const std::exception& e) {
        return e.what();
    }
}

}  // namespace

std::string ErrorText(const std::string& cp1252Text) {
    std::string text = Cp1252ToUtf8(cp1252Text);
    for (char& c : text)
        if (c == '\r') c = ' ';
    return text;
}

void OpenPackage(const std::string& path, TArchive& archive) {
    if (archive.openAttached(path)) return;
    char head[2] = {};
    std::unique_ptr<FileHandle> file = Fs().open(path, OpenMode::ReadShared);
    if (file && file->read(head, 2) == 2 && head[0] == 'M' && head[1] == 'Z')
        throw Exception(path + ": no archive attached; this is a bare updater (build a package with "
                               "mkupdate build --stub)");
    archive.openFile(path);
}

int CommandList(const std::string& file, bool json) {
    TArchive archive;
    std::string problem;
    if (!Open(file, archive, problem)) {
        if (json) PrintOpenErrorJson("file", file, problem);
        return kExitDamaged;
    }
    std::vector<ListedEntry> entries;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const TPackedFile& e = archive.entryAt(i);
        entries.push_back(ListedEntry{Cp1252ToUtf8(e.name), e.unpackedSize, e.storedSize, SegmentCount(archive, e),
                                      DateText(e.fileDate())});
        PatchHeader header;
        if (!IsPatchEntryName(e.name)) continue;
        entries.back().patch = true;
        if (!PatchEntryHeader(archive, i, header)) continue;
        entries.back().patchFrom = header.oldSize;
        entries.back().patchTo = header.newSize;
    }
    if (json) {
        PrintListJson(file, entries);
        return kExitOk;
    }
    for (const ListedEntry& e : entries) {
        std::printf("%s\t%lld\t%lld\t%d\t%s", e.name.c_str(), (long long)e.size, (long long)e.stored, e.segments,
                    e.date.c_str());
        if (e.patch) std::printf("\tpatch %lld -> %lld", (long long)e.patchFrom, (long long)e.patchTo);
        std::printf("\n");
    }
    return kExitOk;
}

std::string InflateProblem(const TArchive& archive, std::int32_t index, std::string& warning) {
    const TPackedFile& e = archive.entryAt(index);
    warning.clear();
    try {
        std::int64_t total = 0;
        std::int32_t position = 0;
        std::vector<unsigned char> buffer;
        while (position >= 0) {
            std::int32_t n = archive.readBuffer(index, position, buffer);
            if (n < 0) return "segment cut short";
            total += n;
        }
        if (total == e.unpackedSize) return "";
        std::string mismatch =
            "inflates to " + std::to_string(total) + " bytes, directory says " + std::to_string(e.unpackedSize);
        if (archive.overlapsAnotherEntry(index)) return mismatch + ", and its data overlaps another entry";
        warning = mismatch;
        return "";
    } catch (const std::exception& ex) {
        return ex.what();
    }
}

int CommandTest(const std::string& file) {
    TArchive archive;
    if (!Open(file, archive)) return kExitDamaged;
    int damaged = 0, warnings = 0;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const TPackedFile& e = archive.entryAt(i);
        std::string warning, problem = InflateProblem(archive, i, warning);
        if (problem.empty() && IsPatchEntryName(e.name)) problem = Utf8ToCp1252(PatchEntryProblem(archive, i));
        if (!warning.empty()) {
            ++warnings;
            std::fprintf(stderr, "mkupdate: warning: %s: %s\n", Cp1252ToUtf8(e.name).c_str(), warning.c_str());
        }
        if (problem.empty()) continue;
        ++damaged;
        Error(e.name + ": " + problem);
    }
    std::printf("%d entries, %d damaged", archive.entryCount(), damaged);
    if (warnings > 0) std::printf(", %d warning(s)", warnings);
    std::printf("\n");
    return damaged == 0 ? kExitOk : kExitDamaged;
}

int CommandExtract(const std::string& file, const std::string& folder) {
    TArchive archive;
    if (!Open(file, archive)) return kExitDamaged;
    // The folder itself is created here, as an absolute path, so that a
    // relative DIR of any length works.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(HostPath(folder), ec);
    if (!ec) std::filesystem::create_directories(absolute, ec);
    if (ec) {
        Error(folder + ": " + ec.message());
        return kExitDamaged;
    }
    std::u8string u8 = absolute.generic_u8string();
    std::string target = UpdaterPath(std::string(u8.begin(), u8.end()));
    if (target.empty() || target.back() != '\\') target += '\\';
    int extracted = 0, failed = 0;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        std::string problem = ExtractEntry(archive, i, target);
        if (problem.empty()) {
            ++extracted;
            continue;
        }
        ++failed;
        Error(archive.entryAt(i).name + ": " + problem);
    }
    std::printf("%d entries extracted, %d not\n", extracted, failed);
    return failed == 0 ? kExitOk : kExitDamaged;
}
