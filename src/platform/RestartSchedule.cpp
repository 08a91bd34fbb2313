#include "platform/RestartSchedule.h"

#include <algorithm>

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
        return std::string(text).append(open ? "\r\n" : "").append("[rename]\r\n").append(line).append("\r\n");
    }
    // The section ends where the next one begins.
    std::size_t next = text.find("\n[", section);
    std::size_t end = next == std::string::npos ? text.size() : next + 1;
    std::string head = text.substr(0, end);
    if (head.back() != '\n') head += "\r\n";
    head.append(line).append("\r\n").append(text, end);
    return head;
}

std::string WithoutDeletionLine(const std::string& text, const std::string& shortPath) {
    const std::string deletion = "NUL=" + shortPath;
    std::string result;
    bool inRename = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (!line.empty() && line[0] == '[') inRename = SameText(line, "[rename]");
        if (!inRename || !SameText(line, deletion)) result.append(text, start, end - start);
        start = end;
    }
    return result;
}
