// A file system that delegates to the one in place and fails on command, for
// tests of full disks, failing writes and interrupted runs:
//
//   fail(Fault::DiskFull, "readme")   every write to a path containing "readme"
//                                     stores half its bytes and reports error 112
//   interruptAfter(k)                 the (k+1)-th operation that changes the disk
//                                     throws Interrupted, and from then on nothing
//                                     reaches the disk any more, not even the
//                                     clean-up of destructors: the state is what a
//                                     process killed after the k-th change leaves
//   interruptAfter(k, Interruption::PowerCut)
//                                     the same, and the power fails: the bytes
//                                     written to a file since its last flush read
//                                     as zeros (its length kept) under whatever
//                                     name renames gave it, while renames and
//                                     deletions stay. The loss reaches the disk
//                                     when this file system is taken away.
//                                     A flush of a volume (flushVolume) keeps
//                                     every file on its drive, as a flush of each.
//
// Operations that change the disk: creating or truncating a file, a write, a
// new stamp, new attributes, a rename, a deletion, creating or removing a folder.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

enum class Fault {
    ShortWrite,   // a write stores half its bytes and reports no error
    DiskFull,     // a write stores half its bytes and fails with error 112
    CreateFails,  // a file cannot be created (error 112)
    RenameFails,  // a rename is refused (error 5)
    RenameFromFails,  // a rename in one step (renameOver) of a path that contains the part is refused (error 5)
    RemoveFails,  // a deletion is refused (error 32, the file is in use)
    FolderFails,  // a folder cannot be created (error 112)
    AttributesFail,  // attributes cannot be set (error 5)
    ReadFails,    // a read fails in the system (error 23, a data error of the disk)
    FlushFails,   // a flush fails (error 29, the device cannot write), also of a volume that holds the file
    NoVolumeFlush,  // a volume holding the path cannot be flushed as a whole (error 5: no right to open it)
};

enum class Interruption { Kill, PowerCut };

// Not an std::exception, so that no handler of the updater takes it for one of its errors.
struct Interrupted {};

class FaultFileSystem final : public FileSystem {
public:
    FaultFileSystem();
    ~FaultFileSystem();
    FaultFileSystem(const FaultFileSystem&) = delete;
    FaultFileSystem& operator=(const FaultFileSystem&) = delete;

    // From now on, the fault hits every operation of its kind on a path that
    // contains `pathPart` (ignoring case; empty: every path).
    void fail(Fault fault, const std::string& pathPart = "");
    void interruptAfter(int changes, Interruption how = Interruption::Kill) {
        interruptAfter_ = changes;
        powerCut_ = how == Interruption::PowerCut;
    }
    bool interrupted() const { return frozen_; }
    // Operations that changed the disk so far, and how many faults were injected.
    int changes() const { return changes_; }
    int faults() const { return faults_; }
    // "create C:\...", "write C:\...", ... in order, for the messages of failing tests.
    const std::vector<std::string>& journal() const { return journal_; }

    std::unique_ptr<FileHandle> open(const std::string& path, OpenMode mode) override;
    bool findFirst(const std::string& path, FindData& out) override;
    bool listFolder(const std::string& folder, std::vector<FindData>& out) override;
    bool createFolder(const std::string& path) override;
    bool removeFolder(const std::string& path) override;
    bool removeFile(const std::string& path) override;
    bool replaceFile(const std::string& from, const std::string& to) override;
    bool renameOver(const std::string& from, const std::string& to) override;
    std::uint32_t attributes(const std::string& path) override;
    bool setAttributes(const std::string& path, std::uint32_t attributes) override;
    std::uint32_t lastError() override;
    // An injected fault since clearChangeError is the reason; otherwise the real one's.
    std::uint32_t lastChangeError() override { return injectedChange_ ? injectedChange_ : real_->lastChangeError(); }
    void clearChangeError() override {
        injectedChange_ = 0;
        real_->clearChangeError();
    }
    FileOwner owner(const std::string& path) override { return real_->owner(path); }
    bool flushVolume(const std::string& path) override;
    // The flushes so far, of files and of volumes: the waits for the disk.
    int flushes() const { return flushes_; }

    // For the handles: whether a change may go ahead (false: frozen or interrupted now).
    bool change(const char* what, const std::string& path);
    bool hits(Fault fault, const std::string& path);
    void inject(std::uint32_t code);
    void delegated() { injected_ = false; }
    // What the handles tell of their data: written from `offset` on and not yet flushed; flushed.
    void unflushed(const std::string& path, std::int64_t offset);
    void flushed(const std::string& path);  // counted as one flush
    FileSystem& real() { return *real_; }

private:
    struct Unflushed {
        std::string path;
        std::int64_t from = 0;
    };
    void moved(const std::string& from, const std::string& to);
    void losePower();

    struct Rule {
        Fault fault;
        std::string pathPart;
    };

    FileSystem* real_;
    std::vector<Rule> rules_;
    std::vector<std::string> journal_;
    std::map<std::string, Unflushed> unflushed_;  // by the path's upper-case form
    int interruptAfter_ = -1;
    int changes_ = 0;
    int faults_ = 0;
    int flushes_ = 0;
    bool frozen_ = false;
    bool powerCut_ = false;
    bool injected_ = false;
    std::uint32_t injectedError_ = 0;
    std::uint32_t injectedChange_ = 0;
};

// What a scanner or a filter driver may do to a file on its way to the disk:
// once a file is put at `target`, its first byte becomes 'X', or, with
// `lengthens`, an 'X' is added at its end; with `holdsIt`, the file cannot be
// removed afterwards (the scanner still has it open).
struct AlteringFileSystem final : ForwardingFileSystem {
    std::string target;
    bool lengthens = false;
    bool holdsIt = false;
    bool replaceFile(const std::string& from, const std::string& to) override {
        bool moved = real_.replaceFile(from, to);
        if (!moved || to != target) return moved;
        std::unique_ptr<FileHandle> file = real_.open(to, OpenMode::ReadWrite);
        if (lengthens) file->seek(file->size());
        file->write("X", 1);
        return moved;
    }
    bool removeFile(const std::string& path) override { return !(holdsIt && path == target) && real_.removeFile(path); }
};
