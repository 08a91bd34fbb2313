// A C function with a clean-up that runs while an exception passes through it:
// its unwinding goes through the personality routine of C.
static void Count(int* const* counter) { ++**counter; }

void CallWithCleanUp(void (*callback)(void), int* cleanUps) {
    int* counter __attribute__((cleanup(Count))) = cleanUps;
    callback();
}
