#include "platform/MemoryRegistry.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kErrBadPathname = 161;

thread_local std::uint32_t t_lastError = 0;

bool Fail(std::uint32_t code) {
    t_lastError = code;
    return false;
}

// Letter case folding of code page 1252 for key and value names.
unsigned char Fold(unsigned char c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0x9A || c == 0x9C || c == 0x9E) return c - 0x10;
    if (c == 0xFF) return 0x9F;
    return c;
}

std::string Folded(const std::string& name) {
    std::string out = name;
    for (char& c : out) c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
    return out;
}

// The elements of a key path; empty elements (doubled or trailing backslashes) drop out, as on Windows.
std::vector<std::string> ElementsOf(const std::string& path) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = std::min(path.find('\\', pos), path.size());
        if (end > pos) out.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

std::size_t IndexOf(RootKey hive) { return static_cast<std::size_t>(hive); }

}  // namespace

struct MemoryRegistry::Node {
    std::string name;
    std::map<std::string, std::shared_ptr<Node>> children;  // by folded name
    std::vector<RegValue> values;

    RegValue* value(const std::string& wanted) {
        std::string key = Folded(wanted);
        for (RegValue& v : values)
            if (Folded(v.name) == key) return &v;
        return nullptr;
    }
};

namespace {

class MemoryKey final : public RegistryKey {
public:
    MemoryKey(std::shared_ptr<MemoryRegistry::Node> node, std::uint32_t access)
        : node_(std::move(node)), access_(access) {}

    bool queryString(const std::string& name, unsigned capacity, std::string& out) override {
        if ((access_ & kKeyQueryValue) == 0) return Fail(kRegErrAccessDenied);
        const RegValue* v = node_->value(name);
        if (v == nullptr) return Fail(kRegErrFileNotFound);
        if (v->type != kRegSz && v->type != kRegExpandSz) return Fail(kRegErrInvalidData);
        // Windows needs room for a terminating NUL that the stored data may lack.
        bool terminated = !v->data.empty() && v->data.back() == '\0';
        std::size_t needed = v->data.size() + (terminated ? 0 : 1);
        if (capacity != 0 && needed > capacity) return Fail(kRegErrMoreData);
        out = v->data.substr(0, v->data.find('\0'));
        return true;
    }

    bool setString(const std::string& name, const std::string& value) override {
        if ((access_ & kKeySetValue) == 0) return Fail(kRegErrAccessDenied);
        std::string data = value + '\0';
        if (RegValue* v = node_->value(name)) {
            v->type = kRegSz;
            v->data = data;
        } else {
            node_->values.push_back(RegValue{name, kRegSz, data});
        }
        return true;
    }

    bool queryRaw(const std::string& name, std::uint32_t& type, std::string& data) override {
        const RegValue* v = node_->value(name);
        if (v == nullptr) return Fail(kRegErrFileNotFound);
        type = v->type;
        data = v->data;
        return true;
    }

    bool setRaw(const std::string& name, std::uint32_t type, const std::string& data) override {
        if ((access_ & kKeySetValue) == 0) return Fail(kRegErrAccessDenied);
        if (!setString(name, "")) return false;
        RegValue* v = node_->value(name);
        v->type = type;
        v->data = data;
        return true;
    }

    bool removeValue(const std::string& name) override {
        if ((access_ & kKeySetValue) == 0) return Fail(kRegErrAccessDenied);
        auto& values = node_->values;
        for (auto it = values.begin(); it != values.end(); ++it)
            if (&*it == node_->value(name)) return values.erase(it), true;
        return true;
    }

private:
    std::shared_ptr<MemoryRegistry::Node> node_;
    std::uint32_t access_;
};

}  // namespace

MemoryRegistry::MemoryRegistry() { clear(); }
MemoryRegistry::~MemoryRegistry() = default;

void MemoryRegistry::clear() {
    for (auto& root : roots_) root = std::make_shared<Node>();
}

void MemoryRegistry::setReadOnly(RootKey hive, bool readOnly) { readOnly_[IndexOf(hive)] = readOnly; }

bool MemoryRegistry::writeRefused(RootKey hive, std::uint32_t access) const {
    return readOnly_[IndexOf(hive)] && (access & ~std::uint32_t(kKeyRead)) != 0;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::find(RootKey hive, const std::string& path) const {
    std::shared_ptr<Node> node = roots_[IndexOf(hive)];
    for (const std::string& element : ElementsOf(path)) {
        auto it = node->children.find(Folded(element));
        if (it == node->children.end()) return nullptr;
        node = it->second;
    }
    return node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::create(RootKey hive, const std::string& path) {
    std::shared_ptr<Node> node = roots_[IndexOf(hive)];
    for (const std::string& element : ElementsOf(path)) {
        std::shared_ptr<Node>& child = node->children[Folded(element)];
        if (!child) {
            child = std::make_shared<Node>();
            child->name = element;
        }
        node = child;
    }
    return node;
}

std::unique_ptr<RegistryKey> MemoryRegistry::openKey(RootKey hive, const std::string& path, std::uint32_t access) {
    if (!path.empty() && path[0] == '\\') return Fail(kErrBadPathname), nullptr;
    std::shared_ptr<Node> node = find(hive, path);
    if (!node) return Fail(kRegErrFileNotFound), nullptr;
    if (writeRefused(hive, access)) return Fail(kRegErrAccessDenied), nullptr;
    return std::make_unique<MemoryKey>(std::move(node), access);
}

std::unique_ptr<RegistryKey> MemoryRegistry::createKey(RootKey hive, const std::string& path,
                                                       std::uint32_t access) {
    if (!path.empty() && path[0] == '\\') return Fail(kErrBadPathname), nullptr;
    if (writeRefused(hive, access | kKeyCreateSubKey)) return Fail(kRegErrAccessDenied), nullptr;
    return std::make_unique<MemoryKey>(create(hive, path), access);
}

bool MemoryRegistry::queryDefaultValue(RootKey hive, const std::string& path, unsigned capacity,
                                       std::string& out) {
    std::unique_ptr<RegistryKey> key = openKey(hive, path, kKeyQueryValue);
    if (!key) return false;
    std::shared_ptr<Node> node = find(hive, path);
    if (node->value("") == nullptr) {
        out.clear();
        return true;
    }
    return key->queryString("", capacity, out);
}

std::uint32_t MemoryRegistry::lastError() { return t_lastError; }

void MemoryRegistry::setValue(RootKey hive, const std::string& path, const std::string& name, std::uint32_t type,
                              const std::string& data) {
    std::shared_ptr<Node> node = create(hive, path);
    if (RegValue* v = node->value(name)) {
        v->type = type;
        v->data = data;
        return;
    }
    node->values.push_back(RegValue{name, type, data});
}

void MemoryRegistry::createPath(RootKey hive, const std::string& path) { create(hive, path); }

namespace {

void Walk(const MemoryRegistry::Node& node, const std::string& path, std::vector<MemoryRegistry::KeyView>& out) {
    out.push_back(MemoryRegistry::KeyView{path, node.values});
    for (const auto& [folded, child] : node.children)
        Walk(*child, path.empty() ? child->name : path + "\\" + child->name, out);
}

}  // namespace

bool MemoryRegistry::walk(RootKey hive, const std::string& path, std::vector<KeyView>& out) const {
    std::shared_ptr<Node> node = find(hive, path);
    if (!node) return false;
    std::string spelled;
    std::shared_ptr<Node> at = roots_[IndexOf(hive)];
    for (const std::string& element : ElementsOf(path)) {
        at = at->children.at(Folded(element));
        spelled += (spelled.empty() ? "" : "\\") + at->name;
    }
    Walk(*node, spelled, out);
    return true;
}
