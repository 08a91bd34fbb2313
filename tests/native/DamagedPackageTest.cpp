// Damaged downloads on the native build, byte by byte: every byte of a small
// package's archive is flipped with several masks, and the package is cut at
// every length with its tail kept. Each damaged package, run silently over the
// installed project, is either refused (exit code 1 or 2, the log says that the
// update is damaged, files and registry exactly as before) or, where the
// damage is one the updater rightly ignores (a byte that zlib never reads, a
// stored size that still covers the segment), installs exactly what the
// intact package installs. Names and dates of entries carry no checksum in the
// format: damage there may install something else, but never leaves a
// temporary or a partly written file.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

#include "common/UpdateTestSupport.h"
#include "archive/ArchiveWriter.h"
#include "base/ByteReader.h"
#include "driver/SilentRun.h"
#include "env/Registry.h"
#include "platform/MemoryRegistry.h"
#include "platform/RegText.h"

namespace {

const std::int32_t kOld = Stamp(2020, 1, 1, 10, 0, 0);
const std::int32_t kNew = Stamp(2024, 3, 15, 14, 30, 10);
const char* const kDamaged = "Das Update ist beschädigt oder unvollständig.";
constexpr std::size_t kHost = 64;

// What a byte of the archive is, as far as the updater can tell it is damaged.
enum class Field {
    Checked,    // damage is refused, or cannot change what is installed
    Unchecked,  // names, dates and the segment size: no checksum covers them
};

std::string RegEscaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

std::vector<Field> Classify(const std::string& bytes) {
    std::vector<Field> fields(bytes.size(), Field::Checked);
    auto u32 = [&](std::size_t at) { return getU32(reinterpret_cast<const unsigned char*>(bytes.data()) + at); };
    for (std::size_t i = 0; i < kHost; ++i) fields[i] = Field::Unchecked;  // never flipped
    for (std::size_t i = 8; i < 12; ++i) fields[kHost + i] = Field::Unchecked;
    std::size_t at = kHost + 12;
    for (std::uint32_t n = u32(kHost + 4); n > 0; --n) {
        std::size_t nameLength = u32(at) & 0xFF;
        for (std::size_t i : {1, 2, 3, 16, 17, 18, 19}) fields[at + i] = Field::Unchecked;
        for (std::size_t i = 0; i < nameLength; ++i) fields[at + 20 + i] = Field::Unchecked;
        at += 20 + nameLength;
    }
    return fields;
}

class DamagedPackageTest : public ::testing::Test {
protected:
    DamagedPackageTest() : previousRegistry_(SetRegistry(&registry_)) {
        std::ostringstream out;
        out << std::string(kHost, 'M');
        ArchiveWriter writer(out, kHost, 1 << 16);
        std::vector<std::pair<std::size_t, std::string>> contents = {
            {writer.declare("todel.txt", kNew), "Demo\\old.dll\r\n"},
            {writer.declare("update.ini", kNew),
             "P=Demo\r\nVChk=\"4.0\"<=R\\Tarnix.exe\\Projects\\Demo\\Ver\\<=\"4.3\"\r\n"
             "VResult=R\\Tarnix.exe\\Projects\\Demo\\Ver\\=4.2\r\n[Demo]\r\nN=Demo\r\n"
             "TDIR=§R\\Tarnix.exe\\Projects\\Demo\\Dir\\\r\n"},
            {writer.declare("add\\Demo\\prog.exe", kNew), "program v2"},
            {writer.declare("rep\\Demo\\readme.txt", kNew), "new readme"},
            {writer.declare("add\\Demo\\data.bin", kNew), std::string(300, 'd') + std::string(300, 'e')},
        };
        for (const auto& [index, content] : contents) writer.addContent(index, content, index == 4 ? 250 : 0);
        writer.finish(true);
        good_ = out.str();
        options_.mode = LaunchMode::Silent;
        options_.logPath = dir / "update.log";
        installFresh();
        fresh_ = state();
        EXPECT_EQ(run(good_), kExitSucceeded) << log();
        intact_ = state();
        installFresh();
    }
    ~DamagedPackageTest() override { SetRegistry(previousRegistry_); }

    void installFresh() {
        RemoveTree(dir / "App");
        Fs().createFolder(dir / "App");
        MakeFile(app() + "readme.txt", "old readme", kOld);
        MakeFile(app() + "old.dll", "obsolete", kOld);
        registry_.clear();
        ImportRegText(registry_, "REGEDIT4\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Ver]\r\n@=\"4.1\"\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Dir]\r\n"
                                 "@=\"" + RegEscaped(app() + "Demo.exe") + "\"\r\n");
    }

    std::string app() const { return dir / "App\\"; }

    int run(const std::string& package) {
        WriteBytes(dir / "update.exe", package);
        Fs().removeFile(dir / "update.log");
        return RunSilent(options_, dir / "update.exe");
    }

    std::string log() { return FileExists(dir / "update.log") ? ReadBytes(dir / "update.log") : std::string(); }

    // Names, sizes, stamps and contents below App, and the machine's registry.
    std::string state() {
        std::ostringstream out;
        std::vector<FindData> children;
        Fs().listFolder(app(), children);
        std::map<std::string, FindData> sorted;
        for (const FindData& c : children) sorted[c.name] = c;
        for (const auto& [name, c] : sorted) {
            std::string content = ReadBytes(app() + name);
            out << name << " " << c.size << " " << c.dosDate << " "
                << (content.size() <= 40 ? content : std::to_string(std::hash<std::string>()(content))) << "\n";
        }
        return out.str() + ExportRegText(registry_, RootKey::LocalMachine);
    }

    struct Outcome {
        int refused = 0, intact = 0, other = 0;
    };

    // Runs one damaged package over a fresh installation and judges the outcome.
    void judge(const std::string& package, Field field, const std::string& what, Outcome& outcome) {
        int code = run(package);
        std::string after = state();
        bool refused = code == kExitNotLoadable && after == fresh_;
        if (refused) {
            ++outcome.refused;
            EXPECT_NE(log().find(kDamaged), std::string::npos) << what << ": " << log();
        } else if (code == kExitSucceeded && after == intact_) {
            ++outcome.intact;
        } else {
            ++outcome.other;
            EXPECT_EQ(field, Field::Unchecked) << what << ": exit " << code << "\n" << log() << "\n" << after;
            EXPECT_EQ(after.find(".~"), std::string::npos) << what << ": a temporary file stayed\n" << after;
        }
        if (after != fresh_) installFresh();
    }

    TempFolder dir;
    MemoryRegistry registry_;
    TestPrompter prompter_;
    RecordingUi ui_;
    LaunchOptions options_;
    std::string good_, fresh_, intact_;

private:
    RegistryService* previousRegistry_;
};

TEST_F(DamagedPackageTest, EveryFlippedByteIsRefusedOrHarmless) {
    const std::vector<Field> fields = Classify(good_);
    Outcome outcome;
    for (std::size_t at = kHost; at < good_.size(); ++at) {
        for (int mask : {0x01, 0x80, 0xFF}) {
            std::string damaged = good_;
            damaged[at] = static_cast<char>(damaged[at] ^ mask);
            judge(damaged, fields[at], "byte " + std::to_string(at) + " xor " + std::to_string(mask), outcome);
        }
        if (HasFailure()) break;
    }
    std::printf("%zu flips: %d refused, %d installed as intact, %d installed otherwise (names, dates)\n",
                (good_.size() - kHost) * 3, outcome.refused, outcome.intact, outcome.other);
    EXPECT_GT(outcome.refused, outcome.intact);
}

TEST_F(DamagedPackageTest, EveryLostStretchBeforeTheTailIsRefused) {
    const std::string tail = good_.substr(good_.size() - 8);
    Outcome outcome;
    for (std::size_t length = kHost; length < good_.size() - 8; ++length) {
        std::string damaged = good_.substr(0, length) + tail;
        judge(damaged, Field::Checked, "cut at " + std::to_string(length) + " with the tail kept", outcome);
        if (HasFailure()) break;
    }
    std::printf("%zu cuts with the tail kept: %d refused\n", good_.size() - 8 - kHost, outcome.refused);
    EXPECT_EQ(outcome.intact + outcome.other, 0);
}

// A stored size that was damaged so that the walk takes in the next entry's
// segment inflates without an error; only the recorded length tells.
TEST_F(DamagedPackageTest, StoredSizeThatTakesInTheNextEntryIsRefused) {
    const std::string readme = "new readme", extra = "the next entry";
    const std::size_t first = CompressZlib(readme.data(), readme.size()).size();
    const std::size_t next = CompressZlib(extra.data(), extra.size()).size();
    std::ostringstream out;
    out << std::string(kHost, 'M');
    ArchiveWriter writer(out, kHost);
    std::vector<std::pair<std::size_t, std::string>> contents = {
        {writer.declare("todel.txt", kNew), ""},
        {writer.declare("update.ini", kNew),
         "P=Demo\r\n[Demo]\r\nN=Demo\r\nTDIR=§R\\Tarnix.exe\\Projects\\Demo\\Dir\\\r\n"},
        {writer.declare("rep\\Demo\\readme.txt", kNew), readme},
        {writer.declare("add\\Demo\\extra.txt", kNew), extra},
    };
    for (const auto& [index, content] : contents) writer.addContent(index, content);
    writer.overrideStoredSize(2, static_cast<std::int32_t>(first + 4 + next));
    writer.finish(true);

    EXPECT_EQ(run(out.str()), kExitNotLoadable);
    EXPECT_EQ(state(), fresh_);
    EXPECT_NE(log().find(std::string(kDamaged) + "\r\nrep\\Demo\\readme.txt: " + std::to_string(readme.size() + extra.size()) +
                         " Bytes entpackt statt " + std::to_string(readme.size())),
              std::string::npos)
        << log();
}

}  // namespace
