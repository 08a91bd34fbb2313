// `mkupdate diff --patch`: a changed file goes into the package as a patch
// entry (pat\<section>\<name>) when the patch is clearly smaller than the
// whole file compressed as build compresses it.
#pragma once

#include <filesystem>
#include <string>

// A patch that saves less than a quarter of the whole file's compressed size
// is not worth what it costs: it needs the exact old file on the machine
// (a changed one stops the run) and re-creates no missing file.
constexpr double kPatchAtMostOfWhole = 0.75;

struct PatchDecision {
    bool usePatch = false;
    std::string patch;          // the patch entry's data, when usePatch
    std::uint64_t patchSize = 0, wholeSize = 0;  // both as stored in the package, compressed
    std::string error;          // a file that could not be read, or no patch can be made here
    std::string warning;        // no patch for a reason that leaves the file whole (usePatch false)
};

// Whether `newFile` goes into the package as a patch from `oldFile`.
PatchDecision DecidePatch(const std::filesystem::path& oldFile, const std::filesystem::path& newFile);
