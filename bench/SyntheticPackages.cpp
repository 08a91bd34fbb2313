#include "SyntheticPackages.h"

#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <zlib.h>

#include "BenchSupport.h"
#include "TreeGenerator.h"
#include "archive/ArchiveWriter.h"
#include "base/DosDate.h"

const char* const kBenchControlFile = "P=Benchmark\r\nV=2.0\r\n\r\n[App]\r\nN=Benchmark-Anwendung\r\nTDIR=C:\\App\\\r\n";

std::string BenchControlFile(const std::string& mainKeys, const std::string& partKeys) {
    return "P=Benchmark\r\nV=2.0\r\n" + mainKeys + "\r\n[App]\r\nN=Benchmark-Anwendung\r\nTDIR=C:\\App\\\r\n" + partKeys;
}

namespace {

constexpr std::int32_t kStubBytes = 64 * 1024;
constexpr std::size_t kMiB = 1 << 20;

std::int32_t PackageStamp() { return PackDosDate(CalendarTime{2024, 3, 15, 14, 30, 10}); }

// A package file: the stub, then the archive written by `fill`, then the tail.
class PackageFile {
public:
    explicit PackageFile(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {
        std::string stub(kStubBytes, '\0');
        stub[0] = 'M';
        stub[1] = 'Z';
        out_.write(stub.data(), std::streamsize(stub.size()));
        writer_ = std::make_unique<ArchiveWriter>(out_, kStubBytes);
    }
    ArchiveWriter& writer() { return *writer_; }
    // Declares todel.txt and update.ini; their data must come first too.
    void declareControl() {
        writer_->declare("todel.txt", PackageStamp());
        writer_->declare("update.ini", PackageStamp());
    }
    void addControl(const std::string& deletionList, const std::string& controlFile = kBenchControlFile) {
        writer_->addContent(0, deletionList);
        writer_->addContent(1, controlFile);
    }
    std::int64_t finish() {
        std::int64_t length = writer_->finish(true);
        out_.close();
        if (!out_) throw std::runtime_error("cannot write a benchmark package");
        return kStubBytes + length;
    }

private:
    std::ofstream out_;
    std::unique_ptr<ArchiveWriter> writer_;
};

// Half text, a quarter program code, a quarter random: about 2.5 : 1 at level 6.
std::string MixedBlock(std::uint64_t seed) {
    TreeBytes source(seed);
    std::string block;
    source.text(block, kMiB / 2);
    source.code(block, kMiB / 4);
    source.random(block, kMiB / 4);
    return block;
}

std::string RandomBlock(std::uint64_t seed) {
    TreeBytes source(seed);
    std::string block;
    source.random(block, kMiB);
    return block;
}

}  // namespace

std::string RepeatedBlockStream(const std::string& block, std::size_t count) {
    z_stream z = {};
    if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
    std::string body(deflateBound(&z, uLong(block.size())) + 64, '\0'), end(64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
    z.avail_in = uInt(block.size());
    z.next_out = reinterpret_cast<Bytef*>(body.data());
    z.avail_out = uInt(body.size());
    deflate(&z, Z_FULL_FLUSH);
    body.resize(body.size() - z.avail_out);
    z.next_out = reinterpret_cast<Bytef*>(end.data());
    z.avail_out = uInt(end.size());
    deflate(&z, Z_FINISH);
    end.resize(end.size() - z.avail_out);
    deflateEnd(&z);

    uLong blockAdler = adler32(1, reinterpret_cast<const Bytef*>(block.data()), uInt(block.size()));
    uLong adler = 1;
    std::string stream = "\x78\x9C";
    stream.reserve(2 + body.size() * count + end.size() + 4);
    for (std::size_t i = 0; i < count; ++i) {
        stream += body;
        adler = adler32_combine(adler, blockAdler, z_off_t(block.size()));
    }
    stream += end;
    for (int shift = 24; shift >= 0; shift -= 8) stream += char(adler >> shift);
    return stream;
}

PackageInfo WriteManyEntries(const std::string& path, std::int32_t count, std::int32_t deletionLines) {
    PackageFile package(path);
    package.declareControl();
    char name[64];
    for (std::int32_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof(name), "add\\App\\ordner%03d\\datei%06d.txt", i / 1000, i);
        package.writer().declare(name, PackageStamp());
    }
    std::string deletions;
    for (std::int32_t i = 0; i < deletionLines; ++i) deletions += "App\\alt\\datei" + std::to_string(i) + ".txt\r\n";
    package.addControl(deletions);
    const std::string content = "Inhalt\r\n";
    const std::string stream = CompressZlib(content.data(), content.size());
    for (std::int32_t i = 0; i < count; ++i) package.writer().addSegment(2 + std::size_t(i), stream, std::int64_t(content.size()));
    PackageInfo info{count + 2, std::int64_t(count) * std::int64_t(content.size()), 0};
    info.fileBytes = package.finish();
    return info;
}

PackageInfo WriteLargeEntry(const std::string& path, std::int32_t mebibytes, bool singleSegment,
                            const std::string& controlFile) {
    PackageFile package(path);
    package.declareControl();
    package.writer().declare("add\\App\\big.bin", PackageStamp());
    package.addControl("", controlFile);
    std::string block = MixedBlock(11);
    if (singleSegment) {
        package.writer().addSegment(2, RepeatedBlockStream(block, std::size_t(mebibytes)), std::int64_t(mebibytes) * kMiB);
    } else {
        std::string stream = CompressZlib(block.data(), block.size());
        for (std::int32_t i = 0; i < mebibytes; ++i) package.writer().addSegment(2, stream, kMiB);
    }
    PackageInfo info{3, std::int64_t(mebibytes) * std::int64_t(kMiB), 0};
    info.fileBytes = package.finish();
    return info;
}

PackageInfo WriteLargestPackage(const std::string& path) {
    const std::string block = RandomBlock(23);
    const std::string stream = CompressZlib(block.data(), block.size());
    const std::int64_t segment = 4 + std::int64_t(stream.size());
    constexpr std::int32_t kSegmentsPerEntry = 128;
    // The directory is declared before any data: reserve room for 64 records,
    // more than the entries that fit, and for the control entries' data.
    constexpr std::int64_t kDirectoryRoom = 12 + 64 * (20 + 24), kControlRoom = 1024;
    std::int64_t segments = (INT_MAX - kStubBytes - 8 - kDirectoryRoom - kControlRoom) / segment;
    std::int32_t entries = std::int32_t((segments + kSegmentsPerEntry - 1) / kSegmentsPerEntry);

    PackageFile package(path);
    package.declareControl();
    char name[32];
    for (std::int32_t e = 0; e < entries; ++e) {
        std::snprintf(name, sizeof(name), "add\\App\\teil%02d.bin", e);
        package.writer().declare(name, PackageStamp());
    }
    package.addControl("");
    PackageInfo info{entries + 2, 0, 0};
    for (std::int64_t s = 0; s < segments; ++s) {
        package.writer().addSegment(2 + std::size_t(s / kSegmentsPerEntry), stream, kMiB);
        info.contentBytes += kMiB;
    }
    info.fileBytes = package.finish();
    return info;
}

PackageInfo WriteRollbackPart(const std::string& path, std::int32_t count, std::size_t bytes) {
    return WriteReplacingPart(path, count, bytes, BenchControlFile("", "ROLLBACK=1\r\n"));
}

PackageInfo WriteReplacingPart(const std::string& path, std::int32_t count, std::size_t bytes,
                               const std::string& controlFile) {
    PackageFile package(path);
    package.declareControl();
    char name[64];
    for (std::int32_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof(name), "rep\\App\\datei%04d.dat", i);
        package.writer().declare(name, PackageStamp());
    }
    package.addControl("", controlFile);
    const std::string content = MixedBlock(31).substr(0, bytes);
    const std::string stream = CompressZlib(content.data(), content.size());
    for (std::int32_t i = 0; i < count; ++i) package.writer().addSegment(2 + std::size_t(i), stream, std::int64_t(bytes));
    PackageInfo info{count + 2, std::int64_t(count) * std::int64_t(bytes), 0};
    info.fileBytes = package.finish();
    return info;
}

void InstallOlderFiles(const std::string& app, std::int32_t count, std::size_t bytes) {
    constexpr std::int64_t kOlderInstallTime = 1577872800;  // 2020-01-01, before the package's stamps
    MakeFolders(app);
    const std::string content(bytes / 2, 'o');
    char name[32];
    for (std::int32_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof(name), "/datei%04d.dat", i);
        std::ofstream(app + name, std::ios::binary) << content;
    }
    AgeFiles(app, kOlderInstallTime);
}
