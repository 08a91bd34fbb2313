#include "archive/EntryName.h"

namespace {

bool OnlyDotsAndBlanks(const std::string& element) {
    return element.find_first_not_of(". ") == std::string::npos;
}

}  // namespace

bool IsContainedRelativePath(const std::string& path) {
    if (path.empty() || path.find(':') != std::string::npos) return false;
    // A NUL would end the path that the system sees before the part checked here.
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find_first_of("\\/", start);
        std::string element = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (element.empty() || OnlyDotsAndBlanks(element)) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}
