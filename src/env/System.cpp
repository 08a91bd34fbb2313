// Windows version detection, the start-up paths and error texts.
#include "env/System.h"

#include "base/Text.h"
#include "env/MessageBoxes.h"
#include "env/Text.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"

std::string OwnExePath;
std::string OwnExeFolder;
std::string WindowsFolder;

namespace {

constexpr std::uint32_t kPlatformWin9x = 1;
constexpr std::uint32_t kPlatformNt = 2;

// The upper-cased product name under HKEY_LOCAL_MACHINE\`keyPath`; false when the key does not open.
bool ReadProductName(const std::string& keyPath, std::string& name) {
    name.clear();
    std::unique_ptr<RegistryKey> key = Reg().openKey(RootKey::LocalMachine, keyPath, kKeyQueryValue);
    if (!key) return false;
    if (key->queryString("ProductName", 79, name)) UpperCaseText(name);
    return true;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

WindowsVersion DetectWin9x(const OsVersionRecord& record) {
    if (record.minor < 10) return WindowsVersion::Windows95;
    std::string name;
    if (ReadProductName("Software\\Microsoft\\Windows\\CurrentVersion", name) && Contains(name, "WINDOWS ME"))
        return WindowsVersion::WindowsMe;
    return WindowsVersion::Windows98;
}

WindowsVersion DetectNt() {
    std::string name;
    if (!ReadProductName("Software\\Microsoft\\Windows NT\\CurrentVersion", name)) return WindowsVersion::WindowsNT;
    if (Contains(name, "WINDOWS 2000")) return WindowsVersion::Windows2000;
    if (Contains(name, "WINDOWS XP")) return WindowsVersion::WindowsXP;
    return WindowsVersion::WindowsNT;
}

// A Windows folder passes when it is a drive letter, ":" and "\" followed by at least one more character.
bool IsValidWindowsFolder(const std::string& folder) {
    return folder.size() >= 4 && folder[1] == ':' && folder[2] == '\\';
}

void InitWindowsFolder() {
    WindowsFolder.clear();
    std::string folder;
    if (!Sys().windowsDirectory(folder, 146)) return;
    DropTrailingBackslash(folder);
    if (IsValidWindowsFolder(folder)) {
        WindowsFolder = AddPathSeparator(folder);
        return;
    }
    WindowsFolder = folder;
    WarnOkCancel("Windows-Pfad fehlerhaft oder unvollständig");
}

}  // namespace

WindowsVersion DetectWindowsVersion() {
    OsVersionRecord record;
    if (!Sys().version(record)) return WindowsVersion::Undetermined;
    if (record.platformId == kPlatformWin9x) return DetectWin9x(record);
    if (record.platformId == kPlatformNt) return DetectNt();
    return WindowsVersion::Undetermined;
}

void InitSystemPaths() {
    OwnExePath = Sys().moduleFileName();
    OwnExeFolder = FolderPart(OwnExePath);
    InitWindowsFolder();
}

std::string SystemErrorText(std::uint32_t code) {
    std::string text;
    if (Sys().messageText(code, text)) return text;
    return DecimalText(Sys().lastError());
}

std::string LastErrorText() { return SystemErrorText(Sys().lastError()); }

std::string FailureReason(std::uint32_t code) {
    static const struct {
        std::uint32_t code;
        const char* text;
    } kReasons[] = {
        {2, "Datei nicht gefunden"},
        {3, "Pfad nicht gefunden"},
        {5, "Zugriff verweigert"},
        {19, "Datenträger schreibgeschützt"},
        {23, "Datenfehler auf dem Datenträger"},
        {29, "Schreibfehler auf dem Datenträger"},
        {32, "Datei wird von einem anderen Programm benutzt"},
        {39, "Datenträger voll"},
        {112, "Datenträger voll"},
        {206, "Name zu lang"},
        {1224, "Datei ist von einem laufenden Programm geladen"},
    };
    if (code == 0) return {};
    std::string text;
    for (const auto& reason : kReasons)
        if (reason.code == code) text = reason.text;
    if (text.empty()) text = SystemErrorText(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return " Grund: " + text + ".";
}
