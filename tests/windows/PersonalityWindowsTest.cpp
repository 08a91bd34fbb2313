// The 32-bit build links update.exe's C personality routine (Personality.cpp);
// a C frame with a clean-up is unwound through it (64-bit: through libgcc's).
#include <gtest/gtest.h>

#include <stdexcept>

extern "C" void CallWithCleanUp(void (*callback)(), int* cleanUps);  // CleanUpInC.c

namespace {

extern "C" void Throw() { throw std::runtime_error("durch C"); }

TEST(PersonalityWindows, ExceptionThroughACFrameRunsItsCleanUpAndIsCaught) {
    int cleanUps = 0;
    EXPECT_THROW(CallWithCleanUp(Throw, &cleanUps), std::runtime_error);
    EXPECT_EQ(cleanUps, 1);
}

}  // namespace
