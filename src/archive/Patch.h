// The data of a patch entry (pat\<Section>\<path>; layout in ArchiveFormat.h):
// the reader that turns one exact installed file into the new one while the
// entry is inflated. It reads the old file through a few blocks of fixed size
// and hands the new file on as it is built, so memory stays bounded whatever
// the sizes of the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/ArchiveFormat.h"
#include "archive/Decompress.h"
#include "env/Text.h"

class FileHandle;

struct PatchHeader {
    std::int32_t oldSize = 0;
    std::uint32_t oldCrc = 0;
    std::int32_t newSize = 0;
    std::uint32_t newCrc = 0;
    bool sparse = false;      // PAT2: diff bytes as tokens (ArchiveFormat.h)
    bool references = false;  // PAT3: PAT2 with a layout whose references are predicted
    bool streams = false;     // PAT4: PAT3 in three streams (a layout of length 0: none)
};

// Whether `name` is that of a patch entry ("pat\" in any letter case).
inline bool IsPatchEntryName(const std::string& name) { return StartsWithText("pat\\", name); }
// The header from the first bytes of a patch; false when they are too few,
// lack the magic or give a negative size.
bool ReadPatchHeader(const unsigned char* data, std::size_t size, PatchHeader& out);
// The header's bytes, for the tool that makes patches.
std::string PatchHeaderBytes(const PatchHeader& header);
// The CRC-32 of a block, continuing `crc` (0 for the first block).
std::uint32_t Crc32(std::uint32_t crc, const unsigned char* data, std::size_t size);

// The file a patch applies to.
class PatchBase {
public:
    virtual ~PatchBase() = default;
    virtual std::int64_t size() = 0;
    // Exactly `count` bytes from `position`, or false.
    virtual bool read(std::int64_t position, unsigned char* buffer, std::size_t count) = 0;
};

// An open file, read with seeks.
class HandlePatchBase final : public PatchBase {
public:
    explicit HandlePatchBase(FileHandle& file) : file_(file) {}
    std::int64_t size() override;
    bool read(std::int64_t position, unsigned char* buffer, std::size_t count) override;

private:
    FileHandle& file_;
};

// Bytes in memory.
class BufferPatchBase final : public PatchBase {
public:
    BufferPatchBase(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    std::int64_t size() override { return std::int64_t(size_); }
    bool read(std::int64_t position, unsigned char* buffer, std::size_t count) override;

private:
    const unsigned char* data_;
    std::size_t size_;
};

enum class PatchOutcome {
    Built,       // the new file is complete, its size and CRC-32 as the header says
    BaseDiffers, // the old file is not the one the patch was made for
    BaseUnreadable,  // the old file cannot be read
    Damaged,     // the patch itself is faulty or cut short
    NotTaken,    // the sink refused bytes
};

// Takes the inflated data of a patch entry, piece by piece, and hands the new
// file to `out`. Whatever the form, it holds at most one decoded piece of
// 64 KiB per stream of a PAT4 patch (the one stream's for PAT1 to PAT3), three
// inflaters, two more blocks of 64 KiB and the old file's blocks (256 KiB),
// besides a PAT3 or PAT4 layout's memory (PatchReferences.h). With `base` nullptr it checks the patch's structure alone:
// the old file is taken as zero bytes of the size in the header and neither
// CRC-32 is compared (what `mkupdate test` can check without the old file).
class PatchApplier final : public ByteSink {
public:
    PatchApplier(PatchBase* base, ByteSink& out);
    ~PatchApplier() override;
    PatchApplier(const PatchApplier&) = delete;
    PatchApplier& operator=(const PatchApplier&) = delete;

    // False once the patch failed (see finish).
    bool put(const unsigned char* data, std::size_t count) override;
    // After the last byte of the entry: what the patch came to.
    PatchOutcome finish();
    // Why it failed, in German; empty when it did not.
    const char* problem() const { return problem_; }
    const PatchHeader& header() const { return header_; }
    std::uint64_t taken() const { return taken_; }      // bytes of patch data received
    std::uint64_t written() const { return written_; }  // bytes of the new file handed on

private:
    enum class Step { Header, LayoutSize, Layout, Control, Diff, Extra, Failed };

    bool fail(PatchOutcome outcome, const char* problem);
    bool start();
    bool checkBase();
    bool consumeStep(const unsigned char* data, std::size_t count, std::size_t& used);
    bool takeChunks(const unsigned char* data, std::size_t count);
    bool inflateChunk(const unsigned char* data, std::size_t count);
    bool takeStreams();
    bool streamsDone() const;
    bool takeControl(const unsigned char* data, std::size_t count, std::size_t& used);
    bool beginRecord();
    bool takeLayout(const unsigned char* data, std::size_t count, std::size_t& used);
    bool takeDiff(const unsigned char* data, std::size_t count);
    bool takeTokens(const unsigned char* data, std::size_t count, std::size_t& used);
    bool emit(const unsigned char* data, std::size_t count);
    bool readBase(std::int64_t position, unsigned char* buffer, std::size_t count);
    bool takePending(const unsigned char* data, std::size_t count, std::size_t want, std::size_t& used);

    PatchBase* base_;
    ByteSink& out_;
    PatchHeader header_;
    Step step_ = Step::Header;
    PatchOutcome outcome_ = PatchOutcome::Built;
    const char* problem_ = "";
    // The header or a control record while it is incomplete.
    unsigned char pending_[kPatchHeaderSize] = {};
    std::size_t pendingSize_ = 0;
    // One block each: inflated records, diff runs added to the old bytes (and
    // the old file's CRC-32 check), diff bytes expanded from PAT2 tokens.
    std::unique_ptr<unsigned char[]> buffers_;
    unsigned char* inflated_;
    unsigned char* work_;
    unsigned char* tokens_;  // PAT2: the diff bytes that tokens stand for
    bool literal_ = false;   // PAT2: the next token byte is a diff byte
    class Blocks;            // the old file's blocks that diff runs read
    std::unique_ptr<Blocks> blocks_;
    struct Stream;
    Stream* stream_ = nullptr;  // PAT4's three; PAT1 to PAT3 use the first
    // PAT4: the chunk that comes in, after its head of chunkHead_ bytes (PAT1 to PAT3: stream 0).
    std::uint32_t chunkHead_ = 0, chunkStream_ = 0, chunkLeft_ = 0;
    std::uint32_t number_ = 0, shift_ = 0;  // PAT4: the control record's number that comes in
    struct References;  // PAT3: the layout and the old file's references
    std::unique_ptr<References> references_;
    std::uint32_t diffLeft_ = 0, extraLeft_ = 0;
    std::int32_t seek_ = 0;
    std::int64_t basePosition_ = 0;
    std::uint32_t crc_ = 0;
    std::uint64_t taken_ = 0, written_ = 0;
};
