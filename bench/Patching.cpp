// Patch entries on a release pair of a 5.5 MB program with a small change:
// the package with and without --patch, the time that mkupdate diff takes to
// make the patches, and the time and peak memory of a run that applies the
// patch beside one that writes the whole file.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "BenchSupport.h"
#include "ReleasePair.h"
#include "Scenarios.h"

namespace {

constexpr double kKiB = 1024.0;
constexpr std::int64_t kReleased = 1704880800;  // 2024-01-10 10:00:00 UTC: the old release
constexpr std::int64_t kChanged = 1709294400;   // 2024-03-01 12:00:00 UTC: what changed since

struct Made {
    std::string package;
    double diffSeconds = 0;
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
    made.diffSeconds = RunChecked(diff).seconds;
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

void MeasurePatching(const BenchOptions& o, Report& report) {
    const std::string oldDir = o.workFolder + "/release-4.1", newDir = o.workFolder + "/release-4.2";
    WriteReleasePair(oldDir, newDir);
    AgeFiles(oldDir, kReleased);
    AgeFiles(newDir, kReleased);
    struct timespec changedAt[2] = {{time_t(kChanged), 0}, {time_t(kChanged), 0}};
    for (const char* changed : {"/Demo.exe", "/Daten/Preise.dat", "/neu.txt"})
        utimensat(AT_FDCWD, (newDir + changed).c_str(), changedAt, 0);
    Made whole = MakePackage(o, "whole", oldDir, newDir, false);
    Made patched = MakePackage(o, "patched", oldDir, newDir, true);
    double wholeKiB = double(FileSize(whole.package)) / kKiB, patchedKiB = double(FileSize(patched.package)) / kKiB;
    std::string pair = "program " + Fixed(double(FileSize(newDir + "/Demo.exe")) / kKiB / kKiB, 1) + " MiB";
    report.add({"patch.package_whole", "release pair, package without --patch", wholeKiB, "KiB", "", false, false, pair});
    report.add({"patch.package_patched", "release pair, package with --patch", patchedKiB, "KiB", "<= 1/5 of without",
                true, patchedKiB * 5 <= wholeKiB, Fixed(100 * patchedKiB / wholeKiB, 1) + " % of the package without"});
    report.add({"patch.make_seconds", "mkupdate diff --patch (makes the patches)", patched.diffSeconds, "s", "", false,
                false, "diff without --patch " + Fixed(whole.diffSeconds, 2) + " s"});
    const std::string sandbox = o.workFolder + "/patch-sandbox";
    for (const Made* made : {&whole, &patched}) {
        bool isPatch = made == &patched;
        ChildResult r = ApplyOverOld(made->package, oldDir, newDir, sandbox);
        std::string what = isPatch ? "applying the patch package" : "applying the whole-file package";
        std::string key = isPatch ? "patch.apply_patched" : "patch.apply_whole";
        report.add({key + "_seconds", what + ", run time", r.seconds, "s", "", false, false, "native, one run"});
        double peak = double(r.peakResidentKiB) / kKiB;
        report.add({key + "_peak", what + ", peak memory", peak, "MiB", "< 64", true, peak < 64, ""});
        std::fprintf(stderr, "  %s: %.2f s, %.1f MiB\n", what.c_str(), r.seconds, peak);
    }
    RemoveTree(oldDir);
    RemoveTree(newDir);
}
