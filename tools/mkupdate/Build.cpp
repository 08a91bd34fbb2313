// The package builder: DIR as it will be unpacked becomes one archive,
// stand-alone or attached to the updater.
#include "tools/mkupdate/Build.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <system_error>
#include <thread>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveWriter.h"
#include "base/ByteReader.h"
#include "base/Cp1252.h"
#include "env/Text.h"
#include "tools/mkupdate/Check.h"
#include "tools/mkupdate/Commands.h"
#include "tools/mkupdate/Host.h"
#include "tools/mkupdate/Options.h"
#include "tools/mkupdate/Progress.h"
#include "tools/mkupdate/SegmentPipeline.h"
#include "tools/mkupdate/SourceTree.h"
#include "tools/mkupdate/Stamps.h"

namespace fs = std::filesystem;

namespace {

struct BuildOptions {
    fs::path dir, out, stub;
    std::optional<std::string> date, zone;
    unsigned threads = 0;
    bool force = false;  // build even when check finds errors
};

bool ParseThreads(const std::string& text, unsigned& threads) {
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 1 || n > 256) return false;
    threads = unsigned(n);
    return true;
}

int ParseOptions(const std::vector<std::string>& args, BuildOptions& o) {
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string v;
        if (TakeValue(args, i, "--stub", v)) o.stub = HostPath(v);
        else if (TakeValue(args, i, "-o", v)) o.out = HostPath(v);
        else if (TakeValue(args, i, "--date", v)) o.date = v;
        else if (TakeValue(args, i, "--tz", v)) o.zone = v;
        else if (TakeValue(args, i, "--threads", v)) {
            if (!ParseThreads(v, o.threads)) return UsageError("--threads wants a number from 1 to 256");
        } else if (args[i] == "--force") o.force = true;
        else if (args[i].size() > 1 && args[i][0] == '-') {
            return UnknownOption(args[i], {"--stub", "-o", "--date", "--tz", "--threads"});
        } else positional.push_back(args[i]);
    }
    if (int rc = OperandError(positional, {"DIR"})) return rc;
    if (o.out.empty()) return UsageError("missing -o OUT");
    o.dir = HostPath(positional[0]);
    if (o.threads == 0) o.threads = std::max(1u, std::thread::hardware_concurrency());
    return kExitOk;
}

bool IsInside(const fs::path& file, const fs::path& dir) {
    std::error_code ec;
    fs::path f = fs::weakly_canonical(file, ec), d = fs::weakly_canonical(dir, ec);
    auto rel = f.lexically_relative(d);
    return !rel.empty() && *rel.begin() != "..";
}

// A Windows executable: "MZ", and at the offset recorded at 0x3C the "PE\0\0" signature.
bool IsWindowsExecutable(const std::string& bytes) {
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return false;
    std::uint32_t at = getU32(reinterpret_cast<const unsigned char*>(bytes.data()) + 0x3C);
    return at <= bytes.size() - 4 && bytes.compare(at, 4, std::string("PE\0\0", 4)) == 0;
}

// Copies the updater to the front of `out`; returns its length, or -1 with `error` set.
std::int64_t CopyStub(const fs::path& stub, std::ostream& out, std::string& error) {
    std::error_code ec;
    std::uintmax_t size = fs::file_size(stub, ec);
    std::ifstream in(stub, std::ios::binary);
    std::string bytes(ec ? 0 : std::size_t(size), '\0');
    if (ec || !in.read(bytes.data(), std::streamsize(bytes.size())) || bytes.empty())
        return error = PathText(stub) + ": cannot be read", -1;
    if (bytes.size() >= std::size_t(0x7FFFFFFF - (1 << 20))) return error = PathText(stub) + ": too large", -1;
    if (bytes.size() >= 8 &&
        getU32(reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size() - 4) == kArchiveMagic)
        return error = PathText(stub) + ": already carries an archive; give the bare updater", -1;
    if (!IsWindowsExecutable(bytes))
        return error = PathText(stub) + ": is no Windows executable; give the updater update.exe", -1;
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return std::int64_t(bytes.size());
}

struct Plan {
    std::vector<SegmentJob> jobs;
    std::vector<std::size_t> entryOfJob;
    std::int64_t total = 0;
};

Plan PlanSegments(const SourceTree& tree) {
    Plan plan;
    for (std::size_t e = 0; e < tree.files.size(); ++e) {
        const SourceFile& f = tree.files[e];
        std::int64_t step = f.singleSegment ? std::max<std::int64_t>(f.size, 1) : kDefaultSegmentSize;
        std::int64_t at = 0;
        do {
            std::int64_t n = std::min(step, f.size - at);
            plan.jobs.push_back(SegmentJob{f.path.empty() ? nullptr : &f.path, Cp1252ToUtf8(f.name), at, std::size_t(n)});
            plan.entryOfJob.push_back(e);
            at += n;
        } while (at < f.size);
        plan.total += f.size;
    }
    return plan;
}

// Writes the whole package to `out`; returns the archive's length.
std::int64_t WriteArchive(const BuildOptions& o, SourceTree& tree, StampPolicy& policy, std::ostream& out) {
    std::string error;
    std::int64_t base = 0;
    if (!o.stub.empty() && (base = CopyStub(o.stub, out, error)) < 0) throw Exception(error);
    ArchiveWriter writer(out, std::int32_t(base));
    for (SourceFile& f : tree.files) {
        std::int64_t modified = f.path.empty() && tree.files.size() > 1 ? tree.files[1].modified : f.modified;
        std::int32_t stamp = 0;
        if (!policy.stampOf(modified, stamp, error)) throw Exception(Cp1252ToUtf8(f.name) + ": " + error);
        writer.declare(f.name, stamp);
    }
    Plan plan = PlanSegments(tree);
    ProgressBar progress(plan.total, StderrIsTerminal());
    CompressSegments(plan.jobs, o.threads, [&](std::size_t job, const std::string& stream) {
        writer.addSegment(plan.entryOfJob[job], stream, std::int64_t(plan.jobs[job].length));
        progress.advance(std::int64_t(plan.jobs[job].length));
    });
    return writer.finish(!o.stub.empty());
}

}  // namespace

int CommandBuild(const std::vector<std::string>& args) {
    BuildOptions o;
    StampPolicy policy;
    if (int rc = ParseOptions(args, o)) return rc;
    std::int64_t buildEpoch = 0;
    if (int rc = ChooseStamps(o.date, o.zone, policy, buildEpoch)) return rc;
    if (IsInside(o.out, o.dir)) return Failure("the output " + PathText(o.out) + " lies inside the package folder");

    if (o.stub.empty() && SameText(o.out.extension().string(), ".exe"))
        std::fprintf(stderr, "mkupdate: warning: without --stub %s is a stand-alone archive, not a program\n",
                     o.out.string().c_str());

    SourceTree tree = ScanSourceTree(o.dir);
    for (const std::string& e : tree.errors) std::fprintf(stderr, "mkupdate: %s\n", e.c_str());
    if (!tree.errors.empty()) return Failure("nothing built: " + std::to_string(tree.errors.size()) + " problem(s)");
    // What check finds: errors refuse the package (the updater would stop or do harm), unless --force.
    std::vector<Finding> findings = CheckFolder(o.dir);
    PrintFindings(stderr, "mkupdate: ", findings);
    if (int errors = ErrorCount(findings); errors > 0 && !o.force)
        return Failure("nothing built: check finds " + std::to_string(errors) +
                       " error(s); correct them, or build anyway with --force");

    fs::path temporary = o.out;
    temporary += ".mkupdate-part";
    if (std::string problem = HostPathProblem(temporary); !problem.empty())
        return Failure(PathText(o.out) + ": " + problem);
    std::int64_t length = 0;
    try {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw Exception(PathText(temporary) + ": cannot be created");
        length = WriteArchive(o, tree, policy, out);
        out.close();
        if (!out) throw Exception(PathText(temporary) + ": write failed");
        fs::rename(temporary, o.out);
    } catch (const std::exception& e) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return Failure(PathText(o.out) + ": " + e.what());
    }
    if (policy.clamped() > 0)
        std::fprintf(stderr, "mkupdate: %d file(s) older than 1980 stamped 1980-01-01 00:00:00\n", policy.clamped());
    std::printf("%s: %zu entries, archive of %lld bytes\n", PathText(o.out).c_str(), tree.files.size(),
                (long long)length);
    return kExitOk;
}
