// The sinks that staging inflates through: for an entry's own bytes
// (StagedEntries.cpp) and for the new file that a patch entry builds
// (StagedPatch.cpp).
#pragma once

#include <cstdint>

#include "archive/Decompress.h"
#include "archive/Patch.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"

// Writes the staged file while it can. After a failed write, or without a
// file (nullptr), it goes on taking bytes without writing them, so that the
// check of the entry is completed. The CRC-32 of what it wrote is the one
// that the file must read back with once it is in place. Every
// kFlushAheadBytes written, the system is asked to start writing them to the
// disk: a large file is then mostly there when the staged files are flushed,
// instead of the whole of it being written while the run waits.
class StagingSink final : public ByteSink {
public:
    static constexpr std::size_t kFlushAheadBytes = std::size_t(8) << 20;
    explicit StagingSink(FileHandle* file) : file_(file), failed_(file == nullptr) {}
    bool put(const unsigned char* data, std::size_t count) override {
        if (!failed_ && file_->write(data, std::int64_t(count)) != std::int64_t(count)) failed_ = true;
        if (failed_) return true;
        crc = Crc32(crc, data, count);
        unflushed_ += count;
        if (unflushed_ >= kFlushAheadBytes) file_->flushAhead(), unflushed_ = 0;
        return true;
    }
    bool failed() const { return failed_; }
    std::uint32_t crc = 0;

private:
    FileHandle* file_;
    bool failed_;
    std::size_t unflushed_ = 0;  // bytes written since the last flushAhead
};

// Hands the bytes on and counts them, for the entry and for the run's progress.
class CountingSink final : public ByteSink {
public:
    explicit CountingSink(ByteSink& next) : next_(next) {}
    bool put(const unsigned char* data, std::size_t count) override {
        total += count;
        Progress().advance(count);
        return next_.put(data, count);
    }
    std::uint64_t total = 0;

private:
    ByteSink& next_;
};
