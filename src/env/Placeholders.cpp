// Placeholder expansion for the final command and the check-run lines:
// "%%" gives "%", "%+" switches quoting on for the rest of the text, and
// "%§" + registry reference + "%" is replaced by the value the reference names.
#include "env/Registry.h"
#include "env/Text.h"

namespace {

constexpr std::size_t kTextLimit = 255;

// The value that replaces the placeholder whose reference is `reference`;
// `next` is the character that will follow it in the text (0 at the end).
std::string PlaceholderValue(std::string reference, char next, bool quoting) {
    bool folderMode = !reference.empty() && reference.back() == '\\';
    if (folderMode) reference.pop_back();
    std::string value;
    LookupRegistryReference(reference, std::string(), value);
    if (folderMode) {
        value = FolderPart(value);
        DropTrailingBackslash(value);
    }
    if (!value.empty() && value.back() == '\\' && next == '\\') value.pop_back();
    if (quoting && FirstChar(value) != '"') value = '"' + value + '"';
    return value;
}

}  // namespace

std::string ExpandPlaceholders(const std::string& input) {
    std::string text = input.substr(0, kTextLimit);
    bool quoting = false;
    // The last character never starts a placeholder.
    for (std::size_t p = 0; p + 1 < text.size();) {
        if (text[p] != '%') {
            ++p;
            continue;
        }
        if (text[p + 1] == '%') {
            text.erase(p, 1);
            ++p;
            continue;
        }
        if (text[p + 1] == '+') {
            text.erase(p + 1, 1);
            quoting = true;
        }
        std::size_t close = std::string::npos;
        if (p + 3 < text.size() && text[p + 1] == '§') close = text.find('%', p + 2);
        if (close == std::string::npos) {
            ++p;
            continue;
        }
        std::string reference = text.substr(p + 2, close - (p + 2));
        text.erase(p, close - p + 1);
        std::string value = PlaceholderValue(reference, p < text.size() ? text[p] : '\0', quoting);
        text.insert(p, value);
        text.resize(std::min(text.size(), kTextLimit));
        // Go on with the value's second character, so that placeholders inside
        // values are expanded in turn; after an empty value, with the character behind it.
        if (!value.empty()) ++p;
    }
    return text;
}
