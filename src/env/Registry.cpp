// Registry references: resolution to hive and key path, the plain reads and
// writes through the shared access object, and the key-first lookups that the
// placeholders use.
#include "env/Registry.h"

#include "env/Text.h"

std::string OwnRegistryKey;
std::string RegistryNode = "KAV_OL";

namespace {

const char kVendorKey[] = "\\Software\\Mevo";
const char kHostKey[] = "\\Software\\Mevo\\Tarnix.Exe";
const char kProjectsKey[] = "\\Software\\Mevo\\Tarnix.Exe\\Projects\\";
const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\Currentversion\\Explorer\\Shell Folders";
const char kWindowsKey[] = "Software\\Microsoft\\Windows\\Currentversion";

bool IsPrefixed(const std::string& reference) { return reference.size() >= 2 && reference[1] == '\\'; }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

// One trailing and then one leading backslash dropped, as the lookups need them.
std::string LookupPath(std::string keyPath) {
    DropTrailingBackslash(keyPath);
    if (!keyPath.empty() && keyPath[0] == '\\') keyPath.erase(0, 1);
    return keyPath;
}

std::unique_ptr<RegistryKey> OpenForQuery(RootKey hive, const std::string& keyPath, std::string& valueName) {
    valueName.clear();
    std::unique_ptr<RegistryKey> key = Reg().openKey(hive, keyPath, kKeyQueryValue);
    if (key) return key;
    std::string parent = FolderPart(keyPath);
    valueName = keyPath.substr(parent.size());
    return Reg().openKey(hive, parent, kKeyQueryValue);
}

}  // namespace

void InitRegistryNames(const std::string& executablePath) {
    std::string name = NamePart(executablePath);
    LowerCaseText(name);
    if (!name.empty()) name[0] = AsciiUpper(name[0]);
    OwnRegistryKey = "Mevo\\" + name + "\\";
    RegistryNode = "KAV_OL";
}

bool RegistryAccess::openKey(const std::string& path, bool canCreate) {
    closeKey();
    std::string relative = !path.empty() && path[0] == '\\' ? path.substr(1) : path;
    key_ = canCreate ? Reg().createKey(rootKey, relative, access) : Reg().openKey(rootKey, relative, access);
    return key_ != nullptr;
}

bool RegistryAccess::openKeyReadOnly(const std::string& path) {
    std::uint32_t saved = access;
    access = kKeyRead;
    bool opened = openKey(path, false);
    access = saved;
    return opened;
}

void RegistryAccess::closeKey() { key_.reset(); }

bool RegistryAccess::readString(const std::string& name, std::string& out) {
    return key_ && key_->queryString(name, 0, out);
}

bool RegistryAccess::writeString(const std::string& name, const std::string& value) {
    return key_ && key_->setString(name, value);
}

RegistryAccess& SharedRegistry() {
    static RegistryAccess shared;
    return shared;
}

ResolvedReference ResolveRegistryReference(const std::string& reference, const std::string& projectName) {
    if (!IsPrefixed(reference)) return {RootKey::CurrentUser, "\\Software\\" + OwnRegistryKey};
    const std::string rest = reference.substr(1);
    switch (AsciiUpper(reference[0])) {
    case 'A': return {RootKey::CurrentUser, kProjectsKey + projectName + rest};
    case 'C': return {RootKey::ClassesRoot, rest};
    case 'E': return {RootKey::CurrentUser, kVendorKey + rest};
    case 'F': return {RootKey::CurrentUser, kShellFoldersKey + rest};
    case 'H': return {RootKey::LocalMachine, kHostKey + rest};
    case 'M': return {RootKey::LocalMachine, rest};
    case 'P': return {RootKey::LocalMachine, kProjectsKey + projectName + rest};
    case 'R': return {RootKey::LocalMachine, kVendorKey + rest};
    case 'V': return {RootKey::LocalMachine, kWindowsKey + rest};
    default: return {RootKey::CurrentUser, rest};  // U and every other character
    }
}

// Hive and key path of a plain read or write: unprefixed references live below the updater's own key.
ResolvedReference ResolveForReadWrite(const std::string& reference, const std::string& projectName) {
    ResolvedReference resolved = ResolveRegistryReference(reference, projectName);
    if (!IsPrefixed(reference) && !reference.empty()) resolved.keyPath += reference;
    return resolved;
}

std::string ReadRegistryString(const std::string& reference, const std::string& valueName,
                               const std::string& defaultValue, const std::string& projectName) {
    std::string result = defaultValue;
    ResolvedReference resolved = ResolveForReadWrite(reference, projectName);
    RegistryAccess& registry = SharedRegistry();
    registry.rootKey = resolved.hive;
    if (!registry.openKeyReadOnly(resolved.keyPath)) registry.openKeyReadOnly(resolved.keyPath);
    std::string text;
    if (registry.readString(valueName, text)) result = text;
    if (result.empty()) result = defaultValue;
    registry.closeKey();
    return result;
}

void WriteRegistryString(const std::string& reference, const std::string& valueName, const std::string& value,
                         const std::string& projectName) {
    ResolvedReference resolved = ResolveForReadWrite(reference, projectName);
    RegistryAccess& registry = SharedRegistry();
    registry.rootKey = resolved.hive;
    registry.access = kKeyAllAccess;
    if (registry.openKey(resolved.keyPath, true)) registry.writeString(valueName, value);
    registry.closeKey();
}

bool ReadRegistryValue(RootKey hive, const std::string& keyPath, unsigned capacity, std::string& text) {
    text.clear();
    try {
        std::string valueName;
        std::unique_ptr<RegistryKey> key = OpenForQuery(hive, keyPath, valueName);
        std::string value;
        if (!key || !key->queryString(valueName, capacity, value)) return false;
        text = value.substr(0, capacity);
        return true;
    } catch (const std::exception&) {
        text.clear();
        return false;
    }
}

bool LookupRegistryReference(const std::string& reference, const std::string& projectName, std::string& text) {
    if (IsPrefixed(reference)) {
        ResolvedReference resolved = ResolveRegistryReference(reference, projectName);
        return ReadRegistryValue(resolved.hive, LookupPath(resolved.keyPath), 255, text) && !text.empty();
    }
    std::string keyPath = "Software\\" + RegistryNode;
    if (!reference.empty()) keyPath += "\\" + reference;
    keyPath = keyPath.substr(0, 80);
    if (Reg().queryDefaultValue(RootKey::CurrentUser, keyPath, 254, text) && !text.empty() && text != "?") return true;
    ResolvedReference vendor = ResolveRegistryReference("R\\" + reference, projectName);
    return ReadRegistryValue(vendor.hive, LookupPath(vendor.keyPath), 255, text) && !text.empty();
}

void SplitValueReference(const std::string& reference, std::string& keyReference, std::string& valueName) {
    // A final backslash leaves the empty value name: the key's default value.
    std::size_t split = reference.find_last_of("\\:");
    keyReference = split == std::string::npos ? std::string() : reference.substr(0, split);
    valueName = split == std::string::npos ? reference : reference.substr(split + 1);
    // "F\Personal" names the value Personal of the F key itself: a bare prefix
    // letter keeps its backslash, or it would turn into an unprefixed reference.
    if (keyReference.size() == 1 && IsPrefixed(reference)) keyReference += '\\';
}

bool HasAdminRights() { return Reg().openKey(RootKey::LocalMachine, "Software", kKeyAllAccess) != nullptr; }
