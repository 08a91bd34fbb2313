// update_bench: the performance figures of the updater, measured side by side
// in one run, printed as a table and written to RESULTS/results.json.
//
//   update_bench --results DIR [--updater update.exe] [--updater64 update.exe] [--repetitions N] [--quick]
//                [--durability-only | --way-back-only | --patching-only] [--pair-cache DIR] [--pair-cap MB] [--pairs-offline]
//   update_bench --make-tree DIR [SCALE]     the package folder alone, for profiling
//   update_bench --make-release-pair OLD NEW  the two releases of the patch figures
//   update_bench --child-apply PACKAGE SANDBOX   one update run, as the memory figures run it
//   update_bench --child-floor PACKAGE FOLDER    the zlib floor alone
//   update_bench --child-make OLD NEW PATCH      one patch made (RealPairs.h)
//   update_bench --explain OLD NEW PATCH         where the patch's remaining bytes lie (Explain.cpp)
//   update_bench --child-patch OLD PATCH OUT PIECE  one patch entry applied in pieces (RealPairs.h)
//   update_bench --measure RESULT PROGRAM ARGS...  runs PROGRAM, writes its exit code,
//                                                peak memory (KiB) and seconds to RESULT
//
// --quick makes a tree of about a tenth of the size and skips the 1 GiB and
// 2 GiB packages (for trying the program out, not for figures).
// --durability-only measures only what flushing costs, --way-back-only only what
// ROLLBACK=1, a check after the update and /UNDO cost, --patching-only only the patch figures.
// The real release pairs are fetched into --pair-cache (RESULTS/npm) and kept
// there; --pair-cap skips those whose files are above MB (default 80: all;
// --quick: 16, without the two largest); --pairs-offline has the generator
// make them all.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "ProductRun.h"
#include "RealPairs.h"
#include "ReleasePair.h"
#include "Scenarios.h"
#include "ZlibFloor.h"

namespace {

struct CommandLine {
    BenchOptions options;
    std::string results;
    bool durabilityOnly = false;
    bool wayBackOnly = false;
    bool patchingOnly = false;
};

bool Parse(int argc, char** argv, CommandLine& c) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--results" && hasValue) c.results = argv[++i];
        else if (a == "--updater" && hasValue) c.options.updater = argv[++i];
        else if (a == "--updater64" && hasValue) c.options.updater64 = argv[++i];
        else if (a == "--repetitions" && hasValue) c.options.repetitions = std::max(1, std::atoi(argv[++i]));
        else if (a == "--durability-only") c.durabilityOnly = true;
        else if (a == "--way-back-only") c.wayBackOnly = true;
        else if (a == "--patching-only") c.patchingOnly = true;
        else if (a == "--pair-cache" && hasValue) c.options.pairCache = argv[++i];
        else if (a == "--pair-cap" && hasValue) c.options.pairCapMiB = std::atof(argv[++i]);
        else if (a == "--pairs-offline") c.options.pairsOffline = true;
        else if (a == "--quick") {
            c.options.treeScale = 0.1;
            c.options.largePackages = false;
            c.options.pairCapMiB = 16;
        } else return false;
    }
    return !c.results.empty();
}

void CheckTools() {
    for (const char* tool : {"zip", "unzip", "tar", "gzip"})
        if (!ProgramExists(tool)) throw std::runtime_error(std::string(tool) + " is missing (make deps installs it)");
}

int Finish(const CommandLine& c, Report& report, const Stopwatch& total) {
    report.setContext("benchmark time", Fixed(total.seconds(), 1) + " s");
    report.print();
    report.writeJson(c.results + "/results.json");
    std::printf("written: %s/results.json\n", c.results.c_str());
    return 0;
}

int Run(CommandLine& c) {
    CheckTools();
    MakeFolders(c.results);
    TempFolder work("update-bench-");
    c.options.workFolder = work.path();
    c.options.mkupdate = ProgramFolder() + "/mkupdate";
    c.options.resultsFolder = c.results;
    if (c.options.pairCache.empty()) c.options.pairCache = c.results + "/npm";
    Report report;
    report.setContext("machine", std::to_string(std::thread::hardware_concurrency()) +
                                     " cores, shared with other work; wall-clock medians");
    Stopwatch total;
    if (c.durabilityOnly) return MeasureDurability(c.options, report), Finish(c, report, total);
    if (c.wayBackOnly) return MeasureWayBack(c.options, report), Finish(c, report, total);
    if (c.patchingOnly) return MeasurePatching(c.options, report), Finish(c, report, total);
    std::fprintf(stderr, "update_bench: tree, packages and throughput ...\n");
    TreePackage tree = MeasureThroughput(c.options, report);
    std::fprintf(stderr, "update_bench: loading 100,000 entries ...\n");
    MeasureLoading(c.options, report);
    std::fprintf(stderr, "update_bench: peak memory ...\n");
    MeasurePeakMemory(c.options, tree, report);
    std::fprintf(stderr, "update_bench: patch entries ...\n");
    MeasurePatching(c.options, report);
    std::fprintf(stderr, "update_bench: flushing ...\n");
    MeasureDurability(c.options, report);
    std::fprintf(stderr, "update_bench: the way back ...\n");
    MeasureWayBack(c.options, report);
    MeasureUpdaterSize(c.options, report);
    return Finish(c, report, total);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--child-apply") return ChildApply(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "--child-floor") return ChildFloor(argv[2], argv[3]);
    if (argc == 5 && std::string(argv[1]) == "--child-make") return ChildMake(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::string(argv[1]) == "--explain") return Explain(argv[2], argv[3], argv[4]);
    if (argc == 6 && std::string(argv[1]) == "--child-patch")
        return ChildPatch(argv[2], argv[3], argv[4], std::size_t(std::atoll(argv[5])));
    if (argc >= 4 && std::string(argv[1]) == "--measure")
        return MeasureChild(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    if (argc == 4 && std::string(argv[1]) == "--make-release-pair") return WriteReleasePair(argv[2], argv[3]), 0;
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--make-tree")
        return MakePackageFolder(argv[2], argc == 4 ? std::atof(argv[3]) : 1.0);
    CommandLine c;
    if (!Parse(argc, argv, c)) {
        std::fputs("usage: update_bench --results DIR [--updater update.exe] [--updater64 update.exe] [--repetitions N] [--quick]"
                   " [--durability-only | --way-back-only | --patching-only]\n"
                   "       [--pair-cache DIR] [--pair-cap MB] [--pairs-offline]\n", stderr);
        return 2;
    }
    try {
        return Run(c);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "update_bench: %s\n", e.what());
        return 1;
    }
}
