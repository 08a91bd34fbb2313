#include "ZlibFloor.h"

#include <algorithm>
#include <fcntl.h>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "archive/Archive.h"
#include "base/ByteReader.h"

namespace {

class Floor {
public:
    Floor(const std::string& archivePath, const std::string& outRoot) : root_(outRoot), output_(1 << 20) {
        in_ = open(archivePath.c_str(), O_RDONLY);
        if (in_ < 0 || inflateInit(&z_) != Z_OK) throw std::runtime_error("floor: cannot start");
    }
    ~Floor() {
        inflateEnd(&z_);
        if (in_ >= 0) close(in_);
    }

    std::int64_t entry(const TPackedFile& e, std::int64_t base, const std::string& relative) {
        std::string path = root_ + "/" + relative;
        for (char& c : path)
            if (c == '\\') c = '/';
        makeParents(path);
        int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0) throw std::runtime_error("floor: cannot create " + path);
        std::int64_t written = 0;
        for (std::int64_t position = 0; position < std::max(e.storedSize, 1);)
            position += segment(base + e.dataOffset + position, out, written);
        close(out);
        return written;
    }

private:
    // Inflates the segment at `at` into the buffer and writes it; returns 4 + its length.
    std::int64_t segment(std::int64_t at, int out, std::int64_t& written) {
        unsigned char head[4];
        if (pread(in_, head, 4, at) != 4) throw std::runtime_error("floor: short read");
        std::uint32_t length = getU32(head);
        input_.resize(length);
        if (pread(in_, input_.data(), length, at + 4) != ssize_t(length)) throw std::runtime_error("floor: short read");
        inflateReset(&z_);
        z_.next_in = input_.data();
        z_.avail_in = length;
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            z_.next_out = output_.data();
            z_.avail_out = uInt(output_.size());
            rc = inflate(&z_, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) throw std::runtime_error("floor: inflate failed");
            std::size_t n = output_.size() - z_.avail_out;
            if (write(out, output_.data(), n) != ssize_t(n)) throw std::runtime_error("floor: short write");
            written += std::int64_t(n);
        }
        return 4 + std::int64_t(length);
    }

    void makeParents(const std::string& path) {
        std::size_t slash = path.rfind('/');
        std::string folder = path.substr(0, slash);
        if (folders_.count(folder)) return;
        for (std::size_t at = root_.size() + 1; at <= folder.size(); ++at)
            if (at == folder.size() || folder[at] == '/') mkdir(folder.substr(0, at).c_str(), 0755);
        folders_.insert(folder);
    }

    std::string root_;
    int in_ = -1;
    z_stream z_ = {};
    std::vector<unsigned char> input_, output_;
    std::set<std::string> folders_;
};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

std::int64_t ExtractWithZlib(const std::string& archivePath, const std::string& prefix, const std::string& outRoot) {
    TArchive archive;
    if (!archive.openAttached(archivePath)) archive.openFile(archivePath);
    Floor floor(archivePath, outRoot);
    std::int64_t total = 0;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const TPackedFile& e = archive.entryAt(i);
        if (StartsWith(e.name, prefix)) total += floor.entry(e, archive.baseOffset, e.name.substr(prefix.size()));
    }
    return total;
}

int ChildFloor(const std::string& package, const std::string& outRoot) {
    mkdir(outRoot.c_str(), 0755);
    return ExtractWithZlib(package, "add\\App\\", outRoot) > 0 ? 0 : 1;
}
