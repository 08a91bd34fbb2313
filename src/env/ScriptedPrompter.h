// A Prompter that asks nobody: it records every question and answers from a
// queue of scripted answers, then from a policy. Tests script their answers
// with it; silent runs answer with the policy that keeps existing files.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/Prompter.h"

struct PromptQuestion {
    enum class Kind { MessageBox, Confirm, Info };
    Kind kind = Kind::MessageBox;
    std::string text;
    std::uint32_t style = 0;  // the message box's style; 0 for the other kinds
    int answer = kAnswerNone;
};

using AnswerPolicy = std::function<int(const PromptQuestion&)>;

// The answer that changes nothing: No to every overwrite question, OK to a
// message, Cancel to OK/Cancel (platform SafeAnswer).
int KeepExistingFiles(const PromptQuestion& question);

class ScriptedPrompter : public Prompter {
public:
    explicit ScriptedPrompter(AnswerPolicy policy = KeepExistingFiles) : policy_(std::move(policy)) {}

    int messageBox(const std::string& text, std::uint32_t style) override;
    int confirmYesNoCancelAll(const std::string& text) override;
    void showInfo(const std::string& text) override;

    // Answers used in order before the policy is asked.
    void script(int answer) { scripted_.push_back(answer); }
    void setPolicy(AnswerPolicy policy) { policy_ = std::move(policy); }
    const std::vector<PromptQuestion>& questions() const { return questions_; }
    void forget() { questions_.clear(); }

private:
    int ask(PromptQuestion question);

    AnswerPolicy policy_;
    std::deque<int> scripted_;
    std::vector<PromptQuestion> questions_;
};

// Puts a prompter in place for the life of the object.
class ScopedPrompter {
public:
    explicit ScopedPrompter(Prompter& prompter) : previous_(SetPrompter(&prompter)) {}
    ~ScopedPrompter() { SetPrompter(previous_); }
    ScopedPrompter(const ScopedPrompter&) = delete;
    ScopedPrompter& operator=(const ScopedPrompter&) = delete;

private:
    Prompter* previous_;
};
