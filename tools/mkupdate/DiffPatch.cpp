#include "tools/mkupdate/DiffPatch.h"

#include <fstream>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveWriter.h"
#include "tools/mkupdate/Host.h"
#include "tools/mkupdate/PatchMaker.h"
#include "tools/mkupdate/Progress.h"

namespace {

bool ReadWhole(const std::filesystem::path& path, std::vector<unsigned char>& out) {
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return false;
    out.resize(size);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(out.data()), std::streamsize(size));
    return in && std::uintmax_t(in.gcount()) == size;
}

// What build stores for `size` bytes: 1 MiB segments at level 6, each with its length field.
std::uint64_t StoredSize(const unsigned char* data, std::size_t size) {
    std::uint64_t stored = 0;
    std::size_t at = 0;
    do {
        std::size_t piece = std::min<std::size_t>(size - at, std::size_t(kDefaultSegmentSize));
        stored += 4 + CompressZlib(data + at, piece, 6).size();
        at += piece;
    } while (at < size);
    return stored;
}

// Files from this size on show a progress bar while their patch is made.
constexpr std::size_t kProgressFrom = 4 << 20;

}  // namespace

PatchDecision DecidePatch(const std::filesystem::path& oldFile, const std::filesystem::path& newFile) {
    PatchDecision d;
    std::vector<unsigned char> oldData, newData;
    if (!ReadWhole(oldFile, oldData) || !ReadWhole(newFile, newData)) {
        d.error = "cannot be read";
        return d;
    }
    MadePatch made = MadePatch::Made;
    {
        ProgressBar progress(std::int64_t(newData.size()), newData.size() >= kProgressFrom && StderrIsTerminal());
        made = MakePatch(oldData, newData, d.patch, &progress);
    }
    if (made == MadePatch::Unavailable) {
        d.error = "no patch can be made (2 GiB or more)";
        return d;
    }
    d.wholeSize = StoredSize(newData.data(), newData.size());
    if (made == MadePatch::SearchTooLong) d.warning = "the search for a patch took too long (repetitive data)";
    if (made == MadePatch::WrongResult) d.warning = "the patch made did not give the new file (a fault of mkupdate)";
    if (made != MadePatch::Made) return d;
    d.patchSize = StoredSize(reinterpret_cast<const unsigned char*>(d.patch.data()), d.patch.size());
    d.usePatch = double(d.patchSize) <= kPatchAtMostOfWhole * double(d.wholeSize);
    if (!d.usePatch) d.patch.clear();
    return d;
}
