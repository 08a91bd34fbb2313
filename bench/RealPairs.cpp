#include "RealPairs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "BenchSupport.h"
#include "ReleasePair.h"
#include "archive/Patch.h"
#include "tools/mkupdate/PatchMaker.h"

namespace fs = std::filesystem;

namespace {

// Consecutive releases of real Windows programs, one file of each. The
// packages are the registry's platform packages, which hold the program as
// built; `mib` is about the size of the new file (the cap looks at it before
// anything is fetched).
struct RealPair {
    const char* key;
    const char* kind;
    const char* package;
    const char* oldVersion;
    const char* newVersion;
    const char* file;  // below package/ in the package's tarball
    bool wide;         // 64-bit: what the generator makes where the registry cannot be reached
    double mib;
};

// clang-format off
constexpr RealPair kPairs[] = {
    {"msvc32", "32-bit DLL, MSVC (C++)",  "@parcel/watcher-win32-ia32",      "2.5.0",     "2.5.1",     "watcher.node", false, 0.4},
    {"msvc64s", "64-bit DLL, MSVC (C++)", "@parcel/watcher-win32-x64",       "2.5.0",     "2.5.1",     "watcher.node", true,  0.4},
    {"go32",   "32-bit program, Go",      "@esbuild/win32-ia32",             "0.25.0",    "0.25.1",    "esbuild.exe",  false, 9.9},
    {"go64",   "64-bit program, Go",      "@esbuild/win32-x64",              "0.25.0",    "0.25.1",    "esbuild.exe",  true,  10.0},
    {"msvc64", "64-bit DLL, MSVC (C++)",  "@duckdb/node-bindings-win32-x64", "1.5.2-r.2", "1.5.4-r.1", "duckdb.dll",   true,  35.0},
    {"rust64", "64-bit program, Rust",    "@biomejs/cli-win32-x64",          "2.4.14",    "2.4.15",    "biome.exe",    true,  67.4},
};
// clang-format on

// The applier's pieces: the first one's runs give the time (the median of
// three, as for bspatch: process start included for both), all must give the new file.
constexpr std::size_t kPieces[] = {65536, 0, 4093, 7, 1};
// Pieces of 1 and 7 bytes cost a call each: only for patches up to this size.
constexpr std::int64_t kSmallPiecesUpTo = 4 << 20;

constexpr double kKiB = 1024.0;

std::string Basename(const std::string& path) { return fs::path(path).filename().string(); }

// The package's folder name in the cache: "@scope/name" becomes "scope+name".
std::string CacheName(const RealPair& p, const char* version) {
    std::string name = p.package[0] == '@' ? p.package + 1 : p.package;
    for (char& c : name)
        if (c == '/') c = '+';
    return name + "@" + version;
}

// The pair's file of `version`, from the cache or fetched into it with npm
// pack; empty when it cannot be had.
std::string Fetched(const std::string& cache, const RealPair& p, const char* version) {
    const std::string folder = cache + "/" + CacheName(p, version), file = folder + "/" + Basename(p.file);
    if (FileSize(file) > 0) return file;
    const std::string download = folder + ".download";
    RemoveTree(download);
    MakeFolders(download);
    const std::string wanted = std::string(p.package) + "@" + version;
    std::fprintf(stderr, "  fetching %s ...\n", wanted.c_str());
    if (RunChild({"timeout", "300", "npm", "pack", "--silent", wanted}, download).exitCode != 0) return RemoveTree(download), "";
    for (const auto& e : fs::directory_iterator(download)) {
        if (e.path().extension() != ".tgz") continue;
        const std::string inside = std::string("package/") + p.file;
        if (RunChild({"tar", "xzf", e.path().string(), "-C", download, inside}).exitCode != 0) break;
        MakeFolders(folder);
        fs::rename(download + "/" + inside, file);
        break;
    }
    RemoveTree(download);
    return FileSize(file) > 0 ? file : "";
}

// Where a pair's two files lie, and whence they came.
struct PairFiles {
    std::string oldFile, newFile;
    std::string source;  // the package and versions, or why the generator made them
};

PairFiles Prepare(const BenchOptions& o, const RealPair& p, bool& registryDown) {
    PairFiles f;
    if (!registryDown && !o.pairsOffline && ProgramExists("npm")) {
        f.oldFile = Fetched(o.pairCache, p, p.oldVersion);
        f.newFile = f.oldFile.empty() ? "" : Fetched(o.pairCache, p, p.newVersion);
        registryDown = f.newFile.empty();  // one failure is enough: no minutes of timeouts per pair
    }
    if (!f.newFile.empty()) {
        f.source = std::string(p.package) + " " + p.oldVersion + " -> " + p.newVersion;
        return f;
    }
    f.oldFile = o.workFolder + "/" + p.key + ".old";
    f.newFile = o.workFolder + "/" + p.key + ".new";
    WriteProgramPair(f.oldFile, f.newFile, p.wide);
    f.source = std::string("generated ") + (p.wide ? "64" : "32") + "-bit program: " +
               (o.pairsOffline ? "--pairs-offline" : "the npm registry cannot be reached");
    return f;
}

// The figures of one pair; negative where not measured.
struct PairFigures {
    std::int64_t oldSize = 0, newSize = 0, ours = -1, bsdiff = -1;
    ChildResult make, apply, applyWhole, bsdiffRun, bspatch;
    std::string form;   // our patch's magic: PAT1 to PAT4
    std::string exact;  // "yes (pieces ...)" or what differed
    std::int64_t reads = -1;
};

bool SameFile(const std::string& a, const std::string& b) { return RunChild({"cmp", "-s", a, b}).exitCode == 0; }

// The run of `argv` whose times (wall and CPU) are the medians of a few (the
// other figures from the last); stops at a failed one.
ChildResult MedianRun(const BenchOptions& o, const std::vector<std::string>& argv, const std::string& figures) {
    std::vector<double> seconds, cpu;
    ChildResult r;
    for (int i = 0; i < std::min(o.repetitions, 3); ++i) {
        r = RunMeasured(argv, figures);
        if (r.exitCode != 0) return r;
        seconds.push_back(r.seconds);
        cpu.push_back(r.cpuSeconds);
    }
    r.seconds = Median(seconds);
    r.cpuSeconds = Median(cpu);
    return r;
}

// Our patch from the tool's patch maker (as mkupdate diff --patch makes it,
// whether or not the package would take it); its path, empty when none was made.
std::string MakeOurs(const BenchOptions& o, const RealPair& p, const PairFiles& f, PairFigures& figures) {
    const std::string patch = o.workFolder + "/" + p.key + ".patch";
    figures.make = RunMeasured({ProgramPath(), "--child-make", f.oldFile, f.newFile, patch},
                               patch + ".figures");
    static const char* const kWhy[] = {"made", "", "", "none: unavailable here", "none: search too long",
                                       "none: wrong result"};
    if (figures.make.exitCode != 0) {
        const int code = figures.make.exitCode;
        figures.form = code >= 3 && code <= 5 ? kWhy[code] : "none: maker failed";
        return "";
    }
    figures.ours = FileSize(patch);
    figures.form.resize(4);
    std::ifstream(patch, std::ios::binary).read(figures.form.data(), 4);
    return patch;
}

// Our applier in pieces of each size; each result compared with the new file.
void ApplyOurs(const BenchOptions& o, const RealPair& p, const PairFiles& f, const std::string& patch,
               PairFigures& figures) {
    const std::string out = o.workFolder + "/" + p.key + ".built";
    std::string pieces;
    for (std::size_t piece : kPieces) {
        if (piece > 0 && piece < 16 && figures.ours > kSmallPiecesUpTo) continue;
        const std::vector<std::string> argv = {ProgramPath(), "--child-patch", f.oldFile, patch, out, std::to_string(piece)};
        ChildResult r = piece == kPieces[0] ? MedianRun(o, argv, out + ".figures") : RunMeasured(argv, out + ".figures");
        if (r.exitCode != 0 || !SameFile(out, f.newFile)) {
            figures.exact = "NO: pieces of " + std::to_string(piece) + (r.exitCode ? " failed" : " differ");
            return;
        }
        if (piece == kPieces[0]) {
            figures.apply = r;
            std::ifstream(out + ".reads") >> figures.reads;
        }
        if (piece == 0) figures.applyWhole = r;
        pieces += (pieces.empty() ? "" : ", ") + (piece ? std::to_string(piece) : std::string("whole"));
    }
    RemoveTree(out);
    figures.exact = "yes (" + pieces + ")";
}

// bsdiff's patch and bspatch's run on the same pair, where they are installed.
void RunBsdiff(const BenchOptions& o, const RealPair& p, const PairFiles& f, PairFigures& figures) {
    if (!ProgramExists("bsdiff") || !ProgramExists("bspatch")) return;
    const std::string patch = o.workFolder + "/" + p.key + ".bsdiff", out = o.workFolder + "/" + p.key + ".bspatched";
    figures.bsdiffRun = RunMeasured({"timeout", "1200", "bsdiff", f.oldFile, f.newFile, patch}, patch + ".figures");
    if (figures.bsdiffRun.exitCode != 0) return;
    figures.bsdiff = FileSize(patch);
    figures.bspatch = MedianRun(o, {"bspatch", f.oldFile, out, patch}, out + ".figures");
    if (figures.bspatch.exitCode != 0 || !SameFile(out, f.newFile)) figures.bspatch.exitCode = 1;
    RemoveTree(out);
    RemoveTree(patch);
}

std::string MiB(std::int64_t kib) { return Fixed(double(kib) / kKiB, 1); }

void AddFigures(const RealPair& p, const PairFiles& f, const PairFigures& g, Report& report) {
    const std::string k = std::string("pair.") + p.key, what = std::string(p.kind) + " " + Fixed(double(g.newSize) / kKiB / kKiB, 1) + " MB";
    const double ours = double(g.ours) / kKiB;
    if (g.ours < 0) {
        report.add({k + ".ours", what + ": our patch, " + g.form, 0, "KiB", "", false, false, f.source});
        return;
    }
    const bool haveBsdiff = g.bsdiff > 0;
    const double ratio = haveBsdiff ? double(g.ours) / double(g.bsdiff) : 0;
    report.add({k + ".ours", what + ": our patch (" + g.form + ")", ours, "KiB", "", false, false, f.source});
    report.add({k + ".ratio", what + ": ours / bsdiff", ratio, "", "<= 0.8", haveBsdiff, haveBsdiff && ratio <= 0.8,
                haveBsdiff ? "bsdiff " + Fixed(double(g.bsdiff) / kKiB, 1) + " KiB" : "bsdiff not installed or failed"});
    report.add({k + ".make_seconds", what + ": making ours", g.make.seconds, "s", "", false, false,
                "peak " + MiB(g.make.peakResidentKiB) + " MiB; bsdiff " + Fixed(g.bsdiffRun.seconds, 1) + " s, " +
                    MiB(g.bsdiffRun.peakResidentKiB) + " MiB"});
    const bool timed = g.bspatch.exitCode == 0 && g.apply.exitCode == 0;
    const double limit = 2 * g.bspatch.seconds;
    report.add({k + ".apply_seconds", what + ": applying ours", g.apply.seconds, "s", "<= 2x bspatch", timed,
                timed && g.apply.seconds <= limit,
                "bspatch " + Fixed(g.bspatch.seconds, 3) + " s; peak " + MiB(g.apply.peakResidentKiB) + " MiB (bspatch " +
                    MiB(g.bspatch.peakResidentKiB) + "); " + std::to_string(g.reads) + " reads"});
    // The CPU time of the same runs: on a machine shared with other work the wall clock measures that work too.
    report.add({k + ".apply_cpu_seconds", what + ": applying ours, CPU", g.apply.cpuSeconds, "s", "<= 2x bspatch", timed,
                timed && g.apply.cpuSeconds <= 2 * g.bspatch.cpuSeconds, "bspatch " + Fixed(g.bspatch.cpuSeconds, 3) + " s"});
    report.add({k + ".exact", what + ": ours gives the new file", g.exact.rfind("yes", 0) == 0 ? 1.0 : 0.0, "", "exact",
                true, g.exact.rfind("yes", 0) == 0, g.exact});
}

// One line of RESULTS/pairs.md.
std::string TableRow(const RealPair& p, const PairFiles& f, const PairFigures& g) {
    std::ostringstream row;
    auto kib = [](std::int64_t n) { return n < 0 ? std::string("-") : Fixed(double(n) / kKiB, 1); };
    row << "| " << p.kind << " | " << f.source << " | " << Fixed(double(g.newSize) / kKiB / kKiB, 1) << " | "
        << kib(g.ours) << " " << g.form << " | " << kib(g.bsdiff) << " | "
        << (g.ours > 0 && g.bsdiff > 0 ? Fixed(double(g.ours) / double(g.bsdiff), 3) : "-") << " | "
        << Fixed(g.make.seconds, 1) << " s, " << MiB(g.make.peakResidentKiB) << " MiB | "
        << Fixed(g.bsdiffRun.seconds, 1) << " s, " << MiB(g.bsdiffRun.peakResidentKiB) << " MiB | "
        << Fixed(g.apply.seconds, 3) << " s (CPU " << Fixed(g.apply.cpuSeconds, 3) << "), " << MiB(g.apply.peakResidentKiB)
        << " MiB | " << Fixed(g.bspatch.seconds, 3) << " s (CPU " << Fixed(g.bspatch.cpuSeconds, 3) << "), "
        << MiB(g.bspatch.peakResidentKiB) << " MiB | " << g.reads << " | "
        << g.exact << " |\n";
    return row.str();
}

}  // namespace

void MeasureRealPairs(const BenchOptions& o, Report& report) {
    std::string table =
        "| kind | pair | new MB | ours KiB | bsdiff KiB | ours/bsdiff | making ours | bsdiff | applying ours "
        "(64 KiB pieces) | bspatch | reads of old | exact |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    bool registryDown = false;
    for (const RealPair& p : kPairs) {
        if (p.mib > o.pairCapMiB) {
            std::fprintf(stderr, "  %s: %s skipped (about %.0f MB, above --pair-cap %.0f)\n", p.key, p.package, p.mib,
                         o.pairCapMiB);
            continue;
        }
        std::fprintf(stderr, "  %s: %s\n", p.key, p.kind);
        PairFiles f = Prepare(o, p, registryDown);
        PairFigures g;
        g.oldSize = FileSize(f.oldFile);
        g.newSize = FileSize(f.newFile);
        const std::string patch = MakeOurs(o, p, f, g);
        if (!patch.empty()) ApplyOurs(o, p, f, patch, g);
        RunBsdiff(o, p, f, g);
        AddFigures(p, f, g, report);
        table += TableRow(p, f, g);
        for (const char* left : {".old", ".new", ".patch"}) RemoveTree(o.workFolder + "/" + p.key + left);
    }
    std::ofstream(o.resultsFolder + "/pairs.md", std::ios::trunc) << table;
    std::fprintf(stderr, "%s", table.c_str());
}

namespace {

// The old file read with pread, each call counted.
class CountingBase final : public PatchBase {
public:
    explicit CountingBase(int fd) : fd_(fd) {}
    std::int64_t size() override { return lseek(fd_, 0, SEEK_END); }
    bool read(std::int64_t position, unsigned char* buffer, std::size_t count) override {
        ++reads;
        return pread(fd_, buffer, count, off_t(position)) == ssize_t(count);
    }
    std::int64_t reads = 0;

private:
    int fd_;
};

struct FileSink final : ByteSink {
    explicit FileSink(std::FILE* f) : file(f) {}
    bool put(const unsigned char* data, std::size_t count) override { return std::fwrite(data, 1, count, file) == count; }
    std::FILE* file;
};

}  // namespace

int ChildMake(const std::string& oldFile, const std::string& newFile, const std::string& patch) {
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    std::string made;
    switch (MakePatch(read(oldFile), read(newFile), made)) {
    case MadePatch::Made: break;
    case MadePatch::Unavailable: return 3;
    case MadePatch::SearchTooLong: return 4;
    case MadePatch::WrongResult: return 5;
    }
    std::ofstream out(patch, std::ios::binary | std::ios::trunc);
    out.write(made.data(), std::streamsize(made.size()));
    return out ? 0 : 1;
}

int ChildPatch(const std::string& oldFile, const std::string& patch, const std::string& out, std::size_t piece) {
    std::ifstream in(patch, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int fd = open(oldFile.c_str(), O_RDONLY);
    std::FILE* file = std::fopen(out.c_str(), "wb");
    if (fd < 0 || !file || data.empty()) return 2;
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
    CountingBase base(fd);
    FileSink sink(file);
    PatchApplier applier(&base, sink);
    const std::size_t step = piece ? piece : data.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t at = 0; at < data.size(); at += step)
        if (!applier.put(bytes + at, std::min(step, data.size() - at))) break;
    const bool built = applier.finish() == PatchOutcome::Built;
    const bool written = std::fclose(file) == 0;
    close(fd);
    std::ofstream(out + ".reads", std::ios::trunc) << base.reads << '\n';
    if (!built) std::fprintf(stderr, "update_bench: %s\n", applier.problem());
    return built && written ? 0 : 1;
}
