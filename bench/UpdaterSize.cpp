// The size of update.exe as shipped (stripped) and the DLLs it imports, for
// the 32-bit build (the primary product) and the 64-bit one.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "BenchSupport.h"
#include "Scenarios.h"

namespace {

constexpr std::int64_t kSizeGoal = 188416;
// The most that the 32-bit updater may weigh with its exploit mitigations.
constexpr std::int64_t kSizeLimit = 262144;

struct Build {
    const char* id;     // prefix of the figures' ids
    const char* label;  // the program as the table names it
    const char* strip;
    const char* objdump;
};
const Build k32Bit = {"updater", "update.exe", "i686-w64-mingw32-strip", "i686-w64-mingw32-objdump"};
const Build k64Bit = {"updater64", "update.exe (64-bit)", "x86_64-w64-mingw32-strip", "x86_64-w64-mingw32-objdump"};

// DLLs that every 32-bit Windows from 95 and NT 4 on brings along.
const std::set<std::string> kSystemDlls = {"kernel32.dll", "user32.dll", "gdi32.dll",   "advapi32.dll",
                                           "shell32.dll",  "comctl32.dll", "comdlg32.dll", "ole32.dll",
                                           "oleaut32.dll", "version.dll", "msvcrt.dll",  "shlwapi.dll"};

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> ImportedDlls(const char* objdump, const std::string& exe) {
    std::vector<std::string> dlls;
    std::string command = std::string(objdump) + " -p '" + exe + "'";
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

void MeasureOne(const Build& build, const std::string& updater, const BenchOptions& o, Report& report) {
    const std::string id = build.id;
    if (updater.empty() || FileSize(updater) < 0 || !ProgramExists(build.strip) || !ProgramExists(build.objdump)) {
        report.setContext(build.label, "not measured: no Windows build or no mingw binutils");
        return;
    }
    std::string copy = o.workFolder + "/" + id + "-stripped.exe";
    std::filesystem::copy_file(updater, copy, std::filesystem::copy_options::overwrite_existing);
    RunChecked({build.strip, copy});
    std::int64_t size = FileSize(copy);
    std::string imports;
    bool onlySystem = true;
    for (const std::string& dll : ImportedDlls(build.objdump, copy)) {
        imports += (imports.empty() ? "" : " ") + dll;
        onlySystem = onlySystem && kSystemDlls.count(Lower(dll)) > 0;
    }
    std::string built = FileSize(updater) == size ? "as built" : std::to_string(FileSize(updater)) + " as built";
    const std::string label = build.label;
    if (&build == &k32Bit) {
        report.add({id + ".size", label + ", stripped", double(size), "bytes", "<= 188416", true, size <= kSizeGoal,
                    built});
        report.add({id + ".size_limit", label + " within its limit", double(size), "bytes", "<= 262144", true,
                    size <= kSizeLimit, "with relocations and exploit mitigations"});
    } else {
        report.add({id + ".size", label + ", stripped", double(size), "bytes", "", false, false, built});
    }
    report.add({id + ".system_dlls_only", label + " imports system DLLs only", onlySystem ? 1.0 : 0.0, "", "= 1",
                true, onlySystem, imports});
    RemoveTree(copy);
}

}  // namespace

void MeasureUpdaterSize(const BenchOptions& o, Report& report) {
    MeasureOne(k32Bit, o.updater, o, report);
    MeasureOne(k64Bit, o.updater64, o, report);
}
