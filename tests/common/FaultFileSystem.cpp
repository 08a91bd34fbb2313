#include "FaultFileSystem.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kErrAccessDenied = 5, kErrCrc = 23, kErrWriteFault = 29, kErrSharingViolation = 32, kErrDiskFull = 112;

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
        return advanced(file_->read(buffer, count));
    }
    bool seek(std::int64_t position) override {
        if (!file_->seek(position)) return false;
        position_ = position;
        return true;
    }
    std::int64_t size() override { return file_->size(); }
    std::int32_t dosDate() override { return file_->dosDate(); }

    std::int64_t write(const void* buffer, std::int64_t count) override {
        if (!fs_.change("write", path_)) return -1;
        fs_.unflushed(path_, position_);
        bool shortWrite = fs_.hits(Fault::ShortWrite, path_);
        bool diskFull = !shortWrite && fs_.hits(Fault::DiskFull, path_);
        if (!shortWrite && !diskFull) return advanced(file_->write(buffer, count));
        std::int64_t stored = count > 1 ? advanced(file_->write(buffer, count / 2)) : 0;
        if (shortWrite) return stored;
        fs_.inject(kErrDiskFull);
        return -1;
    }

    bool setDosDate(std::int32_t stamp) override {
        if (!fs_.change("stamp", path_)) return false;
        return file_->setDosDate(stamp);
    }

    // The model of the disk decides what a power cut loses: the real one is not synced.
    bool flush() override {
        if (fs_.interrupted()) return false;
        if (fs_.hits(Fault::FlushFails, path_)) return fs_.inject(kErrWriteFault), false;
        fs_.flushed(path_);
        return true;
    }

private:
    std::int64_t advanced(std::int64_t count) {
        if (count > 0) position_ += count;
        return count;
    }

    FaultFileSystem& fs_;
    std::unique_ptr<FileHandle> file_;
    std::string path_;
    std::int64_t position_ = 0;
};

}  // namespace

FaultFileSystem::FaultFileSystem() : real_(SetFileSystem(this)) {}
FaultFileSystem::~FaultFileSystem() {
    if (frozen_ && powerCut_) losePower();
    SetFileSystem(real_);
}

void FaultFileSystem::unflushed(const std::string& path, std::int64_t offset) {
    auto [it, added] = unflushed_.insert({Folded(path), {path, offset}});
    if (!added) it->second.from = std::min(it->second.from, offset);
}

void FaultFileSystem::flushed(const std::string& path) {
    ++flushes_;
    unflushed_.erase(Folded(path));
}

// The data goes with the name; a file renamed over `to` takes the place of what it had.
void FaultFileSystem::moved(const std::string& from, const std::string& to) {
    auto it = unflushed_.find(Folded(from));
    unflushed_.erase(Folded(to));
    if (it == unflushed_.end()) return;
    Unflushed data{to, it->second.from};
    unflushed_.erase(it);
    unflushed_[Folded(to)] = data;
}

// Zeros over every byte that was not flushed, keeping the file's length, stamp and attributes.
void FaultFileSystem::losePower() {
    for (const auto& [key, data] : unflushed_) {
        std::uint32_t attributes = real_->attributes(data.path);
        if (attributes == kAttrInvalid) continue;
        if (attributes & kAttrReadOnly) real_->setAttributes(data.path, attributes & ~std::uint32_t(kAttrReadOnly));
        std::unique_ptr<FileHandle> file = real_->open(data.path, OpenMode::ReadWrite);
        std::int64_t size = file ? file->size() : -1;
        if (size < 0) {
            ADD_FAILURE() << "the power cut cannot reach " << data.path;
            continue;
        }
        std::int32_t stamp = file->dosDate();
        std::string zeros(std::size_t(std::max<std::int64_t>(size - data.from, 0)), '\0');
        EXPECT_TRUE(file->seek(data.from) && file->write(zeros.data(), std::int64_t(zeros.size())) == std::int64_t(zeros.size()) &&
                    file->setDosDate(stamp))
            << data.path;
        file.reset();
        if (attributes & kAttrReadOnly) real_->setAttributes(data.path, attributes);
    }
}

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
    injectedChange_ = code;
}

std::unique_ptr<FileHandle> FaultFileSystem::open(const std::string& path, OpenMode mode) {
    if (mode == OpenMode::Create || mode == OpenMode::CreateNew) {
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
    if (!real_->removeFile(path)) return false;
    unflushed_.erase(Folded(path));
    return true;
}

bool FaultFileSystem::replaceFile(const std::string& from, const std::string& to) {
    if (!change("rename", from + " -> " + to)) return false;
    if (hits(Fault::RenameFails, to)) return inject(kErrAccessDenied), false;
    delegated();
    if (!real_->replaceFile(from, to)) return false;
    moved(from, to);
    return true;
}

bool FaultFileSystem::renameOver(const std::string& from, const std::string& to) {
    if (!change("rename", from + " -> " + to)) return false;
    if (hits(Fault::RenameFails, to) || hits(Fault::RenameFromFails, from)) return inject(kErrAccessDenied), false;
    delegated();
    if (!real_->renameOver(from, to)) return false;
    moved(from, to);
    return true;
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

// The model of the disk: every file on the drive of `path` keeps what was written to it.
bool FaultFileSystem::flushVolume(const std::string& path) {
    if (frozen_) return false;
    if (hits(Fault::NoVolumeFlush, path)) return inject(kErrAccessDenied), false;
    const std::string drive = Folded(path.substr(0, 2));
    for (const auto& [key, data] : unflushed_)
        if (key.compare(0, 2, drive) == 0 && hits(Fault::FlushFails, data.path)) return inject(kErrWriteFault), false;
    for (auto it = unflushed_.begin(); it != unflushed_.end();)
        it = it->first.compare(0, 2, drive) == 0 ? unflushed_.erase(it) : std::next(it);
    ++flushes_;
    return true;
}

std::uint32_t FaultFileSystem::lastError() { return injected_ ? injectedError_ : real_->lastError(); }
