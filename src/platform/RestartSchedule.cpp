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
