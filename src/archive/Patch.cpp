#include "archive/Patch.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

#include "archive/ArchiveFormat.h"
#include "archive/PatchReferences.h"
#include "base/ByteReader.h"
#include "platform/FileSystem.h"

namespace {

// Pieces of the new file and of the CRC-32 check of the old one: with the old
// file's blocks below, the applier's whole working memory besides zlib's state
// (and a PAT3 patch's layout and sites, PatchReferences.h).
constexpr std::size_t kChunk = 64 * 1024;
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
};

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
    if (!reader.readU32(magic) || (magic != kPatchMagic && magic != kPatchMagicSparse && magic != kPatchMagicReferences))
        return false;
    out.sparse = magic != kPatchMagic;
    out.references = magic == kPatchMagicReferences;
    if (!reader.readS32(out.oldSize) || !reader.readU32(out.oldCrc) || !reader.readS32(out.newSize) ||
        !reader.readU32(out.newCrc))
        return false;
    return out.oldSize >= 0 && out.newSize >= 0;
}

std::string PatchHeaderBytes(const PatchHeader& header) {
    std::string bytes;
    putU32(bytes, header.references ? kPatchMagicReferences : header.sparse ? kPatchMagicSparse : kPatchMagic);
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
    : base_(base), out_(out), buffers_(new unsigned char[3 * kChunk]), inflated_(buffers_.get()),
      work_(inflated_ + kChunk), tokens_(work_ + kChunk) {}

PatchApplier::~PatchApplier() {
    if (!stream_) return;
    inflateEnd(&stream_->z);
    delete stream_;
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
    if (count == 0) return true;
    if (step_ == Step::Ended) return fail(PatchOutcome::Damaged, kFaulty);
    return inflateSome(data, count);
}

// The header is complete: the old file is checked before any of the new one is built.
bool PatchApplier::start() {
    if (!ReadPatchHeader(pending_, pendingSize_, header_)) return fail(PatchOutcome::Damaged, "Patchkopf fehlerhaft");
    pendingSize_ = 0;
    if (base_ && !checkBase()) return false;
    stream_ = new Stream;
    stream_->z.zalloc = zlibAlloc;
    stream_->z.zfree = zlibFree;
    if (inflateInit(&stream_->z) != Z_OK) return fail(PatchOutcome::Damaged, "zu wenig Speicher");
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

bool PatchApplier::inflateSome(const unsigned char* data, std::size_t count) {
    z_stream& z = stream_->z;
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = uInt(count);
    while (z.avail_in > 0) {
        z.next_out = inflated_;
        z.avail_out = uInt(kChunk);
        int code = inflate(&z, Z_NO_FLUSH);
        // What inflated before an error is taken first, so that the outcome
        // does not depend on the pieces the data comes in.
        if (!consume(inflated_, kChunk - z.avail_out)) return false;
        if (code != Z_OK && code != Z_STREAM_END) return fail(PatchOutcome::Damaged, kFaulty);
        if (code != Z_STREAM_END) continue;
        if (z.avail_in > 0) return fail(PatchOutcome::Damaged, kFaulty);
        if (step_ != Step::Control || pendingSize_ != 0)
            return fail(PatchOutcome::Damaged, kFaulty);
        step_ = Step::Ended;
    }
    return true;
}

// Gathers a header or control record of `want` bytes in pending_; true once it is complete.
bool PatchApplier::takePending(const unsigned char* data, std::size_t count, std::size_t want, std::size_t& used) {
    used = std::min(count, want - pendingSize_);
    std::memcpy(pending_ + pendingSize_, data, used);
    pendingSize_ += used;
    return pendingSize_ == want;
}

// The inflated records, whatever pieces they come in.
bool PatchApplier::consume(const unsigned char* data, std::size_t count) {
    while (count > 0) {
        std::size_t used = 0;
        if (step_ == Step::LayoutSize || step_ == Step::Layout) {
            if (!takeLayout(data, count, used)) return false;
        } else if (step_ == Step::Control) {
            if (takePending(data, count, kPatchControlSize, used) && !beginRecord()) return false;
        } else if (step_ == Step::Diff && header_.sparse) {
            if (!takeTokens(data, count, used)) return false;
        } else if (step_ == Step::Diff) {
            used = std::min(std::min(count, std::size_t(diffLeft_)), kChunk);
            if (!takeDiff(data, used)) return false;
        } else if (step_ == Step::Extra) {
            used = std::min<std::size_t>(count, extraLeft_);
            extraLeft_ -= std::uint32_t(used);
            if (!emit(data, used)) return false;
            if (extraLeft_ == 0) step_ = Step::Control;
        } else {
            return fail(PatchOutcome::Damaged, kFaulty);
        }
        data += used;
        count -= used;
    }
    return true;
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
    if (step_ != Step::Ended) return fail(PatchOutcome::Damaged, kIncomplete), outcome_;
    if (written_ != std::uint64_t(header_.newSize))
        return fail(PatchOutcome::Damaged, kMismatch), outcome_;
    if (base_ && crc_ != header_.newCrc) return fail(PatchOutcome::Damaged, "Ergebnis hat falsche CRC-32"), outcome_;
    return PatchOutcome::Built;
}
