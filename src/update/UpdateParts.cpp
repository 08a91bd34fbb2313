#include "update/UpdateParts.h"

#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
#include "platform/SystemInfo.h"
#include "update/Transaction.h"

std::uint8_t LogThreshold = 2;

namespace {

constexpr char kSectionMark = '\xA7';  // "§": the folder is read from the registry
constexpr unsigned kPathCapacity = 255;

// The system folder for "%WINSYS%"; a folder ending with "32" also yields the
// second system folder beside it (C:\WINDOWS\SYSTEM32 gives C:\WINDOWS\SYSTEM\).
std::string SystemFolder(std::string& altFolder) {
    std::string folder;
    if (!Sys().systemDirectory(folder, kPathCapacity)) return {};
    std::string bare = folder;
    DropTrailingBackslash(bare);
    if (bare.size() >= 2 && bare.compare(bare.size() - 2, 2, "32") == 0) {
        altFolder = bare.substr(0, bare.size() - 2);
        EnsureTrailingBackslash(altFolder);
    }
    return folder;
}

std::string PercentForm(const std::string& value, std::string& altFolder) {
    if (value.size() < 2 || value.back() != '%') return value;
    std::string name = value.substr(1, value.size() - 2);
    UpperCaseText(name);
    TrimBlanks(name);
    if (name != "WINSYS") return value;
    return SystemFolder(altFolder);
}

// The folder named by a registry value; a value naming a file gives its folder.
std::string RegistryForm(const std::string& value) {
    std::string keyReference, valueName;
    SplitValueReference(value.substr(1), keyReference, valueName);
    std::string text = ReadRegistryString(keyReference, valueName, "", "");
    if (NamePart(text).find('.') != std::string::npos) return FolderPart(text);
    return text;
}

}  // namespace

TUpdatePart::TUpdatePart(TUpdateParts& owner, const std::string& sectionName)
    : Owner(&owner), SectionName(sectionName), SectionPrefix(sectionName + "\\") {}

void TUpdatePart::SetTDir(const std::string& value) {
    std::string folder;
    if (FirstChar(value) == '%')
        folder = PercentForm(value, AltTargetFolder);
    else if (FirstChar(value) == kSectionMark)
        folder = RegistryForm(value);
    else
        folder = value;
    EnsureTrailingBackslash(folder);
    TargetFolder = folder;
}

void TUpdatePart::SetVChk(const std::string& value) { ParseVChk(value, VChk); }

void TUpdatePart::ResetCounters() {
    AddedCount = UpdatedCount = KeptCount = DeletedCount = ErrorCount = 0;
}

TUpdatePart& TUpdateParts::Add(const std::string& sectionName) {
    Items.push_back(std::make_unique<TUpdatePart>(*this, sectionName));
    return *Items.back();
}

void TUpdateParts::LogMessage(const std::string& text, int level) const {
    if (Log && level >= LogThreshold) Log->push_back(text);
}

std::string TUpdateParts::FontNameOf(const std::string& fileName) const {
    for (const TFontListEntry& entry : FontList)
        if (SameText(entry.FileName, fileName)) return entry.FontName ? entry.FontName->Text : std::string();
    return {};
}

std::string TUpdateParts::FirstCheckRunFileInUse() const {
    for (const std::string& line : CheckRunList) {
        std::string name = ExpandPlaceholders(line.substr(0, kPathCapacity));
        if (name.empty() || !FileExists(name)) continue;
        if (FileInUse(name)) return name;
    }
    return {};
}

bool TUpdateParts::CheckFilesFree() const {
    std::string name = FirstCheckRunFileInUse();
    if (name.empty()) return true;
    // Built in place: a chain of "+" makes a string at each step.
    ShowInfo(NamePart(name)
                 .insert(0, "Die Datei ")
                 .append("\rwird im Moment benutzt oder darf von Ihnen nicht geändert werden.\r"
                         "Beenden Sie erst alle anderen Anwendungen\r"
                         "und versuchen Sie es erneut, ggf. nach Neustart des Computers.\r\r"
                         "Wenden Sie sich notfalls an den verantwortlichen Administrator,\r"
                         "um dieses Update ausführen zu lassen!"));
    return false;
}

namespace {

// A VRESULT text split into key reference, value name and value; false without "=".
bool SplitResult(const std::string& text, std::string& path, std::string& valueName, std::string& value) {
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    path = text.substr(0, equals);
    value = text.substr(equals + 1);
    std::size_t slash = path.rfind('\\');
    if (LastChar(path) != '\\') {
        valueName = slash == std::string::npos ? path : path.substr(slash + 1);
        path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    }
    DropTrailingBackslash(path);
    return true;
}

}  // namespace

void TUpdateParts::WriteResultValue(const std::string& text) {
    std::string path, valueName, value;
    if (SplitResult(text, path, valueName, value)) WriteRegistryString(path, valueName, value, "");
}

bool TUpdateParts::WriteResult(const std::string& text) const {
    std::string path, valueName, value;
    if (!SplitResult(text, path, valueName, value)) return true;
    if (Transaction && !Transaction->noteValue(path, valueName)) return false;
    WriteRegistryString(path, valueName, value, "");
    return true;
}
