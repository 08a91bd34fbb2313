// A C function whose clean-up runs while an exception passes through it.
static void Count(int* const* counter) { ++**counter; }

void CallWithCleanUp(void (*callback)(void), int* cleanUps) {
    int* counter __attribute__((cleanup(Count))) = cleanUps;
    callback();
}
