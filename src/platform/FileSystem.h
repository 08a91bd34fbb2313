// Files and folders, the one way the updater touches the file system.
//
// Paths are Windows paths in code page 1252 ("C:\App\x.dat"). The Win32 build
// hands them to the A functions; the native build maps them into a sandbox
// folder (drive letters become sub-folders, backslashes become slashes) so that
// the portable logic and its tests use the same paths on both builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// File attribute bits, as Windows defines them.
enum : std::uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrNormal = 0x80,
    // A junction, symbolic link or mount point: what lies behind it may be
    // anywhere, and is not the folder's that holds it.
    kAttrReparsePoint = 0x400,
    kAttrInvalid = 0xFFFFFFFF,
};

enum class OpenMode {
    ReadShared,     // read only; others may read and write (the running executable opens too)
    ReadDenyWrite,  // read only; others may read, but not write, rename or delete it while
                    // this handle lasts (the package, from loading to the end of the process)
    ReadWrite,      // read and write an existing file, nobody else may open it
    Create,         // create or truncate for writing, nobody else may open it
    CreateNew,      // create for writing where nothing has the name, not even a link; nobody else may open it
    ReadExclusive,  // read only, fails while anyone else holds the file open
    WriteExclusive, // opened for writing to test, never written: fails also while a
                    // program runs from the file (its mapped image), unlike ReadExclusive
};

// One open file. Counts are bytes moved; -1 reports a system error (see lastError).
class FileHandle {
public:
    virtual ~FileHandle() = default;
    virtual std::int64_t read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t write(const void* buffer, std::int64_t count) = 0;
    virtual bool seek(std::int64_t position) = 0;
    virtual std::int64_t size() = 0;
    // The last-write time as an MS-DOS stamp in local time; -1 when unknown.
    virtual std::int32_t dosDate() = 0;
    virtual bool setDosDate(std::int32_t stamp) = 0;
    // Puts what was written, and the stamp, on the disk before it returns: a
    // rename or deletion that relies on the data comes after it. False is a
    // failed write (lastError tells why).
    virtual bool flush() = 0;
    // Starts writing what was written so far to the disk and returns at once,
    // so that the flush that follows waits only for the rest. Nothing is
    // durable before that flush. Does nothing where the system has no such
    // call (Windows' own cache writes dirty pages behind on its own).
    virtual void flushAhead() {}
};

// What a directory search reports for its first match.
struct FindData {
    std::string name;  // the matching entry's own name, without folder
    std::uint32_t attributes = 0;
    std::int64_t size = 0;
    std::int32_t dosDate = -1;
    std::int64_t utcTime = -1;  // the last write in 100 ns since 1601, UTC; -1 when unknown
};

// Who owns a file, as far as the updater trusts what it finds.
enum class FileOwner {
    Self,            // the user the updater runs as
    Administrators,  // the group of the administrators
    System,          // the operating system (LocalSystem)
    Other,           // anyone else, or an owner that cannot be read
    Unknown,         // the system keeps no owners (Windows 9x, a FAT volume)
};

class FileSystem {
protected:
    // Never deleted through the interface: the services live as long as the
    // process, and a static instance with a trivial destructor needs no exit handler.
    ~FileSystem() = default;

public:
    // nullptr on failure; lastError() tells why.
    virtual std::unique_ptr<FileHandle> open(const std::string& path, OpenMode mode) = 0;
    // First entry matching the path; the last element may hold the wildcards * and ?.
    virtual bool findFirst(const std::string& path, FindData& out) = 0;
    // Every entry of a folder except "." and "..", in no particular order.
    virtual bool listFolder(const std::string& folder, std::vector<FindData>& out) = 0;
    virtual bool createFolder(const std::string& path) = 0;
    virtual bool removeFolder(const std::string& path) = 0;
    virtual bool removeFile(const std::string& path) = 0;
    // Puts `from` in the place of `to`: a file that is replaced keeps its
    // attributes (the archive bit added) and creation time, as a new version of it.
    virtual bool replaceFile(const std::string& from, const std::string& to) = 0;
    // Renames `from` to `to` in one step where the system can, replacing an
    // existing `to`; the file keeps its own attributes.
    virtual bool renameOver(const std::string& from, const std::string& to) = 0;
    virtual std::uint32_t attributes(const std::string& path) = 0;  // kAttrInvalid when missing
    virtual bool setAttributes(const std::string& path, std::uint32_t attributes) = 0;
    virtual FileOwner owner(const std::string&) { return FileOwner::Unknown; }
    // The bytes this user may still write on the volume of `folder` (ending in
    // a backslash); -1 when the system does not tell.
    virtual std::int64_t freeSpace(const std::string&) { return -1; }
    // Puts every file written so far on the volume that holds `path` on the
    // disk at once, as a flush of each of them would. False where the system
    // cannot (no such call, no right to open the volume, a device error): the
    // caller then flushes each file (MakeDurable).
    virtual bool flushVolume(const std::string&) { return false; }
    // The system's error code of the last failed call on this thread.
    virtual std::uint32_t lastError() = 0;
    // The error of the last failed call that was to change the disk (create,
    // write, flush, stamp, rename, replace, delete, folders, attributes), which
    // no failed look-up overwrites: why a file could not be written. 0 after
    // clearChangeError until a change fails.
    virtual std::uint32_t lastChangeError() { return lastError(); }
    virtual void clearChangeError() {}
};

// Passes every call on to the file system that was in place when it was made,
// and stays in place itself for its life: the base of the stand-ins of tests
// and benchmarks, which override what they change.
class ForwardingFileSystem : public FileSystem {
public:
    ForwardingFileSystem();
    virtual ~ForwardingFileSystem();
    ForwardingFileSystem(const ForwardingFileSystem&) = delete;
    ForwardingFileSystem& operator=(const ForwardingFileSystem&) = delete;

    std::unique_ptr<FileHandle> open(const std::string& p, OpenMode m) override { return real_.open(p, m); }
    bool findFirst(const std::string& p, FindData& out) override { return real_.findFirst(p, out); }
    bool listFolder(const std::string& f, std::vector<FindData>& out) override { return real_.listFolder(f, out); }
    bool createFolder(const std::string& p) override { return real_.createFolder(p); }
    bool removeFolder(const std::string& p) override { return real_.removeFolder(p); }
    bool removeFile(const std::string& p) override { return real_.removeFile(p); }
    bool replaceFile(const std::string& f, const std::string& t) override { return real_.replaceFile(f, t); }
    bool renameOver(const std::string& f, const std::string& t) override { return real_.renameOver(f, t); }
    std::uint32_t attributes(const std::string& p) override { return real_.attributes(p); }
    bool setAttributes(const std::string& p, std::uint32_t a) override { return real_.setAttributes(p, a); }
    FileOwner owner(const std::string& p) override { return real_.owner(p); }
    std::int64_t freeSpace(const std::string& f) override { return real_.freeSpace(f); }
    bool flushVolume(const std::string& p) override { return real_.flushVolume(p); }
    std::uint32_t lastError() override { return real_.lastError(); }
    std::uint32_t lastChangeError() override { return real_.lastChangeError(); }
    void clearChangeError() override { real_.clearChangeError(); }

protected:
    FileSystem& real_;
};

// The file system of the process: the platform's own unless a test has put another in place.
FileSystem& Fs();
// Installs `fs` (nullptr: the platform's own) and returns the one that was in place.
FileSystem* SetFileSystem(FileSystem* fs);
// The platform's own implementation.
FileSystem& PlatformFileSystem();

// The last-write time (100 ns since 1601, UTC) that FileHandle::setDosDate
// gives a file with `stamp` now, in the zone in force now; -1 for a bad stamp.
std::int64_t UtcOfDosDate(std::int32_t stamp);

// Puts the files at `paths`, written and closed, on the disk: one flush of
// each volume they lie on where the system can, otherwise each file opened
// again and flushed. Returns the positions in `paths` of those whose flush failed.
std::vector<std::size_t> MakeDurable(const std::vector<std::string>& paths);

// Raises the input/output error (EInOutError, "E/A-Fehler <code>") for the last
// failed call of the file system: a read or write that failed in the system,
// as opposed to one that ended early.
[[noreturn]] void RaiseLastIoError();

// After the system's replace of `to` by `from`, with the backup name
// `backup`, failed: puts the replaced file back where the failure left it
// elsewhere, so that `to` is never left empty. ReplaceFile documents two such
// failures: ERROR_UNABLE_TO_MOVE_REPLACEMENT (1176), after which the replaced
// file may be gone and the replacement lies under its own name, and
// ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 (1177), after which the replaced file lies
// under the backup name. The old file comes back from the backup name; when
// nothing of it is left, the replacement is moved into place. False when `to`
// stays empty all the same.
bool SettleFailedReplace(FileSystem& fs, const std::string& from, const std::string& to, const std::string& backup);

// Whether an existing file could not be changed now: it cannot be opened for
// writing without sharing (open elsewhere, a running program's image, no
// right to write). Nothing of the file changes. A read-only file is tested by
// an exclusive open for reading: its flag alone refuses writing, and the
// updater clears the flag before it writes. False for a missing file.
bool FileInUse(const std::string& path);

// What Windows allows for a plain path (without "\\?\"): a file's path has
// fewer than MAX_PATH (260) characters, a folder that CreateDirectory makes
// fewer than 248 (room for an 8.3 name). Longer ones fail with error 206.
constexpr std::size_t kMaxPathLength = 259, kMaxNewFolderLength = 247;

// Whether a folder on the way from `top` (itself not looked at) to `path` is a
// reparse point, or `path` does not lie below `top`: the updater deletes or
// renames nothing through such a path, since a user who may create folders
// below `top` can point one anywhere. The last element of `path` is not looked
// at (a file that is itself a link is removed or renamed as the link).
bool CrossesReparsePoint(const std::string& top, const std::string& path);

inline bool FileExists(const std::string& path) {
    std::uint32_t a = Fs().attributes(path);
    return a != kAttrInvalid && (a & kAttrDirectory) == 0;
}
