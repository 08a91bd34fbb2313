// An in-memory registry with the Windows rules the updater relies on: key and
// value names without regard to letter case, typed values, access rights per
// open key, and string reads that refuse other types or values that do not fit.
// The native build uses one as its registry; tests fill it from REGEDIT4 text
// (RegText.h) and compare it with such text afterwards.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Registry.h"

struct RegValue {
    std::string name;  // "" for the default value
    std::uint32_t type = kRegSz;
    std::string data;  // the bytes as stored; strings carry their terminating NUL
};

class MemoryRegistry final : public RegistryService {
public:
    struct Node;

    MemoryRegistry();
    ~MemoryRegistry();

    std::unique_ptr<RegistryKey> openKey(RootKey hive, const std::string& path, std::uint32_t access) override;
    std::unique_ptr<RegistryKey> createKey(RootKey hive, const std::string& path, std::uint32_t access) override;
    bool queryDefaultValue(RootKey hive, const std::string& path, unsigned capacity, std::string& out) override;
    std::uint32_t lastError() override;

    // Writes a value of any type, creating the key path; for fixtures, ignores the read-only flag.
    void setValue(RootKey hive, const std::string& path, const std::string& name, std::uint32_t type,
                  const std::string& data);
    // Creates the key path; for fixtures, ignores the read-only flag.
    void createPath(RootKey hive, const std::string& path);
    // While set, every open with write rights and every creation in the hive
    // fails with "access denied", as for a user without administrator rights.
    void setReadOnly(RootKey hive, bool readOnly);
    // Removes every key and value.
    void clear();

    // One key as the export sees it: its path below the hive's root and its values in order.
    struct KeyView {
        std::string path;
        std::vector<RegValue> values;
    };
    // The key at `path` and every key below it, depth first, sub-keys sorted
    // by name without regard to case. False when the key does not exist.
    bool walk(RootKey hive, const std::string& path, std::vector<KeyView>& out) const;

private:
    std::shared_ptr<Node> find(RootKey hive, const std::string& path) const;
    std::shared_ptr<Node> create(RootKey hive, const std::string& path);
    bool writeRefused(RootKey hive, std::uint32_t access) const;

    std::shared_ptr<Node> roots_[3];
    bool readOnly_[3] = {false, false, false};
};
