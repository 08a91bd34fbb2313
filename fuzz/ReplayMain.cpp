// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file inside a folder named there, is fed once to the target. The
// native build links each target with this, so that every build and every
// test run replays the committed corpora and the inputs of past findings.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// No input of a few kilobytes may make the updater ask for a gigabyte: beyond
// that, an allocation fails and the replay ends with the error. AddressSanitizer
// reserves far more address space for itself, and has limits of its own.
void LimitMemory() {
    if (kSanitized) return;
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
    setrlimit(RLIMIT_AS, &limit);
}

std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& path) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(path)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
            if (entry.is_regular_file()) files.push_back(entry.path());
    } else if (std::filesystem::is_regular_file(path)) {
        files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    LimitMemory();
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::exists(argv[i])) {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 2;
        }
        for (const std::filesystem::path& file : InputsOf(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::fprintf(stderr, "%s\n", file.c_str());
            static const std::uint8_t kNothing = 0;
            LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 2;
}
