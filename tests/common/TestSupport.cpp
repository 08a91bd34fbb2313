#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <vector>

#include "base/DosDate.h"
#include "platform/FileSystem.h"
#include "platform/SystemInfo.h"

namespace {
std::atomic<int> g_counter{0};
}

TempFolder::TempFolder() {
    std::string base = Sys().tempPath();
    if (!base.empty() && base.back() != '\\') base += '\\';
    Fs().createFolder(base.substr(0, base.size() - 1));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = base + "ut" + std::to_string(g_counter++) + "_" + std::to_string(attempt);
        if (Fs().createFolder(candidate)) {
            path_ = candidate + "\\";
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder under " + base);
}

TempFolder::~TempFolder() { RemoveTree(path_.substr(0, path_.size() - 1)); }

void WriteBytes(const std::string& path, const std::string& bytes) {
    auto file = Fs().open(path, OpenMode::Create);
    if (!file) throw std::runtime_error("cannot create " + path);
    if (file->write(bytes.data(), std::int64_t(bytes.size())) != std::int64_t(bytes.size()))
        throw std::runtime_error("short write " + path);
}

std::string ReadBytes(const std::string& path) {
    auto file = Fs().open(path, OpenMode::ReadShared);
    if (!file) throw std::runtime_error("cannot open " + path);
    std::string bytes(static_cast<std::size_t>(file->size()), '\0');
    if (file->read(bytes.data(), std::int64_t(bytes.size())) != std::int64_t(bytes.size()))
        throw std::runtime_error("short read " + path);
    return bytes;
}

void RemoveTree(const std::string& path) {
    std::uint32_t attributes = Fs().attributes(path);
    if (attributes == kAttrInvalid) return;
    if (attributes & kAttrReparsePoint) {  // the link alone, not what it leads to
        if (!Fs().removeFile(path)) Fs().removeFolder(path);
        return;
    }
    if (attributes & kAttrDirectory) {
        std::vector<FindData> children;
        Fs().listFolder(path, children);
        for (const FindData& child : children) RemoveTree(path + "\\" + child.name);
        Fs().removeFolder(path);
        return;
    }
    if (attributes & kAttrReadOnly) Fs().setAttributes(path, kAttrNormal);
    Fs().removeFile(path);
}

std::string ListFolder(const std::string& folder) {
    std::vector<FindData> children;
    Fs().listFolder(folder, children);
    std::vector<std::string> names;
    for (const FindData& c : children) names.push_back(c.name);
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}

std::string Hex(const std::string& text) {
    std::string out;
    int high = -1;
    for (char c : text) {
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<char>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

std::int32_t Stamp(int year, int month, int day, int hour, int minute, int second) {
    return PackDosDate(CalendarTime{year, month, day, hour, minute, second});
}
