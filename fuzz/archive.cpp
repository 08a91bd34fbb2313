// Fuzz target: the archive reader on a whole file. The input is opened as a
// stand-alone archive and as an updater with an attached one; the control
// file and the deletion list are read as lines, and every entry is extracted
// into the sandbox, each under a name of its own and, for the attached form,
// under its own name as "alles auspacken" does. Raised errors of the updater
// are its answer to damage. Anything else escaping, a crash, a temporary file
// left behind or a target that exists although its extraction failed is a finding.
#include <algorithm>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "base/Exception.h"
#include "env/Text.h"
#include "fuzz/FuzzSupport.h"
#include "platform/FileSystem.h"
#include "update/Unpack.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 14;
constexpr std::int32_t kMaxEntriesExtracted = 64;

void ReadTexts(const TArchive& archive) {
    for (const char* name : {"update.ini", "todel.txt"}) {
        try {
            archive.readLines(name);
        } catch (const Exception&) {
        }
    }
}

// Every entry as "e" + index; a failed or raised extraction leaves no file behind.
void ExtractEach(const TArchive& archive, const std::string& folder) {
    Fs().createFolder(folder.substr(0, folder.size() - 1));
    std::vector<std::string> written;
    for (std::int32_t i = 0; i < archive.entryCount() && i < kMaxEntriesExtracted; ++i) {
        std::string name = "e" + std::to_string(i);
        bool ok = false;
        try {
            ok = archive.extractFile(i, folder + name);
        } catch (const Exception&) {
        }
        Require(FileExists(folder + name) == ok, "an extracted file exists exactly when its extraction succeeded");
        if (ok) written.push_back(name);
    }
    std::sort(written.begin(), written.end());
    std::string expected;
    for (const std::string& name : written) expected += name + "\n";
    Require(TreeListing(folder) == expected, "extraction leaves only the written files");
}

// Every file that unpacking leaves is an entry's: a temporary file that stayed is a finding.
void UnpackEverything(const TArchive& archive, const std::string& folder) {
    try {
        UnpackAll(archive, folder);
    } catch (const Exception&) {
    }
    std::set<std::string> names;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        std::string name = archive.entryAt(i).name;
        std::replace(name.begin(), name.end(), '/', '\\');
        UpperCaseText(name);
        names.insert(name);
    }
    std::istringstream listing(TreeListing(folder));
    for (std::string path; std::getline(listing, path);) {
        if (path.empty() || path.back() == '\\') continue;
        UpperCaseText(path);
        Require(names.count(path) == 1, "every unpacked file is an entry's");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    const std::string& work = FreshWorkFolder();
    const std::string package = work + "pkg.exe";
    {
        auto file = Fs().open(package, OpenMode::Create);
        Require(file && file->write(data, std::int64_t(size)) == std::int64_t(size), "the input is written");
    }

    TArchive standAlone;
    try {
        standAlone.openFile(package);
    } catch (const Exception&) {
    }
    ReadTexts(standAlone);
    ExtractEach(standAlone, work + "e\\");

    TArchive attached;
    bool opened = false;
    try {
        opened = attached.openAttached(package);
    } catch (const Exception&) {
    }
    Require(opened || attached.entryCount() == 0, "a failed open leaves no entries");
    ReadTexts(attached);
    UnpackEverything(attached, work + "u\\");
    return 0;
}
