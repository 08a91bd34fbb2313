// The search follows the approach of Percival's binary diff: at each position
// of the new file, the longest match in the old file (binary search over the
// old file's suffix array); a match is taken as the next alignment when it is
// clearly longer than what the current alignment still matches there. Between
// two alignments, the run under the earlier one is stretched forward and the
// run under the later one backward for as long as at least half of their
// bytes agree: those runs become difference bytes (mostly zeros, where code
// moved and its addresses changed), the gap between them new bytes.
//
// Two changes bound the time on repetitive data, where Percival's search is
// quadratic: a long match that is not taken moves the scan on by half its
// length instead of one byte (each search costs about the match's length),
// and all comparisons are counted against a budget per byte of both files;
// past it, no patch is made and the file goes whole.
#include "tools/mkupdate/PatchMaker.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <zlib.h>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveWriter.h"
#include "archive/Patch.h"
#include "base/ByteReader.h"
#include "tools/mkupdate/PatchStreams.h"
#include "tools/mkupdate/ProgramLayout.h"
#include "tools/mkupdate/Progress.h"
#include "tools/mkupdate/SuffixSort.h"

void (*gPatchMadeHook)(std::string& patch) = nullptr;

namespace {

// How many more bytes a match must cover than the current alignment does
// there before it becomes the next alignment: less makes many short records.
constexpr std::int64_t kSwitchGain = 8;
// A match not taken that is at least this long moves the scan on by half its length.
constexpr std::int64_t kLongMatch = 64;
// A relocation table of at least 1/kNotableTable of the old file gets a
// search of its own against the old file as predicted with the table.
constexpr std::uint64_t kNotableTable = 200;
// Comparisons allowed per byte of the two files, and for any pair.
constexpr std::int64_t kWorkPerByte = 512;
constexpr std::int64_t kWorkFloor = std::int64_t(1) << 26;

struct Match {
    std::int64_t oldPos = 0;
    std::int64_t length = 0;
};

class Differ {
public:
    Differ(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData,
           const std::vector<std::int32_t>& suffixes)
        : old_(oldData.data()), new_(newData.data()), n_(std::int64_t(oldData.size())),
          m_(std::int64_t(newData.size())), suffixes_(suffixes),
          budget_(kWorkFloor + kWorkPerByte * (n_ + m_)) {}

    // The records, or false when the search ran past its budget.
    bool records(std::string& out, ProgressBar* progress);

private:
    Match longest(std::int64_t at) const;
    std::int64_t commonPrefix(std::int64_t oldPos, std::int64_t newPos) const;
    bool agrees(std::int64_t newPos, std::int64_t offset) const;
    std::int64_t stretchForward(std::int64_t until) const;
    std::int64_t stretchBackward(std::int64_t scan, const Match& match) const;
    void splitOverlap(std::int64_t scan, const Match& match, std::int64_t& forward, std::int64_t& backward) const;
    void emit(std::int64_t diffLength, std::int64_t extraLength);

    const unsigned char* old_;
    const unsigned char* new_;
    std::int64_t n_, m_;
    const std::vector<std::int32_t>& suffixes_;
    std::int64_t lastScan_ = 0, lastPos_ = 0;  // where the current alignment's run starts
    std::int64_t oldAt_ = 0;                   // the applier's old position after the last record
    std::string out_;
    mutable std::int64_t work_ = 0;
    std::int64_t budget_;
};

std::int64_t Differ::commonPrefix(std::int64_t oldPos, std::int64_t newPos) const {
    std::int64_t most = std::min(n_ - oldPos, m_ - newPos), i = 0;
    while (i < most && old_[oldPos + i] == new_[newPos + i]) ++i;
    work_ += i + 1;
    return i;
}

// Binary search for the place of new[at..] among the old file's suffixes; the
// longest match is with one of its two neighbours.
Match Differ::longest(std::int64_t at) const {
    std::int64_t low = 0, high = n_;
    const std::int64_t rest = m_ - at;
    while (low < high) {
        std::int64_t mid = low + (high - low) / 2;
        std::int64_t pos = suffixes_[std::size_t(mid)];
        std::int64_t common = std::min(n_ - pos, rest);
        int order = std::memcmp(old_ + pos, new_ + at, std::size_t(common));
        work_ += 16;
        bool before = order < 0 || (order == 0 && n_ - pos < rest);
        if (before) low = mid + 1;
        else high = mid;
    }
    Match best;
    for (std::int64_t i : {low - 1, low}) {
        if (i < 0 || i >= n_) continue;
        std::int64_t pos = suffixes_[std::size_t(i)];
        std::int64_t length = commonPrefix(pos, at);
        if (length > best.length) best = Match{pos, length};
    }
    return best;
}

bool Differ::agrees(std::int64_t newPos, std::int64_t offset) const {
    std::int64_t oldPos = newPos + offset;
    return oldPos >= 0 && oldPos < n_ && old_[oldPos] == new_[newPos];
}

// The length of the run from lastScan_ under the current alignment that
// scores best, counting +1 for an agreeing byte and -1 for another one.
std::int64_t Differ::stretchForward(std::int64_t until) const {
    std::int64_t agreeing = 0, bestScore = 0, best = 0;
    for (std::int64_t i = 0; lastScan_ + i < until && lastPos_ + i < n_; ++i) {
        if (old_[lastPos_ + i] == new_[lastScan_ + i]) ++agreeing;
        if (2 * agreeing - (i + 1) > bestScore) {
            bestScore = 2 * agreeing - (i + 1);
            best = i + 1;
        }
    }
    work_ += until - lastScan_;
    return best;
}

// The same backwards from the new match, no further back than lastScan_.
std::int64_t Differ::stretchBackward(std::int64_t scan, const Match& match) const {
    std::int64_t agreeing = 0, bestScore = 0, best = 0;
    for (std::int64_t i = 1; scan - i >= lastScan_ && match.oldPos - i >= 0; ++i) {
        if (old_[match.oldPos - i] == new_[scan - i]) ++agreeing;
        if (2 * agreeing - i > bestScore) {
            bestScore = 2 * agreeing - i;
            best = i;
        }
    }
    work_ += scan - lastScan_;
    return best;
}

// Where the run stretched forward and the one stretched backward share bytes,
// they are split where the earlier run agrees most often, compared with the later one.
void Differ::splitOverlap(std::int64_t scan, const Match& match, std::int64_t& forward, std::int64_t& backward) const {
    std::int64_t overlap = lastScan_ + forward - (scan - backward);
    if (overlap <= 0) return;
    std::int64_t score = 0, bestScore = 0, split = 0;
    for (std::int64_t i = 0; i < overlap; ++i) {
        if (new_[lastScan_ + forward - overlap + i] == old_[lastPos_ + forward - overlap + i]) ++score;
        if (new_[scan - backward + i] == old_[match.oldPos - backward + i]) --score;
        if (score > bestScore) {
            bestScore = score;
            split = i + 1;
        }
    }
    forward += split - overlap;
    backward -= split;
}

// One record: a diff run from lastPos_ over lastScan_, then new bytes.
void Differ::emit(std::int64_t diffLength, std::int64_t extraLength) {
    if (diffLength + extraLength == 0) return;
    putU32(out_, std::uint32_t(diffLength));
    putU32(out_, std::uint32_t(extraLength));
    putU32(out_, std::uint32_t(std::int32_t(lastPos_ - oldAt_)));
    for (std::int64_t i = 0; i < diffLength; ++i)
        out_.push_back(static_cast<char>(new_[lastScan_ + i] - old_[lastPos_ + i]));
    out_.append(reinterpret_cast<const char*>(new_ + lastScan_ + diffLength), std::size_t(extraLength));
    oldAt_ = lastPos_ + diffLength;
}

bool Differ::records(std::string& out, ProgressBar* progress) {
    std::int64_t scan = 0, lastOffset = 0, shown = 0;
    Match match;
    while (scan < m_) {
        if (work_ > budget_) return false;
        if (progress) progress->advance(scan - shown), shown = scan;
        // Look for the next alignment; the current one agrees on `agreeing`
        // of the bytes that the match found at `scan` covers.
        std::int64_t agreeing = 0;
        scan += match.length;
        for (std::int64_t counted = scan; scan < m_ && work_ <= budget_; ++scan) {
            match = longest(scan);
            for (; counted < scan + match.length; ++counted)
                if (agrees(counted, lastOffset)) ++agreeing;
            if ((match.length == agreeing && match.length != 0) || match.length > agreeing + kSwitchGain) break;
            std::int64_t step = match.length >= kLongMatch ? match.length / 2 : 1;
            for (std::int64_t i = 0; i < step; ++i)
                if (agrees(scan + i, lastOffset)) --agreeing;
            scan += step - 1;
        }
        // The current alignment covers the match as well: go on under it.
        if (match.length == agreeing && scan < m_) continue;

        std::int64_t forward = stretchForward(scan);
        std::int64_t backward = scan < m_ ? stretchBackward(scan, match) : 0;
        splitOverlap(scan, match, forward, backward);
        emit(forward, (scan - backward) - (lastScan_ + forward));
        lastScan_ = scan - backward;
        lastPos_ = match.oldPos - backward;
        lastOffset = match.oldPos - scan;
    }
    if (progress) progress->advance(m_ - shown);
    out = std::move(out_);
    return work_ <= budget_;
}

// Takes the applier's output and compares it with the new file as it comes.
class Comparison final : public ByteSink {
public:
    explicit Comparison(const std::vector<unsigned char>& expected) : expected_(expected) {}
    bool put(const unsigned char* data, std::size_t count) override {
        if (count > expected_.size() - at_ || std::memcmp(expected_.data() + at_, data, count) != 0) return false;
        at_ += count;
        return true;
    }
    bool complete() const { return at_ == expected_.size(); }

private:
    const std::vector<unsigned char>& expected_;
    std::size_t at_ = 0;
};

// The records with each diff run as PAT2 tokens (ArchiveFormat.h).
std::string Tokens(const std::string& records) {
    std::string out;
    for (std::size_t at = 0; at < records.size();) {
        ByteReader reader(reinterpret_cast<const unsigned char*>(records.data()) + at, kPatchControlSize);
        std::uint32_t diff = 0, extra = 0;
        reader.readU32(diff);
        reader.readU32(extra);
        out.append(records, at, kPatchControlSize);
        at += kPatchControlSize;
        PutTokens(out, records.data() + at, diff);
        out.append(records, at + diff, extra);
        at += diff + extra;
    }
    return out;
}

bool GivesNewFile(const std::string& patch, const std::vector<unsigned char>& oldData,
                  const std::vector<unsigned char>& newData) {
    BufferPatchBase base(oldData.data(), oldData.size());
    Comparison comparison(newData);
    PatchApplier applier(&base, comparison);
    applier.put(reinterpret_cast<const unsigned char*>(patch.data()), patch.size());
    return applier.finish() == PatchOutcome::Built && comparison.complete();
}

}  // namespace

MadePatch MakePatch(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData,
                    std::string& patch, ProgressBar* progress) {
    patch.clear();
    constexpr std::size_t kLimit = 0x7FFFFFFF;
    if (oldData.size() >= kLimit || newData.size() >= kLimit) return MadePatch::Unavailable;
    std::vector<std::int32_t> suffixes;
    if (!SortSuffixes(oldData.data(), std::int32_t(oldData.size()), suffixes)) return MadePatch::Unavailable;
    PatchHeader header;
    header.oldSize = std::int32_t(oldData.size());
    header.oldCrc = Crc32(0, oldData.data(), oldData.size());
    header.newSize = std::int32_t(newData.size());
    header.newCrc = Crc32(0, newData.data(), newData.size());
    std::string records;
    if (!Differ(oldData, newData, suffixes).records(records, progress)) return MadePatch::SearchTooLong;
    // The forms the patch can take: diff bytes as they are, as tokens, and for
    // program files with their references predicted (PAT3); the PAT2 form and
    // the smallest PAT3 one also with the records' parts in streams of their
    // own (PAT4).
    std::vector<std::string> forms;
    forms.push_back(PatchHeaderBytes(header) + CompressZlib(records.data(), records.size(), Z_BEST_COMPRESSION));
    const std::string tokens = Tokens(records);
    header.sparse = true;
    forms.push_back(PatchHeaderBytes(header) + CompressZlib(tokens.data(), tokens.size(), Z_BEST_COMPRESSION));
    forms.push_back(StreamedPatch(header, "", records));
    // PAT3 with the layout's flags for this kind of program and without them,
    // with and without the relocation table predicted; and with records found
    // against the old file as predicted.
    LayoutPlan full;
    if (ProgramLayoutOf(oldData, newData, full)) {
        header.references = true;
        PredictedPatch smallest;
        std::size_t smallestSize = SIZE_MAX;
        auto addForm = [&](const std::string& found, LayoutPlan& plan, bool learn = true) {
            PredictedPatch predicted = PredictedRecords(found, oldData, newData, plan, learn);
            std::string body;
            putU32(body, std::uint32_t(predicted.layout.size()));
            body += predicted.layout + Tokens(predicted.records);
            if (predicted.layout.size() > kMaxPatchLayout) return;
            forms.push_back(PatchHeaderBytes(header) + CompressZlib(body.data(), body.size(), Z_BEST_COMPRESSION));
            if (forms.back().size() < smallestSize) smallestSize = forms.back().size(), smallest = std::move(predicted);
        };
        LayoutPlan plain = full, bare = full;
        plain.flags = 0;
        plain.tables.clear();
        // Where code changed inside functions, a relocation table predicted
        // from moved pointers can cost more than the new table as it is.
        bare.flags &= ~kLayoutRelocations;
        const bool relocations = bare.flags != full.flags;
        addForm(records, plain);
        addForm(records, bare);
        if (relocations) addForm(records, full);
        // Records found against the old file as predicted without the table;
        // a second search with it where the table is a notable part of the file.
        const bool second = relocations && std::uint64_t(full.relocSize) * kNotableTable >= oldData.size();
        for (LayoutPlan* plan : {&bare, &full}) {
            if (plan == &full && !second) break;
            const std::vector<unsigned char> predictedOld = PredictedOld(oldData, newData, *plan);
            std::string aligned;
            if (!SortSuffixes(predictedOld.data(), std::int32_t(predictedOld.size()), suffixes) ||
                !Differ(predictedOld, newData, suffixes).records(aligned, nullptr))
                continue;
            // Also with the moves the records were found with: the table's
            // prediction shifts with them.
            LayoutPlan found = *plan, withTable = full;  // the second search starts from full's moves as they are
            addForm(aligned, found, false);
            addForm(aligned, *plan);
            if (plan == &bare && relocations) addForm(aligned, withTable);
        }
        if (smallestSize != SIZE_MAX) forms.push_back(StreamedPatch(header, smallest.layout, smallest.records));
    }
    // The smallest that gives the new file; where one does not, the next larger one.
    std::stable_sort(forms.begin(), forms.end(), [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    for (std::string& form : forms) {
        if (gPatchMadeHook) gPatchMadeHook(form);
        if (!GivesNewFile(form, oldData, newData)) continue;
        patch = std::move(form);
        return MadePatch::Made;
    }
    return MadePatch::WrongResult;
}
