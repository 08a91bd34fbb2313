// Loading 100,000 entries, and peak resident memory of child processes that
// apply packages of every size the format allows.
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "BenchSupport.h"
#include "ProductRun.h"
#include "Scenarios.h"
#include "SyntheticPackages.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::int32_t kManyEntries = 100000;
constexpr std::int32_t kDeletionLines = 1000;

std::int64_t InstalledBytes(const std::string& folder) {
    std::int64_t total = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file()) total += std::int64_t(e.file_size());
    return total;
}

// Applies `package` in a child process; returns its peak resident memory in MiB.
double PeakOfChild(const std::string& package, std::int64_t expectedBytes, const std::string& sandbox, double& seconds) {
    RemoveTree(sandbox);
    ChildResult r = RunMeasured({ProgramPath(), "--child-apply", package, sandbox}, sandbox + ".figures");
    if (r.exitCode != 0) throw std::runtime_error("the child run failed on " + package);
    std::int64_t written = InstalledBytes(sandbox + "/c/App");
    RemoveTree(sandbox);
    if (written != expectedBytes)
        throw std::runtime_error(package + ": " + std::to_string(written) + " bytes installed, not " +
                                 std::to_string(expectedBytes));
    seconds = r.seconds;
    return double(r.peakResidentKiB) / 1024.0;
}

void AddPeak(Report& report, const std::string& key, const std::string& label, const std::string& package,
             const PackageInfo& info, const std::string& sandbox) {
    double seconds = 0;
    double peak = PeakOfChild(package, info.contentBytes, sandbox, seconds);
    std::string note = "package " + Fixed(double(info.fileBytes) / kMiB, 1) + " MiB, " + std::to_string(info.entries) +
                       " entries, run " + Fixed(seconds, 1) + " s";
    report.add({key, label, peak, "MiB", "< 64", true, peak < 64, note});
    std::fprintf(stderr, "  %s: %.1f MiB\n", label.c_str(), peak);
}

}  // namespace

void MeasureLoading(const BenchOptions& o, Report& report) {
    std::string package = o.workFolder + "/many.exe";
    PackageInfo info = WriteManyEntries(package, kManyEntries, kDeletionLines);
    std::vector<double> samples;
    for (int rep = 0; rep < std::max(o.repetitions, 5); ++rep) {
        LoadOutcome load = LoadWithProduct(package);
        if (load.entries != info.entries || load.deletionLines != std::size_t(kDeletionLines))
            throw std::runtime_error("loading the package of 100,000 entries missed entries or lines");
        samples.push_back(load.seconds);
    }
    double ms = Median(samples) * 1000;
    report.add({"load.100k_entries", "load 100,000 entries", ms, "ms", "< 100", true, ms < 100,
                "directory " + std::to_string(info.entries) + " entries, " + std::to_string(kDeletionLines) +
                    " deletion lines; median of " + std::to_string(samples.size())});
    RemoveTree(package);
}

void MeasurePeakMemory(const BenchOptions& o, const TreePackage& tree, Report& report) {
    const std::string sandbox = o.workFolder + "/memory-sandbox";
    PackageInfo treeInfo{tree.entries, tree.bytes, FileSize(tree.path)};
    AddPeak(report, "memory.tree", "peak memory, the tree's package", tree.path, treeInfo, sandbox);
    if (!o.largePackages) return;
    const std::string package = o.workFolder + "/large.exe";
    struct Case {
        const char* key;
        const char* label;
        int kind;
    } cases[] = {
        {"memory.1gib_segments", "peak memory, 1 GiB entry in 1 MiB segments", 0},
        {"memory.1gib_single", "peak memory, 1 GiB entry as one segment", 1},
        {"memory.2gib_package", "peak memory, package at the 2 GiB limit", 2},
    };
    for (const Case& c : cases) {
        PackageInfo info = c.kind == 2 ? WriteLargestPackage(package) : WriteLargeEntry(package, 1024, c.kind == 1);
        AddPeak(report, c.key, c.label, package, info, sandbox);
        RemoveTree(package);
    }
}
