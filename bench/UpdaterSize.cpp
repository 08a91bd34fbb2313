// The size of update.exe as shipped (stripped) and the DLLs it imports.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "BenchSupport.h"
#include "Scenarios.h"

namespace {

constexpr std::int64_t kSizeGoal = 188416;
const char* const kStrip = "i686-w64-mingw32-strip";
const char* const kObjdump = "i686-w64-mingw32-objdump";

// DLLs that every 32-bit Windows from 95 and NT 4 on brings along.
const std::set<std::string> kSystemDlls = {"kernel32.dll", "user32.dll", "gdi32.dll",   "advapi32.dll",
                                           "shell32.dll",  "comctl32.dll", "comdlg32.dll", "ole32.dll",
                                           "oleaut32.dll", "version.dll", "msvcrt.dll",  "shlwapi.dll"};

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> ImportedDlls(const std::string& exe) {
    std::vector<std::string> dlls;
    std::string command = std::string(kObjdump) + " -p '" + exe + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return dlls;
    char line[512];
    const std::string marker = "DLL Name: ";
    while (std::fgets(line, sizeof(line), pipe)) {
        std::string text = line;
        std::size_t at = text.find(marker);
        if (at == std::string::npos) continue;
        std::string name = text.substr(at + marker.size());
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
        dlls.push_back(name);
    }
    pclose(pipe);
    return dlls;
}

}  // namespace

void MeasureUpdaterSize(const BenchOptions& o, Report& report) {
    if (o.updater.empty() || FileSize(o.updater) < 0 || !ProgramExists(kStrip) || !ProgramExists(kObjdump)) {
        report.setContext("update.exe", "not measured: no Windows build or no mingw binutils");
        return;
    }
    std::string copy = o.workFolder + "/update-stripped.exe";
    std::filesystem::copy_file(o.updater, copy, std::filesystem::copy_options::overwrite_existing);
    RunChecked({kStrip, copy});
    std::int64_t size = FileSize(copy);
    std::string imports;
    bool onlySystem = true;
    for (const std::string& dll : ImportedDlls(copy)) {
        imports += (imports.empty() ? "" : " ") + dll;
        onlySystem = onlySystem && kSystemDlls.count(Lower(dll)) > 0;
    }
    std::string built = FileSize(o.updater) == size ? "as built" : std::to_string(FileSize(o.updater)) + " as built";
    report.add({"updater.size", "update.exe, stripped", double(size), "bytes", "<= 188416", true, size <= kSizeGoal,
                built});
    report.add({"updater.system_dlls_only", "update.exe imports system DLLs only", onlySystem ? 1.0 : 0.0, "",
                "= 1", true, onlySystem, imports});
    RemoveTree(copy);
}
