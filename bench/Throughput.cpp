// Applying the generated tree, side by side with the zlib floor, unzip and tar;
// and mkupdate extract of the whole package, against the same floor.
#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "BenchSupport.h"
#include "ProductRun.h"
#include "Scenarios.h"
#include "SyntheticPackages.h"
#include "TreeGenerator.h"
#include "ZlibFloor.h"

namespace {

constexpr std::int64_t kOlderInstallTime = 1577872800;  // 2020-01-01, before the package's stamps
constexpr std::uint64_t kTreeSeed = 20240315;

// The package and the competitors' archives, and for every run fresh output
// folders: writing into folders emptied by a deletion just before would make
// every tool pay for the file system's handling of recently deleted files.
struct Workspace {
    explicit Workspace(const std::string& root)
        : root(root), source(root + "/src"), tree(source + "/add/App"), stub(root + "/stub.exe"),
          package(root + "/update.exe"), zip(root + "/tree.zip"), tarball(root + "/tree.tar.gz") {}
    std::string root, source, tree, stub, package, zip, tarball;
    std::string mkupdate;
    std::string sandbox, installed, floorOut, unzipOut, tarOut, extractOut;  // of the current run

    void freshOutputs(int run) {
        std::string n = std::to_string(run);
        sandbox = root + "/sandbox" + n;
        installed = sandbox + "/c/App";
        floorOut = root + "/floor" + n;
        unzipOut = root + "/unzip" + n;
        tarOut = root + "/untar" + n;
        extractOut = root + "/extract" + n;
        for (const std::string& folder : {installed, floorOut, unzipOut, tarOut, extractOut}) MakeFolders(folder);
    }
    void removeOutputs(int runs) {
        for (int run = 0; run < runs; ++run)
            for (const char* name : {"/sandbox", "/floor", "/unzip", "/untar", "/extract"}) RemoveTree(root + name + std::to_string(run));
    }
};

struct Samples {
    std::vector<Timing> floor, apply, unzip, tar, extract;
};

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

TreeInfo WritePackageFolder(const Workspace& w, double scale) {
    MakeFolders(w.tree);
    TreeInfo info = GenerateTree(w.tree, kTreeSeed, scale);
    WriteText(w.source + "/update.ini", kBenchControlFile);
    return info;
}

TreeInfo Prepare(const BenchOptions& o, const Workspace& w) {
    TreeInfo info = WritePackageFolder(w, o.treeScale);
    std::string stub = "MZ" + std::string(64 * 1024 - 2, '\0');  // "PE\0\0" at 0x40, as 0x3C says
    stub[0x3C] = 0x40;
    stub.replace(0x40, 2, "PE");
    WriteText(w.stub, stub);
    RunChecked({o.mkupdate, "build", "--stub", w.stub, "--date", "2024-03-15 14:30:10", "--threads", "2", "-o",
                w.package, w.source});
    RunChecked({"zip", "-q", "-r", "-6", w.zip, "."}, w.tree);
    RunChecked({"tar", "-czf", w.tarball, "-C", w.tree, "."});
    return info;
}

void ExpectSameTree(const std::string& expected, const std::string& actual) {
    std::string why;
    Expect(SameTrees(expected, actual, why), why);
}

Timing ApplyChecked(const Workspace& w, const char* suffix, std::int64_t count) {
    RunOutcome run = ApplyWithProduct(w.package, w.sandbox);
    Expect(run.succeeded, "the update run failed");
    Expect(SummaryCount(run.log, suffix) == count, std::string("the summary line of") + suffix);
    return {run.seconds, run.cpuSeconds};
}

Timing TimeFloor(const Workspace& w, const TreeInfo& info) {
    Stopwatch clock;
    CpuClock cpu;
    std::int64_t bytes = ExtractWithZlib(w.package, "add\\App\\", w.floorOut);
    Timing t{clock.seconds(), cpu.seconds()};
    Expect(bytes == info.bytes, "the floor wrote every byte");
    return t;
}

Timing TimeTool(const std::vector<std::string>& argv) {
    ChildResult r = RunChecked(argv);
    return {r.seconds, r.cpuSeconds};
}

// The four tools one after the other, starting with a different one in every
// run, so that none always follows the same one.
void EachTool(int run, const std::vector<std::function<void()>>& tools) {
    for (std::size_t k = 0; k < tools.size(); ++k) tools[(k + std::size_t(run)) % tools.size()]();
}

// Each tool writes the whole tree once into its empty folder.
void IntoEmptyFolders(const Workspace& w, const TreeInfo& info, int run, Samples& s) {
    EachTool(run, {
        [&] { s.floor.push_back(TimeFloor(w, info)); },
        [&] {
            s.apply.push_back(ApplyChecked(w, " Dateien zugef", info.files));
            if (run == 0) ExpectSameTree(w.tree, w.installed);
        },
        [&] { s.unzip.push_back(TimeTool({"unzip", "-o", "-q", w.zip, "-d", w.unzipOut})); },
        [&] { s.tar.push_back(TimeTool({"tar", "-xzf", w.tarball, "-C", w.tarOut})); },
        [&] { s.extract.push_back(TimeTool({w.mkupdate, "extract", w.package, w.extractOut})); },
    });
}

// Every tool writes over its own earlier output; the installed files are made older first.
void OverOlderFiles(const Workspace& w, const TreeInfo& info, int run, Samples& s) {
    AgeFiles(w.installed, kOlderInstallTime);
    EachTool(run, {
        [&] { s.floor.push_back(TimeFloor(w, info)); },
        [&] {
            s.apply.push_back(ApplyChecked(w, " Dateien aktualisiert", info.files));
            if (run == 0) ExpectSameTree(w.tree, w.installed);
        },
        [&] { s.unzip.push_back(TimeTool({"unzip", "-o", "-q", w.zip, "-d", w.unzipOut})); },
        [&] { s.tar.push_back(TimeTool({"tar", "-xzf", w.tarball, "-C", w.tarOut})); },
    });
}

double MBps(std::int64_t bytes, double seconds) { return double(bytes) / 1e6 / seconds; }

void AddRatio(Report& report, const std::string& key, const std::string& label, double ratio, const char* goal,
              bool met) {
    bool hasGoal = goal[0] != '\0';
    report.add({key, label, ratio, "", goal, hasGoal, hasGoal && met, ""});
}

// Throughputs by wall-clock time, their ratios, and the ratios by processor
// time, which other work on a shared machine disturbs less.
void AddScenario(Report& report, const std::string& key, const std::string& where, const Samples& s,
                 const TreeInfo& info) {
    Timing apply = Median(s.apply), floor = Median(s.floor), unzip = Median(s.unzip), tar = Median(s.tar);
    std::string runs = "median of " + std::to_string(s.apply.size()) + ", wall clock";
    struct Tool {
        const char* key;
        const char* name;
        Timing timing;
    } tools[] = {{"apply", "apply", apply}, {"floor", "zlib floor", floor}, {"unzip", "unzip -o", unzip},
                 {"tar", "tar -xzf", tar}};
    for (const Tool& t : tools)
        report.add({key + "." + t.key, std::string(t.name) + " " + where, MBps(info.bytes, t.timing.wall), "MB/s", "",
                    false, false, runs + "; " + Fixed(t.timing.cpu, 2) + " s processor time"});
    AddRatio(report, key + ".ratio_floor", "  apply / floor " + where, floor.wall / apply.wall, ">= 0.90",
             floor.wall / apply.wall >= 0.9);
    AddRatio(report, key + ".ratio_unzip", "  apply / unzip " + where, unzip.wall / apply.wall, "> 1",
             unzip.wall > apply.wall);
    AddRatio(report, key + ".ratio_tar", "  apply / tar " + where, tar.wall / apply.wall, "", false);
    if (!s.extract.empty()) {
        Timing extract = Median(s.extract);
        report.add({key + ".extract", "mkupdate extract " + where, MBps(info.bytes, extract.wall), "MB/s", "", false,
                    false, runs + "; " + Fixed(extract.cpu, 2) + " s processor time; the whole package"});
        AddRatio(report, key + ".ratio_extract_floor", "  extract / floor " + where, floor.wall / extract.wall,
                 ">= 0.90", floor.wall / extract.wall >= 0.9);
    }
    AddRatio(report, key + ".cpu_ratio_floor", "  by processor time: apply / floor", floor.cpu / apply.cpu, "", false);
    AddRatio(report, key + ".cpu_ratio_unzip", "  by processor time: apply / unzip", unzip.cpu / apply.cpu, "", false);
    AddRatio(report, key + ".cpu_ratio_tar", "  by processor time: apply / tar", tar.cpu / apply.cpu, "", false);
}

}  // namespace

int MakePackageFolder(const std::string& folder, double scale) {
    Workspace w(folder);
    TreeInfo info = WritePackageFolder(w, scale);
    std::printf("%s: %lld files, %lld bytes\n", w.source.c_str(), (long long)info.files, (long long)info.bytes);
    return 0;
}

TreePackage MeasureThroughput(const BenchOptions& o, Report& report) {
    Workspace w(o.workFolder + "/tree");
    w.mkupdate = o.mkupdate;
    Stopwatch preparation;
    TreeInfo info = Prepare(o, w);
    report.setContext("tree", std::to_string(info.files) + " files, " + std::to_string(info.bytes) + " bytes; package " +
                                  std::to_string(FileSize(w.package)) + " bytes, zip " + std::to_string(FileSize(w.zip)) +
                                  " bytes, tar.gz " + std::to_string(FileSize(w.tarball)) + " bytes");
    report.setContext("preparation", Fixed(preparation.seconds(), 1) + " s (tree, mkupdate build, zip, tar)");

    Samples empty, over;
    std::vector<Timing> second;
    for (int rep = 0; rep < o.repetitions; ++rep) {
        w.freshOutputs(rep);
        IntoEmptyFolders(w, info, rep, empty);
        second.push_back(ApplyChecked(w, " wurden nicht aktualisiert", info.files));
        OverOlderFiles(w, info, rep, over);
        std::fprintf(stderr, "  throughput run %d of %d done\n", rep + 1, o.repetitions);
    }
    AddScenario(report, "empty", "into empty folder", empty, info);
    AddScenario(report, "over", "over older version", over, info);
    Timing again = Median(second);
    report.add({"second.per_entry", "second application, per entry", again.wall / double(info.files + 2) * 1e6, "us",
                "", false, false,
                Fixed(again.wall * 1000, 1) + " ms for " + std::to_string(info.files + 2) + " entries; " +
                    Fixed(again.cpu * 1000, 1) + " ms processor time"});
    w.removeOutputs(o.repetitions);
    return TreePackage{w.package, info.files + 2, info.bytes};
}
