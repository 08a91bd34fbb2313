// Registry references and placeholders. A reference is a short text whose
// letter and backslash ("R\", "M\", "H\", ...) select hive and base key.
#pragma once

#include <memory>
#include <string>

#include "platform/Registry.h"  // RootKey

struct ResolvedReference {
    RootKey hive = RootKey::CurrentUser;
    std::string keyPath;
};

// "Mevo\" + the running file's name (lower case, first letter upper) + "\"; set at start-up.
extern std::string OwnRegistryKey;
// The node under HKEY_CURRENT_USER\Software that unprefixed placeholders look in first.
extern std::string RegistryNode;
// Computes OwnRegistryKey from the executable's path and sets RegistryNode.
void InitRegistryNames(const std::string& executablePath);

// The one registry access object of the process (SharedRegistry): a current
// hive, the access rights for the next open, and at most one open key.
class RegistryAccess {
public:
    RootKey rootKey = RootKey::CurrentUser;
    std::uint32_t access = kKeyAllAccess;

    // Closes the current key and opens `path` (a leading "\" marks it as
    // absolute; every path is taken from the hive's root), creating missing keys when asked.
    bool openKey(const std::string& path, bool canCreate);
    // As openKey, with read access only (KEY_READ) and without creating anything.
    bool openKeyReadOnly(const std::string& path);
    void closeKey();
    bool hasKey() const { return key_ != nullptr; }
    // A string value of the open key; false when there is none.
    bool readString(const std::string& name, std::string& out);
    bool writeString(const std::string& name, const std::string& value);

private:
    std::unique_ptr<RegistryKey> key_;
};

RegistryAccess& SharedRegistry();

ResolvedReference ResolveRegistryReference(const std::string& reference, const std::string& projectName);

// Hive and key path of a plain read or write (ReadRegistryString, WriteRegistryString):
// unprefixed references live below the updater's own key.
ResolvedReference ResolveForReadWrite(const std::string& reference, const std::string& projectName);
// The value's text, or `defaultValue` when the key or value is missing or empty.
std::string ReadRegistryString(const std::string& reference, const std::string& valueName,
                               const std::string& defaultValue, const std::string& projectName);
// Writes a REG_SZ value, creating missing keys; failures are silent.
void WriteRegistryString(const std::string& reference, const std::string& valueName, const std::string& value,
                         const std::string& projectName);

// Key-first, value-second lookup of a key path; at most `capacity` characters.
bool ReadRegistryValue(RootKey hive, const std::string& keyPath, unsigned capacity, std::string& text);
// The placeholder lookup; at most 255 characters.
bool LookupRegistryReference(const std::string& reference, const std::string& projectName, std::string& text);
// Replaces "%%", "%+" and "%§" + reference + "%"; the text is at most 255 characters.
std::string ExpandPlaceholders(const std::string& text);

// The value-reference convention: a reference ending with "\" names the key's
// default value (value name empty, key reference without that backslash);
// otherwise the value name follows the last "\" or ":".
void SplitValueReference(const std::string& reference, std::string& keyReference, std::string& valueName);

// Full access (KEY_ALL_ACCESS) to HKEY_LOCAL_MACHINE\Software, without creating it.
bool HasAdminRights();
