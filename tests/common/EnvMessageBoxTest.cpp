// The message-box rules ("$tag", "!") and the scripted prompter with its policies.
#include <gtest/gtest.h>

#include "env/MessageBoxes.h"
#include "env/ScriptedPrompter.h"

namespace {

using Kind = PromptQuestion::Kind;

TEST(EnvMessageBoxes, TagAndStopRules) {
    struct Case {
        const char* text;
        std::uint32_t style;
        bool shown;
        const char* shownText;
        std::uint32_t shownStyle;
    } cases[] = {
        {"Hallo", 0x31, true, "Hallo", 0x31},
        {"$tag", 0x31, false, "", 0},
        {"$tag ", 0x31, false, "", 0},
        {"$", 0x31, false, "", 0},
        {"$tag Text mit Blank", 0x23, true, "Text mit Blank", 0x23},
        {"$tag !Fehler", 0x31, true, "Fehler", 0x11},
        {"!Fehler", 0x40, true, "Fehler", 0x10},
        {"!Fehler", 0x1023, true, "Fehler", 0x1013},  // buttons and options stay
        {"!", 0x31, true, "", 0x11},
        {"Kein $tag", 0x40, true, "Kein $tag", 0x40},
        {" !nicht am Anfang", 0x40, true, " !nicht am Anfang", 0x40},
        {"", 0x40, true, "", 0x40},
    };
    for (const Case& c : cases) {
        ScriptedPrompter prompter;
        ScopedPrompter scope(prompter);
        prompter.script(kAnswerYes);
        int answer = ShowMessageBox(c.text, c.style);
        ASSERT_EQ(prompter.questions().size(), c.shown ? 1u : 0u) << c.text;
        EXPECT_EQ(answer, c.shown ? kAnswerYes : kAnswerNone) << c.text;
        if (!c.shown) continue;
        EXPECT_EQ(prompter.questions()[0].text, c.shownText) << c.text;
        EXPECT_EQ(prompter.questions()[0].style, c.shownStyle) << c.text;
    }
}

TEST(EnvMessageBoxes, VariantsUseTheirStyles) {
    ScriptedPrompter prompter;
    ScopedPrompter scope(prompter);
    WarnOkCancel("w");
    InfoOk("i");
    AskYesNoCancel("a");
    ConfirmYesNoCancelAll("c");
    ShowInfo("s");
    InfoOk("$nur-tag");
    const std::vector<PromptQuestion>& q = prompter.questions();
    ASSERT_EQ(q.size(), 5u);
    EXPECT_EQ(q[0].kind, Kind::MessageBox);
    EXPECT_EQ(q[0].style, 0x31u);
    EXPECT_EQ(q[1].style, 0x40u);
    EXPECT_EQ(q[2].style, 0x23u);
    EXPECT_EQ(q[3].kind, Kind::Confirm);
    EXPECT_EQ(q[3].text, "c");
    EXPECT_EQ(q[4].kind, Kind::Info);
    EXPECT_EQ(q[4].text, "s");
}

TEST(EnvMessageBoxes, KeepExistingPolicyAnswersSafely) {
    ScriptedPrompter prompter;
    ScopedPrompter scope(prompter);
    EXPECT_EQ(AskYesNoCancel("überschreiben?"), kAnswerNo);
    EXPECT_EQ(ConfirmYesNoCancelAll("überschreiben?"), kAnswerNo);
    EXPECT_EQ(WarnOkCancel("Windows-Pfad fehlerhaft oder unvollständig"), kAnswerCancel);
    EXPECT_EQ(InfoOk("Info"), kAnswerOk);
    EXPECT_EQ(ShowMessageBox("Ja oder Nein", 0x04), kAnswerNo);
    ShowInfo("x");
    EXPECT_EQ(prompter.questions().back().answer, kAnswerOk);
}

TEST(EnvMessageBoxes, ScriptedAnswersComeFirstThenThePolicy) {
    ScriptedPrompter prompter([](const PromptQuestion& q) { return q.kind == Kind::Confirm ? kAnswerAll : kAnswerYes; });
    ScopedPrompter scope(prompter);
    prompter.script(kAnswerCancel);
    prompter.script(kAnswerNo);
    EXPECT_EQ(ConfirmYesNoCancelAll("1"), kAnswerCancel);
    EXPECT_EQ(AskYesNoCancel("2"), kAnswerNo);
    EXPECT_EQ(ConfirmYesNoCancelAll("3"), kAnswerAll);
    EXPECT_EQ(AskYesNoCancel("4"), kAnswerYes);
    ASSERT_EQ(prompter.questions().size(), 4u);
    EXPECT_EQ(prompter.questions()[2].answer, kAnswerAll);
    prompter.forget();
    EXPECT_TRUE(prompter.questions().empty());
}

TEST(EnvMessageBoxes, ScopedPrompterRestoresThePreviousOne) {
    Prompter* platform = &Prompts();
    {
        ScriptedPrompter prompter;
        ScopedPrompter scope(prompter);
        EXPECT_EQ(&Prompts(), &prompter);
    }
    EXPECT_EQ(&Prompts(), platform);
}

}  // namespace
