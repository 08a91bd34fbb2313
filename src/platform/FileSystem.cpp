#include "platform/FileSystem.h"

#include <algorithm>

#include "base/Exception.h"

#ifdef _WIN32
#include "Windows/FileSystem.inc"
#else
#include "Native/FileSystem.inc"
#endif

namespace {
FileSystem* g_current = nullptr;
}

FileSystem& Fs() { return g_current ? *g_current : PlatformFileSystem(); }

FileSystem* SetFileSystem(FileSystem* fs) {
    FileSystem* previous = g_current ? g_current : &PlatformFileSystem();
    g_current = fs;
    return previous;
}

ForwardingFileSystem::ForwardingFileSystem() : real_(*SetFileSystem(this)) {}

ForwardingFileSystem::~ForwardingFileSystem() { SetFileSystem(&real_); }

void RaiseLastIoError() {
    std::uint32_t code = Fs().lastError();
    throw EInOutError("E/A-Fehler " + std::to_string(code), code);
}

namespace {

// "C:" for a path on a drive; empty for one that names no drive (a network share).
std::string DriveOf(const std::string& path) {
    if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return {};
    return std::string(1, char(path[0] & ~0x20)) + ':';
}

}  // namespace

std::vector<std::size_t> MakeDurable(const std::vector<std::string>& paths) {
    std::vector<std::pair<std::string, bool>> volumes;  // each drive once: flushed as a whole or not
    std::vector<std::size_t> failed;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::string drive = DriveOf(paths[i]);
        auto it = std::find_if(volumes.begin(), volumes.end(), [&](const auto& v) { return v.first == drive; });
        if (it == volumes.end())
            it = volumes.insert(volumes.end(), {drive, !drive.empty() && Fs().flushVolume(paths[i])});
        if (it->second) continue;
        std::unique_ptr<FileHandle> file = Fs().open(paths[i], OpenMode::ReadWrite);
        if (!file || !file->flush()) failed.push_back(i);
    }
    return failed;
}

bool FileInUse(const std::string& path) {
    std::uint32_t a = Fs().attributes(path);
    if (a == kAttrInvalid || (a & kAttrDirectory)) return false;
    return !Fs().open(path, (a & kAttrReadOnly) ? OpenMode::ReadExclusive : OpenMode::WriteExclusive);
}

bool SettleFailedReplace(FileSystem& fs, const std::string& from, const std::string& to, const std::string& backup) {
    if (fs.attributes(to) != kAttrInvalid) return true;
    if (fs.attributes(backup) != kAttrInvalid && fs.renameOver(backup, to)) return true;
    return fs.attributes(from) != kAttrInvalid && fs.renameOver(from, to);
}
