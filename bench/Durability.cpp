// What flushing costs: every staged file and every journal line reaches the
// disk before the rename that relies on it, in groups (the staged files in one
// flush of their volume, the journal's notes ahead of the part's changes in
// one flush, the commit line in one). Measured on a part with rollback that
// replaces 1,500 small files and on one 1 GiB entry, each with the flushes and
// once more through a file system whose flushes, of files and of volumes, and
// whose early starts of write-back (flushAhead) do
// nothing (the benchmark's own, not an option of the product): both runs take
// the same way through the product. Beside them, what reading back the written files costs:
// the run reads each file from its place and takes its CRC-32 (and takes the
// CRC-32 of what it writes on the way); the same reading, timed on the files
// a run left, shows that share of the run.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

#include "BenchSupport.h"
#include "ProductRun.h"
#include "Scenarios.h"
#include "SyntheticPackages.h"
#include "archive/Patch.h"
#include "platform/FileSystem.h"

namespace {

constexpr std::int32_t kRollbackFiles = 1500;
constexpr std::size_t kRollbackFileBytes = 16 * 1024;

// The platform's files, except that a flush does nothing.
class NoFlushFile final : public FileHandle {
public:
    explicit NoFlushFile(std::unique_ptr<FileHandle> file) : file_(std::move(file)) {}
    std::int64_t read(void* b, std::int64_t n) override { return file_->read(b, n); }
    std::int64_t write(const void* b, std::int64_t n) override { return file_->write(b, n); }
    bool seek(std::int64_t p) override { return file_->seek(p); }
    std::int64_t size() override { return file_->size(); }
    std::int32_t dosDate() override { return file_->dosDate(); }
    bool setDosDate(std::int32_t s) override { return file_->setDosDate(s); }
    bool flush() override { return true; }

private:
    std::unique_ptr<FileHandle> file_;
};

class NoFlushFileSystem final : public ForwardingFileSystem {
public:
    bool flushVolume(const std::string&) override { return true; }
    std::unique_ptr<FileHandle> open(const std::string& p, OpenMode m) override {
        std::unique_ptr<FileHandle> file = real_.open(p, m);
        return file ? std::make_unique<NoFlushFile>(std::move(file)) : nullptr;
    }
};

// Every file below `folder` read to its end and its CRC-32 taken, as the run's read-back does.
double ReadBackSeconds(const std::string& folder) {
    Stopwatch clock;
    std::vector<char> buffer(std::size_t(1) << 16);
    std::uint32_t crc = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0)
            crc = Crc32(crc, reinterpret_cast<const unsigned char*>(buffer.data()), std::size_t(in.gcount()));
    }
    Expect(crc != 0, "nothing read back");
    return clock.seconds();
}

// One run into a fresh sandbox, with or without the flushes; `readBack`
// receives the time of reading back what it wrote.
Timing ApplyOnce(const std::string& package, const std::string& sandbox, bool rollbackPart, bool flushes,
                 const char* summary, std::int64_t count, std::vector<double>& readBack) {
    RemoveTree(sandbox);
    if (rollbackPart) InstallOlderFiles(sandbox + "/c/App", kRollbackFiles, kRollbackFileBytes);
    // The installed files and the package are on the disk before either run, as
    // an installation is: the run's flush of the volume does not write them for it.
    ::sync();
    RunOutcome run;
    if (flushes) {
        run = ApplyWithProduct(package, sandbox);
    } else {
        NoFlushFileSystem noFlush;
        run = ApplyWithProduct(package, sandbox);
    }
    Expect(run.succeeded, "the update run failed");
    Expect(SummaryCount(run.log, summary) == count, std::string("the summary line of") + summary);
    if (flushes) readBack.push_back(ReadBackSeconds(sandbox + "/c/App"));
    RemoveTree(sandbox);
    return {run.seconds, run.cpuSeconds};
}

void AddPair(Report& report, const std::string& key, const std::string& label, const std::string& package,
             const std::string& sandbox, bool rollbackPart, const char* summary, std::int64_t count, int repetitions,
             double goal) {
    std::vector<Timing> with, without;
    std::vector<double> readBack;
    for (int rep = 0; rep < repetitions; ++rep) {
        // Alternating which comes first, so that neither always finds the other's writes still in the cache.
        bool flushFirst = rep % 2 == 0;
        (flushFirst ? with : without)
            .push_back(ApplyOnce(package, sandbox, rollbackPart, flushFirst, summary, count, readBack));
        (flushFirst ? without : with)
            .push_back(ApplyOnce(package, sandbox, rollbackPart, !flushFirst, summary, count, readBack));
    }
    Timing a = Median(with), b = Median(without);
    // The runs of a pair follow each other: their ratios show the spread that
    // other work on the machine leaves, which medians of each side hide.
    std::string ratios;
    for (std::size_t i = 0; i < with.size(); ++i) ratios += (i ? ", " : "") + Fixed(with[i].wall / without[i].wall, 2);
    std::string runs = "median of " + std::to_string(with.size()) + ", wall clock";
    report.add({key + ".flushed", label + ", flushed", a.wall, "s", "", false, false,
                runs + "; " + Fixed(a.cpu, 2) + " s processor time"});
    report.add({key + ".unflushed", label + ", not flushed", b.wall, "s", "", false, false,
                runs + "; " + Fixed(b.cpu, 2) + " s processor time"});
    const double ratio = a.wall / b.wall;
    report.add({key + ".ratio", "  flushed / without", ratio, "", "<= " + Fixed(goal, 1), true, ratio <= goal,
                "of each pair: " + ratios});
    const double back = Median(readBack);
    report.add({key + ".read_back", "  of which reading back what it wrote", back, "s", "", false,
                false, "median of " + std::to_string(readBack.size()) + ", wall clock, files as the run left them"});
    std::fprintf(stderr, "  %s: %.2f s flushed, %.2f s without (pairs: %s), %.2f s of reading back\n", label.c_str(),
                 a.wall, b.wall, ratios.c_str(), back);
}

}  // namespace

void MeasureDurability(const BenchOptions& o, Report& report) {
    const std::string sandbox = o.workFolder + "/durability-sandbox";
    const std::string package = o.workFolder + "/rollback.exe";
    WriteRollbackPart(package, kRollbackFiles, kRollbackFileBytes);
    AddPair(report, "durability.rollback_1500", "rollback, 1,500 files of 16 KiB", package, sandbox, true,
            " Dateien aktualisiert", kRollbackFiles, o.repetitions, 1.3);
    RemoveTree(package);
    if (!o.largePackages) return;
    const std::string large = o.workFolder + "/large-entry.exe";
    WriteLargeEntry(large, 1024, false);
    AddPair(report, "durability.1gib_entry", "1 GiB entry", large, sandbox, false, " Dateien zugef", 1,
            std::min(o.repetitions, 3), 1.1);
    RemoveTree(large);
}
