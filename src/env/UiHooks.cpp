#include "env/UiHooks.h"

namespace {
UiHooks g_idle;
UiHooks* g_current = nullptr;
}  // namespace

UiHooks& Ui() { return g_current ? *g_current : g_idle; }

UiHooks* SetUiHooks(UiHooks* hooks) {
    UiHooks* previous = g_current ? g_current : &g_idle;
    g_current = hooks == &g_idle ? nullptr : hooks;
    return previous;
}

void RunProgress::begin(std::uint64_t total) {
    total_ = total > 0 ? total : 1;
    done_ = 0;
    Ui().showWork(0, total_);
}

void RunProgress::advance(std::uint64_t bytes) {
    if (total_ == 0) return;
    done_ = done_ + bytes < total_ ? done_ + bytes : total_;
    Ui().showWork(done_, total_);
}

void RunProgress::end() {
    if (total_ > 0) Ui().showWork(total_, total_);
    total_ = done_ = 0;
}

RunProgress& Progress() {
    static RunProgress progress;
    return progress;
}
