#include "archive/Archive.h"

#include <algorithm>
#include <cstring>

#include "archive/ArchiveFormat.h"
#include "archive/Decompress.h"
#include "archive/Patch.h"
#include "archive/Signature.h"
#include "base/ByteReader.h"
#include "base/Exception.h"
#include "base/Text.h"
#include "env/System.h"
#include "env/Text.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "platform/SystemInfo.h"

namespace {

const char* const kCannotLoad = "Daten können nicht geladen werden.";

[[noreturn]] void CannotLoad(int variant) {
    throw Exception(std::string(kCannotLoad) + " (" + DecimalText(variant) + ")");
}

std::string Hex8(std::int32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out(8, '0');
    std::uint32_t u = static_cast<std::uint32_t>(v);
    for (int i = 7; i >= 0; --i, u >>= 4) out[std::size_t(i)] = digits[u & 0xF];
    return out;
}

// A read of the archive: the byte count, which may fall short at the end of
// the file; a read that fails in the system raises the input/output error.
std::int64_t ReadFrom(FileHandle& file, void* buffer, std::int64_t count) {
    std::int64_t got = file.read(buffer, count);
    if (got < 0) RaiseLastIoError();
    return got;
}

}  // namespace

std::unique_ptr<FileHandle> openReadOnly(const std::string& path) { return Fs().open(path, OpenMode::ReadShared); }

bool TArchive::openAttached() { return openAttached(Sys().moduleFileName()); }

std::int64_t TArchive::openHandle(const std::string& path) {
    file_ = Fs().open(path, OpenMode::ReadDenyWrite);
    if (!file_) throw Exception(path + " kann nicht geöffnet werden." + FailureReason(Fs().lastError()));
    archiveFileName = path;
    fileSize_ = file_->size();
    return fileSize_;
}

bool TArchive::openAttached(const std::string& executablePath) {
    std::int64_t size = openHandle(executablePath);
    FileHandle& file = *file_;
    if (size < kTailSize || !file.seek(size - kTailSize)) throw Exception("seek failed (0)");
    unsigned char tail[kTailSize];
    if (ReadFrom(file, tail, kTailSize) != kTailSize) throw Exception("Lesefehler Tail");
    // A signed updater's archive ends where its certificate table begins, and
    // nothing is read beyond: the signature leaves the table out, so bytes put
    // there after signing, another archive among them, are no part of the package.
    CertificateTable table;
    bool found = true;
    if (FindCertificateTable(file, size, table)) {
        found = ReadTailBeforeCertificates(file, size, tail);
        size = table.offset;
    } else {
        found = static_cast<std::int32_t>(getU32(tail + 4)) == kArchiveMagic;
    }
    if (!found) {
        file_.reset();
        return false;
    }
    baseOffset = static_cast<std::int32_t>(getU32(tail));
    if (baseOffset < 0 || !file.seek(baseOffset)) throw Exception("seek failed (1)");
    readDirectory(file, size);
    return true;
}

void TArchive::openFile(const std::string& path) {
    baseOffset = 0;
    std::int64_t size = openHandle(path);
    readDirectory(*file_, size);
}

// The file stands at baseOffset. Nothing is added to `entries` unless the whole
// directory is sound: a directory that contradicts itself or the file is refused
// before anything is allocated from its numbers.
void TArchive::readDirectory(FileHandle& file, std::int64_t fileSize) {
    unsigned char head[4];
    if (ReadFrom(file, head, 4) != 4) CannotLoad(3);
    std::int32_t dirSize = static_cast<std::int32_t>(getU32(head));
    std::int64_t available = fileSize - baseOffset;
    if (dirSize < kDirectoryHeaderSize) CannotLoad(4);
    if (dirSize > available) CannotLoad(2);

    std::vector<unsigned char> block(static_cast<std::size_t>(dirSize - 4));
    if (ReadFrom(file, block.data(), std::int64_t(block.size())) != std::int64_t(block.size())) CannotLoad(2);

    ByteReader reader(block.data(), block.size());
    std::int32_t count = 0, segSize = 0;
    reader.readS32(count);
    reader.readS32(segSize);
    if (count > 0 && static_cast<std::size_t>(count) > reader.remaining() / kEntryFixedSize) CannotLoad(5);

    std::vector<std::unique_ptr<TPackedFile>> parsed;
    parsed.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (std::int32_t i = 0; i < count; ++i) {
        auto entry = std::make_unique<TPackedFile>();
        std::uint32_t date = 0;
        if (!reader.readS32(entry->nameLength) || !reader.readS32(entry->dataOffset) ||
            !reader.readS32(entry->unpackedSize) || !reader.readS32(entry->storedSize) || !reader.readU32(date))
            CannotLoad(5);
        entry->date = static_cast<std::int32_t>(date);
        std::size_t length = static_cast<std::uint32_t>(entry->nameLength) & 0xFF;
        if (length > kMaxNameLength || !reader.readBytes(length, entry->name)) CannotLoad(5);
        if (entry->dataOffset < 0 || entry->dataOffset > available) CannotLoad(6);
        parsed.push_back(std::move(entry));
    }
    // The records fill the directory exactly (D = 12 + the sum of 20 + L): a
    // count or a size that was damaged does not pass for a shorter directory.
    if (reader.remaining() != 0) CannotLoad(5);
    segmentSize = segSize;
    for (auto& entry : parsed) entries.push_back(std::move(entry));
}

bool TArchive::segmentAt(FileHandle& file, std::int64_t fileSize, const TPackedFile& e, std::int32_t position,
                         std::int32_t& length) const {
    // The texts are built in place: a chain of "+" makes a string for each step.
    std::string text;
    if (position > e.storedSize) {
        text.append("readBuffer:\r").append(e.name).append("\rSegmentstart ").append(DecimalText(position));
        throw Exception(text.append("\r überschreitet die Gesamtlänge von ").append(DecimalText(e.storedSize)));
    }
    std::int64_t at = std::int64_t(baseOffset) + e.dataOffset + position;
    if (!file.seek(at)) {
        text.append("readBuffer: seek failed\r").append(archiveFileName).append("\r").append(Hex8(e.dataOffset));
        throw Exception(text.append("\r").append(Hex8(baseOffset)));
    }
    unsigned char head[4];
    if (ReadFrom(file, head, 4) != 4) return false;
    length = static_cast<std::int32_t>(getU32(head));
    // A length beyond the end of the file is a segment cut short: nothing is
    // allocated from it.
    return length >= 0 && length <= fileSize - at - 4;
}

namespace {

// The position after the segment of `length` bytes at `position`; -1 once the entry is complete.
std::int32_t NextPosition(const TPackedFile& e, std::int32_t position, std::int32_t length) {
    std::int64_t next = std::int64_t(position) + length + 4;
    return next >= e.storedSize ? -1 : static_cast<std::int32_t>(next);
}

}  // namespace

std::int32_t TArchive::readBuffer(std::int32_t index, std::int32_t& position, std::vector<unsigned char>& buffer) const {
    const TPackedFile& e = entryAt(index);
    std::int64_t inputSize = e.storedSize > 0 ? e.storedSize : 256;
    if (segmentSize < inputSize) inputSize = segmentSize;

    if (!file_) return -1;
    // The first buffer is never larger than the archive file, whatever a
    // damaged directory claims for storedSize and segmentSize.
    const std::int64_t fileSize = fileSize_;
    inputSize = std::min(inputSize, fileSize);
    std::int32_t length = 0;
    if (!segmentAt(*file_, fileSize, e, position, length)) return -1;
    std::vector<unsigned char> input(static_cast<std::size_t>(std::max<std::int64_t>(inputSize, 0)));
    if (length > std::int64_t(input.size())) input.assign(static_cast<std::size_t>(length), 0);
    if (ReadFrom(*file_, input.data(), length) != length) return -1;

    std::vector<unsigned char> output;
    decompressBuffer(input.data(), length, 0, output);
    position = NextPosition(e, position, length);
    buffer.swap(output);
    return static_cast<std::int32_t>(buffer.size());
}

namespace {

// The compressed bytes of a segment, straight from the open archive.
class FileSource final : public ByteSource {
public:
    explicit FileSource(FileHandle& file) : file_(file) {}
    bool read(unsigned char* buffer, std::size_t count) override {
        return ReadFrom(file_, buffer, std::int64_t(count)) == std::int64_t(count);
    }

private:
    FileHandle& file_;
};

}  // namespace

StreamResult TArchive::streamEntry(std::int32_t index, ByteSink& sink, SegmentInflater& inflater) const {
    const TPackedFile& e = entryAt(index);
    FileHandle* file = file_.get();
    if (!file) return StreamResult::Unreadable;
    const std::int64_t fileSize = fileSize_;
    FileSource source(*file);
    for (std::int32_t position = 0; position >= 0;) {
        std::int32_t length = 0;
        if (!segmentAt(*file, fileSize, e, position, length)) return StreamResult::Unreadable;
        InflateResult result = inflater.inflate(source, length, sink);
        if (result == InflateResult::InputShort) return StreamResult::Unreadable;
        if (result == InflateResult::NotTaken) return StreamResult::NotTaken;
        position = NextPosition(e, position, length);
    }
    return StreamResult::Complete;
}

bool TArchive::overlapsAnotherEntry(std::int32_t index) const {
    // An extent of at least one byte: a single segment may record any stored size from 0.
    auto extent = [](const TPackedFile& e, std::int64_t& start, std::int64_t& end) {
        start = e.dataOffset;
        end = start + std::max<std::int32_t>(e.storedSize, 1);
    };
    std::int64_t start = 0, end = 0;
    extent(entryAt(index), start, end);
    for (std::size_t j = 0; j < entries.size(); ++j) {
        if (j == static_cast<std::size_t>(index)) continue;
        std::int64_t otherStart = 0, otherEnd = 0;
        extent(*entries[j], otherStart, otherEnd);
        if (otherStart < end && start < otherEnd) return true;
    }
    return false;
}

std::int32_t TArchive::indexOf(const std::string& name) const {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (SameText(entries[i]->name, name)) return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t TArchive::readBuffer(const std::string& name, std::vector<unsigned char>& buffer, bool zeroTerminate) const {
    std::int32_t index = indexOf(name);
    if (index < 0) throw Exception(name + " nicht im Archiv");
    std::int32_t position = 0;
    std::int32_t count = readBuffer(index, position, buffer);
    if (position != -1) throw Exception(name + "\r unvollständig gelesen.");
    if (zeroTerminate) {
        buffer.push_back(0);
        ++count;
    }
    return count;
}

StringList SplitLines(const char* text, std::size_t length) {
    StringList lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text + start, i - start);
        if (text[i] == '\r' && i + 1 < length && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < length) lines.emplace_back(text + start, length - start);
    return lines;
}

StringList TArchive::readLines(const std::string& name) const {
    std::vector<unsigned char> buffer;
    std::int32_t count = readBuffer(name, buffer, true);
    if (count < 0) throw Exception("readLines: readbuffer failed");
    const char* text = reinterpret_cast<const char*>(buffer.data());
    return SplitLines(text, std::strlen(text));
}

namespace {

// Writes inflated bytes into the temporary file; `crc`, when given, follows
// what it wrote (the zlib stream's own check has vouched for the bytes already:
// the sum is for callers that compare the file with the package's record).
class FileSink final : public ByteSink {
public:
    FileSink(FileHandle& file, std::uint32_t* crc) : file_(file), crc_(crc) {}
    bool put(const unsigned char* data, std::size_t count) override {
        Progress().advance(0);  // the window answers while a large entry is written
        if (crc_) *crc_ = Crc32(*crc_, data, count);
        return file_.write(data, std::int64_t(count)) == std::int64_t(count);
    }

private:
    FileHandle& file_;
    std::uint32_t* crc_;
};

// Whether an existing target may be replaced (true when there is none, and
// `exists` false); a read-only one has its flag cleared first. False for a
// folder or a file in use.
bool TargetReplaceable(const std::string& target, bool& exists) {
    std::uint32_t attributes = Fs().attributes(target);
    exists = attributes != kAttrInvalid;
    if (!exists) return true;
    if (attributes & kAttrDirectory) return false;
    return EvenIfReadOnly(target, [&] { return Fs().open(target, OpenMode::ReadWrite) != nullptr; });
}

}  // namespace

// Segments are inflated straight into the temporary file, so that no segment
// is ever held whole in memory.
bool TArchive::extractFile(std::int32_t index, const std::string& target, std::uint32_t* crc,
                           Extraction how) const {
    const TPackedFile& e = entryAt(index);
    if (how == Extraction::ToFolder) {
        TempFile file(target);
        if (file.file()) return inflateInto(index, *file.file(), crc) && !file.release(e.fileDate(), false).empty();
    }
    bool replaces = false;
    if (!TargetReplaceable(target, replaces)) return false;
    TempFile temp(target, TempKind::Extract);
    if (!temp.file() || !inflateInto(index, *temp.file(), crc)) return false;
    return temp.commit(target, e.fileDate(), how == Extraction::Durable || replaces);
}

bool TArchive::inflateInto(std::int32_t index, FileHandle& file, std::uint32_t* crc) const {
    if (crc) *crc = 0;
    FileSink sink(file, crc);
    if (!inflater_) inflater_ = std::make_unique<SegmentInflater>();
    return streamEntry(index, sink, *inflater_) == StreamResult::Complete;
}
