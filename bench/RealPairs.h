// Patches of consecutive releases of real Windows programs (RealPairs.cpp
// names them): fetched from the npm registry into a cache folder and kept
// there between runs; where the registry cannot be reached, the bench's
// generated program of the same width stands in, and the figures say so.
#pragma once

#include <string>

#include "Report.h"
#include "Scenarios.h"

// For each pair: our patch beside bsdiff's, the time and peak memory of
// making and of applying each, and whether ours gives the new file exactly,
// fed whole and in pieces. Also writes the figures as a table to
// RESULTS/pairs.md.
void MeasureRealPairs(const BenchOptions& options, Report& report);

// The child processes of those figures. ChildMake writes the patch of OLD to
// NEW that the tool's maker makes; exit code 0 when it made one, 3 to 5 for
// MadePatch's Unavailable, SearchTooLong and WrongResult.
int ChildMake(const std::string& oldFile, const std::string& newFile, const std::string& patch);
// ChildPatch applies the patch entry PATCH to OLD,
// handing the applier the patch in pieces of `piece` bytes (0: all at once),
// and writes the new file to OUT and the count of reads of OLD to OUT.reads.
// Exit code 0 when the applier built the file.
int ChildPatch(const std::string& oldFile, const std::string& patch, const std::string& out, std::size_t piece);
// Explain prints where the remaining bytes of PATCH (OLD to NEW) lie (Explain.cpp).
int Explain(const std::string& oldFile, const std::string& newFile, const std::string& patchFile);
