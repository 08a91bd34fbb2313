// What the patch maker needs to know of two program files for a PAT3 patch:
// their sections and relocations (from the PE headers), and how the targets
// of the old file's references moved, learnt from the records that align the
// two files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/PatchReferences.h"

struct PatchMove {
    std::uint32_t oldRva = 0;
    std::int32_t delta = 0;
};

// A layout as the maker builds it; the applier reads its bytes (PatchLayoutBytes).
struct LayoutPlan {
    std::uint32_t pointerWidth = 0;
    std::uint32_t flags = 0;  // kLayoutRipRelative, kLayoutTables (PatchReferences.h)
    std::uint64_t oldBase = 0, newBase = 0;
    std::uint32_t relocOffset = 0, relocSize = 0;
    std::uint32_t imageSize = 0;  // with kLayoutRipRelative
    std::vector<PatchSection> oldSections, newSections;
    std::vector<PatchTables::Range> tables;  // with kLayoutTables: ascending, sharing no bytes
    std::vector<PatchMove> moves;
};

std::string PatchLayoutBytes(const LayoutPlan& plan);

// The plan for two PE files of the same kind (both PE32 or both PE32+), its
// moves still empty, the flags for the references that the old file's kind
// has (RIP-relative operands for PE32+) and its tables of RVAs; false when either is no such file, when their sections
// do not lie one after the other, or when the old file exceeds 256 MiB.
bool ProgramLayoutOf(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData,
                     LayoutPlan& plan);

// The records (A, E, seek, A diff bytes, E new bytes; ArchiveFormat.h) with
// each diff run taken against the predicted old bytes instead of the old
// bytes as they are, and the layout's bytes with the moves learnt from the
// targets that the references in the runs have in each file (with `learn`;
// without it, the plan's moves as they are: those the records were found with).
struct PredictedPatch {
    std::string layout, records;
};
PredictedPatch PredictedRecords(const std::string& records, const std::vector<unsigned char>& oldData,
                                const std::vector<unsigned char>& newData, LayoutPlan& plan, bool learn = true);

// The old file with each reference replaced by its prediction, as if every
// reference moved where its own address moves by the plan's moves: the
// search for matches against it aligns code whose references all changed.
std::vector<unsigned char> PredictedOld(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData,
                                        const LayoutPlan& plan);
