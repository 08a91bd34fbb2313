#include "tools/mkupdate/PatchBases.h"

#include <cstdio>
#include <exception>
#include <fstream>

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "archive/Patch.h"
#include "base/Cp1252.h"
#include "base/Text.h"
#include "tools/mkupdate/Host.h"

namespace fs = std::filesystem;

namespace {

// The old file, read with seeks as the updater reads the installed one.
class FileBase final : public PatchBase {
public:
    explicit FileBase(const fs::path& path) : in_(path, std::ios::binary) {
        if (in_.seekg(0, std::ios::end)) size_ = std::int64_t(in_.tellg());
    }
    std::int64_t size() override { return size_; }
    bool read(std::int64_t position, unsigned char* buffer, std::size_t count) override {
        in_.clear();
        in_.seekg(position);
        in_.read(reinterpret_cast<char*>(buffer), std::streamsize(count));
        return std::size_t(in_.gcount()) == count;
    }

private:
    std::ifstream in_;
    std::int64_t size_ = -1;
};

// Size and CRC-32 of the new file as it is built, besides the applier's own check.
class CrcSink final : public ByteSink {
public:
    bool put(const unsigned char* data, std::size_t count) override {
        crc = Crc32(crc, data, count);
        size += count;
        return true;
    }
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
};

std::string SizeAndCrc(std::int64_t size, std::uint32_t crc) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", crc);
    return std::to_string(size) + " bytes, CRC-32 " + hex;
}

// The old release's copy of the file that patch entry `name` builds; empty
// with `report` saying why when there is none.
fs::path BaseOf(const std::string& name, const ReleaseBases& bases, BaseReport& report) {
    std::size_t slash = name.find('\\', 4);
    if (slash == std::string::npos || !IsContainedRelativePath(name.substr(slash + 1))) {
        report.text = "names no file of a part; not applied";
        return {};
    }
    std::string section = name.substr(4, slash - 4);
    fs::path dir = bases.all;
    for (const auto& [s, d] : bases.parts)
        if (SameText(s, section)) dir = d;
    if (dir.empty()) {
        report.text = "no --base for part [" + Cp1252ToUtf8(section) + "]; not applied";
        return {};
    }
    std::string rel = Cp1252ToUtf8(name.substr(slash + 1));
    for (char& c : rel)
        if (c == '\\') c = '/';
    fs::path base = dir / HostPath(rel);
    std::error_code ec;
    if (!fs::is_regular_file(base, ec)) report.text = PathText(base) + " is missing; not applied";
    return report.text.empty() ? base : fs::path();
}

// Feeds the patch to an applier over its base (`feed` puts every byte of the
// patch) and judges what came of it.
template <class Feed>
BaseReport Apply(const std::string& name, const ReleaseBases& bases, Feed feed) {
    BaseReport report;
    fs::path path = BaseOf(name, bases, report);
    if (path.empty()) return report;
    FileBase base(path);
    CrcSink sink;
    PatchApplier applier(&base, sink);
    feed(applier);
    PatchOutcome outcome = applier.finish();
    const PatchHeader& h = applier.header();
    report.updaterText = applier.problem();
    if (outcome == PatchOutcome::BaseUnreadable) {
        report.text = PathText(path) + " cannot be read; not applied";
    } else if (outcome == PatchOutcome::BaseDiffers) {
        report.verdict = BaseVerdict::BaseDiffers;
        report.text = PathText(path) + " is not the file the patch was made for (that one has " +
                      SizeAndCrc(h.oldSize, h.oldCrc) + "): machines with this release stop before any change";
    } else if (outcome == PatchOutcome::Built && sink.size == std::uint64_t(h.newSize) && sink.crc == h.newCrc) {
        report.verdict = BaseVerdict::Right;
        report.text = "applied to " + PathText(path) + ": the new file, " + SizeAndCrc(h.newSize, h.newCrc);
    } else {
        report.verdict = BaseVerdict::WrongResult;
        report.text = "applied to " + PathText(path) + ", it does not give the new file of its header (" +
                      SizeAndCrc(h.newSize, h.newCrc) + "): every machine with this release refuses it";
    }
    return report;
}

}  // namespace

std::string AddBase(const std::string& value, ReleaseBases& bases) {
    std::error_code ec;
    std::size_t equals = value.find('=');
    bool whole = fs::is_directory(HostPath(value), ec) || equals == std::string::npos || equals == 0;
    fs::path dir = HostPath(whole ? value : value.substr(equals + 1));
    if (!fs::is_directory(dir, ec)) return "--base " + value + ": no such folder";
    if (!whole) {
        bases.parts.emplace_back(Utf8ToCp1252(value.substr(0, equals)), dir);
        return "";
    }
    if (!bases.all.empty()) return "--base " + value + ": a second folder for all parts (use SECTION=DIR)";
    bases.all = dir;
    return "";
}

BaseReport ApplyEntryToBase(const TArchive& archive, std::int32_t index, const ReleaseBases& bases) {
    return Apply(archive.entryAt(index).name, bases, [&](PatchApplier& applier) {
        SegmentInflater inflater;
        try {
            archive.streamEntry(index, applier, inflater);
        } catch (const std::exception&) {
            // The applier, short of its end, reports the patch as damaged.
        }
    });
}

BaseReport ApplyFileToBase(const fs::path& patch, const std::string& name, const ReleaseBases& bases) {
    return Apply(name, bases, [&](PatchApplier& applier) {
        std::ifstream in(patch, std::ios::binary);
        std::vector<char> buffer(64 * 1024);
        while (in) {
            in.read(buffer.data(), std::streamsize(buffer.size()));
            std::size_t got = std::size_t(in.gcount());
            if (got > 0 && !applier.put(reinterpret_cast<const unsigned char*>(buffer.data()), got)) return;
        }
    });
}

bool BaseFinding(const std::string& name, const BaseReport& report, Finding& out) {
    static const char* const codes[] = {"", "patch-base-missing", "patch-base-differs", "patch-wrong-result"};
    if (report.verdict == BaseVerdict::Right) return false;
    out = Finding{report.verdict != BaseVerdict::NoBase, name, Utf8ToCp1252(report.text),
                  codes[int(report.verdict)], report.updaterText};
    return true;
}
