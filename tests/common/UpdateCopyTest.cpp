// The careful copy under overwrite mode 3: every branch of the decision, the
// questions with their texts and answers, the blocks, and a destination that
// is never left half-written.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "update/CarefulCopy.h"

namespace {

const std::int32_t kSourceStamp = Stamp(2024, 3, 15, 14, 30, 10);
const std::int32_t kNewerStamp = Stamp(2024, 5, 2, 8, 5, 0);
const std::int32_t kOlderStamp = Stamp(2023, 1, 20, 9, 0, 0);

class CopyTest : public ::testing::Test {
protected:
    void SetUp() override { MakeFile(source, sourceBytes, kSourceStamp); }
    int copy() { return CopyFileChecked(source, destination, kOverwriteAsk, -1); }
    void expectUnchanged(const std::string& bytes) { EXPECT_EQ(ReadBytes(destination), bytes); }
    void expectCopied() {
        EXPECT_EQ(ReadBytes(destination), sourceBytes);
        EXPECT_EQ(StampOf(destination), kSourceStamp);
    }
    // Only the two files are there: no temporary copy stayed behind.
    void expectNoLeftovers() { EXPECT_EQ(ListFolder(dir.path()), "FONT.TTF source.ttf"); }

    TempFolder dir;
    const std::string source = dir / "source.ttf";
    const std::string destination = dir / "FONT.TTF";
    const std::string sourceBytes = std::string(1500, 's');
    TestPrompter prompter;
    RecordingUi ui;
};

TEST_F(CopyTest, MissingDestinationIsCopiedWithTheSourceStamp) {
    EXPECT_EQ(copy(), kCopyDone);
    expectCopied();
    expectNoLeftovers();
    EXPECT_TRUE(prompter.questions().empty());
}

TEST_F(CopyTest, MinimumStampWinsWhenLater) {
    EXPECT_EQ(CopyFileChecked(source, destination, kOverwriteAsk, kNewerStamp), kCopyDone);
    EXPECT_EQ(StampOf(destination), kNewerStamp);
}

TEST_F(CopyTest, MissingSourceFails) {
    EXPECT_EQ(CopyFileChecked(dir / "none.ttf", destination, kOverwriteAsk, -1), kCopyFailed);
    EXPECT_EQ(Fs().attributes(destination), kAttrInvalid);
}

TEST_F(CopyTest, CurrentDestinationPassesTheQuickTest) {
    // Same size, stamps within the tolerance: the other bytes show that nothing is copied.
    const std::int32_t stamps[] = {Stamp(2024, 3, 15, 14, 30, 12), Stamp(2024, 3, 15, 15, 30, 10),
                                   Stamp(2024, 3, 15, 13, 30, 8)};
    const std::string other(sourceBytes.size(), 'd');
    for (std::int32_t stamp : stamps) {
        MakeFile(destination, other, stamp);
        Fs().setAttributes(destination, kAttrNormal);
        EXPECT_EQ(copy(), kCopyDone);
        expectUnchanged(other);
        EXPECT_EQ(Fs().attributes(destination) & kAttrArchive, kAttrArchive);
    }
    EXPECT_TRUE(prompter.questions().empty());
}

TEST_F(CopyTest, DecisionsWithoutQuestion) {
    struct Case {
        const char* what;
        std::string bytes;
        std::int32_t stamp;
        bool copied;
    };
    const Case cases[] = {
        {"older, other size", "old", kOlderStamp, true},
        {"older, same size", std::string(sourceBytes.size(), 'o'), kOlderStamp, true},
        {"newer but empty", "", kNewerStamp, true},
        {"equal stamp, other size but empty", "", kSourceStamp, true},
    };
    for (const Case& c : cases) {
        MakeFile(destination, c.bytes, c.stamp);
        EXPECT_EQ(copy(), kCopyDone) << c.what;
        if (c.copied) expectCopied();
        expectNoLeftovers();
    }
    EXPECT_TRUE(prompter.questions().empty());
}

TEST_F(CopyTest, NewerIdenticalDestinationGetsTheSourceStampBack) {
    MakeFile(destination, sourceBytes, kNewerStamp);
    EXPECT_EQ(copy(), kCopyDone);
    EXPECT_EQ(StampOf(destination), kSourceStamp);
    EXPECT_TRUE(prompter.questions().empty());
}

TEST_F(CopyTest, NewerDifferentDestinationAsks) {
    const std::string other(1234, 'n');
    MakeFile(destination, other, kNewerStamp);
    prompter.script(kAnswerNo);
    EXPECT_EQ(copy(), kCopyDone);
    expectUnchanged(other);
    ASSERT_EQ(prompter.questions().size(), 1u);
    EXPECT_EQ(prompter.questions()[0].kind, PromptQuestion::Kind::Confirm);
    EXPECT_EQ(prompter.questions()[0].text, destination +
                                          "\rist jünger!\r\rSoll die vorhandene Datei vom\r  02.05.24 08:05:00 "
                                          "(1.234 Bytes)\rdurch diejenige vom\r  15.03.24 14:30:10 (1.500 "
                                          "Bytes)\rüberschrieben werden?");
}

TEST_F(CopyTest, EqualStampOtherSizeNamesTheSize) {
    MakeFile(destination, "short", kSourceStamp);
    prompter.script(kAnswerNo);
    EXPECT_EQ(copy(), kCopyDone);
    ASSERT_EQ(prompter.questions().size(), 1u);
    const std::string& text = prompter.questions()[0].text;
    EXPECT_EQ(text.rfind(destination + "\rhat eine andere Dateigröße.\r\rSoll die vorhandene Datei vom\r  ", 0), 0u)
        << text;
    EXPECT_NE(text.find("(5 Bytes)"), std::string::npos) << text;
}

TEST_F(CopyTest, AnswersToTheFourButtonQuestion) {
    const std::string other(1234, 'n');
    const std::pair<int, int> cases[] = {
        {kAnswerYes, kCopyDone}, {kAnswerAll, kCopyDone}, {kAnswerNo, kCopyDone}, {kAnswerCancel, kCopyCancelled}};
    for (const auto& c : cases) {
        MakeFile(destination, other, kNewerStamp);
        prompter.script(c.first);
        EXPECT_EQ(copy(), c.second) << c.first;
        bool copies = c.first == kAnswerYes || c.first == kAnswerAll;
        if (copies) expectCopied();
        else expectUnchanged(other);
        expectNoLeftovers();
    }
    EXPECT_EQ(prompter.questions().size(), 4u);  // All answers this file only: every call asked
}

TEST_F(CopyTest, SiblingStampStandsInForAMissingDestination) {
    const std::string sibling = dir / "FONT.TT_";
    MakeFile(sibling, "packed", kSourceStamp);
    EXPECT_EQ(copy(), kCopyDone);
    EXPECT_EQ(Fs().attributes(destination), kAttrInvalid);  // equal stamp: left
    EXPECT_TRUE(prompter.questions().empty());

    MakeFile(sibling, "packed", kOlderStamp);
    EXPECT_EQ(copy(), kCopyDone);
    expectCopied();
}

TEST_F(CopyTest, NewerSiblingAsksTheThreeButtonQuestion) {
    MakeFile(dir / "FONT.TT_", "packed", kNewerStamp);
    const std::pair<int, int> cases[] = {{kAnswerCancel, kCopyCancelled}, {kAnswerNo, kCopyDone}, {kAnswerYes, kCopyDone}};
    for (const auto& c : cases) {
        prompter.script(c.first);
        EXPECT_EQ(copy(), c.second) << c.first;
        EXPECT_EQ(Fs().attributes(destination) != kAttrInvalid, c.first == kAnswerYes) << c.first;
    }
    ASSERT_EQ(prompter.questions().size(), 3u);
    EXPECT_EQ(prompter.questions()[0].kind, PromptQuestion::Kind::MessageBox);
    EXPECT_EQ(prompter.questions()[0].text, destination + " jünger!\r\rTrotzdem kopieren?");
    EXPECT_EQ(prompter.questions()[0].style, 0x23u);
}

TEST_F(CopyTest, ReadOnlyDestinationFailsAndStays) {
    MakeFile(destination, "old", kOlderStamp);
    Fs().setAttributes(destination, kAttrReadOnly);
    EXPECT_EQ(copy(), kCopyFailed);
    Fs().setAttributes(destination, kAttrNormal);
    expectUnchanged("old");
    expectNoLeftovers();
}

TEST_F(CopyTest, CopiesInBlocksAndLetsTheMessageLoopRun) {
    const std::string big = std::string(kCopyBlockSize, 'a') + std::string(kCopyBlockSize, 'b') + "tail!";
    MakeFile(source, big, kSourceStamp);
    EXPECT_EQ(copy(), kCopyDone);
    EXPECT_EQ(ReadBytes(destination), big);
    EXPECT_EQ(ui.pumps, 4);  // before each of three blocks and before the read that finds the end
}

TEST_F(CopyTest, LeavingADestinationLetsTheMessageLoopRunOnce) {
    MakeFile(destination, sourceBytes, kSourceStamp);
    EXPECT_EQ(copy(), kCopyDone);
    EXPECT_EQ(ui.pumps, 1);
}

// Delegates to the platform but makes every written file come up short.
class ShortWritingFileSystem : public ForwardingFileSystem {
public:
    std::unique_ptr<FileHandle> open(const std::string& path, OpenMode mode) override {
        auto file = real_.open(path, mode);
        if (!file || mode != OpenMode::Create) return file;
        return std::make_unique<ShortFile>(std::move(file));
    }

private:
    class ShortFile : public FileHandle {
    public:
        explicit ShortFile(std::unique_ptr<FileHandle> f) : f_(std::move(f)) {}
        std::int64_t read(void* b, std::int64_t n) override { return f_->read(b, n); }
        std::int64_t write(const void* b, std::int64_t n) override { return f_->write(b, n / 2); }
        bool seek(std::int64_t p) override { return f_->seek(p); }
        std::int64_t size() override { return f_->size(); }
        std::int32_t dosDate() override { return f_->dosDate(); }
        bool setDosDate(std::int32_t s) override { return f_->setDosDate(s); }
        bool flush() override { return f_->flush(); }

    private:
        std::unique_ptr<FileHandle> f_;
    };
};

TEST_F(CopyTest, ShortWriteLeavesThePreviousDestination) {
    MakeFile(destination, "old", kOlderStamp);
    {
        ShortWritingFileSystem failing;
        EXPECT_EQ(copy(), kCopyFailed);
    }
    expectUnchanged("old");
    EXPECT_EQ(StampOf(destination), kOlderStamp);
    expectNoLeftovers();
    ASSERT_EQ(prompter.questions().size(), 1u);
    EXPECT_EQ(prompter.questions()[0].kind, PromptQuestion::Kind::Info);
    EXPECT_EQ(prompter.questions()[0].text, source + " nicht kopiert!");
}

}  // namespace
