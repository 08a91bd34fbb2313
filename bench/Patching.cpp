// Patch entries on two pairs: a release pair of a 5.5 MB program with a small
// change, and a generated pair (random data with scattered edits, and a block
// followed by a copy of it with five bytes changed, which is the worst case of
// the search). For each: the package with and without --patch, bsdiff's patch
// of each changed file where bsdiff is installed, the time and peak memory of
// mkupdate diff making the patches, and of a run that applies the patch beside
// one that writes the whole files.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

#include "BenchSupport.h"
#include "RealPairs.h"
#include "ReleasePair.h"
#include "Scenarios.h"

namespace {

constexpr double kKiB = 1024.0;
constexpr std::int64_t kReleased = 1704880800;  // 2024-01-10 10:00:00 UTC: the old release
constexpr std::int64_t kChanged = 1709294400;   // 2024-03-01 12:00:00 UTC: what changed since

struct Made {
    std::string package;
    ChildResult diff;
};

// A host that build takes for an updater: "PE\0\0" at 0x40, as 0x3C says.
std::string WriteStub(const BenchOptions& o) {
    std::string stub = "MZ" + std::string(64 * 1024 - 2, '\0');
    stub[0x3C] = 0x40;
    stub.replace(0x40, 2, "PE");
    std::string path = o.workFolder + "/patch-stub.exe";
    std::ofstream(path, std::ios::binary) << stub;
    return path;
}

// diff into a folder that already holds an update.ini with a plain target
// folder (diff keeps it), then build; the package and the time diff took.
Made MakePackage(const BenchOptions& o, const std::string& name, const std::string& oldDir, const std::string& newDir,
                 bool patch) {
    const std::string folder = o.workFolder + "/" + name;
    MakeFolders(folder);
    std::ofstream(folder + "/update.ini", std::ios::binary) << "P=Demo\r\nV=4.2\r\n\r\n[Demo]\r\nN=Demo\r\nTDIR=C:\\App\\\r\n";
    std::vector<std::string> diff = {o.mkupdate, "diff", "--section", "Demo", "--tz", "UTC", oldDir, newDir, "-o", folder};
    if (patch) diff.push_back("--patch");
    Made made;
    made.diff = RunMeasured(diff, folder + ".figures");
    if (made.diff.exitCode != 0) throw std::runtime_error("mkupdate diff failed for " + name);
    made.package = folder + ".vpa";
    RunChecked({o.mkupdate, "build", "--stub", WriteStub(o), "--tz", "UTC", "-o", made.package, folder});
    return made;
}

// Applies `package` over the old release in a child process; throws unless the result is the new release.
ChildResult ApplyOverOld(const std::string& package, const std::string& oldDir, const std::string& newDir,
                         const std::string& sandbox) {
    RemoveTree(sandbox);
    MakeFolders(sandbox + "/c");
    RunChecked({"cp", "-a", oldDir, sandbox + "/c/App"});
    ChildResult r = RunMeasured({ProgramPath(), "--child-apply", package, sandbox}, sandbox + ".figures");
    std::string why;
    if (r.exitCode != 0 || !SameTrees(sandbox + "/c/App", newDir, why))
        throw std::runtime_error(package + " did not give the new release: " + (r.exitCode ? "run failed" : why));
    RemoveTree(sandbox);
    return r;
}

}  // namespace

namespace {

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// 4 MiB of random bytes and the same with a byte changed every 40 KiB, 4 KiB
// inserted and 16 KiB removed; 1 MiB that is a block and a copy of it with
// five bytes changed, and the block twice.
void WriteGeneratedPair(const std::string& oldDir, const std::string& newDir) {
    MakeFolders(oldDir);
    MakeFolders(newDir);
    std::mt19937 rng(6);
    std::vector<unsigned char> data(4 << 20);
    for (unsigned char& b : data) b = static_cast<unsigned char>(rng());
    WriteBytes(oldDir + "/edited.bin", data);
    for (std::size_t at = 1000; at < data.size(); at += 40 * 1024) data[at] ^= 0x5A;
    data.insert(data.begin() + (1 << 20), 4096, 0x90);
    data.erase(data.begin() + (3 << 20), data.begin() + (3 << 20) + 16384);
    WriteBytes(newDir + "/edited.bin", data);
    data.resize(512 * 1024);
    data.insert(data.end(), data.begin(), data.end());
    WriteBytes(newDir + "/repeat.bin", data);
    for (std::size_t at : {600000, 700000, 800000, 900000, 1000000}) data[at] ^= 0xFF;
    WriteBytes(oldDir + "/repeat.bin", data);
}

// bsdiff's patch of each changed file beside the patch entry mkupdate made for it.
void CompareWithBsdiff(const BenchOptions& o, const std::string& key, const std::string& oldDir,
                       const std::string& newDir, const std::vector<std::string>& files, Report& report) {
    if (!ProgramExists("bsdiff")) {
        std::fprintf(stderr, "  bsdiff is not installed: no comparison\n");
        return;
    }
    for (const std::string& file : files) {
        const std::string ours = o.workFolder + "/" + key + "-patched/pat/Demo/" + file;
        const std::string theirs = o.workFolder + "/" + key + "-" + file + ".bsdiff";
        // bsdiff's own search is quadratic on repetitive data: it gets a minute.
        ChildResult r = RunChild({"timeout", "60", "bsdiff", oldDir + "/" + file, newDir + "/" + file, theirs});
        double oursKiB = double(FileSize(ours)) / kKiB, theirsKiB = double(FileSize(theirs)) / kKiB;
        if (r.exitCode != 0) {
            report.add({"patch." + key + "." + file + "_ours", key + ": our patch of " + file, oursKiB, "KiB", "", false,
                        false, "bsdiff made none within 60 s (exit " + std::to_string(r.exitCode) + ")"});
            continue;
        }
        std::string ratio = "ours " + Fixed(oursKiB, 1) + " KiB = " + Fixed(oursKiB / theirsKiB, 2) + "x bsdiff";
        report.add({"patch." + key + "." + file + "_bsdiff", key + ": bsdiff's patch of " + file, theirsKiB, "KiB", "",
                    false, false, FileSize(ours) < 0 ? "ours: no patch, the file goes whole" : ratio});
    }
}

void MeasurePair(const BenchOptions& o, const std::string& key, const std::string& oldDir, const std::string& newDir,
                 const std::string& note, Report& report) {
    Made whole = MakePackage(o, key + "-whole", oldDir, newDir, false);
    Made patched = MakePackage(o, key + "-patched", oldDir, newDir, true);
    double wholeKiB = double(FileSize(whole.package)) / kKiB, patchedKiB = double(FileSize(patched.package)) / kKiB;
    std::string p = "patch." + key;
    report.add({p + ".package_whole", key + ", package without --patch", wholeKiB, "KiB", "", false, false, note});
    report.add({p + ".package_patched", key + ", package with --patch", patchedKiB, "KiB", "<= 1/5 of without", true,
                patchedKiB * 5 <= wholeKiB, Fixed(100 * patchedKiB / wholeKiB, 1) + " % of the package without"});
    report.add({p + ".make_seconds", key + ", mkupdate diff --patch (makes the patches)", patched.diff.seconds, "s", "",
                false, false, "diff without --patch " + Fixed(whole.diff.seconds, 2) + " s"});
    report.add({p + ".make_peak", key + ", mkupdate diff --patch, peak memory",
                double(patched.diff.peakResidentKiB) / kKiB, "MiB", "", false, false,
                "without --patch " + Fixed(double(whole.diff.peakResidentKiB) / kKiB, 1) + " MiB"});
    const std::string sandbox = o.workFolder + "/patch-sandbox";
    for (const Made* made : {&whole, &patched}) {
        bool isPatch = made == &patched;
        ChildResult r = ApplyOverOld(made->package, oldDir, newDir, sandbox);
        std::string what = key + (isPatch ? ", applying the patch package" : ", applying the whole-file package");
        std::string k = p + (isPatch ? ".apply_patched" : ".apply_whole");
        report.add({k + "_seconds", what + ", run time", r.seconds, "s", "", false, false, "native, one run"});
        double peak = double(r.peakResidentKiB) / kKiB;
        report.add({k + "_peak", what + ", peak memory", peak, "MiB", "< 64", true, peak < 64, ""});
        std::fprintf(stderr, "  %s: %.2f s, %.1f MiB\n", what.c_str(), r.seconds, peak);
    }
}

}  // namespace

void MeasurePatching(const BenchOptions& o, Report& report) {
    const std::string oldDir = o.workFolder + "/release-4.1", newDir = o.workFolder + "/release-4.2";
    WriteReleasePair(oldDir, newDir);
    AgeFiles(oldDir, kReleased);
    AgeFiles(newDir, kReleased);
    struct timespec changedAt[2] = {{time_t(kChanged), 0}, {time_t(kChanged), 0}};
    for (const char* changed : {"/Demo.exe", "/Daten/Preise.dat", "/neu.txt"})
        utimensat(AT_FDCWD, (newDir + changed).c_str(), changedAt, 0);
    std::string program = "program " + Fixed(double(FileSize(newDir + "/Demo.exe")) / kKiB / kKiB, 1) + " MiB";
    MeasurePair(o, "release", oldDir, newDir, program, report);
    CompareWithBsdiff(o, "release", oldDir, newDir, {"Demo.exe"}, report);
    RemoveTree(oldDir);
    RemoveTree(newDir);

    const std::string genOld = o.workFolder + "/generated-1", genNew = o.workFolder + "/generated-2";
    WriteGeneratedPair(genOld, genNew);
    AgeFiles(genOld, kReleased);
    AgeFiles(genNew, kChanged);
    MeasurePair(o, "generated", genOld, genNew, "4 MiB edited random data, 1 MiB repetitive", report);
    CompareWithBsdiff(o, "generated", genOld, genNew, {"edited.bin", "repeat.bin"}, report);
    RemoveTree(genOld);
    RemoveTree(genNew);
    std::fprintf(stderr, "update_bench: real release pairs ...\n");
    MeasureRealPairs(o, report);
}
