// Fuzz target: placeholder expansion ("%%", "%+", "%§" + reference + "%")
// against a registry whose values hold placeholders of their own, one of them
// naming itself. The result never exceeds 255 characters.
#include <cstdint>
#include <string>

#include "env/Registry.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 12;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    static FuzzRegistry registry;
    std::string text = AsText(data, size);
    std::string expanded = ExpandPlaceholders(text);
    Require(expanded.size() <= 255, "an expanded text has at most 255 characters");
    if (text.find('%') == std::string::npos) Require(expanded == text.substr(0, 255), "text without % stays");
    return 0;
}
