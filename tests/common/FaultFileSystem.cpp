#include "FaultFileSystem.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kErrAccessDenied = 5, kErrCrc = 23, kErrSharingViolation = 32, kErrDiskFull = 112;

std::string Folded(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    return text;
}

// A handle whose writes and stamps go through the fault layer.
class FaultFile final : public FileHandle {
public:
    FaultFile(FaultFileSystem& fs, std::unique_ptr<FileHandle> file, std::string path)
        : fs_(fs), file_(std::move(file)), path_(std::move(path)) {}

    std::int64_t read(void* buffer, std::int64_t count) override {
        if (fs_.hits(Fault::ReadFails, path_)) return fs_.inject(kErrCrc), -1;
        return file_->read(buffer, count);
    }
    bool seek(std::int64_t position) override { return file_->seek(position); }
    std::int64_t size() override { return file_->size(); }
    std::int32_t dosDate() override { return file_->dosDate(); }

    std::int64_t write(const void* buffer, std::int64_t count) override {
        if (!fs_.change("write", path_)) return -1;
        bool shortWrite = fs_.hits(Fault::ShortWrite, path_);
        bool diskFull = !shortWrite && fs_.hits(Fault::DiskFull, path_);
        if (!shortWrite && !diskFull) return file_->write(buffer, count);
        std::int64_t stored = count > 1 ? file_->write(buffer, count / 2) : 0;
        if (shortWrite) return stored;
        fs_.inject(kErrDiskFull);
        return -1;
    }

    bool setDosDate(std::int32_t stamp) override {
        if (!fs_.change("stamp", path_)) return false;
        return file_->setDosDate(stamp);
    }

private:
    FaultFileSystem& fs_;
    std::unique_ptr<FileHandle> file_;
    std::string path_;
};

}  // namespace

FaultFileSystem::FaultFileSystem() : real_(SetFileSystem(this)) {}
FaultFileSystem::~FaultFileSystem() { SetFileSystem(real_); }

void FaultFileSystem::fail(Fault fault, const std::string& pathPart) { rules_.push_back({fault, Folded(pathPart)}); }

bool FaultFileSystem::change(const char* what, const std::string& path) {
    if (frozen_) return false;
    if (interruptAfter_ >= 0 && changes_ >= interruptAfter_) {
        frozen_ = true;
        throw Interrupted{};
    }
    ++changes_;
    journal_.push_back(std::string(what) + " " + path);
    return true;
}

bool FaultFileSystem::hits(Fault fault, const std::string& path) {
    std::string folded = Folded(path);
    bool hit = std::any_of(rules_.begin(), rules_.end(), [&](const Rule& r) {
        return r.fault == fault && folded.find(r.pathPart) != std::string::npos;
    });
    if (hit) ++faults_;
    return hit;
}

void FaultFileSystem::inject(std::uint32_t code) {
    injected_ = true;
    injectedError_ = code;
}

std::unique_ptr<FileHandle> FaultFileSystem::open(const std::string& path, OpenMode mode) {
    if (mode == OpenMode::Create) {
        if (!change("create", path)) return nullptr;
        if (hits(Fault::CreateFails, path)) return inject(kErrDiskFull), nullptr;
    } else if (frozen_) {
        return nullptr;
    }
    delegated();
    std::unique_ptr<FileHandle> file = real_->open(path, mode);
    if (!file) return nullptr;
    return std::make_unique<FaultFile>(*this, std::move(file), path);
}

bool FaultFileSystem::findFirst(const std::string& path, FindData& out) {
    if (frozen_) return false;
    delegated();
    return real_->findFirst(path, out);
}

bool FaultFileSystem::listFolder(const std::string& folder, std::vector<FindData>& out) {
    if (frozen_) return false;
    delegated();
    return real_->listFolder(folder, out);
}

bool FaultFileSystem::createFolder(const std::string& path) {
    if (!change("mkdir", path)) return false;
    if (hits(Fault::FolderFails, path)) return inject(kErrDiskFull), false;
    delegated();
    return real_->createFolder(path);
}

bool FaultFileSystem::removeFolder(const std::string& path) {
    if (!change("rmdir", path)) return false;
    delegated();
    return real_->removeFolder(path);
}

bool FaultFileSystem::removeFile(const std::string& path) {
    if (!change("delete", path)) return false;
    if (hits(Fault::RemoveFails, path)) return inject(kErrSharingViolation), false;
    delegated();
    return real_->removeFile(path);
}

bool FaultFileSystem::replaceFile(const std::string& from, const std::string& to) {
    if (!change("rename", from + " -> " + to)) return false;
    if (hits(Fault::RenameFails, to)) return inject(kErrAccessDenied), false;
    delegated();
    return real_->replaceFile(from, to);
}

bool FaultFileSystem::renameOver(const std::string& from, const std::string& to) {
    if (!change("rename", from + " -> " + to)) return false;
    if (hits(Fault::RenameFails, to) || hits(Fault::RenameFromFails, from)) return inject(kErrAccessDenied), false;
    delegated();
    return real_->renameOver(from, to);
}

std::uint32_t FaultFileSystem::attributes(const std::string& path) {
    if (frozen_) return kAttrInvalid;
    delegated();
    return real_->attributes(path);
}

bool FaultFileSystem::setAttributes(const std::string& path, std::uint32_t attributes) {
    if (!change("attributes", path)) return false;
    if (hits(Fault::AttributesFail, path)) return inject(kErrAccessDenied), false;
    delegated();
    return real_->setAttributes(path, attributes);
}

std::uint32_t FaultFileSystem::lastError() { return injected_ ? injectedError_ : real_->lastError(); }
