#include "tools/mkupdate/PatchEntries.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "base/Cp1252.h"

namespace {

class DiscardSink final : public ByteSink {
public:
    bool put(const unsigned char*, std::size_t) override { return true; }
};

// Keeps the first bytes and refuses the rest: the walk stops there.
class HeadSink final : public ByteSink {
public:
    bool put(const unsigned char* data, std::size_t count) override {
        std::size_t take = std::min(count, kPatchHeaderSize - head.size());
        head.insert(head.end(), data, data + take);
        return head.size() < kPatchHeaderSize;
    }
    std::vector<unsigned char> head;
};

std::string Outcome(PatchApplier& applier, std::string& updaterText) {
    if (applier.finish() == PatchOutcome::Built) return "";
    updaterText = Cp1252ToUtf8(applier.problem());
    return "the patch is damaged";
}

}  // namespace

bool PatchEntryHeader(const TArchive& archive, std::int32_t index, PatchHeader& header) {
    HeadSink sink;
    SegmentInflater inflater;
    try {
        archive.streamEntry(index, sink, inflater);
    } catch (const std::exception&) {
        return false;
    }
    return ReadPatchHeader(sink.head.data(), sink.head.size(), header);
}

std::string PatchEntryProblem(const TArchive& archive, std::int32_t index, std::string& updaterText) {
    DiscardSink discard;
    PatchApplier applier(nullptr, discard);
    SegmentInflater inflater;
    try {
        if (archive.streamEntry(index, applier, inflater) == StreamResult::Unreadable) return "segment cut short";
    } catch (const std::exception& e) {
        updaterText = Cp1252ToUtf8(e.what());
        return "cannot be inflated";
    }
    return Outcome(applier, updaterText);
}

std::string PatchFileProblem(const std::filesystem::path& file, std::string& updaterText) {
    std::ifstream in(file, std::ios::binary);
    DiscardSink discard;
    PatchApplier applier(nullptr, discard);
    std::vector<char> buffer(64 * 1024);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        std::size_t got = std::size_t(in.gcount());
        if (got > 0 && !applier.put(reinterpret_cast<const unsigned char*>(buffer.data()), got)) break;
    }
    if (in.bad()) return "cannot be read";
    return Outcome(applier, updaterText);
}
