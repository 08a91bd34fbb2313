#include "archive/ArchiveWriter.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <zlib.h>

#include "base/ByteReader.h"
#include "base/Text.h"

std::string CompressZlib(const void* data, std::size_t size, int level) {
    uLongf bound = compressBound(static_cast<uLong>(size));
    std::string out(bound, '\0');
    int rc = compress2(reinterpret_cast<Bytef*>(out.data()), &bound, static_cast<const Bytef*>(data),
                       static_cast<uLong>(size), level);
    if (rc != Z_OK) throw Exception("compress failed (" + DecimalText(rc) + ")");
    out.resize(bound);
    return out;
}

ArchiveWriter::ArchiveWriter(std::ostream& out, std::int32_t baseOffset, std::int32_t segmentSize)
    : out_(out), base_(baseOffset), segmentSize_(segmentSize) {}

std::size_t ArchiveWriter::declare(const std::string& name, std::int32_t fileDate) {
    if (dataStarted_) throw Exception("archive writer: entries must be declared before data");
    if (name.size() > kMaxNameLength) throw Exception("name longer than 127 bytes: " + name);
    entries_.push_back(Entry{name, fileDate});
    return entries_.size() - 1;
}

void ArchiveWriter::addSegment(std::size_t index, const std::string& zlibStream, std::int64_t unpackedBytes) {
    if (index >= entries_.size()) throw Exception("archive writer: no such entry");
    Entry& e = entries_[index];
    if (!dataStarted_) {
        // Reserve the directory: its header and records follow from the names.
        std::int64_t dirSize = kDirectoryHeaderSize;
        for (const Entry& d : entries_) dirSize += kEntryFixedSize + std::int64_t(d.name.size());
        out_.write(std::string(static_cast<std::size_t>(dirSize), '\0').data(), dirSize);
        position_ = dirSize;
        dataStarted_ = true;
    }
    if (e.segments > 0 && lastIndex_ != index) throw Exception("archive writer: segments of one entry must be contiguous");
    if (e.segments == 0) e.dataOffset = position_;
    std::string head;
    putU32(head, static_cast<std::uint32_t>(zlibStream.size()));
    out_.write(head.data(), 4);
    out_.write(zlibStream.data(), std::streamsize(zlibStream.size()));
    position_ += 4 + std::int64_t(zlibStream.size());
    if (std::int64_t(base_) + position_ + kTailSize > INT32_MAX)
        throw Exception("the archive would exceed the format's limit of 2 GiB");
    e.stored = position_ - e.dataOffset;
    e.unpacked += unpackedBytes;
    ++e.segments;
    lastIndex_ = index;
}

void ArchiveWriter::addContent(std::size_t index, const std::string& content, std::size_t maxSegment, int level) {
    if (maxSegment == 0) maxSegment = static_cast<std::size_t>(segmentSize_);
    std::size_t at = 0;
    do {
        std::size_t n = std::min(maxSegment, content.size() - at);
        addSegment(index, CompressZlib(content.data() + at, n, level), std::int64_t(n));
        at += n;
    } while (at < content.size());
}

void ArchiveWriter::overrideStoredSize(std::size_t index, std::int32_t storedSize) {
    entries_.at(index).storedOverridden = true;
    entries_.at(index).storedOverride = storedSize;
}

void ArchiveWriter::writeDirectory() {
    std::string dir;
    std::int64_t dirSize = kDirectoryHeaderSize;
    for (const Entry& e : entries_) dirSize += kEntryFixedSize + std::int64_t(e.name.size());
    putU32(dir, static_cast<std::uint32_t>(dirSize));
    putU32(dir, static_cast<std::uint32_t>(entries_.size()));
    putU32(dir, static_cast<std::uint32_t>(segmentSize_));
    for (const Entry& e : entries_) {
        // One segment stores its length S; several store the walk's end minus 4,
        // which lies inside the range that every reader accepts.
        std::int64_t stored = e.stored - 4;
        if (e.storedOverridden) stored = e.storedOverride;
        putU32(dir, static_cast<std::uint32_t>(e.name.size()));
        putU32(dir, static_cast<std::uint32_t>(e.dataOffset));
        putU32(dir, static_cast<std::uint32_t>(e.unpacked));
        putU32(dir, static_cast<std::uint32_t>(stored));
        putU32(dir, static_cast<std::uint32_t>(e.date));
        dir += e.name;
    }
    out_.write(dir.data(), std::streamsize(dir.size()));
}

std::int64_t ArchiveWriter::finish(bool withTail) {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].segments == 0) throw Exception("archive writer: entry without data: " + entries_[i].name);
    if (!dataStarted_) {
        // No entries at all: the directory is the header alone.
        position_ = kDirectoryHeaderSize;
        out_.write(std::string(kDirectoryHeaderSize, '\0').data(), kDirectoryHeaderSize);
        dataStarted_ = true;
    }
    std::streampos end = out_.tellp();
    out_.seekp(end - std::streamoff(position_));
    writeDirectory();
    out_.seekp(end);
    if (withTail) {
        std::string tail;
        putU32(tail, static_cast<std::uint32_t>(base_));
        putU32(tail, static_cast<std::uint32_t>(kArchiveMagic));
        out_.write(tail.data(), kTailSize);
    }
    if (!out_) throw Exception("archive writer: write failed");
    return position_ + (withTail ? kTailSize : 0);
}
