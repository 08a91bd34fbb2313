// TArchive: the updater's only access to the update archive (layout in
// ArchiveFormat.h). Opening takes one handle on the file that others may read
// but not write, rename or delete, and keeps it for the archive's life: the
// directory, every entry and the publisher check's digest are read through it,
// so the bytes checked are the bytes used, whatever happens to the file's name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/Decompress.h"
#include "base/StringList.h"
#include "platform/FileSystem.h"

// What walking a whole entry came to.
enum class StreamResult {
    Complete,    // every segment inflated and handed on
    Unreadable,  // the archive could not be opened, or a segment is cut short
    NotTaken,    // the sink refused bytes (a short write)
};

// One directory entry.
class TPackedFile {
public:
    std::int32_t nameLength = 0;
    std::int32_t dataOffset = 0;    // first segment, relative to the archive's base
    std::int32_t unpackedSize = 0;  // informational only
    std::int32_t storedSize = 0;    // bounds the segment walk
    std::int32_t date = 0;          // MS-DOS stamp, local time
    std::string name;               // as stored: no case folding, backslashes kept

    std::int32_t fileDate() const { return date; }
};

class TArchive {
public:
    TArchive() = default;
    virtual ~TArchive() = default;
    TArchive(const TArchive&) = delete;
    TArchive& operator=(const TArchive&) = delete;

    // The archive appended to the running executable. False when its tail has no
    // magic, neither at the end of the file nor, for a signed executable, before
    // its certificate table (Signature.h); the file is then let go. Raises, with
    // Windows' reason, when the file cannot be opened so that others cannot
    // write it (someone holds it open for writing).
    bool openAttached();
    bool openAttached(const std::string& executablePath);
    // A stand-alone archive, directory at offset 0. Raises on failure.
    void openFile(const std::string& path);
    // The handle the archive was opened with; nullptr before.
    FileHandle* file() const { return file_.get(); }

    std::int32_t entryCount() const { return static_cast<std::int32_t>(entries.size()); }
    const TPackedFile& entryAt(std::int32_t index) const { return *entries[static_cast<std::size_t>(index)]; }

    // Segment form: inflates the segment at `position` into `buffer` and advances
    // the position (-1 once the entry is complete). Returns the byte count, or -1
    // when the archive is not open or the segment is cut short.
    std::int32_t readBuffer(std::int32_t index, std::int32_t& position, std::vector<unsigned char>& buffer) const;
    // Whole-entry form: the single segment of the named entry, with one 0 byte
    // appended when `zeroTerminate` is set.
    std::int32_t readBuffer(const std::string& name, std::vector<unsigned char>& buffer, bool zeroTerminate) const;
    StringList readLines(const std::string& name) const;
    // Inflates the whole entry into `sink`, through the fixed buffers of
    // `inflater`: memory stays bounded whatever the size of a segment. Raises
    // as the segment form does.
    StreamResult streamEntry(std::int32_t index, ByteSink& sink, SegmentInflater& inflater) const;
    // Inflates the whole entry into an open file as it goes; true when it is
    // complete and every byte was written. `crc`, when given, receives the
    // CRC-32 of the bytes written. One inflater serves every entry of the
    // archive (a fresh stream for each segment), so that extracting many small
    // entries does not set up zlib and its buffers again for each.
    bool inflateInto(std::int32_t index, FileHandle& file, std::uint32_t* crc = nullptr) const;
    // Writes the whole entry to `target` and stamps it with the entry's date.
    // The target's folder must exist. An existing target is replaced only when
    // the new content is complete; on failure it stays as it was. `crc` as for inflateInto.
    // `Extraction::ToFolder` (unpacking into a folder): a new file is written
    // under its own name, created only where nothing has the name (not even a
    // link), removed when it cannot be completed, and not flushed: nothing
    // relies on it, and no other file is at stake (a killed run may leave it
    // cut short, as tar and unzip do). Where the name is taken, the file goes
    // through a temporary file and is flushed before it replaces the other,
    // so that a power cut cannot leave the rename without the data.
    enum class Extraction { Durable, ToFolder };
    bool extractFile(std::int32_t index, const std::string& target, std::uint32_t* crc = nullptr,
                     Extraction how = Extraction::Durable) const;

    // Whether the stored extent of entry `index` (dataOffset, storedSize bytes)
    // overlaps that of another entry: the mark of a stored size or data offset
    // that was damaged so that the walk takes in segments of another entry,
    // which inflate without an error.
    bool overlapsAnotherEntry(std::int32_t index) const;

    // Index of the first entry whose name equals `name` ignoring case; -1 when none.
    std::int32_t indexOf(const std::string& name) const;

    std::vector<std::unique_ptr<TPackedFile>> entries;
    std::int32_t baseOffset = 0;
    std::string archiveFileName;
    std::int32_t segmentSize = 0;

private:
    // Opens `path` as the archive's file and returns its size.
    std::int64_t openHandle(const std::string& path);
    void readDirectory(FileHandle& file, std::int64_t fileSize);
    // Positions `file` at the segment of `e` that starts at `position` and reads
    // its length. Raises the segment-start and seek messages; false when the
    // length field or the segment itself is cut short by the end of the file.
    bool segmentAt(FileHandle& file, std::int64_t fileSize, const TPackedFile& e, std::int32_t position,
                   std::int32_t& length) const;

    std::unique_ptr<FileHandle> file_;
    std::int64_t fileSize_ = 0;  // the handle denies writers: the size stays
    mutable std::unique_ptr<SegmentInflater> inflater_;
};

// Opens an existing file for reading only, sharing it with others; nullptr on failure.
std::unique_ptr<class FileHandle> openReadOnly(const std::string& path);

// Splits text into lines at CR LF, CR alone or LF alone; a terminator at the
// very end makes no extra empty line.
StringList SplitLines(const char* text, std::size_t length);
