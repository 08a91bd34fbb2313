#include "tools/mkupdate/ProgramLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "archive/ArchiveFormat.h"
#include "archive/Patch.h"
#include "base/ByteReader.h"

namespace {

// A run of targets that moved alike becomes a move of its own only when this
// many references point into it: a move costs about as much in the patch as
// the difference bytes of two or three references predicted wrongly.
constexpr std::size_t kMoveWeight = 3;
// A target that only branches point to counts when this many agree on it:
// bytes that merely look like a call give scattered targets, each of which
// would break a run. Relocated pointers are never misread.
constexpr std::size_t kBranchTargetWeight = 2;

constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint32_t kCodeCharacteristics = 0x20 | 0x20000000;  // contains code, executable
constexpr unsigned kRelocationDirectory = 5;
// The data directories whose bytes are mostly RVAs: export, import, exception,
// import address table, delay-load imports.
constexpr unsigned kRvaDirectories[] = {0, 1, 3, 12, 13};
constexpr unsigned kExceptionDirectory = 3;
// What the unwind data's table takes after the last entry's start.
constexpr std::uint32_t kUnwindTail = 64;

std::uint64_t Little(const std::vector<unsigned char>& data, std::size_t at, unsigned width) {
    std::uint64_t v = 0;
    for (unsigned i = width; i-- > 0;) v = v << 8 | data[at + i];
    return v;
}

struct Image {
    std::uint16_t kind = 0;
    std::uint64_t base = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t relocRva = 0, relocSize = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rvaDirectories;  // RVA, size
    std::uint32_t exceptionRva = ~0u;
    PatchSections sections;
};

bool ReadImage(const std::vector<unsigned char>& d, Image& image) {
    auto fits = [&](std::uint64_t at, std::uint64_t n) { return at + n <= d.size(); };
    if (!fits(0, 0x40) || d[0] != 'M' || d[1] != 'Z') return false;
    const std::uint64_t pe = Little(d, 0x3C, 4);
    if (!fits(pe, 24) || std::memcmp(&d[pe], "PE\0\0", 4) != 0) return false;
    const std::uint64_t count = Little(d, pe + 6, 2), optionalSize = Little(d, pe + 20, 2), opt = pe + 24;
    if (!fits(opt, optionalSize) || optionalSize < 2) return false;
    image.kind = std::uint16_t(Little(d, opt, 2));
    if (image.kind != kPe32 && image.kind != kPe32Plus) return false;
    const bool plus = image.kind == kPe32Plus;
    const std::uint64_t directories = opt + (plus ? 112 : 96);
    if (optionalSize < (plus ? 112u : 96u)) return false;
    image.base = plus ? Little(d, opt + 24, 8) : Little(d, opt + 28, 4);
    image.imageSize = std::uint32_t(Little(d, opt + 56, 4));
    const std::uint64_t directoryCount = Little(d, opt + (plus ? 108 : 92), 4);
    auto directory = [&](unsigned index, std::uint32_t& rva, std::uint32_t& size) {
        const std::uint64_t at = directories + 8 * index;
        if (directoryCount <= index || at + 8 > opt + optionalSize) return false;
        rva = std::uint32_t(Little(d, at, 4));
        size = std::uint32_t(Little(d, at + 4, 4));
        return size > 0;
    };
    directory(kRelocationDirectory, image.relocRva, image.relocSize);
    for (unsigned index : kRvaDirectories) {
        std::uint32_t rva = 0, size = 0;
        if (!directory(index, rva, size)) continue;
        image.rvaDirectories.push_back({rva, size});
        if (index == kExceptionDirectory) image.exceptionRva = rva;
    }
    const std::uint64_t table = opt + optionalSize;
    if (count > PatchSections::kMost || !fits(table, 40 * count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t h = table + 40 * i;
        PatchSection s{};
        s.rva = std::uint32_t(Little(d, h + 12, 4));
        s.rawSize = std::uint32_t(Little(d, h + 16, 4));
        s.offset = std::uint32_t(Little(d, h + 20, 4));
        s.code = (Little(d, h + 36, 4) & kCodeCharacteristics) != 0;
        if (s.offset >= d.size()) s.rawSize = 0;
        s.rawSize = std::uint32_t(std::min<std::uint64_t>(s.rawSize, d.size() - std::min<std::uint64_t>(s.offset, d.size())));
        if (s.rawSize == 0) continue;
        // The patch takes sections one after the other in the file and in the
        // image (PatchReferences.h): a section's bytes in the file that run
        // past the next one's address are left out of it.
        s.rawSize = std::uint32_t(std::min<std::uint64_t>(s.rawSize, (std::uint64_t(1) << 32) - s.rva));
        if (image.sections.count > 0) {
            PatchSection& before = image.sections.items[image.sections.count - 1];
            if (s.rva <= before.rva) return false;
            before.rawSize = std::min(before.rawSize, s.rva - before.rva);
            if (s.offset < before.offset + before.rawSize) return false;
        }
        image.sections.items[image.sections.count++] = s;
    }
    return true;
}

// The records' diff runs, each with where its diff bytes stand in `records`.
template <typename Visit>
void ForEachRun(const std::string& records, Visit visit) {
    std::int64_t oldAt = 0, newAt = 0;
    for (std::size_t at = 0; at + kPatchControlSize <= records.size();) {
        ByteReader reader(reinterpret_cast<const unsigned char*>(records.data()) + at, kPatchControlSize);
        std::uint32_t diff = 0, extra = 0;
        std::int32_t seek = 0;
        reader.readU32(diff);
        reader.readU32(extra);
        reader.readS32(seek);
        oldAt += seek;
        visit(PatchRun{std::uint32_t(oldAt), std::uint32_t(oldAt + diff), std::uint32_t(newAt)}, at + kPatchControlSize);
        oldAt += diff;
        newAt += std::int64_t(diff) + extra;
        at += kPatchControlSize + diff + extra;
    }
}

struct Observation {
    std::uint32_t oldTarget;
    std::int32_t delta;
    bool pointer;  // seen through a relocated pointer, not a branch the scan may have misread
    bool operator<(const Observation& o) const {
        return oldTarget != o.oldTarget ? oldTarget < o.oldTarget : delta < o.delta;
    }
};

// The target of the reference of `width` bytes at `at`: a pointer's RVA, or a
// branch's target RVA given the RVA of its operand; false outside 32 bits.
bool TargetAt(const std::vector<unsigned char>& d, std::size_t at, bool branch, unsigned width, std::uint64_t base,
              std::uint32_t operandRva, std::uint32_t& target) {
    std::uint64_t value = Little(d, at, width);
    if (branch) {
        target = operandRva + 4 + std::uint32_t(value);
        return true;
    }
    std::uint64_t relative = value - base;
    if (width == 4) relative &= 0xFFFFFFFFu;
    target = std::uint32_t(relative);
    return relative <= 0xFFFFFFFFu;
}

void Observe(const PatchLayout& layout, const ReferenceSites& sites, bool branch,
             const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData, const PatchRun& run,
             std::vector<Observation>& out) {
    if (!branch)
        for (const PatchTables::Range& t : layout.tables)
            for (std::uint32_t word = t.offset + ((std::max(t.offset, run.oldStart) - t.offset + 3) & ~3u);
                 word + 4 <= t.offset + t.size && word + 4 <= run.oldEnd; word += 4) {
                const std::uint32_t oldValue = std::uint32_t(Little(oldData, word, 4));
                const std::uint32_t newValue = std::uint32_t(Little(newData, run.newStart + (word - run.oldStart), 4));
                std::uint32_t offset = 0;
                if (OffsetOfRva(layout.oldSections, oldValue, offset))
                    out.push_back({oldValue, std::int32_t(newValue - oldValue), true});
            }
    const unsigned width = branch ? 4 : layout.pointerWidth;
    for (std::uint32_t site = run.oldStart; std::int64_t(site) + width <= run.oldEnd; ++site) {
        if (!sites.at(branch, site)) continue;
        const std::uint32_t newSite = run.newStart + (site - run.oldStart);
        std::uint32_t oldRva = 0, newRva = 0, oldTarget = 0, newTarget = 0;
        if (branch && (!RvaOfOffset(layout.oldSections, site, oldRva) || !RvaOfOffset(layout.newSections, newSite, newRva)))
            continue;
        if (TargetAt(oldData, site, branch, width, layout.oldBase, oldRva, oldTarget) &&
            TargetAt(newData, newSite, branch, width, layout.newBase, newRva, newTarget))
            out.push_back({oldTarget, std::int32_t(newTarget - oldTarget), !branch});
        // Where the pointer itself went: the relocation table lists it there (kLayoutRelocations).
        if (!branch && (layout.flags & kLayoutRelocations) && RvaOfOffset(layout.oldSections, site, oldRva) &&
            RvaOfOffset(layout.newSections, newSite, newRva))
            out.push_back({oldRva, std::int32_t(newRva - oldRva), true});
    }
}

// The moves that predict the observed targets: per target the delta most of
// its references agree on, and a new move wherever a run of targets with
// another delta than the current one carries enough references.
std::vector<PatchMove> LearnMoves(std::vector<Observation> seen) {
    std::sort(seen.begin(), seen.end());
    struct Target {
        std::uint32_t rva;
        std::int32_t delta;
        std::size_t weight;
    };
    std::vector<Target> targets;
    for (std::size_t i = 0; i < seen.size();) {
        std::size_t j = i, best = i, bestCount = 0;
        bool pointer = false;
        while (j < seen.size() && seen[j].oldTarget == seen[i].oldTarget) {
            std::size_t k = j;
            for (; k < seen.size() && seen[k].oldTarget == seen[j].oldTarget && seen[k].delta == seen[j].delta; ++k)
                pointer |= seen[k].pointer;
            if (k - j > bestCount) bestCount = k - j, best = j;
            j = k;
        }
        if (pointer || bestCount >= kBranchTargetWeight)
            targets.push_back({seen[i].oldTarget, seen[best].delta, bestCount});
        i = j;
    }
    std::vector<PatchMove> moves;
    for (std::size_t i = 0; i < targets.size();) {
        std::size_t j = i, weight = 0;
        for (; j < targets.size() && targets[j].delta == targets[i].delta; ++j) weight += targets[j].weight;
        bool differs = moves.empty() || moves.back().delta != targets[i].delta;
        if (differs && (weight >= kMoveWeight || moves.empty())) moves.push_back({targets[i].rva, targets[i].delta});
        i = j;
    }
    return moves;
}

// The old file's bytes of a table at `rva`, within the section that holds its start.
void AddTable(const PatchSections& sections, std::uint32_t rva, std::uint32_t size, std::vector<PatchTables::Range>& out) {
    std::uint32_t offset = 0;
    if (size == 0 || !OffsetOfRva(sections, rva, offset)) return;
    const PatchSection* s = std::find_if(sections.begin(), sections.end(), [&](const PatchSection& s) {
        return rva >= s.rva && rva - s.rva < s.rawSize;
    });
    out.push_back({offset, std::min(size, s->rawSize - (rva - s->rva))});
}

// The unwind data that the exception table's entries point to (third word of
// each): handlers and the tables of scopes and states that compilers put after
// them hold RVAs of code.
void AddUnwindData(const std::vector<unsigned char>& d, const Image& image, std::vector<PatchTables::Range>& out) {
    std::uint32_t offset = 0, low = ~0u, high = 0;
    for (const auto& [rva, size] : image.rvaDirectories) {
        if (rva != image.exceptionRva || !OffsetOfRva(image.sections, rva, offset)) continue;
        for (std::uint64_t at = offset; at + 12 <= std::uint64_t(offset) + size && at + 12 <= d.size(); at += 12) {
            const std::uint32_t unwind = std::uint32_t(Little(d, at + 8, 4));
            low = std::min(low, unwind);
            high = std::max(high, unwind);
        }
    }
    if (low < high) AddTable(image.sections, low, high - low + kUnwindTail, out);
}

}  // namespace

std::string PatchLayoutBytes(const LayoutPlan& plan) {
    std::string out;
    for (std::uint64_t word : {std::uint64_t(plan.pointerWidth | plan.flags), plan.oldBase & 0xFFFFFFFFu, plan.oldBase >> 32,
                               plan.newBase & 0xFFFFFFFFu, plan.newBase >> 32, std::uint64_t(plan.relocOffset),
                               std::uint64_t(plan.relocSize)})
        putU32(out, std::uint32_t(word));
    for (const std::vector<PatchSection>* sections : {&plan.oldSections, &plan.newSections}) {
        putU32(out, std::uint32_t(sections->size()));
        for (const PatchSection& s : *sections)
            for (std::uint32_t word : {s.offset, s.rawSize, s.rva, s.code}) putU32(out, word);
    }
    if (plan.flags & kLayoutRipRelative) putU32(out, plan.imageSize);
    if (plan.flags & kLayoutTables) {
        putU32(out, std::uint32_t(plan.tables.size()));
        for (const PatchTables::Range& t : plan.tables) {
            putU32(out, t.offset);
            putU32(out, t.size);
        }
    }
    putU32(out, std::uint32_t(plan.moves.size()));
    for (const PatchMove& m : plan.moves) {
        putU32(out, m.oldRva);
        putU32(out, std::uint32_t(m.delta));
    }
    return out;
}

bool ProgramLayoutOf(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData,
                     LayoutPlan& plan) {
    // The applier keeps a bit per byte of the old file and refuses a layout for a larger one.
    if (oldData.size() > kMaxReferencedOldFile) return false;
    Image oldImage, newImage;
    if (!ReadImage(oldData, oldImage) || !ReadImage(newData, newImage) || oldImage.kind != newImage.kind) return false;
    plan = LayoutPlan();
    plan.pointerWidth = oldImage.kind == kPe32Plus ? 8 : 4;
    plan.oldBase = oldImage.base;
    plan.newBase = newImage.base;
    plan.oldSections.assign(oldImage.sections.begin(), oldImage.sections.end());
    plan.newSections.assign(newImage.sections.begin(), newImage.sections.end());
    for (PatchSection& s : plan.newSections) s.code = 0;
    std::uint32_t relocOffset = 0;
    if (oldImage.relocSize > 0 && OffsetOfRva(oldImage.sections, oldImage.relocRva, relocOffset) &&
        std::uint64_t(relocOffset) + oldImage.relocSize <= oldData.size()) {
        plan.relocOffset = relocOffset;
        plan.relocSize = oldImage.relocSize;
    }
    plan.flags = oldImage.kind == kPe32Plus ? kLayoutRipRelative : 0;
    plan.imageSize = oldImage.imageSize;
    for (const auto& [rva, size] : oldImage.rvaDirectories) AddTable(oldImage.sections, rva, size, plan.tables);
    AddUnwindData(oldData, oldImage, plan.tables);
    std::sort(plan.tables.begin(), plan.tables.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
    for (std::size_t i = 1; i < plan.tables.size(); ++i)
        if (plan.tables[i].offset < plan.tables[i - 1].offset + plan.tables[i - 1].size)
            plan.tables[i - 1].size = plan.tables[i].offset - plan.tables[i - 1].offset;
    if (!plan.tables.empty()) plan.flags |= kLayoutTables;
    if (plan.relocSize > 0) plan.flags |= kLayoutRelocations;
    return true;
}

PredictedPatch PredictedRecords(const std::string& records, const std::vector<unsigned char>& oldData,
                                const std::vector<unsigned char>& newData, LayoutPlan& plan, bool learn) {
    const std::uint32_t oldSize = std::uint32_t(oldData.size()), newSize = std::uint32_t(newData.size());
    BufferPatchBase old(oldData.data(), oldData.size());
    // Sites and predictions come from the layout as the applier reads it.
    PredictedPatch out;
    out.layout = PatchLayoutBytes(plan);
    PatchLayout layout;
    ReferenceSites sites;
    ReadPatchLayout(reinterpret_cast<const unsigned char*>(out.layout.data()), out.layout.size(), oldSize, newSize,
                    layout);
    if (!sites.reset(oldSize)) throw std::bad_alloc();
    FindReferenceSites(layout, old, oldSize, sites);
    std::vector<Observation> seen;
    if (learn)
        ForEachRun(records, [&](const PatchRun& run, std::size_t) {
            Observe(layout, sites, false, oldData, newData, run, seen);
            Observe(layout, sites, true, oldData, newData, run, seen);
        });
    if (learn) plan.moves = LearnMoves(std::move(seen));
    out.layout = PatchLayoutBytes(plan);
    ReadPatchLayout(reinterpret_cast<const unsigned char*>(out.layout.data()), out.layout.size(), oldSize, newSize,
                    layout);
    if (!sites.predictRelocations(layout)) throw std::bad_alloc();
    out.records = records;
    std::vector<unsigned char> predicted;
    ForEachRun(records, [&](const PatchRun& run, std::size_t diffAt) {
        const std::size_t length = run.oldEnd - run.oldStart;
        predicted.assign(oldData.begin() + run.oldStart, oldData.begin() + run.oldEnd);
        PredictReferences(layout, sites, old, run, run.oldStart, predicted.data(), length);
        for (std::size_t i = 0; i < length; ++i)
            out.records[diffAt + i] = static_cast<char>(newData[run.newStart + i] - predicted[i]);
    });
    return out;
}

std::vector<unsigned char> PredictedOld(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData,
                                        const LayoutPlan& plan) {
    const std::uint32_t oldSize = std::uint32_t(oldData.size());
    BufferPatchBase old(oldData.data(), oldData.size());
    const std::string bytes = PatchLayoutBytes(plan);
    PatchLayout layout;
    ReferenceSites sites;
    std::vector<unsigned char> out = oldData;
    if (!ReadPatchLayout(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), oldSize,
                         std::uint32_t(newData.size()), layout))
        return out;
    if (!sites.reset(oldSize)) throw std::bad_alloc();
    FindReferenceSites(layout, old, oldSize, sites);
    // Pointers and RVAs do not depend on where they land; rel32 operands are
    // predicted again one by one, each in a run that lands where it moves.
    PredictReferences(layout, sites, old, PatchRun{0, oldSize, 0}, 0, out.data(), oldSize);
    for (std::uint32_t site = sites.next(0, oldSize); site < oldSize; site = sites.next(site + 1, oldSize)) {
        std::uint32_t oldRva = 0, newRva = 0, newOffset = 0;
        if (!sites.at(true, site) || oldSize - site < 4 || !RvaOfOffset(layout.oldSections, site, oldRva) ||
            !MovedTarget(layout, oldRva, newRva) || !OffsetOfRva(layout.newSections, newRva, newOffset))
            continue;
        PredictReferences(layout, sites, old, PatchRun{site, site + 4, newOffset}, site, &out[site], 4);
    }
    return out;
}
