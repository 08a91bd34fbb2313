// What the native build's platform answers when no test has put anything in
// place: a fresh Windows XP with administrator rights, no version records,
// and a prompter that answers without asking.
#include <gtest/gtest.h>

#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/System.h"
#include "platform/Registry.h"

namespace {

TEST(EnvNative, PlatformDefaults) {
    EXPECT_EQ(DetectWindowsVersion(), WindowsVersion::WindowsXP);
    EXPECT_TRUE(HasAdminRights());
    StringList list;
    ReadVersionStrings("C:\\Update\\update.exe", list);
    EXPECT_TRUE(list.empty());
}

TEST(EnvNative, PrompterAnswersWithoutAsking) {
    EXPECT_EQ(AskYesNoCancel("überschreiben?"), kAnswerNo);
    EXPECT_EQ(ConfirmYesNoCancelAll("überschreiben?"), kAnswerNo);
    EXPECT_EQ(InfoOk("Info"), kAnswerOk);
    EXPECT_EQ(WarnOkCancel("Warnung"), kAnswerCancel);
    ShowInfo("nichts blockiert");
}

}  // namespace
