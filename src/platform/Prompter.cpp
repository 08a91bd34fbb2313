#include "platform/Prompter.h"

#ifdef _WIN32
#include "Windows/Prompter.inc"
#else
#include "Native/Prompter.inc"
#endif

namespace {
Prompter* g_current = nullptr;
}

Prompter& Prompts() { return g_current ? *g_current : PlatformPrompter(); }

Prompter* SetPrompter(Prompter* prompter) {
    Prompter* previous = g_current ? g_current : &PlatformPrompter();
    g_current = prompter;
    return previous;
}

int SafeAnswer(std::uint32_t style) {
    switch (style & kMbButtonMask) {
    case kMbOk: return kAnswerOk;
    case kMbYesNoCancel:
    case kMbYesNo: return kAnswerNo;
    default: return kAnswerCancel;
    }
}
