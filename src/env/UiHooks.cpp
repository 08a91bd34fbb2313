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
