#include "BenchSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

void Expect(bool condition, const std::string& what) {
    if (!condition) throw std::runtime_error("benchmark check failed: " + what);
}

double CpuClock::Now() {
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Timing Median(const std::vector<Timing>& runs) {
    std::vector<double> wall, cpu;
    for (const Timing& t : runs) {
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    }
    return {Median(wall), Median(cpu)};
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

namespace {

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const std::string& workingDir, bool keepOutput) {
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(126);
    if (!keepOutput) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const std::string& workingDir, bool keepOutput) {
    Stopwatch clock;
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) ExecChild(argv, workingDir, keepOutput);
    int status = 0;
    struct rusage usage = {};
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) throw std::runtime_error("wait4 failed");
    ChildResult r;
    r.seconds = clock.seconds();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.peakResidentKiB = usage.ru_maxrss;
    r.cpuSeconds = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6 +
                   double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
    return r;
}

ChildResult RunChecked(const std::vector<std::string>& argv, const std::string& workingDir) {
    ChildResult r = RunChild(argv, workingDir);
    if (r.exitCode != 0) throw std::runtime_error(argv[0] + " failed with exit code " + std::to_string(r.exitCode));
    return r;
}

ChildResult RunMeasured(const std::vector<std::string>& argv, const std::string& resultFile) {
    std::vector<std::string> launcher = {ProgramPath(), "--measure", resultFile};
    launcher.insert(launcher.end(), argv.begin(), argv.end());
    RunChecked(launcher);
    ChildResult r;
    std::ifstream in(resultFile);
    if (!(in >> r.exitCode >> r.peakResidentKiB >> r.seconds >> r.cpuSeconds))
        throw std::runtime_error("no figures in " + resultFile);
    return r;
}

int MeasureChild(const std::string& resultFile, const std::vector<std::string>& argv) {
    ChildResult r = RunChild(argv, "", true);
    std::ofstream out(resultFile, std::ios::trunc);
    out << r.exitCode << ' ' << r.peakResidentKiB << ' ' << r.seconds << ' ' << r.cpuSeconds << '\n';
    return out ? 0 : 1;
}

TempFolder::TempFolder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a folder below " + pattern);
    path_ = pattern;
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void MakeFolders(const std::string& path) { fs::create_directories(path); }

void AgeFiles(const std::string& root, std::int64_t unixTime) {
    struct timespec times[2] = {{time_t(unixTime), 0}, {time_t(unixTime), 0}};
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) utimensat(AT_FDCWD, e.path().c_str(), times, 0);
}

namespace {

bool SameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (fa && fb) {
        fa.read(ba.data(), std::streamsize(ba.size()));
        fb.read(bb.data(), std::streamsize(bb.size()));
        if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), std::size_t(fa.gcount())) != 0)
            return false;
    }
    return fa.eof() && fb.eof();
}

std::size_t CountFiles(const fs::path& root) {
    std::size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(root)) n += e.is_regular_file();
    return n;
}

}  // namespace

bool SameTrees(const std::string& a, const std::string& b, std::string& why) {
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(a)) {
        if (!e.is_regular_file()) continue;
        fs::path other = fs::path(b) / fs::relative(e.path(), a);
        if (!fs::exists(other) || !SameBytes(e.path(), other)) return why = other.string() + " differs", false;
        ++files;
    }
    if (CountFiles(b) != files) return why = b + " holds other files too", false;
    return true;
}

std::int64_t FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : -1;
}

std::string ProgramPath() { return fs::canonical("/proc/self/exe").string(); }
std::string ProgramFolder() { return fs::path(ProgramPath()).parent_path().string(); }

bool ProgramExists(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        if (access((dirs.substr(start, colon - start) + "/" + name).c_str(), X_OK) == 0) return true;
        start = colon + 1;
    }
    return false;
}
