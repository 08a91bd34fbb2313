#include "platform/FileSystem.h"

#include "base/Exception.h"
#include "base/Text.h"

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
    throw EInOutError("E/A-Fehler " + DecimalText(code), code);
}

std::vector<std::size_t> MakeDurable(const std::vector<std::string>& paths) {
    std::string flushed, refused;  // the drive letters flushed as a whole, and those that could not be
    std::vector<std::size_t> failed;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        // A path on a network share names no drive: its files are flushed one by one.
        char drive = path.size() > 2 && path[1] == ':' && path[2] == '\\' ? char(path[0] & ~0x20) : '\0';
        if (drive && (flushed + refused).find(drive) == std::string::npos)
            (Fs().flushVolume(path) ? flushed : refused) += drive;
        if (drive && flushed.find(drive) != std::string::npos) continue;
        std::unique_ptr<FileHandle> file = Fs().open(path, OpenMode::ReadWrite);
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

bool CrossesReparsePoint(const std::string& top, const std::string& path) {
    std::size_t start = top.size() + (top.empty() || top.back() == '\\' ? 0 : 1);
    if (top.empty() || path.size() <= start || !StartsWithText(top, path) || path[start - 1] != '\\') return true;
    // Windows takes "/" for "\\": both end a folder on the way.
    for (std::size_t slash = path.find_first_of("\\/", start); slash != std::string::npos;
         slash = path.find_first_of("\\/", slash + 1)) {
        std::uint32_t attributes = Fs().attributes(path.substr(0, slash));
        if (attributes == kAttrInvalid) return false;  // nothing further down exists
        if (attributes & kAttrReparsePoint) return true;
    }
    return false;
}
