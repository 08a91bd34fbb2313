#include "archive/Patch.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

#include "archive/ArchiveFormat.h"
#include "archive/PatchReferences.h"
#include "base/ByteReader.h"
#include "platform/FileSystem.h"

namespace {

// Pieces of the new file and of the CRC-32 check of the old one, and PAT4's
// decoded pieces: with the old file's blocks below, the applier's whole working
// memory besides zlib's state (and a PAT3 patch's layout and sites, PatchReferences.h).
constexpr std::size_t kChunk = kPatchPiece;
// The old file's blocks that diff runs read: a load fills at least kLeastLoad
// bytes (fewer only at the file's end), more up to kBlock where the diff run
// goes on.
constexpr std::size_t kBlocks = 16;
constexpr std::size_t kBlock = 16 * 1024;
constexpr std::size_t kLeastLoad = 4096;

// What is wrong with a damaged patch, in three texts: each text adds to update.exe.
const char* const kFaulty = "Patchdaten fehlerhaft";          // zlib, records, data after the end
const char* const kMismatch = "Patch passt nicht zu seinem Kopf";  // outside the old file, another length
const char* const kIncomplete = "Patch unvollständig";

// to[i] += add[i] (modulo 256), a machine word at a time: the low seven bits
// of each byte added apart, so that no carry crosses into the next byte, the top one by xor.
void AddBytes(unsigned char* to, const unsigned char* add, std::size_t count) {
    constexpr std::size_t kWord = sizeof(std::size_t), kTop = std::size_t(-1) / 255 * 0x80;
    std::size_t i = 0;
    for (std::size_t a, b; count - i >= kWord; i += kWord) {
        std::memcpy(&a, to + i, kWord);
        std::memcpy(&b, add + i, kWord);
        a = ((a & ~kTop) + (b & ~kTop)) ^ ((a ^ b) & kTop);
        std::memcpy(to + i, &a, kWord);
    }
    for (; i < count; ++i) to[i] = static_cast<unsigned char>(to[i] + add[i]);
}

}  // namespace

struct PatchApplier::Stream {
    z_stream z{};
    unsigned char* piece = nullptr;  // PAT4: what the stream's last chunk inflated to
    std::size_t filled = 0, read = 0;
    bool ended = false;
};

namespace {

// PAT4: the stream that holds the bytes of a step.
std::size_t StreamOf(int step, int diff, int extra) { return step == diff ? 1 : step == extra ? 2 : 0; }

}  // namespace

// Diff runs read the old file through kBlocks blocks, each loaded from the
// position that no block holds and reloaded when it is the least recently
// used. A diff run loads a block when it starts outside them and then only
// once it has used min(kLeastLoad, what it still needs) bytes of the block it
// loaded last: the loads are at most one per diff run plus one per kLeastLoad
// bytes of the new file, however the records jump about (each record with a
// diff run is at least 13 bytes of the inflated patch).
class PatchApplier::Blocks final : public PatchBase {
public:
    Blocks(PatchBase& base, std::int64_t size) : base_(base), size_(size), memory_(new unsigned char[kBlocks * kBlock]) {}
    std::int64_t size() override { return size_; }
    bool read(std::int64_t position, unsigned char* buffer, std::size_t count) override {
        return read(position, buffer, count, count);
    }
    // `want`: the bytes from `position` on that the caller is still to read.
    bool read(std::int64_t position, unsigned char* buffer, std::size_t count, std::size_t want);

private:
    struct Block {
        std::int64_t start = 0;
        std::size_t length = 0;
        std::uint64_t used = 0;  // when it last served a read
    };
    std::size_t holding(std::int64_t position) const;
    bool load(std::size_t index, std::int64_t position, std::size_t want);

    PatchBase& base_;
    std::int64_t size_;
    std::unique_ptr<unsigned char[]> memory_;
    Block blocks_[kBlocks];
    std::uint64_t clock_ = 0;
};

// The block that holds `position`, or the least recently used one (kBlocks + its index).
std::size_t PatchApplier::Blocks::holding(std::int64_t position) const {
    std::size_t oldest = 0;
    for (std::size_t i = 0; i < kBlocks; ++i) {
        const Block& b = blocks_[i];
        if (position >= b.start && position - b.start < std::int64_t(b.length)) return i;
        if (b.used < blocks_[oldest].used) oldest = i;
    }
    return kBlocks + oldest;
}

bool PatchApplier::Blocks::load(std::size_t index, std::int64_t position, std::size_t want) {
    Block& b = blocks_[index];
    b.start = position;
    b.length = std::size_t(std::min<std::int64_t>(std::int64_t(std::min(kBlock, std::max(kLeastLoad, want))), size_ - position));
    if (base_.read(position, memory_.get() + index * kBlock, b.length)) return true;
    b.length = 0;
    return false;
}

bool PatchApplier::Blocks::read(std::int64_t position, unsigned char* buffer, std::size_t count, std::size_t want) {
    while (count > 0) {
        std::size_t index = holding(position);
        if (index >= kBlocks) {
            index -= kBlocks;
            if (!load(index, position, std::max(count, want))) return false;
        }
        Block& b = blocks_[index];
        b.used = ++clock_;
        const std::size_t offset = std::size_t(position - b.start), piece = std::min(count, b.length - offset);
        std::memcpy(buffer, memory_.get() + index * kBlock + offset, piece);
        buffer += piece;
        position += std::int64_t(piece);
        count -= piece;
        want -= std::min(want, piece);
    }
    return true;
}

struct PatchApplier::References {
    std::string bytes;  // the layout while it comes in
    std::uint32_t size = 0;
    PatchLayout layout;
    ReferenceSites sites;
    PatchRun run;
};

bool ReadPatchHeader(const unsigned char* data, std::size_t size, PatchHeader& out) {
    ByteReader reader(data, size);
    std::uint32_t magic = 0;
    // PAT1 to PAT4.
    if (!reader.readU32(magic) || magic - kPatchMagic > kPatchMagicStreams - kPatchMagic || (magic - kPatchMagic) % 0x1000000)
        return false;
    out.sparse = magic != kPatchMagic;
    out.streams = magic == kPatchMagicStreams;
    out.references = magic == kPatchMagicReferences || out.streams;
    if (!reader.readS32(out.oldSize) || !reader.readU32(out.oldCrc) || !reader.readS32(out.newSize) ||
        !reader.readU32(out.newCrc))
        return false;
    return out.oldSize >= 0 && out.newSize >= 0;
}

std::string PatchHeaderBytes(const PatchHeader& header) {
    std::string bytes;
    putU32(bytes, header.streams ? kPatchMagicStreams : header.references ? kPatchMagicReferences
                                      : header.sparse ? kPatchMagicSparse : kPatchMagic);
    putU32(bytes, std::uint32_t(header.oldSize));
    putU32(bytes, header.oldCrc);
    putU32(bytes, std::uint32_t(header.newSize));
    putU32(bytes, header.newCrc);
    return bytes;
}

std::uint32_t Crc32(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    return std::uint32_t(crc32(crc, data, uInt(size)));
}

std::int64_t HandlePatchBase::size() { return file_.size(); }

bool HandlePatchBase::read(std::int64_t position, unsigned char* buffer, std::size_t count) {
    return file_.seek(position) && file_.read(buffer, std::int64_t(count)) == std::int64_t(count);
}

bool BufferPatchBase::read(std::int64_t position, unsigned char* buffer, std::size_t count) {
    if (position < 0 || std::uint64_t(position) > size_ || count > size_ - std::size_t(position)) return false;
    std::memcpy(buffer, data_ + position, count);
    return true;
}

PatchApplier::PatchApplier(PatchBase* base, ByteSink& out)
    : base_(base), out_(out), buffers_(new unsigned char[5 * kChunk]), inflated_(buffers_.get()),
      work_(inflated_ + kChunk), tokens_(work_ + kChunk) {}

PatchApplier::~PatchApplier() {
    for (std::size_t i = 0; stream_ && i < kPatchStreams; ++i) inflateEnd(&stream_[i].z);
    delete[] stream_;
}

bool PatchApplier::fail(PatchOutcome outcome, const char* problem) {
    step_ = Step::Failed;
    outcome_ = outcome;
    problem_ = problem;
    return false;
}

bool PatchApplier::put(const unsigned char* data, std::size_t count) {
    taken_ += count;
    if (step_ == Step::Failed) return false;
    if (step_ == Step::Header) {
        std::size_t used = 0;
        bool complete = takePending(data, count, kPatchHeaderSize, used);
        data += used;
        count -= used;
        if (!complete) return true;
        if (!start()) return false;
    }
    if (header_.streams) return takeChunks(data, count);
    return inflateChunk(data, count);
}

// The header is complete: the old file is checked before any of the new one is built.
bool PatchApplier::start() {
    if (!ReadPatchHeader(pending_, pendingSize_, header_)) return fail(PatchOutcome::Damaged, "Patchkopf fehlerhaft");
    pendingSize_ = 0;
    if (base_ && !checkBase()) return false;
    stream_ = new Stream[kPatchStreams];
    for (std::size_t i = 0; i < kPatchStreams; ++i) {
        Stream& s = stream_[i];
        s.ended = i > 0 && !header_.streams;  // PAT1 to PAT3: stream 0 alone
        s.z.zalloc = zlibAlloc;
        s.z.zfree = zlibFree;
        s.piece = buffers_.get() + (i ? 2 + i : 0) * kChunk;
        if (inflateInit(&s.z) != Z_OK) return fail(PatchOutcome::Damaged, "zu wenig Speicher");
    }
    step_ = header_.references ? Step::LayoutSize : Step::Control;
    if (header_.references) references_.reset(new References);
    return true;
}

bool PatchApplier::checkBase() {
    if (base_->size() != header_.oldSize)
        return fail(PatchOutcome::BaseDiffers, "andere Größe");
    std::uint32_t crc = 0;
    for (std::int64_t at = 0; at < header_.oldSize; at += std::int64_t(kChunk)) {
        std::size_t count = std::size_t(std::min<std::int64_t>(std::int64_t(kChunk), header_.oldSize - at));
        if (!base_->read(at, work_, count)) return fail(PatchOutcome::BaseUnreadable, "nicht lesbar");
        crc = Crc32(crc, work_, count);
    }
    if (crc != header_.oldCrc) return fail(PatchOutcome::BaseDiffers, "anderer Inhalt (CRC-32)");
    blocks_.reset(new Blocks(*base_, header_.oldSize));
    return true;
}

// Gathers a header or control record of `want` bytes in pending_; true once it is complete.
bool PatchApplier::takePending(const unsigned char* data, std::size_t count, std::size_t want, std::size_t& used) {
    used = std::min(count, want - pendingSize_);
    std::memcpy(pending_ + pendingSize_, data, used);
    pendingSize_ += used;
    return pendingSize_ == want;
}

// Takes at least one of `count` (> 0) bytes for the current step.
bool PatchApplier::consumeStep(const unsigned char* data, std::size_t count, std::size_t& used) {
    if (step_ == Step::LayoutSize || step_ == Step::Layout) return takeLayout(data, count, used);
    if (step_ == Step::Control) return takeControl(data, count, used) ? beginRecord() : step_ != Step::Failed;
    if (step_ == Step::Diff && header_.sparse) return takeTokens(data, count, used);
    if (step_ == Step::Diff) {
        used = std::min(std::min(count, std::size_t(diffLeft_)), kChunk);
        return takeDiff(data, used);
    }
    if (step_ != Step::Extra) return fail(PatchOutcome::Damaged, kFaulty);
    used = std::min<std::size_t>(count, extraLeft_);
    extraLeft_ -= std::uint32_t(used);
    if (extraLeft_ == 0) step_ = Step::Control;
    return emit(data, used);
}

// PAT4: chunks, each inflated into its stream's piece; once one is complete,
// the records take what the pieces hold.
bool PatchApplier::takeChunks(const unsigned char* data, std::size_t count) {
    while (count > 0) {
        if (chunkHead_ < 5) {
            const std::uint32_t byte = *data++;
            --count;
            if (chunkHead_ == 0) chunkStream_ = byte;
            else chunkLeft_ |= byte << (8 * (chunkHead_ - 1));
            // The chunk's stream must exist and have had every byte of its last piece taken.
            if (++chunkHead_ == 5 && (chunkStream_ >= kPatchStreams || chunkLeft_ == 0 ||
                                      stream_[chunkStream_].read < stream_[chunkStream_].filled))
                return fail(PatchOutcome::Damaged, kFaulty);
            continue;
        }
        const std::size_t piece = std::min<std::size_t>(count, chunkLeft_);
        if (!inflateChunk(data, piece)) return false;
        data += piece;
        count -= piece;
        chunkLeft_ -= std::uint32_t(piece);
        if (chunkLeft_ > 0) continue;
        chunkHead_ = 0;
        if (!takeStreams()) return false;
    }
    return true;
}

// Bytes of a chunk (PAT4) or of the one stream (PAT1 to PAT3) into the
// stream's piece, which a chunk must not overfill; the one stream's records are
// taken as they come.
bool PatchApplier::inflateChunk(const unsigned char* data, std::size_t count) {
    Stream& s = stream_[chunkStream_];
    s.z.next_in = const_cast<unsigned char*>(data);
    s.z.avail_in = uInt(count);
    while (s.z.avail_in > 0) {
        s.z.next_out = s.piece + s.filled;
        s.z.avail_out = uInt(kPatchPiece - s.filled);
        const int code = inflate(&s.z, Z_NO_FLUSH);
        s.filled = kPatchPiece - s.z.avail_out;
        // What inflated before an error is taken first, so that the outcome
        // does not depend on the pieces the data comes in.
        if (!header_.streams && !takeStreams()) return false;
        // Bytes after the stream's end fail here, in this call or the next.
        s.ended = code == Z_STREAM_END;
        if (s.ended ? s.z.avail_in > 0 : code != Z_OK) return fail(PatchOutcome::Damaged, kFaulty);
    }
    return true;
}

// The records, for as long as the stream of their next byte holds one; a
// piece taken whole is emptied.
bool PatchApplier::takeStreams() {
    for (;;) {
        Stream& s = stream_[header_.streams ? StreamOf(int(step_), int(Step::Diff), int(Step::Extra)) : 0];
        if (s.read == s.filled) return s.read = s.filled = 0, true;
        std::size_t used = 0;
        if (!consumeStep(s.piece + s.read, s.filled - s.read, used)) return false;
        s.read += used;
    }
}

// Every record complete, every stream ended and its piece taken.
bool PatchApplier::streamsDone() const {
    if (step_ != Step::Control || pendingSize_ != 0 || chunkHead_ != 0) return false;
    for (std::size_t i = 0; i < kPatchStreams; ++i)
        if (stream_[i].read < stream_[i].filled || !stream_[i].ended) return false;
    return true;
}

// A control record: 12 bytes, or in PAT4 three numbers of at most 5 bytes
// each, written to pending_ as the 12 bytes would be.
bool PatchApplier::takeControl(const unsigned char* data, std::size_t count, std::size_t& used) {
    if (!header_.streams) return takePending(data, count, kPatchControlSize, used);
    for (used = 0; used < count && pendingSize_ < kPatchControlSize; ++used) {
        const std::uint32_t byte = data[used];
        // The fifth byte of a number is its last and holds its top 4 bits.
        if (shift_ == 28 && byte > 0x0F) return fail(PatchOutcome::Damaged, kFaulty);
        number_ |= (byte & 0x7F) << shift_;
        shift_ += 7;
        if (byte >= 0x80) continue;
        if (pendingSize_ == 8) number_ = number_ >> 1 ^ (0u - (number_ & 1));  // the seek, zig-zagged
        for (int i = 0; i < 4; ++i, number_ >>= 8) pending_[pendingSize_++] = static_cast<unsigned char>(number_);
        shift_ = 0;
    }
    return pendingSize_ == kPatchControlSize;
}

// A control record: its seek must stay in the old file, its lengths fit the
// new file, and its diff run the old one.
bool PatchApplier::beginRecord() {
    ByteReader reader(pending_, pendingSize_);
    reader.readU32(diffLeft_);
    reader.readU32(extraLeft_);
    reader.readS32(seek_);
    pendingSize_ = 0;
    std::int64_t start = basePosition_ + seek_;
    if (start < 0 || start > header_.oldSize) return fail(PatchOutcome::Damaged, kMismatch);
    basePosition_ = start;
    if (diffLeft_ > header_.oldSize - basePosition_)
        return fail(PatchOutcome::Damaged, kMismatch);
    std::uint64_t room = std::uint64_t(header_.newSize) - written_;
    if (std::uint64_t(diffLeft_) + extraLeft_ > room)
        return fail(PatchOutcome::Damaged, kMismatch);
    // Every record makes at least one byte: the records are no more than the new file's bytes.
    if (diffLeft_ == 0 && extraLeft_ == 0) return fail(PatchOutcome::Damaged, kFaulty);
    step_ = diffLeft_ > 0 ? Step::Diff : Step::Extra;
    if (references_)
        references_->run = PatchRun{std::uint32_t(basePosition_), std::uint32_t(basePosition_ + diffLeft_), std::uint32_t(written_)};
    return true;
}

// PAT3: the layout's length, then the layout; once complete, the old file's
// references are found (with no old file there are none).
bool PatchApplier::takeLayout(const unsigned char* data, std::size_t count, std::size_t& used) {
    References& r = *references_;
    if (step_ == Step::LayoutSize) {
        if (!takePending(data, count, 4, used)) return true;
        ByteReader(pending_, 4).readU32(r.size);
        pendingSize_ = 0;
        if (r.size > kMaxPatchLayout) return fail(PatchOutcome::Damaged, kFaulty);
        // PAT4 without a layout: nothing is predicted.
        if (r.size == 0 && header_.streams) return references_.reset(), step_ = Step::Control, true;
        // With the sites' bit per byte of the old file, the layout and the
        // predicted relocation table (and its sorting), a PAT3 patch takes at
        // most 32 + 8 + 6 + 12 MiB and the scan's 64 KiB more than a PAT2 patch.
        r.bytes.reserve(r.size);
        step_ = Step::Layout;
        count -= used;
        data += used;
    }
    std::size_t piece = std::min<std::size_t>(count, r.size - r.bytes.size());
    r.bytes.append(reinterpret_cast<const char*>(data), piece);
    used += piece;
    if (r.bytes.size() < r.size) return true;
    // The layout's moves stay in its bytes.
    if (!ReadPatchLayout(reinterpret_cast<const unsigned char*>(r.bytes.data()), r.bytes.size(),
                         std::uint32_t(header_.oldSize), std::uint32_t(header_.newSize), r.layout))
        return fail(PatchOutcome::Damaged, kMismatch);
    if (base_ && !r.sites.reset(std::uint32_t(header_.oldSize))) return fail(PatchOutcome::Damaged, "zu wenig Speicher");
    if (base_ && !FindReferenceSites(r.layout, *base_, std::uint32_t(header_.oldSize), r.sites))
        return fail(PatchOutcome::BaseUnreadable, "nicht lesbar");
    step_ = Step::Control;
    return true;
}

// Old bytes plus the patch's differences, byte by byte (modulo 256).
bool PatchApplier::takeDiff(const unsigned char* data, std::size_t count) {
    if (!readBase(basePosition_, work_, count)) return false;
    if (references_ && base_ &&
        !PredictReferences(references_->layout, references_->sites, *blocks_, references_->run,
                           std::uint32_t(basePosition_), work_, count))
        return fail(PatchOutcome::BaseUnreadable, "nicht lesbar");
    AddBytes(work_, data, count);
    basePosition_ += std::int64_t(count);
    diffLeft_ -= std::uint32_t(count);
    if (!emit(work_, count)) return false;
    if (diffLeft_ == 0) step_ = extraLeft_ > 0 ? Step::Extra : Step::Control;
    return true;
}

// PAT2 tokens of the current diff run, expanded to its diff bytes in pieces:
// the new file is handed on in pieces, not a byte per token.
bool PatchApplier::takeTokens(const unsigned char* data, std::size_t count, std::size_t& used) {
    std::size_t expanded = 0;
    used = 0;
    while (used < count && expanded < diffLeft_ && expanded + 256 <= kChunk) {
        unsigned char token = data[used++];
        if (literal_) {
            literal_ = false;
            tokens_[expanded++] = token;
            continue;
        }
        literal_ = token != 255;
        // What the tokens before made is handed on first, so that the bytes written before the
        // failure do not depend on the pieces the data comes in.
        if (expanded + token + literal_ > diffLeft_)
            return takeDiff(tokens_, expanded) && fail(PatchOutcome::Damaged, kMismatch);
        std::memset(tokens_ + expanded, 0, token);
        expanded += token;
    }
    return takeDiff(tokens_, expanded);
}

// The old bytes of the current diff run: zeros when the structure alone is checked.
bool PatchApplier::readBase(std::int64_t position, unsigned char* buffer, std::size_t count) {
    if (!base_) return std::memset(buffer, 0, count), true;
    if (!blocks_->read(position, buffer, count, diffLeft_)) return fail(PatchOutcome::BaseUnreadable, "nicht lesbar");
    return true;
}

bool PatchApplier::emit(const unsigned char* data, std::size_t count) {
    if (count == 0) return true;
    crc_ = Crc32(crc_, data, count);
    written_ += count;
    if (!out_.put(data, count)) return fail(PatchOutcome::NotTaken, "nicht geschrieben");
    return true;
}

PatchOutcome PatchApplier::finish() {
    if (step_ == Step::Failed) return outcome_;
    if (!streamsDone()) return fail(PatchOutcome::Damaged, kIncomplete), outcome_;
    if (written_ != std::uint64_t(header_.newSize))
        return fail(PatchOutcome::Damaged, kMismatch), outcome_;
    if (base_ && crc_ != header_.newCrc) return fail(PatchOutcome::Damaged, "Ergebnis hat falsche CRC-32"), outcome_;
    return PatchOutcome::Built;
}
