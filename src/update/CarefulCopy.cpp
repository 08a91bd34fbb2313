#include "update/CarefulCopy.h"

#include <memory>
#include <new>
#include <vector>

#include "archive/Archive.h"
#include "base/Exception.h"
#include "base/Text.h"
#include "env/MessageBoxes.h"
#include "env/System.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "update/Folders.h"

namespace {

enum class Decision { Copy, Leave, Cancel };

[[noreturn]] void RaiseIoError() { RaiseLastIoError(); }

std::uint32_t WithArchive(std::uint32_t attributes) {
    return (attributes & ~std::uint32_t(kAttrNormal)) | kAttrArchive;
}

void AddArchiveAttribute(const std::string& path) {
    std::uint32_t attributes = Fs().attributes(path);
    if (attributes != kAttrInvalid) Fs().setAttributes(path, WithArchive(attributes));
}

// Both found by a directory search, equal in size and equal in stamp within the tolerance.
bool DestinationCurrent(const std::string& source, const std::string& destination) {
    FindData src, dst;
    if (!Fs().findFirst(source, src) || !Fs().findFirst(destination, dst)) return false;
    return src.size == dst.size && CompareFileDates(dst.dosDate, src.dosDate) == 0;
}

std::vector<char> Buffer(std::size_t size) {
    try {
        return std::vector<char>(size);
    } catch (const std::bad_alloc&) {
        throw EAbort();
    }
}

// Compares two files of equal size block by block; both are left at position 0.
bool SameContent(FileHandle& a, FileHandle& b) {
    std::vector<char> left = Buffer(kCopyBlockSize), right = Buffer(kCopyBlockSize);
    if (!a.seek(0) || !b.seek(0)) RaiseIoError();
    bool same = true;
    for (;;) {
        std::int64_t gotA = a.read(left.data(), std::int64_t(left.size()));
        std::int64_t gotB = b.read(right.data(), std::int64_t(right.size()));
        if (gotA < 0 || gotB < 0) RaiseIoError();
        if (gotA != gotB || std::char_traits<char>::compare(left.data(), right.data(), std::size_t(gotA)) != 0) {
            same = false;
            break;
        }
        if (gotA == 0) break;
    }
    if (!a.seek(0) || !b.seek(0)) RaiseIoError();
    return same;
}

std::string OverwriteQuestion(const std::string& source, const std::string& destination, std::int32_t srcStamp,
                              std::int32_t dstStamp, std::int64_t srcSize, std::int64_t dstSize) {
    // Built in place: a chain of "+" makes a string for each step.
    std::string text = destination;
    text.append(dstStamp > srcStamp ? "\rist jünger!" : "\rhat eine andere Dateigröße.")
        .append("\r\rSoll die vorhandene Datei vom\r  ")
        .append(FileDateText(destination))
        .append(" (")
        .append(FormatThousands(dstSize))
        .append(" Bytes)\rdurch diejenige vom\r  ")
        .append(FileDateText(source))
        .append(" (")
        .append(FormatThousands(srcSize))
        .append(" Bytes)\rüberschrieben werden?");
    return text;
}

// The destination exists and opened for writing.
Decision DecideAgainstOpen(FileHandle& src, FileHandle& dst, std::int32_t srcStamp, const std::string& source,
                           const std::string& destination) {
    std::int32_t dstStamp = dst.dosDate();
    AddArchiveAttribute(destination);
    int c = CompareFileDates(dstStamp, srcStamp);
    std::int64_t srcSize = src.size(), dstSize = dst.size();
    if (c < 0) return Decision::Copy;
    if (srcSize == dstSize && c == 0) return Decision::Leave;
    if (dstSize == 0) return Decision::Copy;
    if (srcSize == dstSize && SameContent(src, dst)) {
        dst.setDosDate(srcStamp);
        return Decision::Leave;
    }
    int answer = ConfirmYesNoCancelAll(OverwriteQuestion(source, destination, srcStamp, dstStamp, srcSize, dstSize));
    if (answer == kAnswerCancel) return Decision::Cancel;
    if (answer == kAnswerYes || answer == kAnswerAll) return Decision::Copy;
    return Decision::Leave;
}

// The destination is missing, in use or write-protected: a file named like it
// with "_" as last character (FONT.TT_ beside FONT.TTF) stands in for its stamp.
Decision DecideBySibling(std::int32_t srcStamp, const std::string& destination) {
    std::string sibling = destination;
    if (!sibling.empty()) sibling.back() = '_';
    std::int32_t stamp = FileDateOf(sibling);
    if (stamp < srcStamp) return Decision::Copy;
    if (stamp == srcStamp) return Decision::Leave;
    int answer = AskYesNoCancel(destination + " jünger!\r\rTrotzdem kopieren?");
    if (answer == kAnswerCancel) return Decision::Cancel;
    return answer == kAnswerYes ? Decision::Copy : Decision::Leave;
}

Decision Decide(FileHandle& src, std::int32_t srcStamp, const std::string& source, const std::string& destination) {
    std::unique_ptr<FileHandle> dst = Fs().open(destination, OpenMode::ReadWrite);
    if (!dst) return DecideBySibling(srcStamp, destination);
    return DecideAgainstOpen(src, *dst, srcStamp, source, destination);
}

// Renames the copy over the destination, whose attributes it takes over (with
// the archive attribute added). A write-protected destination may not be
// replaced, whatever the rename would allow.
bool CommitCopy(TempFile& copy, const std::string& destination, std::int32_t stamp) {
    std::uint32_t previous = Fs().attributes(destination);
    if (previous != kAttrInvalid && (previous & (kAttrReadOnly | kAttrDirectory))) return false;
    if (!copy.commit(destination, stamp)) return false;
    if (previous != kAttrInvalid) Fs().setAttributes(destination, WithArchive(previous));
    return true;
}

int CopyInto(FileHandle& src, const std::string& source, const std::string& destination, std::int32_t stamp) {
    RemoveLeftoverTemporaries(FolderPart(destination), {destination});  // what a killed copy left
    TempFile temp(destination, TempKind::Copy);
    if (!temp.file()) return kCopyFailed;
    std::vector<char> buffer = Buffer(kCopyBlockSize);
    if (!src.seek(0)) RaiseIoError();
    for (;;) {
        Ui().pumpMessages();
        std::int64_t got = src.read(buffer.data(), std::int64_t(buffer.size()));
        if (got < 0) RaiseIoError();
        if (got == 0) break;
        std::int64_t put = temp.file()->write(buffer.data(), got);
        if (put < 0) RaiseIoError();
        if (put < got) {
            ShowInfo(source + " nicht kopiert!");
            return kCopyFailed;
        }
    }
    return CommitCopy(temp, destination, stamp) ? kCopyDone : kCopyFailed;
}

}  // namespace

int CopyFileChecked(const std::string& source, const std::string& destination, std::uint8_t mode,
                    std::int32_t minimumStamp) {
    if (DestinationCurrent(source, destination)) {
        AddArchiveAttribute(destination);
        Ui().pumpMessages();
        return kCopyDone;
    }
    if (!FileExists(source)) return kCopyFailed;
    std::unique_ptr<FileHandle> src = openReadOnly(source);
    if (!src) return kCopyFailed;
    std::int32_t srcStamp = src->dosDate();
    Decision decision = Decide(*src, srcStamp, source, destination);
    if (decision == Decision::Copy)
        return CopyInto(*src, source, destination, srcStamp > minimumStamp ? srcStamp : minimumStamp);
    Ui().pumpMessages();
    return decision == Decision::Cancel ? kCopyCancelled : kCopyDone;
}
