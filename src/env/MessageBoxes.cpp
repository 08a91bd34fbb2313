#include "env/MessageBoxes.h"

#include "env/UiHooks.h"

int ShowMessageBox(const std::string& text, std::uint32_t style) {
    std::string message = text;
    // "$tag message": the tag and its blank are dropped; a tag alone shows nothing.
    if (!message.empty() && message[0] == '$') {
        std::size_t blank = message.find(' ');
        if (blank == std::string::npos) return kAnswerNone;
        message.erase(0, blank + 1);
        if (message.empty()) return kAnswerNone;
    }
    // "!message": the stop icon instead of the style's own.
    if (!message.empty() && message[0] == '!') {
        message.erase(0, 1);
        style = (style & ~std::uint32_t(kMbIconMask)) | kMbIconHand;
    }
    Ui().showLog();
    return Prompts().messageBox(message, style);
}

int WarnOkCancel(const std::string& text) { return ShowMessageBox(text, kMbOkCancel | kMbIconExclamation); }
int InfoOk(const std::string& text) { return ShowMessageBox(text, kMbOk | kMbIconInformation); }
int AskYesNoCancel(const std::string& text) { return ShowMessageBox(text, kMbYesNoCancel | kMbIconQuestion); }
int AskRetryCancel(const std::string& text) { return ShowMessageBox(text, kMbRetryCancel | kMbIconExclamation); }
int ConfirmYesNoCancelAll(const std::string& text) {
    Ui().showLog();
    return Prompts().confirmYesNoCancelAll(text);
}
void ShowInfo(const std::string& text) {
    Ui().showLog();
    Prompts().showInfo(text);
}
