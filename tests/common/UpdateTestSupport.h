// Fixtures of the update-logic tests: answers scripted for the message boxes,
// a recording of what the window is asked to do, archives built on the fly
// and files with chosen stamps.
#pragma once

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "archive/ArchiveWriter.h"
#include "env/ScriptedPrompter.h"
#include "env/UiHooks.h"
#include "platform/FileSystem.h"
#include "update/UpdateParts.h"

// Scripted answers, in place as the process's prompter for the life of the object.
class TestPrompter : public ScriptedPrompter {
public:
    TestPrompter() : scope_(*this) {}

private:
    ScopedPrompter scope_;
};

// Counts the turns of the message loop and records the progress captions.
class RecordingUi : public UiHooks {
public:
    RecordingUi() : previous_(SetUiHooks(this)) {}
    ~RecordingUi() { SetUiHooks(previous_); }
    void pumpMessages() override { ++pumps; }
    void setProgress(const std::string& text) override { progress.push_back(text); }

    int pumps = 0;
    std::vector<std::string> progress;

private:
    UiHooks* previous_;
};

// Sets the log threshold for the life of the fixture.
class ScopedLogThreshold {
public:
    explicit ScopedLogThreshold(std::uint8_t threshold) : previous_(LogThreshold) { LogThreshold = threshold; }
    ~ScopedLogThreshold() { LogThreshold = previous_; }

private:
    std::uint8_t previous_;
};

struct PackageEntry {
    std::string name;
    std::string content;
    std::int32_t date;
};

// Writes the archive of the entries to `path`: after `hostBytes` bytes that
// stand for the updater and with the tail that finds it there when `attached`,
// or stand-alone.
inline void WriteArchive(const std::string& path, const std::vector<PackageEntry>& entries, bool attached,
                         std::size_t hostBytes = 0) {
    std::ostringstream out;
    out << std::string(hostBytes, 'M');
    ArchiveWriter writer(out, static_cast<std::int32_t>(hostBytes));
    for (const PackageEntry& e : entries) writer.declare(e.name, e.date);
    for (std::size_t i = 0; i < entries.size(); ++i) writer.addContent(i, entries[i].content);
    writer.finish(attached);
    WriteBytes(path, out.str());
}

// Writes a stand-alone archive of the entries to `path`.
inline void WritePackage(const std::string& path, const std::vector<PackageEntry>& entries) {
    WriteArchive(path, entries, false);
}

// Writes an updater with the archive of the entries attached to `path`.
inline void WriteUpdater(const std::string& path, const std::vector<PackageEntry>& entries, std::size_t hostBytes = 0) {
    WriteArchive(path, entries, true, hostBytes);
}

// A file with the given content and last-write stamp.
inline void MakeFile(const std::string& path, const std::string& content, std::int32_t stamp) {
    WriteBytes(path, content);
    auto file = Fs().open(path, OpenMode::ReadWrite);
    if (!file || !file->setDosDate(stamp)) throw std::runtime_error("cannot stamp " + path);
}

// The stamp a directory search reports; -1 when nothing is there.
inline std::int32_t StampOf(const std::string& path) {
    FindData found;
    return Fs().findFirst(path, found) ? found.dosDate : -1;
}
