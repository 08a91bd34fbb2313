#include "env/ScriptedPrompter.h"

int KeepExistingFiles(const PromptQuestion& question) {
    switch (question.kind) {
    case PromptQuestion::Kind::Confirm: return kAnswerNo;
    case PromptQuestion::Kind::Info: return kAnswerOk;
    case PromptQuestion::Kind::MessageBox: break;
    }
    return SafeAnswer(question.style);
}

int ScriptedPrompter::messageBox(const std::string& text, std::uint32_t style) {
    return ask({PromptQuestion::Kind::MessageBox, text, style});
}

int ScriptedPrompter::confirmYesNoCancelAll(const std::string& text) {
    return ask({PromptQuestion::Kind::Confirm, text, 0});
}

void ScriptedPrompter::showInfo(const std::string& text) { ask({PromptQuestion::Kind::Info, text, 0}); }

int ScriptedPrompter::ask(PromptQuestion question) {
    if (!scripted_.empty()) {
        question.answer = scripted_.front();
        scripted_.pop_front();
    } else {
        question.answer = policy_ ? policy_(question) : kAnswerNone;
    }
    questions_.push_back(question);
    return question.answer;
}
