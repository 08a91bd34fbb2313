// The archive reader and writer against the documented layout, its worked
// example, and hand-built archives that contradict themselves.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "FaultFileSystem.h"
#include "TestSupport.h"
#include "UpdateTestSupport.h"
#include "archive/Archive.h"
#include "archive/ArchiveWriter.h"
#include "archive/Decompress.h"
#include "archive/Patch.h"
#include "base/ByteReader.h"
#include "base/Exception.h"
#include "platform/FileSystem.h"
#include "update/CarefulCopy.h"

namespace {

// The worked example: two entries after a host of 512 bytes (B = 0x200).
const char* const kExampleArchive =
    "40 00 00 00  02 00 00 00  00 00 10 00"                        // D = 64, N = 2, segmentSize 1 MiB
    "05 00 00 00  40 00 00 00  03 00 00 00  0B 00 00 00  C5 73 6F 58"  // a.txt at 64, 3 bytes, stored 11
    "61 2E 74 78 74"                                               // "a.txt"
    "07 00 00 00  4F 00 00 00  0E 00 00 00  14 00 00 00  E0 73 6F 58"  // b\c.txt at 79, 14 bytes, stored 20
    "62 5C 63 2E 74 78 74"                                         // "b\c.txt"
    "0B 00 00 00  78 9C 4B 4C 4A 06 00 02 4D 01 27"                // segment: abc
    "14 00 00 00  78 9C CB C9 CC 4B 35 E4 E5 CA 01 52 46 BC 5C 00 21 57 03 E2";  // line1 CR LF line2 CR LF
const char* const kAbcStream = "78 9C 4B 4C 4A 06 00 02 4D 01 27";
const char* const kLinesStream = "78 9C CB C9 CC 4B 35 E4 E5 CA 01 52 46 BC 5C 00 21 57 03 E2";
const char* const kEmptyStream = "78 9C 03 00 00 00 00 01";

std::string Host() { return std::string(512, 'H'); }

std::string Tail(std::int32_t base) {
    std::string t;
    putU32(t, static_cast<std::uint32_t>(base));
    putU32(t, 0x1111);
    return t;
}

std::string ExampleViaWriter() {
    std::ostringstream out;
    out << Host();
    ArchiveWriter w(out, 512);
    w.declare("a.txt", Stamp(2024, 3, 15, 14, 30, 10));
    w.declare("b\\c.txt", Stamp(2024, 3, 15, 14, 31, 0));
    w.addSegment(0, Hex(kAbcStream), 3);
    w.addSegment(1, Hex(kLinesStream), 14);
    w.finish(true);
    return out.str();
}

// An archive of the given entries, each content compressed in segments of `split` bytes.
std::string BuildArchive(const std::vector<std::pair<std::string, std::string>>& files, std::size_t split = 0,
                         bool attach = false) {
    std::ostringstream out;
    std::int32_t base = attach ? 512 : 0;
    if (attach) out << Host();
    ArchiveWriter w(out, base);
    for (auto& f : files) w.declare(f.first, Stamp(2023, 6, 1, 12, 0, 0));
    for (std::size_t i = 0; i < files.size(); ++i) w.addContent(i, files[i].second, split);
    w.finish(attach);
    return out.str();
}

class ArchiveTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& bytes) {
        WriteBytes(dir / name, bytes);
        return dir / name;
    }
    TempFolder dir;
};

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(ArchiveWriterTest, ReproducesTheWorkedExampleByteForByte) {
    std::string file = ExampleViaWriter();
    ASSERT_EQ(file.size(), 623u);
    EXPECT_EQ(file.substr(512, 103), Hex(kExampleArchive));
    EXPECT_EQ(file.substr(615), Hex("00 02 00 00 11 11 00 00"));
}

TEST(ArchiveWriterTest, DefaultLevelGivesTheShippedHeader) {
    EXPECT_EQ(CompressZlib("abc", 3), Hex(kAbcStream));
    EXPECT_EQ(CompressZlib("", 0), Hex(kEmptyStream));
}

TEST_F(ArchiveTest, OpensTheWorkedExampleAttached) {
    std::string path = write("host.exe", ExampleViaWriter());
    TArchive a;
    ASSERT_TRUE(a.openAttached(path));
    EXPECT_EQ(a.baseOffset, 0x200);
    EXPECT_EQ(a.segmentSize, 1048576);
    EXPECT_EQ(a.archiveFileName, path);
    ASSERT_EQ(a.entryCount(), 2);
    EXPECT_EQ(a.entryAt(0).name, "a.txt");
    EXPECT_EQ(a.entryAt(0).fileDate(), Stamp(2024, 3, 15, 14, 30, 10));
    EXPECT_EQ(a.entryAt(1).name, "b\\c.txt");
    EXPECT_EQ(a.entryAt(1).storedSize, 20);
    EXPECT_EQ(a.readLines("B\\C.TXT"), (StringList{"line1", "line2"}));

    ASSERT_TRUE(a.extractFile(0, dir / "a.txt"));
    EXPECT_EQ(ReadBytes(dir / "a.txt"), "abc");
    FindData found;
    ASSERT_TRUE(Fs().findFirst(dir / "a.txt", found));
    EXPECT_EQ(found.dosDate, Stamp(2024, 3, 15, 14, 30, 10));
}

TEST_F(ArchiveTest, OpensTheStandAloneBytes) {
    std::string path = write("alone.vpa", Hex(kExampleArchive));
    TArchive a;
    a.openFile(path);
    EXPECT_EQ(a.baseOffset, 0);
    ASSERT_EQ(a.entryCount(), 2);
    std::vector<unsigned char> buffer;
    EXPECT_EQ(a.readBuffer("a.TXT", buffer, true), 4);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string("abc\0", 4));
}

TEST_F(ArchiveTest, WithoutMagicThereIsNoArchive) {
    std::string path = write("plain.exe", Host() + Hex("00 02 00 00 11 11 00 01"));
    TArchive a;
    EXPECT_FALSE(a.openAttached(path));
    EXPECT_EQ(a.entryCount(), 0);
}

TEST_F(ArchiveTest, OpenFailuresCarryTheirMessages) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"empty file", "", "seek failed (0)"},
        {"seven bytes", "1234567", "seek failed (0)"},
        {"negative base", Hex("FF FF FF FF 11 11 00 00"), "seek failed (1)"},
        // Base 0: the directory size is read from the tail itself, 0.
        {"directory size below the header", Tail(0), "Daten können nicht geladen werden. (4)"},
        // Base 4 of a 16-byte file: D = 64 but 12 bytes remain.
        {"directory beyond the file", "HHHH" + Hex("40 00 00 00") + Tail(4), "Daten können nicht geladen werden. (2)"},
        // Base 9 of an 11-byte file: two bytes remain for the size field.
        {"directory cut at its size field", "abc" + Tail(9), "Daten können nicht geladen werden. (3)"},
    };
    for (const Case& c : cases) {
        std::string path = write("bad.exe", c.bytes);
        TArchive a;
        EXPECT_EQ(MessageOf([&] { a.openAttached(path); }), c.message) << c.what;
        EXPECT_EQ(a.entryCount(), 0) << c.what;
    }
}

TEST_F(ArchiveTest, ContradictoryDirectoriesAreRefused) {
    // Each stand-alone archive below holds one valid segment of "abc" after its directory.
    std::string segment = Hex("0B 00 00 00") + Hex(kAbcStream);  // 15 bytes
    struct Case {
        const char* what;
        std::string directory;
        std::string message;
    } cases[] = {
        {"name length 200 in its low byte",
         Hex("25 00 00 00 01 00 00 00 00 00 10 00  C8 00 00 00 25 00 00 00 03 00 00 00 0B 00 00 00 00 00 00 00 61"),
         "Daten können nicht geladen werden. (5)"},
        {"count larger than the records that fit",
         Hex("25 00 00 00 02 00 00 00 00 00 10 00  01 00 00 00 25 00 00 00 03 00 00 00 0B 00 00 00 00 00 00 00 61"),
         "Daten können nicht geladen werden. (5)"},
        {"records ending before the end of the directory",
         Hex("22 00 00 00 01 00 00 00 00 00 10 00  01 00 00 00 22 00 00 00 03 00 00 00 0B 00 00 00 00 00 00 00 61 00"),
         "Daten können nicht geladen werden. (5)"},
        {"no records in a directory that has room for one",
         Hex("21 00 00 00 00 00 00 00 00 00 10 00  01 00 00 00 21 00 00 00 03 00 00 00 0B 00 00 00 00 00 00 00 61"),
         "Daten können nicht geladen werden. (5)"},
        {"name running past the directory",
         Hex("21 00 00 00 01 00 00 00 00 00 10 00  05 00 00 00 25 00 00 00 03 00 00 00 0B 00 00 00 00 00 00 00 61"),
         "Daten können nicht geladen werden. (5)"},
        {"negative data offset",
         Hex("21 00 00 00 01 00 00 00 00 00 10 00  01 00 00 00 FF FF FF FF 03 00 00 00 0B 00 00 00 00 00 00 00 61"),
         "Daten können nicht geladen werden. (6)"},
        {"data offset beyond the file",
         Hex("21 00 00 00 01 00 00 00 00 00 10 00  01 00 00 00 00 10 00 00 03 00 00 00 0B 00 00 00 00 00 00 00 61"),
         "Daten können nicht geladen werden. (6)"},
        {"directory size 8",
         Hex("08 00 00 00 00 00 00 00"), "Daten können nicht geladen werden. (4)"},
        {"directory size larger than the file",
         Hex("00 00 00 70 01 00 00 00 00 00 10 00"), "Daten können nicht geladen werden. (2)"},
        {"three bytes only", Hex("21 00 00"), "Daten können nicht geladen werden. (3)"},
    };
    for (const Case& c : cases) {
        std::string path = write("bad.vpa", c.directory + (c.directory.size() > 3 ? segment : ""));
        TArchive a;
        EXPECT_EQ(MessageOf([&] { a.openFile(path); }), c.message) << c.what;
        EXPECT_EQ(a.entryCount(), 0) << c.what;
    }
}

TEST_F(ArchiveTest, EmptyAndNegativeCountsMeanNoEntries) {
    for (const char* count : {"00 00 00 00", "FF FF FF FF"}) {
        std::string path = write("none.vpa", Hex("0C 00 00 00") + Hex(count) + Hex("00 00 10 00"));
        TArchive a;
        a.openFile(path);
        EXPECT_EQ(a.entryCount(), 0) << count;
        EXPECT_EQ(a.segmentSize, 1 << 20);
    }
}

TEST_F(ArchiveTest, MissingFileCannotBeOpened) {
    TArchive a;
    EXPECT_EQ(MessageOf([&] { a.openFile(dir / "nope.vpa"); }), dir / "nope.vpa" + " kann nicht geöffnet werden. Grund: Datei nicht gefunden.");
}

TEST_F(ArchiveTest, LookupIgnoresCaseAndTheFirstDuplicateWins) {
    std::string path = write("dup.vpa", BuildArchive({{"Ä.ini", "first"}, {"ä.INI", "second"}, {"update.ini", "x"}}));
    TArchive a;
    a.openFile(path);
    EXPECT_EQ(a.readLines("ä.ini"), StringList{"first"});
    EXPECT_EQ(a.readLines("UPDATE.INI"), StringList{"x"});
    EXPECT_EQ(MessageOf([&] { a.readLines("todel.txt"); }), "todel.txt nicht im Archiv");
}

TEST_F(ArchiveTest, LinesSplitAtEveryKindOfLineEnd) {
    struct Case {
        std::string text;
        StringList lines;
    } cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\rb", {"a", "", "b"}},
        {"  spaced  \n", {"  spaced  "}},
        {"last", {"last"}},
        {"", {}},
        {std::string("cut\0after\r\n", 11), {"cut"}},
    };
    for (const Case& c : cases) {
        std::string path = write("lines.vpa", BuildArchive({{"t.txt", c.text}}));
        TArchive a;
        a.openFile(path);
        EXPECT_EQ(a.readLines("t.txt"), c.lines) << c.text;
    }
}

TEST_F(ArchiveTest, MultiSegmentEntryExtractsButIsNotReadWhole) {
    std::string content;
    for (int i = 0; i < 5000; ++i) content += "line " + std::to_string(i) + "\r\n";
    std::string path = write("multi.vpa", BuildArchive({{"big.txt", content}, {"small", "x"}}, 7000));
    TArchive a;
    a.openFile(path);
    ASSERT_TRUE(a.extractFile(0, dir / "big.txt"));
    EXPECT_EQ(ReadBytes(dir / "big.txt"), content);
    EXPECT_EQ(MessageOf([&] { a.readLines("big.txt"); }), "big.txt\r unvollständig gelesen.");
}

TEST_F(ArchiveTest, StoredSizeBoundsTheSegmentWalk) {
    // Two segments "abc" (15 bytes with length) and "line1.." (24): accepted stored sizes lie in 16..39.
    struct Case {
        std::int32_t stored;
        std::string content;
    } cases[] = {
        {35, "abcline1\r\nline2\r\n"},
        {16, "abcline1\r\nline2\r\n"},
        {39, "abcline1\r\nline2\r\n"},
        {15, "abc"},
        {0, "abc"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        ArchiveWriter w(out, 0);
        w.declare("two", 0);
        w.addSegment(0, Hex(kAbcStream), 3);
        w.addSegment(0, Hex(kLinesStream), 14);
        w.overrideStoredSize(0, c.stored);
        w.finish(false);
        std::string path = write("two.vpa", out.str());
        TArchive a;
        a.openFile(path);
        ASSERT_TRUE(a.extractFile(0, dir / "two.txt")) << c.stored;
        EXPECT_EQ(ReadBytes(dir / "two.txt"), c.content) << c.stored;
    }
}

TEST_F(ArchiveTest, SegmentStartBeyondTheStoredSizeIsNamed) {
    std::string path = write("abc.vpa", BuildArchive({{"a.txt", "abc"}}));
    TArchive a;
    a.openFile(path);
    std::int32_t position = 12;
    std::vector<unsigned char> buffer;
    EXPECT_EQ(MessageOf([&] { a.readBuffer(0, position, buffer); }),
              "readBuffer:\ra.txt\rSegmentstart 12\r überschreitet die Gesamtlänge von 11");
    EXPECT_EQ(position, 12);
    a.entries[0]->storedSize = -1;
    position = 0;
    EXPECT_EQ(MessageOf([&] { a.readBuffer(0, position, buffer); }),
              "readBuffer:\ra.txt\rSegmentstart 0\r überschreitet die Gesamtlänge von -1");
}

TEST_F(ArchiveTest, EmptyEntryExtractsToAnEmptyStampedFile) {
    std::string path = write("empty.vpa", BuildArchive({{"todel.txt", ""}}));
    TArchive a;
    a.openFile(path);
    EXPECT_EQ(a.entryAt(0).storedSize, 8);
    EXPECT_TRUE(a.readLines("todel.txt").empty());
    ASSERT_TRUE(a.extractFile(0, dir / "empty.txt"));
    FindData found;
    ASSERT_TRUE(Fs().findFirst(dir / "empty.txt", found));
    EXPECT_EQ(found.size, 0);
    EXPECT_EQ(found.dosDate, Stamp(2023, 6, 1, 12, 0, 0));
}

TEST_F(ArchiveTest, ReadOnlyTargetIsClearedAndReplaced) {
    std::string path = write("abc.vpa", BuildArchive({{"a.txt", "abc"}}));
    std::string target = write("ro.txt", "old content");
    ASSERT_TRUE(Fs().setAttributes(target, kAttrReadOnly));
    TArchive a;
    a.openFile(path);
    ASSERT_TRUE(a.extractFile(0, target));
    EXPECT_EQ(ReadBytes(target), "abc");
    EXPECT_EQ(Fs().attributes(target) & kAttrReadOnly, 0u);
}

// A replaced file keeps the attributes that the file system keeps for it, and
// the archive attribute marks the new content. Files that merely carry the
// name of a temporary file of the updater belong to someone else and stay.
// A file under a temporary name of the updater's is never reused while it
// exists; the careful copy removes it as the leftover of a killed copy.
TEST_F(ArchiveTest, ReplacedFileKeepsItsAttributesAndTemporaryNamesAreNotReused) {
    const std::uint32_t kept = kAttrHidden | kAttrSystem;
    std::string path = write("abc.vpa", BuildArchive({{"a.txt", "abc"}}));
    std::string target = write("t.txt", "old");
    ASSERT_TRUE(Fs().setAttributes(target, kept));
    const std::uint32_t before = Fs().attributes(target) & kept;
    std::string leftover = write("t.txt.~u0", "left by a killed run");
    std::string foreign = write("t.txt.~x0", "not the updater's");
    TArchive a;
    a.openFile(path);
    ASSERT_TRUE(a.extractFile(0, target));
    EXPECT_EQ(ReadBytes(target), "abc");
    EXPECT_EQ(Fs().attributes(target) & (kept | kAttrArchive), before | kAttrArchive);

    std::string source = dir / "source.txt";
    MakeFile(source, "copied", Stamp(2025, 1, 1, 0, 0, 0));
    ASSERT_EQ(CopyFileChecked(source, target, kOverwriteAsk, -1), kCopyDone);
    EXPECT_EQ(ReadBytes(target), "copied");
    EXPECT_EQ(Fs().attributes(target) & (kept | kAttrArchive), before | kAttrArchive);
    EXPECT_EQ(ReadBytes(foreign), "not the updater's");
    EXPECT_EQ(ListFolder(dir.path()), "abc.vpa source.txt t.txt t.txt.~x0");
}

// One archive extracts entry after entry through one inflater: a stream left
// half-read by a refused write or by damaged data reaches into no later entry,
// and each CRC-32 covers its own entry alone.
TEST_F(ArchiveTest, EachExtractionStartsAFreshStreamWhateverEndedThePreviousOne) {
    auto content = [](char seed) {
        std::string s;
        for (unsigned i = 0; i < 300000; ++i) s += char(seed + (i * i >> 7) % 61);
        return s;
    };
    enum class End { Complete, DiskFull, Damaged };
    struct Row {
        const char* name;
        End end;
    } const rows[] = {{"a.bin", End::Complete},  {"full.bin", End::DiskFull}, {"b.bin", End::Complete},
                      {"bad.bin", End::Damaged}, {"c.bin", End::Complete},    {"d.bin", End::Complete}};
    std::vector<std::pair<std::string, std::string>> files;
    for (const Row& r : rows) files.push_back({r.name, content(r.name[0])});
    std::string bytes = BuildArchive(files);
    std::string path = write("p.vpa", bytes);
    {
        TArchive probe;
        probe.openFile(path);
        const TPackedFile& bad = probe.entryAt(3);
        bytes[std::size_t(bad.dataOffset + bad.storedSize / 2)] ^= 0x55;
    }
    path = write("p.vpa", bytes);
    FaultFileSystem faults;
    faults.fail(Fault::DiskFull, "full.bin");
    TArchive a;
    a.openFile(path);
    // Unpacked into a folder, a new file is written under its own name: a failure removes it all the same.
    for (TArchive::Extraction how : {TArchive::Extraction::Durable, TArchive::Extraction::ToFolder})
    for (std::int32_t i = 0; i < std::int32_t(std::size(rows)); ++i) {
        const Row& r = rows[i];
        std::string target = dir / (std::to_string(int(how)) + "out_" + r.name);
        std::uint32_t crc = 0xDEADBEEF;
        bool written = false;
        std::string message = MessageOf([&] { written = a.extractFile(i, target, &crc, how); });
        if (r.end != End::Complete) {
            EXPECT_FALSE(written) << target;
            EXPECT_EQ(Fs().attributes(target), kAttrInvalid) << target;
            continue;
        }
        const std::string& expected = files[std::size_t(i)].second;
        ASSERT_TRUE(written) << target << ": " << message;
        EXPECT_EQ(ReadBytes(target), expected) << target;
        EXPECT_EQ(crc, Crc32(0, reinterpret_cast<const unsigned char*>(expected.data()), expected.size())) << target;
    }
}

TEST_F(ArchiveTest, MissingFolderCreatesNothing) {
    std::string path = write("abc.vpa", BuildArchive({{"a.txt", "abc"}}));
    TArchive a;
    a.openFile(path);
    EXPECT_FALSE(a.extractFile(0, dir / "no\\such\\a.txt"));
    EXPECT_EQ(ListFolder(dir.path()), "abc.vpa");
}

// A read that fails in the system is no short file: every request raises the
// input/output error with the system's code instead of its short-read outcome.
TEST_F(ArchiveTest, ReadsThatFailInTheSystemRaiseTheInputOutputError) {
    std::string path = write("lines.vpa", BuildArchive({{"update.ini", "a\r\nb\r\n"}}, 0, true));
    std::string target = write("update.ini", "previous");
    const std::vector<std::pair<const char*, std::function<void(TArchive&)>>> requests = {
        {"openAttached", [&](TArchive& a) { a.openAttached(path); }},
        {"readLines", [&](TArchive& a) { a.readLines("update.ini"); }},
        {"extractFile", [&](TArchive& a) { a.extractFile(0, target); }},
    };
    for (const auto& [what, request] : requests) {
        FaultFileSystem faults;  // in place before the archive takes its one handle
        TArchive a;
        if (std::string(what) != "openAttached") ASSERT_TRUE(a.openAttached(path));
        faults.fail(Fault::ReadFails, "lines.vpa");
        try {
            request(a);
            ADD_FAILURE() << what << ": no error";
        } catch (const EInOutError& e) {
            EXPECT_EQ(std::string(e.what()), "E/A-Fehler 23") << what;
            EXPECT_EQ(e.code(), 23u) << what;
        }
    }
    EXPECT_EQ(ReadBytes(target), "previous");
    EXPECT_EQ(ListFolder(dir.path()), "lines.vpa update.ini");
}

TEST_F(ArchiveTest, DamagedDataLeavesThePreviousFileUntouched) {
    std::string good = BuildArchive({{"big.bin", std::string(20000, 'z') + "tail"}}, 5000);
    // Flip a byte inside the third segment's deflate data.
    std::string damaged = good;
    TArchive probe;
    std::string probePath = write("probe.vpa", good);
    probe.openFile(probePath);
    std::size_t thirdSegment = 0;
    {
        std::size_t at = static_cast<std::size_t>(probe.entryAt(0).dataOffset);
        for (int k = 0; k < 2; ++k) at += 4 + getU32(reinterpret_cast<const unsigned char*>(good.data() + at));
        thirdSegment = at;
    }
    damaged[thirdSegment + 7] ^= 0x55;
    std::string target = write("big.bin", "previous");
    std::string path = write("damaged.vpa", damaged);
    TArchive a;
    a.openFile(path);
    std::string message = MessageOf([&] { a.extractFile(0, target); });
    EXPECT_TRUE(message == "data error" || message == "(no error)") << message;
    EXPECT_EQ(ReadBytes(target), "previous");
    EXPECT_EQ(ListFolder(dir.path()), "big.bin damaged.vpa probe.vpa");

    // A segment cut short: the walk's second length field lies beyond the end.
    std::string cut = good.substr(0, thirdSegment - 3);
    std::string cutPath = write("cut.vpa", cut);
    TArchive c;
    c.openFile(cutPath);
    EXPECT_FALSE(c.extractFile(0, target));
    EXPECT_EQ(ReadBytes(target), "previous");
    EXPECT_EQ(ListFolder(dir.path()), "big.bin cut.vpa damaged.vpa probe.vpa");
}

TEST(DecompressTest, StreamsAndTheirOutcomes) {
    struct Case {
        const char* what;
        std::string input;
        std::string output;  // or the error message after "!"
    } cases[] = {
        {"stream of no data", Hex(kEmptyStream), ""},
        {"abc", Hex(kAbcStream), "abc"},
        {"trailing bytes ignored", Hex(kAbcStream) + "garbage", "abc"},
        {"last byte missing", Hex(kAbcStream).substr(0, 10), "!buffer error"},
        {"adler altered", Hex("78 9C 4B 4C 4A 06 00 02 4D 01 28"), "!data error"},
        {"bad header", Hex("78 9D 4B 4C 4A 06 00 02 4D 01 27"), "!data error"},
        {"zero length", "", "!stream error"},
        // FDICT set (78 BB), dictionary id follows: a preset dictionary the format does not have.
        {"preset dictionary", Hex("78 BB 00 00 00 01 4B 4C 4A 06 00"), "!stream error"},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> out;
        std::string result = MessageOf([&] {
            decompressBuffer(reinterpret_cast<const unsigned char*>(c.input.data()),
                             static_cast<std::int32_t>(c.input.size()), 0, out);
        });
        if (c.output.rfind("!", 0) == 0) {
            EXPECT_EQ(result, c.output.substr(1)) << c.what;
        } else {
            EXPECT_EQ(result, "(no error)") << c.what;
            EXPECT_EQ(std::string(out.begin(), out.end()), c.output) << c.what;
        }
    }
}

TEST(DecompressTest, LargeOutputGrowsToTheExactSize) {
    std::string content(3'000'000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7) % 251);
    std::string z = CompressZlib(content.data(), content.size());
    std::vector<unsigned char> out;
    decompressBuffer(reinterpret_cast<const unsigned char*>(z.data()), static_cast<std::int32_t>(z.size()), 0, out);
    ASSERT_EQ(out.size(), content.size());
    EXPECT_TRUE(std::string(out.begin(), out.end()) == content);
}

TEST(DecompressTest, CheckInflateRaisesOnlyNegativeCodes) {
    EXPECT_EQ(checkInflate(0), 0);
    EXPECT_EQ(checkInflate(1), 1);
    EXPECT_EQ(checkInflate(2), 2);
    const char* texts[] = {"file error", "stream error", "data error", "insufficient memory", "buffer error",
                           "incompatible version"};
    for (int code = -1; code >= -6; --code) {
        EXPECT_EQ(MessageOf([&] { checkInflate(code); }), texts[-code - 1]) << code;
    }
    EXPECT_THROW(checkInflate(-3), EZLibError);
}
