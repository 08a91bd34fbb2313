// Helpers of the benchmark program: wall-clock timing, medians, child
// processes with their resource usage, and host folders.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Throws "benchmark check failed: `what`" unless `condition` holds.
void Expect(bool condition, const std::string& what);

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// Processor time (user and system) of this process since construction: less
// sensitive than wall-clock time to other work on a shared machine.
class CpuClock {
public:
    CpuClock() : start_(Now()) {}
    double seconds() const { return Now() - start_; }

private:
    static double Now();
    double start_;
};

// One measured run: wall-clock and processor seconds.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

double Median(std::vector<double> values);
// Medians of the wall-clock and of the processor seconds.
Timing Median(const std::vector<Timing>& runs);

// What a finished child process reports.
struct ChildResult {
    int exitCode = -1;
    double seconds = 0;
    double cpuSeconds = 0;             // user and system time of the child and what it waited for
    std::int64_t peakResidentKiB = 0;  // ru_maxrss of that child alone
};

// Runs argv[0] with its arguments, output to /dev/null unless `keepOutput`;
// `workingDir` empty keeps the current one. Throws when it cannot be started.
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& workingDir = "",
                     bool keepOutput = false);
// As RunChild; throws unless the exit code is 0.
ChildResult RunChecked(const std::vector<std::string>& argv, const std::string& workingDir = "");

// Runs argv through a freshly started copy of this program (--measure), so that
// the peak memory is the child's own and not what it inherited from this
// process at fork time. `resultFile` carries the figures back.
ChildResult RunMeasured(const std::vector<std::string>& argv, const std::string& resultFile);
// The --measure side: runs argv and writes its figures to `resultFile`.
int MeasureChild(const std::string& resultFile, const std::vector<std::string>& argv);

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it by the destructor.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void RemoveTree(const std::string& path);
void MakeFolders(const std::string& path);
// Sets the modification time of every file below `root` to `unixTime`.
void AgeFiles(const std::string& root, std::int64_t unixTime);
// Files below `a` and `b` with the same relative paths and bytes; `why` names the first difference.
bool SameTrees(const std::string& a, const std::string& b, std::string& why);
std::int64_t FileSize(const std::string& path);
// The running program and its folder.
std::string ProgramPath();
std::string ProgramFolder();
bool ProgramExists(const std::string& name);
