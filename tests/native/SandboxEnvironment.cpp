// Each native test process works in a sandbox folder of its own, removed at the end.
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/NativeSandbox.h"

namespace {

class SandboxEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/update-test-XXXXXX";
        root_ = mkdtemp(pattern);
        SetSandboxRoot(root_);
        std::filesystem::create_directories(root_ + "/c/TEMP");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

private:
    std::string root_;
};

const bool registered = (::testing::AddGlobalTestEnvironment(new SandboxEnvironment), true);

}  // namespace
