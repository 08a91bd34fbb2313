// The 32-bit update.exe answers for the personality routine of C with that of
// C++; the 32-bit test program links the same stand-in, so an exception through
// a C frame with a clean-up goes through it there (64-bit: through libgcc's).
#include <gtest/gtest.h>

#include <stdexcept>

extern "C" void CallWithCleanUp(void (*callback)(), int* cleanUps);

namespace {

extern "C" void Throw() { throw std::runtime_error("durch C"); }

TEST(PersonalityWindows, ExceptionThroughACFrameRunsItsCleanUpAndIsCaught) {
    int cleanUps = 0;
    try {
        CallWithCleanUp(Throw, &cleanUps);
        FAIL() << "nothing thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "durch C");
    }
    EXPECT_EQ(cleanUps, 1);
}

}  // namespace
