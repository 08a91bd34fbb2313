#include "platform/RestartSchedule.h"

#include "base/Text.h"

#ifdef _WIN32
#include "Windows/RestartSchedule.inc"
#else
#include "Native/RestartSchedule.inc"
#endif

std::vector<std::pair<std::string, std::string>>& NativeScheduledChanges() {
    static std::vector<std::pair<std::string, std::string>> changes;
    return changes;
}

std::string WithRenameLine(const std::string& text, const std::string& line) {
    std::size_t section = UpperCased(text).find("[RENAME]");
    if (section == std::string::npos) {
        bool open = !text.empty() && text.back() != '\n';
        return text + (open ? "\r\n" : "") + "[rename]\r\n" + line + "\r\n";
    }
    // The section ends where the next one begins.
    std::size_t next = text.find("\n[", section);
    std::size_t end = next == std::string::npos ? text.size() : next + 1;
    std::string head = text.substr(0, end);
    if (head.back() != '\n') head += "\r\n";
    return head + line + "\r\n" + text.substr(end);
}

std::string WithoutDeletionLine(const std::string& text, const std::string& shortPath) {
    std::size_t section = UpperCased(text).find("[RENAME]");
    if (section == std::string::npos) return text;
    std::size_t next = text.find("\n[", section);
    std::size_t end = next == std::string::npos ? text.size() : next + 1;
    std::string result = text.substr(0, section);
    for (std::size_t start = section; start < end;) {
        std::size_t lineEnd = text.find('\n', start);
        lineEnd = lineEnd == std::string::npos || lineEnd >= end ? end : lineEnd + 1;
        std::string line = text.substr(start, lineEnd - start);
        std::string bare = line.substr(0, line.find_last_not_of("\r\n") + 1);
        if (!SameText(bare, "NUL=" + shortPath)) result += line;
        start = lineEnd;
    }
    return result + text.substr(end);
}
