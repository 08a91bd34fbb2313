// What the way back costs: the 1,500-file part and the 1 GiB entry of the
// flushing figures, each run four ways through the product (plainly, with
// ROLLBACK=1 in the part, with ROLLBACK=1 in the main section, and with a
// check after the update, CHECKCMD, that ends at once with 0: the native
// build answers every waited-for program so), and /UNDO of the checked run.
// The ways take turns, a different one first in each round, so that a slower
// spell of the shared machine falls on each of them; every run is checked to
// have taken its way (the check started, the record kept or not) and every
// /UNDO to have put the older files back.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <unistd.h>

#include "BenchSupport.h"
#include "ProductRun.h"
#include "Scenarios.h"
#include "SyntheticPackages.h"
#include "env/System.h"
#include "platform/NativeSandbox.h"
#include "platform/Process.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kFiles = 1500;
constexpr std::size_t kFileBytes = 16 * 1024;
constexpr double kCheckGoal = 1.3;  // a checked run against one with ROLLBACK=1 in the part

struct Way {
    const char* key;
    const char* label;
    const char* mainKeys;
    const char* partKeys;
    bool check;   // the run starts CHECKCMD
    bool record;  // the run is one transaction and keeps its record for /UNDO
};

constexpr Way kWays[] = {
    {"plain", "plain run", "", "", false, false},
    {"part_rollback", "part ROLLBACK=1", "", "ROLLBACK=1\r\n", false, false},
    {"main_rollback", "main ROLLBACK=1", "ROLLBACK=1\r\n", "", false, true},
    {"check", "CHECKCMD run", "CHECKCMD=C:\\App\\pruefung.exe --gesund\r\n", "", true, true},
};
constexpr std::size_t kWayCount = std::size(kWays);
constexpr std::size_t kPlain = 0, kPartRollback = 1, kCheck = 3;

// One measured case: its packages (one per way), what is installed before a
// run, and whether the application folder is as before it.
struct Case {
    std::string key, label, packagePrefix;
    std::function<void(const std::string& package, const std::string& controlFile)> write;
    std::function<void(const std::string& app)> install;
    std::function<bool(const std::string& app)> asBefore;
    const char* summary;
    std::int64_t count;
    int repetitions;
};

std::string PackageOf(const Case& c, const Way& way) { return c.packagePrefix + "-" + way.key + ".exe"; }

bool RecordKept() { return fs::exists(HostPathOf(WindowsFolder + "~updrec.~rx")); }

Timing TimingOf(const RunOutcome& run) { return {run.seconds, run.cpuSeconds}; }

// One run into a fresh sandbox; with `undo`, then /UNDO of it, timed there.
Timing RunOnce(const Case& c, const Way& way, const std::string& sandbox, Timing* undo) {
    RemoveTree(sandbox);
    const std::string app = sandbox + "/c/App";
    c.install(app);
    ::sync();  // the installed files and the package are on the disk before the run
    NativeStartedPrograms().clear();
    NativeWaitedProgram() = {};  // the check ends at once with 0
    const std::string package = PackageOf(c, way);
    const RunOutcome run = ApplyWithProduct(package, sandbox);
    const std::string what = c.label + ", " + way.label;
    Expect(run.succeeded, what + ": the update run failed");
    Expect(SummaryCount(run.log, c.summary) == c.count, what + ": the summary line of" + c.summary);
    Expect(NativeStartedPrograms().empty() != way.check, what + ": the check started or not");
    Expect(RecordKept() == way.record, what + ": the record kept or not");
    if (undo) {
        ::sync();
        const RunOutcome back = ApplyWithProduct(package, sandbox, true);
        Expect(back.succeeded, what + ": /UNDO failed");
        Expect(!RecordKept(), what + ": /UNDO left the record");
        Expect(c.asBefore(app), what + ": /UNDO left the application folder changed");
        *undo = TimingOf(back);
    }
    RemoveTree(sandbox);
    return TimingOf(run);
}

std::string Runs(const std::vector<Timing>& runs) {
    std::string text;
    for (std::size_t i = 0; i < runs.size(); ++i) text += (i ? ", " : "") + Fixed(runs[i].wall, 2);
    return text;
}

// The ratios of the runs of each round, `a` over `b`.
std::string Ratios(const std::vector<Timing>& a, const std::vector<Timing>& b) {
    std::string text;
    for (std::size_t i = 0; i < a.size(); ++i) text += (i ? ", " : "") + Fixed(a[i].wall / b[i].wall, 2);
    return text;
}

void AddTiming(Report& report, const std::string& key, const std::string& label, const std::vector<Timing>& runs) {
    const Timing m = Median(runs);
    report.add({key, label, m.wall, "s", "", false, false,
                "median of " + std::to_string(runs.size()) + ", wall clock; " + Fixed(m.cpu, 2) +
                    " s processor time; runs: " + Runs(runs)});
}

void AddRatio(Report& report, const std::string& key, const std::string& label, const std::vector<Timing>& a,
              const std::vector<Timing>& b, double goal) {
    const double ratio = Median(a).wall / Median(b).wall;
    const bool hasGoal = goal > 0;
    report.add({key, label, ratio, "", hasGoal ? "<= " + Fixed(goal, 2) : "", hasGoal, ratio <= goal,
                "of each round: " + Ratios(a, b)});
}

void Measure(Report& report, const Case& c, const std::string& sandbox) {
    for (const Way& way : kWays) c.write(PackageOf(c, way), BenchControlFile(way.mainKeys, way.partKeys));
    std::vector<Timing> runs[kWayCount], undos;
    for (int round = 0; round < c.repetitions; ++round)
        for (std::size_t i = 0; i < kWayCount; ++i) {
            const std::size_t w = (i + std::size_t(round)) % kWayCount;
            Timing undo;
            runs[w].push_back(RunOnce(c, kWays[w], sandbox, w == kCheck ? &undo : nullptr));
            if (w == kCheck) undos.push_back(undo);
        }
    for (std::size_t w = 0; w < kWayCount; ++w)
        AddTiming(report, c.key + "." + kWays[w].key, (w ? "  " : c.label + ": ") + kWays[w].label, runs[w]);
    AddTiming(report, c.key + ".undo", "  /UNDO of the CHECKCMD run", undos);
    AddRatio(report, c.key + ".check_ratio", "  CHECKCMD / part ROLLBACK=1", runs[kCheck], runs[kPartRollback],
             kCheckGoal);
    AddRatio(report, c.key + ".check_plain_ratio", "  CHECKCMD / plain run", runs[kCheck], runs[kPlain], 0);
    AddRatio(report, c.key + ".undo_ratio", "  /UNDO / CHECKCMD run", undos, runs[kCheck], 0);
    std::fprintf(stderr, "  %s: plain %.2f s, part ROLLBACK=1 %.2f s, CHECKCMD %.2f s (rounds: %s), /UNDO %.2f s\n",
                 c.label.c_str(), Median(runs[kPlain]).wall, Median(runs[kPartRollback]).wall,
                 Median(runs[kCheck]).wall, Ratios(runs[kCheck], runs[kPartRollback]).c_str(), Median(undos).wall);
    for (const Way& way : kWays) RemoveTree(PackageOf(c, way));
}

bool OlderFilesBack(const std::string& app) {
    char name[32];
    for (std::int32_t i = 0; i < kFiles; ++i) {
        std::snprintf(name, sizeof(name), "/datei%04d.dat", i);
        std::error_code error;
        if (fs::file_size(app + name, error) != kFileBytes / 2 || error) return false;
    }
    return true;
}

}  // namespace

void MeasureWayBack(const BenchOptions& o, Report& report) {
    const std::string sandbox = o.workFolder + "/way-back-sandbox";
    Case files{"way_back.rollback_1500", "way back, 1,500 files of 16 KiB", o.workFolder + "/way-back-files",
               [](const std::string& p, const std::string& ini) { WriteReplacingPart(p, kFiles, kFileBytes, ini); },
               [](const std::string& app) { InstallOlderFiles(app, kFiles, kFileBytes); }, OlderFilesBack,
               " Dateien aktualisiert", kFiles, o.repetitions};
    Measure(report, files, sandbox);
    if (!o.largePackages) return;
    Case large{"way_back.1gib_entry", "way back, 1 GiB entry", o.workFolder + "/way-back-large",
               [](const std::string& p, const std::string& ini) { WriteLargeEntry(p, 1024, false, ini); },
               MakeFolders, [](const std::string& app) { return !fs::exists(app + "/big.bin"); },
               " Dateien zugef", 1, std::min(o.repetitions, 3)};
    Measure(report, large, sandbox);
}
