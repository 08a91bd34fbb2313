// Fuzz target: a rollback journal as recovery reads and checks it. The input
// is the journal's text, read for the part's folder C:\fz\App\ and its second
// folder C:\fz\Data\, then left in the folder for recovery to find beside a
// file of the part and its kept copy, with a file outside both folders.
// Whatever the input: a journal read as the updater's names only paths below
// the folders and kept names of their paths; what is read reads the same when
// written again as the updater writes it, and the text up to any line's end
// reads as the first lines; a foreign journal changes nothing and stays; the
// file outside is never touched.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Text.h"
#include "fuzz/FuzzSupport.h"
#include "platform/FileSystem.h"
#include "update/Rollback.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 13;
using Record = RollbackJournal::Record;

// A line as the updater writes it.
std::string LineOf(const Record& r) {
    return static_cast<char>(r.change) + r.path + "|" + r.kept + "|" + std::to_string(r.written.size) + "|" +
           std::to_string(r.written.stamp) + "|" + std::to_string(r.written.utc) + "\r\n";
}

bool Same(const Record& a, const Record& b) {
    return a.change == b.change && a.path == b.path && a.kept == b.kept && a.written.size == b.written.size &&
           a.written.stamp == b.written.stamp && a.written.utc == b.written.utc;
}

void WriteFile(const std::string& path, const std::string& text) {
    auto file = Fs().open(path, OpenMode::Create);
    Require(file && file->write(text.data(), std::int64_t(text.size())) == std::int64_t(text.size()),
            "a file is written");
}

std::string ReadFile(const std::string& path) {
    auto file = Fs().open(path, OpenMode::ReadShared);
    std::string text(file ? std::size_t(file->size()) : 0, '\0');
    if (file && !text.empty()) file->read(&text[0], std::int64_t(text.size()));
    return file ? text : "(missing)";
}

void CheckRead(const std::string& text, const std::string& app, const std::string& data) {
    std::vector<Record> records;
    if (!RollbackJournal::ParseText(text, app, data, records)) return;
    std::string again;
    for (const Record& r : records) {
        if (r.change == RollbackJournal::Change::Succeeded) continue;
        Require(StartsWithText(app, r.path) || StartsWithText(data, r.path), "paths lie below the folders");
        Require(r.change != RollbackJournal::Change::Kept || r.kept.compare(0, r.path.size() + 3, r.path + ".~r") == 0,
                "a kept name is its path's");
        again += LineOf(r);
    }
    std::vector<Record> reread;
    Require(RollbackJournal::ParseText(again, app, data, reread), "written again, it reads as the updater's");
    for (std::size_t i = 0, j = 0; i < records.size(); ++i) {
        if (records[i].change == RollbackJournal::Change::Succeeded) continue;
        Require(j < reread.size() && Same(records[i], reread[j++]), "written again, it reads the same");
    }
    const std::size_t cut = text.rfind("\r\n", text.size() / 2);
    std::vector<Record> first;
    Require(cut == std::string::npos || RollbackJournal::ParseText(text.substr(0, cut + 2), app, data, first),
            "its first lines read as the updater's");
    for (std::size_t i = 0; i < first.size(); ++i)
        Require(i < records.size() && Same(first[i], records[i]), "its first lines read as its first records");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    const std::string text = AsText(data, size);
    const std::string& work = FreshWorkFolder();
    const std::string app = work + "App\\", second = work + "Data\\";
    CheckRead(text, app, second);

    Fs().createFolder(work + "App");
    Fs().createFolder(work + "Data");
    WriteFile(app + "a.dll", "new");
    WriteFile(app + "a.dll.~r0", "old");
    WriteFile(work + "outside.txt", "outside");
    WriteFile(app + "~update0.~rj", text);
    std::vector<Record> records;
    const bool own = RollbackJournal::ParseText(text, app, second, records);
    const std::string before = TreeListing(work);
    UndoReport report;
    RollbackJournal::Recovery recovery = RollbackJournal::Recover(app, report, second);
    Require(ReadFile(work + "outside.txt") == "outside", "the file outside is not touched");
    if (!own) {
        Require(recovery == RollbackJournal::Recovery::Refused, "a foreign journal is refused");
        Require(TreeListing(work) == before && ReadFile(app + "a.dll") == "new", "a foreign journal changes nothing");
    }
    return 0;
}
