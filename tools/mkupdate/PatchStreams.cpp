#include "tools/mkupdate/PatchStreams.h"

#include <algorithm>
#include <cstdint>
#include <vector>
#include <zlib.h>

#include "base/ByteReader.h"

namespace {

void PutNumber(std::string& out, std::uint32_t value) {
    for (; value >= 0x80; value >>= 7) out.push_back(static_cast<char>(value | 0x80));
    out.push_back(static_cast<char>(value));
}

// A stream's bytes in pieces of at most `piece` (at least one piece), each
// deflated with the window going on from the last; the last piece ends the zlib stream.
std::vector<std::string> Deflated(const std::string& bytes, std::size_t piece) {
    std::vector<std::string> chunks;
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    std::vector<unsigned char> out;
    for (std::size_t at = 0; at == 0 || at < bytes.size(); at += piece) {
        const std::size_t count = std::min(piece, bytes.size() - at);
        out.resize(deflateBound(&z, uLong(count)) + 16);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + at));
        z.avail_in = uInt(count);
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        deflate(&z, at + count < bytes.size() ? Z_SYNC_FLUSH : Z_FINISH);
        chunks.emplace_back(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    }
    deflateEnd(&z);
    return chunks;
}

}  // namespace

void PutTokens(std::string& out, const char* diff, std::size_t count) {
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // The run's last byte is always a diff byte of its own, so that the tokens end with the run.
        if (diff[i] == 0 && i + 1 < count) {
            if (++zeros == 255) out.push_back(char(255)), zeros = 0;
            continue;
        }
        out.push_back(char(zeros));
        out.push_back(diff[i]);
        zeros = 0;
    }
}

std::string StreamedPatch(PatchHeader header, const std::string& layout, const std::string& records, std::size_t piece) {
    std::string streams[kPatchStreams];
    // The applier's reading, played through as the streams are written: a
    // stream's next chunk goes out when the records need a byte of it and its
    // chunks so far are used up. `order`: the stream of each chunk in turn.
    std::vector<unsigned char> order;
    std::size_t made[kPatchStreams] = {}, used[kPatchStreams] = {};
    auto take = [&](std::size_t s, std::size_t count) {
        while (count > 0) {
            if (used[s] == made[s]) order.push_back(static_cast<unsigned char>(s)), made[s] += piece;
            const std::size_t n = std::min(count, made[s] - used[s]);
            used[s] += n;
            count -= n;
        }
    };
    putU32(streams[0], std::uint32_t(layout.size()));
    streams[0] += layout;
    take(0, streams[0].size());
    for (std::size_t at = 0; at + kPatchControlSize <= records.size();) {
        ByteReader reader(reinterpret_cast<const unsigned char*>(records.data()) + at, kPatchControlSize);
        std::uint32_t diff = 0, extra = 0, seek = 0;
        reader.readU32(diff);
        reader.readU32(extra);
        reader.readU32(seek);
        at += kPatchControlSize;
        std::size_t before[kPatchStreams];
        for (std::size_t s = 0; s < kPatchStreams; ++s) before[s] = streams[s].size();
        PutNumber(streams[0], diff);
        PutNumber(streams[0], extra);
        PutNumber(streams[0], seek << 1 ^ (0u - (seek >> 31)));
        PutTokens(streams[1], records.data() + at, diff);
        streams[2].append(records, at + diff, extra);
        at += diff + extra;
        for (std::size_t s = 0; s < kPatchStreams; ++s) take(s, streams[s].size() - before[s]);
    }
    // Then an empty stream's one chunk, which the records never need.
    for (std::size_t s = 0; s < kPatchStreams; ++s)
        if (streams[s].empty()) order.push_back(static_cast<unsigned char>(s));
    header.sparse = header.references = header.streams = true;
    std::string out = PatchHeaderBytes(header);
    std::vector<std::string> chunks[kPatchStreams];
    std::size_t sent[kPatchStreams] = {};
    for (std::size_t s = 0; s < kPatchStreams; ++s) chunks[s] = Deflated(streams[s], piece);
    for (unsigned char s : order) {
        const std::string& chunk = chunks[s][sent[s]++];
        out.push_back(char(s));
        putU32(out, std::uint32_t(chunk.size()));
        out += chunk;
    }
    return out;
}
