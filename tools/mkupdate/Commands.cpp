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
#include "archive/EntryName.h"
#include "env/Text.h"
#include "update/Folders.h"
#include "platform/FileSystem.h"
#include "tools/mkupdate/ControlFileLint.h"
#include "tools/mkupdate/Host.h"
#include "tools/mkupdate/JsonReport.h"
#include "tools/mkupdate/PatchBases.h"
#include "tools/mkupdate/PatchEntries.h"
#include "tools/mkupdate/SourceTree.h"

namespace {

// Host paths become the updater's form: code page 1252 with backslashes.
std::string UpdaterPath(const std::string& hostPath) {
    std::string p = Utf8ToCp1252(hostPath);
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

// A problem on standard error: the tool's words, then the updater's own
// message, where there is one, quoted as such; both UTF-8.
void Error(const std::string& text, const std::string& updaterText = "") {
    std::fprintf(stderr, "mkupdate: %s", text.c_str());
    if (!updaterText.empty()) std::fprintf(stderr, " (the updater's message: \"%s\")", updaterText.c_str());
    std::fprintf(stderr, "\n");
}

bool Open(const std::string& file, TArchive& archive) {
    std::string problem, updaterText;
    return OpenForReading(file, archive, problem, updaterText);
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
    FileHandle* file = archive.file();
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

// Extracts entry i below `folder` (ending in "\\"), its folders created first
// (`made`: as ForceFolderOnce); what went wrong, or empty. A name that would
// leave the folder is never written.
std::string ExtractEntry(const TArchive& archive, std::int32_t i, const std::string& folder, std::string& made) {
    const std::string& name = archive.entryAt(i).name;
    if (!IsContainedRelativePath(name)) return "name leaves the folder, not extracted";
    std::string target = folder + name;
    for (char& c : target)
        if (c == '/') c = '\\';
    if (std::string problem = HostPathProblem(HostPath(Cp1252ToUtf8(target))); !problem.empty()) return problem;
    try {
        ForceFolderOnce(FolderPart(target), made);
        if (archive.extractFile(i, target, nullptr, TArchive::Extraction::ToFolder)) return "";
        made.clear();
        return "not (completely) written";
    } catch (const std::exception& e) {
        made.clear();
        return "not written (the updater's message: \"" + ErrorText(e.what()) + "\")";
    }
}

// Applies a sound patch entry to its base and prints what came of it; false
// for a base that differs or a wrong result.
bool TestOnBase(const TArchive& archive, std::int32_t index, const ReleaseBases& bases, int& warnings) {
    BaseReport report = ApplyEntryToBase(archive, index, bases);
    std::string line = Cp1252ToUtf8(archive.entryAt(index).name) + ": " + report.text;
    if (report.verdict == BaseVerdict::Right) {
        std::printf("%s\n", line.c_str());
        return true;
    }
    if (report.verdict == BaseVerdict::NoBase) {
        ++warnings;
        std::fprintf(stderr, "mkupdate: warning: %s\n", line.c_str());
        return true;
    }
    Error(line, ErrorText(report.updaterText));
    return false;
}

}  // namespace

std::string ErrorText(const std::string& cp1252Text) {
    std::string text = Cp1252ToUtf8(cp1252Text);
    for (char& c : text)
        if (c == '\r') c = ' ';
    return text;
}

bool OpenForReading(const std::string& file, TArchive& archive, std::string& problem, std::string& updaterText) {
    std::string path = UpdaterPath(file);
    updaterText.clear();
    char head[2] = {};
    std::unique_ptr<FileHandle> handle = Fs().open(path, OpenMode::ReadShared);
    if (!handle) {
        Error(problem = file + ": cannot be opened");
        return false;
    }
    bool program = handle->read(head, 2) == 2 && head[0] == 'M' && head[1] == 'Z';
    handle.reset();
    try {
        if (archive.openAttached(path)) return true;
        if (!program) {
            archive.openFile(path);
            return true;
        }
        problem = file + ": no archive attached; this is a bare updater (build a package with mkupdate build --stub)";
    } catch (const std::exception& e) {
        problem = file + ": no update package, or a damaged one";
        updaterText = ErrorText(e.what());
    }
    Error(problem, updaterText);
    return false;
}

Signer PackageSigner(const std::string& file) {
    std::unique_ptr<FileHandle> handle = Fs().open(UpdaterPath(file), OpenMode::ReadShared);
    return handle ? CheckSigner(*handle, true) : Signer{};
}

namespace {

const char* Verdict(SignerState state) {
    return state == SignerState::Matches    ? "matches the file"
           : state == SignerState::Mismatch ? "does NOT match the file (changed after signing)"
                                            : "cannot be verified here";
}

}  // namespace

std::string SignerText(const Signer& signer) {
    if (signer.state == SignerState::Unsigned) return {};
    if (signer.state == SignerState::Unreadable)
        return "the certificate table holds no Authenticode signature that can be read";
    return "signed by \"" + Cp1252ToUtf8(signer.subject) + "\", SHA-256 thumbprint " + signer.thumbprint + "; the signature " +
           Verdict(signer.state);
}

int CommandSigner(const std::string& file) {
    if (!Fs().open(UpdaterPath(file), OpenMode::ReadShared)) {
        Error(file + ": cannot be opened");
        return kExitDamaged;
    }
    Signer signer = PackageSigner(file);
    if (signer.state == SignerState::Unsigned || signer.state == SignerState::Unreadable) {
        Error(file + ": " + (signer.state == SignerState::Unsigned ? "not signed" : SignerText(signer)));
        return kExitDamaged;
    }
    std::printf("subject: %s\nthumbprint (SHA-256, upper case): %s\nsignature: %s\n", Cp1252ToUtf8(signer.subject).c_str(),
                signer.thumbprint.c_str(), Verdict(signer.state));
    std::printf("pin it on a target machine (in the 32-bit view, which both updaters read):\n"
                "reg add \"HKLM\\Software\\Mevo\\Tarnix.exe\" /v UpdateSigner /t REG_SZ /d %s /reg:32 /f\n",
                signer.thumbprint.c_str());
    return signer.state == SignerState::Matches ? kExitOk : kExitDamaged;
}

int CommandList(const std::string& file, bool json) {
    TArchive archive;
    std::string problem, updaterText;
    if (!OpenForReading(file, archive, problem, updaterText)) {
        if (json) PrintOpenErrorJson("file", file, problem, updaterText);
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
        Signer signer = PackageSigner(file);
        ControlFileFacts control;
        try {
            control = LintControlFile(archive.readLines(kControlFileName));
        } catch (const std::exception&) {
            // A package without a readable update.ini lists its entries all the same.
        }
        PrintListJson(file, entries, &signer, &control);
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

std::string InflateProblem(const TArchive& archive, std::int32_t index, std::string& warning,
                           std::string& updaterText) {
    const TPackedFile& e = archive.entryAt(index);
    warning.clear();
    updaterText.clear();
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
        updaterText = ex.what();
        return "cannot be inflated";
    }
}

int CommandTest(const std::string& file, const ReleaseBases* bases) {
    TArchive archive;
    if (!Open(file, archive)) return kExitDamaged;
    int damaged = 0, warnings = 0, patches = 0, refused = 0;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const TPackedFile& e = archive.entryAt(i);
        std::string warning, updaterText, problem = InflateProblem(archive, i, warning, updaterText);
        updaterText = ErrorText(updaterText);
        if (problem.empty() && IsPatchEntryName(e.name)) problem = PatchEntryProblem(archive, i, updaterText);
        if (!warning.empty()) {
            ++warnings;
            std::fprintf(stderr, "mkupdate: warning: %s: %s\n", Cp1252ToUtf8(e.name).c_str(), warning.c_str());
        }
        bool onBase = problem.empty() && bases && !bases->empty() && IsPatchEntryName(e.name);
        patches += onBase ? 1 : 0;
        if (onBase && !TestOnBase(archive, i, *bases, warnings)) ++refused;
        if (problem.empty()) continue;
        ++damaged;
        Error(Cp1252ToUtf8(e.name) + ": " + problem, updaterText);
    }
    std::printf("%d entries, %d damaged", archive.entryCount(), damaged);
    if (patches > 0) std::printf(", %d of %d patch(es) wrong for the old release", refused, patches);
    if (warnings > 0) std::printf(", %d warning(s)", warnings);
    std::printf("\n");
    return damaged == 0 && refused == 0 ? kExitOk : kExitDamaged;
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
    std::string made;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        std::string problem = ExtractEntry(archive, i, target, made);
        if (problem.empty()) {
            ++extracted;
            continue;
        }
        ++failed;
        Error(Cp1252ToUtf8(archive.entryAt(i).name) + ": " + problem);
    }
    std::printf("%d entries extracted, %d not\n", extracted, failed);
    return failed == 0 ? kExitOk : kExitDamaged;
}
