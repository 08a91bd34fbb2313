// The measured scenarios. Each adds its figures to the report.
#pragma once

#include <cstdint>
#include <string>

#include "Report.h"

struct BenchOptions {
    std::string workFolder;     // where packages and trees go (a temporary folder)
    std::string mkupdate;       // the package tool of the same build
    std::string updater;        // update.exe of the 32-bit Windows build; empty: no size figure
    std::string updater64;      // update.exe of the 64-bit Windows build; empty: no size figure
    int repetitions = 5;
    double treeScale = 1.0;     // 1.0: about 200 MB
    bool largePackages = true;  // the 1 GiB and 2 GiB packages
    std::string resultsFolder;  // where results.json and pairs.md go
    std::string pairCache;      // the real release pairs, kept between runs
    double pairCapMiB = 80;     // real pairs whose files are larger are skipped
    bool pairsOffline = false;  // the generator makes every pair; the registry is not asked
};

// Applying the generated tree: into an empty folder, over an older version and
// once more with everything current; the zlib floor, unzip and tar beside it.
// Leaves the tree's package in the work folder for the memory figures.
struct TreePackage {
    std::string path;
    std::int64_t entries = 0;
    std::int64_t bytes = 0;  // content of the part's entries
};
TreePackage MeasureThroughput(const BenchOptions& options, Report& report);
// The package folder of the throughput figures: update.ini and add/App/...
int MakePackageFolder(const std::string& folder, double scale);
// Loading a package of 100,000 entries.
void MeasureLoading(const BenchOptions& options, Report& report);
// Peak resident memory of child processes applying large packages.
void MeasurePeakMemory(const BenchOptions& options, const TreePackage& tree, Report& report);
// Patch entries on a release pair: package sizes with and without --patch,
// the time to make the patches, run time and peak memory of applying them;
// then the real release pairs (RealPairs.h).
void MeasurePatching(const BenchOptions& options, Report& report);
// What flushing files and journal lines costs: a 1,500-file part with rollback
// and a 1 GiB entry, each with and without the flushes.
void MeasureDurability(const BenchOptions& options, Report& report);
// What the way back costs: the same two cases run plainly, with ROLLBACK=1 in
// the part and in the main section, with a check after the update, and /UNDO
// of the checked run (WayBack.cpp).
void MeasureWayBack(const BenchOptions& options, Report& report);
// The stripped size of update.exe and the DLLs it imports.
void MeasureUpdaterSize(const BenchOptions& options, Report& report);
