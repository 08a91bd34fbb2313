#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <unistd.h>

#include "env/ScriptedPrompter.h"
#include "platform/FileSystem.h"
#include "platform/NativeSandbox.h"
#include "platform/RegText.h"

namespace {

const char kWorkFolder[] = "C:\\fz";

// The sandbox root of this process, removed again when the process ends normally.
class Sandbox {
public:
    Sandbox() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/update-fuzz-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        root_ = buffer.data();
        SetSandboxRoot(root_);
        std::filesystem::create_directories(root_ + "/c");
    }
    ~Sandbox() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

private:
    std::string root_;
};

// Questions get the answer that changes nothing, and nobody waits.
ScriptedPrompter& QuietPrompter() {
    static ScriptedPrompter prompter;
    static ScopedPrompter scope(prompter);
    return prompter;
}

void Collect(const std::string& folder, const std::string& relative, std::vector<std::string>& out) {
    std::vector<FindData> children;
    Fs().listFolder(folder, children);
    for (const FindData& child : children) {
        std::string name = relative + child.name;
        if (child.attributes & kAttrDirectory) {
            out.push_back(name + "\\");
            Collect(folder + "\\" + child.name, name + "\\", out);
        } else {
            out.push_back(name);
        }
    }
}

const char kRegistryFixture[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Ver]\r\n@=\"4.1\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe\\Projects\\Demo\\Dir]\r\n@=\"C:\\\\App\\\\Demo.exe\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Mevo\\Tarnix.exe]\r\n\"Path\"=\"C:\\\\Tarnix\\\\\"\r\n\"Loop\"=\"%" "\xa7" "H\\\\Loop%x\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\KAV_OL]\r\n@=\"?\"\r\n\"Name\"=\"Node value\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\KAV_OL\\Data]\r\n@=\"D:\\\\Daten\\\\\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Mevo\\Update.exe]\r\n\"Own\"=\"own value\"\r\n";

}  // namespace

const std::string& FreshWorkFolder() {
    static Sandbox sandbox;
    static const std::string folder = std::string(kWorkFolder) + "\\";
    QuietPrompter().forget();
    RemoveTreeOf(kWorkFolder);
    Fs().createFolder(kWorkFolder);
    return folder;
}

void RemoveTreeOf(const std::string& path) {
    std::uint32_t attributes = Fs().attributes(path);
    if (attributes == kAttrInvalid) return;
    if (attributes & kAttrDirectory) {
        std::vector<FindData> children;
        Fs().listFolder(path, children);
        for (const FindData& child : children) RemoveTreeOf(path + "\\" + child.name);
        Fs().removeFolder(path);
        return;
    }
    if (attributes & kAttrReadOnly) Fs().setAttributes(path, kAttrNormal);
    Fs().removeFile(path);
}

std::string TreeListing(const std::string& folder) {
    std::string root = folder;
    if (!root.empty() && root.back() == '\\') root.pop_back();
    std::vector<std::string> names;
    Collect(root, "", names);
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += n + "\n";
    return out;
}

FuzzRegistry::FuzzRegistry() : previous_(SetRegistry(&registry)) {
    QuietPrompter().forget();
    ImportRegText(registry, kRegistryFixture);
}

FuzzRegistry::~FuzzRegistry() { SetRegistry(previous_); }

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
