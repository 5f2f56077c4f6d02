// Model of the Windows registry: a tree of keys under the two predefined
// roots, handles with the access they were opened for, and values kept as
// the exact bytes they were set with. It answers the five registry calls the
// way Windows (and Wine) do, including their failure statuses and what they
// leave in the out-parameters.

#include "model/FilePaths.h"
#include "model/ModelControl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace model {
namespace {

using detail::Hex;
using detail::Log;
using detail::Quote;

// Statuses and rights that only the model needs.
constexpr LSTATUS kErrorNoAccess = 998; // ERROR_NOACCESS: a bad data pointer
constexpr REGSAM kKeySetValue = 0x0002;

// Registry names match without regard to case, Cyrillic letters included,
// by the same folding that file names use.
std::string Fold(std::string_view text) {
    std::string folded(text);
    std::ranges::transform(folded, folded.begin(), [](char c) {
        return static_cast<char>(paths::FoldCase(static_cast<unsigned char>(c)));
    });
    return folded;
}

bool SameName(std::string_view a, std::string_view b) { return Fold(a) == Fold(b); }

// Names folded and joined by backslashes: a key's path below its root as the
// model keeps it for matching.
template <typename Names>
std::string JoinFolded(const Names& names) {
    std::string path;
    bool first = true;
    for (const auto& name : names) {
        if (!first) {
            path += '\\';
        }
        path += Fold(name);
        first = false;
    }
    return path;
}

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string bytes;
};

struct Key {
    std::string name; // as first created
    Key* parent = nullptr;
    HKEY root = 0;
    std::vector<std::unique_ptr<Key>> children;
    std::vector<Value> values; // in the order first set
    bool fullAccessDenied = false;

    Key* Child(std::string_view childName) const {
        const auto found = std::ranges::find_if(
            children, [&](const std::unique_ptr<Key>& child) { return SameName(child->name, childName); });
        return found != children.end() ? found->get() : nullptr;
    }

    Key* AddChild(std::string childName) {
        auto child = std::make_unique<Key>();
        child->name = std::move(childName);
        child->parent = this;
        child->root = root;
        children.push_back(std::move(child));
        return children.back().get();
    }

    Value* FindValue(std::string_view valueName) {
        const auto found =
            std::ranges::find_if(values, [&](const Value& value) { return SameName(value.name, valueName); });
        return found != values.end() ? &*found : nullptr;
    }

    // Folded path below the root, the way a test control names the key.
    std::string FoldedPath() const {
        std::vector<std::string_view> names;
        for (const Key* key = this; key->parent != nullptr; key = key->parent) {
            names.push_back(key->name);
        }
        std::ranges::reverse(names);
        return JoinFolded(names);
    }
};

// cppcheck reports two members below as never used: they are read through
// std::optional and through a vector iterator, which it does not follow.
struct OpenHandle {
    // cppcheck-suppress unusedStructMember
    Key* key;
    REGSAM access;
};

struct PendingGrowth {
    HKEY root;
    std::string foldedPath;
    std::string foldedName;
    // cppcheck-suppress unusedStructMember
    std::string extra;
};

struct RegistryState {
    RegistryState() {
        currentUser.root = HKEY_CURRENT_USER;
        currentUser.name = "HKEY_CURRENT_USER";
        localMachine.root = HKEY_LOCAL_MACHINE;
        localMachine.name = "HKEY_LOCAL_MACHINE";
    }

    Key currentUser;
    Key localMachine;
    std::map<HKEY, OpenHandle> handles;
    // Handles are never reused within one model run, so a closed handle
    // stays invalid for the rest of the test.
    HKEY nextHandle = 0x1000;
    std::vector<std::string> failingSetNames; // folded
    std::vector<PendingGrowth> growth;
};

RegistryState& State() {
    static RegistryState state;
    return state;
}

Key* RootKey(HKEY root) {
    if (root == HKEY_CURRENT_USER) {
        return &State().currentUser;
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return &State().localMachine;
    }
    return nullptr;
}

bool IsPredefined(HKEY key) { return key >= 0x80000000u; }

// The key a handle stands for and the rights it carries, or nothing for a
// handle that is not open.
std::optional<OpenHandle> Resolve(HKEY handle) {
    if (Key* root = RootKey(handle)) {
        return OpenHandle{root, KEY_ALL_ACCESS};
    }
    const auto found = State().handles.find(handle);
    if (found == State().handles.end()) {
        return std::nullopt;
    }
    return found->second;
}

// Only specific key rights are modelled; the program and its tests ask for
// nothing else (no generic or maximum-allowed rights).
bool AsksMoreThanRead(REGSAM requested) { return (requested & KEY_ALL_ACCESS & ~KEY_READ) != 0; }

HKEY NewHandle(Key* key, REGSAM requested) {
    const HKEY handle = State().nextHandle;
    State().nextHandle += 4;
    State().handles[handle] = OpenHandle{key, requested & KEY_ALL_ACCESS};
    return handle;
}

// Components of a subkey text given to a registry call. Empty components (a
// trailing or doubled backslash) are skipped, as Windows does; a leading
// backslash has been rejected before.
std::vector<std::string> SplitSubKey(const char* subKey) {
    std::vector<std::string> parts;
    if (subKey == nullptr) {
        return parts;
    }
    std::string part;
    for (const char* c = subKey; *c != '\0'; ++c) {
        if (*c == '\\') {
            if (!part.empty()) {
                parts.push_back(std::move(part));
                part.clear();
            }
        } else {
            part += *c;
        }
    }
    if (!part.empty()) {
        parts.push_back(std::move(part));
    }
    return parts;
}

bool HasLeadingBackslash(const char* subKey) { return subKey != nullptr && subKey[0] == '\\'; }

// The checks an open and a create share once their arguments are in place:
// the handle must be open and the subkey must not start with a backslash.
// Sets the key to start from, or clears the out handle and gives the status.
LSTATUS StartFromHandle(HKEY handle, const char* subKey, HKEY* result, Key*& base) {
    const auto resolved = Resolve(handle);
    if (!resolved) {
        *result = 0;
        return ERROR_INVALID_HANDLE;
    }
    if (HasLeadingBackslash(subKey)) {
        *result = 0;
        return ERROR_BAD_PATHNAME;
    }
    base = resolved->key;
    return ERROR_SUCCESS;
}

// Components of a path given to a test control; a malformed one is a
// mistake in the test, not a case to model.
std::vector<std::string> SplitControlPath(const std::string& path) {
    std::vector<std::string> parts;
    if (path.empty()) {
        return parts;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty()) {
            throw std::invalid_argument("model registry path with an empty component: \"" + path + "\"");
        }
        parts.push_back(std::move(part));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

Key* ControlRoot(HKEY root) {
    Key* key = RootKey(root);
    if (key == nullptr) {
        throw std::invalid_argument("model registry root must be HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
    }
    return key;
}

Key* FindControlKey(HKEY root, const std::string& path) {
    Key* key = ControlRoot(root);
    for (const auto& part : SplitControlPath(path)) {
        key = key->Child(part);
        if (key == nullptr) {
            return nullptr;
        }
    }
    return key;
}

Key* MakeControlKey(HKEY root, const std::string& path) {
    Key* key = ControlRoot(root);
    for (auto& part : SplitControlPath(path)) {
        Key* child = key->Child(part);
        key = child != nullptr ? child : key->AddChild(std::move(part));
    }
    return key;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

void ApplyGrowth(const Key& key, Value& value) {
    auto& growth = State().growth;
    const auto match = std::ranges::find_if(growth, [&](const PendingGrowth& pending) {
        return pending.root == key.root && pending.foldedPath == key.FoldedPath() &&
               pending.foldedName == Fold(value.name);
    });
    if (match == growth.end()) {
        return;
    }
    value.bytes += match->extra;
    growth.erase(match);
}

std::string HexBytes(const std::string& bytes) {
    std::string text;
    char buffer[4];
    for (const char c : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
        if (!text.empty()) {
            text += ' ';
        }
        text += buffer;
    }
    return text;
}

// Pointers to the items in the order of their folded names, so that a dump
// does not depend on the order in which keys and values were made.
template <typename Item, typename Items, typename ToPointer>
std::vector<const Item*> SortedByName(const Items& items, ToPointer toPointer) {
    std::vector<const Item*> sorted;
    sorted.reserve(items.size());
    std::ranges::transform(items, std::back_inserter(sorted), toPointer);
    std::ranges::sort(sorted, [](const Item* a, const Item* b) { return Fold(a->name) < Fold(b->name); });
    return sorted;
}

void DumpKey(const Key& key, const std::string& path, std::string& out) {
    out += path;
    out += '\n';
    for (const Value* value : SortedByName<Value>(key.values, [](const Value& item) { return &item; })) {
        out += "  \"" + value->name + "\" type " + std::to_string(value->type) + ": " +
               HexBytes(value->bytes) + '\n';
    }
    for (const Key* child :
         SortedByName<Key>(key.children, [](const std::unique_ptr<Key>& item) { return item.get(); })) {
        DumpKey(*child, path + "\\" + child->name, out);
    }
}

} // namespace

void CreateKey(HKEY root, const std::string& path) { MakeControlKey(root, path); }

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::string& bytes) {
    Key* key = MakeControlKey(root, path);
    if (Value* value = key->FindValue(name)) {
        value->type = type;
        value->bytes = bytes;
    } else {
        key->values.push_back(Value{name, type, bytes});
    }
}

std::optional<StoredValue> GetValue(HKEY root, const std::string& path, const std::string& name) {
    Key* key = FindControlKey(root, path);
    if (key == nullptr) {
        return std::nullopt;
    }
    const Value* value = key->FindValue(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return StoredValue{value->type, value->bytes};
}

bool KeyExists(HKEY root, const std::string& path) { return FindControlKey(root, path) != nullptr; }

std::vector<std::string> ValueNames(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    if (const Key* key = FindControlKey(root, path)) {
        std::ranges::transform(key->values, std::back_inserter(names), &Value::name);
    }
    return names;
}

void DenyFullAccess(HKEY root, const std::string& path) {
    MakeControlKey(root, path)->fullAccessDenied = true;
}

void FailSetValue(const std::string& valueName) { State().failingSetNames.push_back(Fold(valueName)); }

void GrowValueBeforeRead(HKEY root, const std::string& path, const std::string& name,
                         const std::string& extraBytes) {
    ControlRoot(root);
    State().growth.push_back(PendingGrowth{root, JoinFolded(SplitControlPath(path)), Fold(name), extraBytes});
}

int OpenKeyHandles() { return static_cast<int>(State().handles.size()); }

std::string DumpRegistry() {
    std::string out;
    DumpKey(State().currentUser, State().currentUser.name, out);
    DumpKey(State().localMachine, State().localMachine.name, out);
    return out;
}

namespace detail {
void ResetRegistry() { State() = RegistryState{}; }
} // namespace detail
} // namespace model

namespace platform {

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result) {
    model::Log("RegOpenKeyExA",
               {model::Hex(key), model::Quote(subKey), model::Hex(options), model::Hex(samDesired)});
    if (key == 0) {
        return ERROR_INVALID_HANDLE; // rejected before the out handle is touched
    }
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    model::Key* target = nullptr;
    if (const LSTATUS status = model::StartFromHandle(key, subKey, result, target); status != ERROR_SUCCESS) {
        return status;
    }
    const auto parts = model::SplitSubKey(subKey);
    if (parts.empty() && model::RootKey(key) != nullptr) {
        // Opening a predefined root itself hands back the root's own handle.
        *result = key;
        return ERROR_SUCCESS;
    }
    for (const auto& part : parts) {
        target = target->Child(part);
        if (target == nullptr) {
            *result = 0;
            return ERROR_FILE_NOT_FOUND;
        }
    }
    if (target->fullAccessDenied && model::AsksMoreThanRead(samDesired)) {
        *result = 0;
        return ERROR_ACCESS_DENIED;
    }
    *result = model::NewHandle(target, samDesired);
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                        REGSAM samDesired, const void* securityAttributes, HKEY* result, DWORD* disposition) {
    model::Log("RegCreateKeyExA", {model::Hex(key), model::Quote(subKey), model::Hex(reserved),
                                   model::Quote(keyClass), model::Hex(options), model::Hex(samDesired),
                                   securityAttributes != nullptr ? "attributes" : "null"});
    if (key == 0) {
        return ERROR_INVALID_HANDLE;
    }
    if (reserved != 0 || result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    model::Key* target = nullptr;
    if (const LSTATUS status = model::StartFromHandle(key, subKey, result, target); status != ERROR_SUCCESS) {
        return status;
    }
    // Only keys below the first missing one are made, and those are all new,
    // so a refusal can only come before anything has been created.
    bool created = false;
    for (auto& part : model::SplitSubKey(subKey)) {
        model::Key* child = target->Child(part);
        if (child == nullptr) {
            if (target->fullAccessDenied) {
                *result = 0;
                return ERROR_ACCESS_DENIED;
            }
            child = target->AddChild(std::move(part));
            created = true;
        }
        target = child;
    }
    if (!created && target->fullAccessDenied && model::AsksMoreThanRead(samDesired)) {
        *result = 0;
        return ERROR_ACCESS_DENIED;
    }
    // Unlike an open, a create always makes a new handle, also for a root.
    *result = model::NewHandle(target, samDesired);
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

// Windows declares the reserved word as a pointer to a writable DWORD; the
// call only checks that it is null, and the boundary keeps the Windows shape.
// cppcheck-suppress constParameter
// NOLINTNEXTLINE(readability-non-const-parameter)
LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
    model::Log("RegQueryValueExA",
               {model::Hex(key), model::Quote(valueName), reserved != nullptr ? "reserved" : "null",
                data != nullptr ? "buffer" : "null", dataSize != nullptr ? model::Hex(*dataSize) : "null"});
    if (key == 0) {
        return ERROR_INVALID_HANDLE;
    }
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    // A missing value (or a key that is not open) leaves no type and, for a
    // size query, a count of zero.
    const auto notFound = [&](LSTATUS status) {
        if (type != nullptr) {
            *type = REG_NONE;
        }
        if (data == nullptr && dataSize != nullptr) {
            *dataSize = 0;
        }
        return status;
    };
    const auto handle = model::Resolve(key);
    if (!handle) {
        return notFound(ERROR_INVALID_HANDLE);
    }
    if ((handle->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    model::Value* value = handle->key->FindValue(valueName != nullptr ? valueName : "");
    if (value == nullptr) {
        return notFound(ERROR_FILE_NOT_FOUND);
    }
    const auto size = static_cast<DWORD>(value->bytes.size());
    if (type != nullptr) {
        *type = value->type;
    }
    if (data == nullptr) {
        if (dataSize != nullptr) {
            *dataSize = size;
            model::ApplyGrowth(*handle->key, *value);
        }
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        // The buffer is left alone; the count says what would be needed.
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value->bytes.data(), size);
    if (model::IsStringType(value->type) && *dataSize > size) {
        data[size] = 0; // text gets a terminator where the buffer has room for one
    }
    *dataSize = size;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    model::Log("RegSetValueExA", {model::Hex(key), model::Quote(valueName), model::Hex(reserved),
                                  model::Hex(type), data != nullptr ? "data" : "null", model::Hex(dataSize)});
    if (key == 0) {
        return ERROR_INVALID_HANDLE;
    }
    const auto handle = model::Resolve(key);
    if (!handle) {
        return ERROR_INVALID_HANDLE;
    }
    if ((handle->access & model::kKeySetValue) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (data == nullptr && dataSize != 0) {
        return model::kErrorNoAccess;
    }
    const std::string name = valueName != nullptr ? valueName : "";
    const auto& failing = model::State().failingSetNames;
    if (std::ranges::find(failing, model::Fold(name)) != failing.end()) {
        return ERROR_WRITE_FAULT;
    }
    std::string bytes;
    if (dataSize != 0) {
        const auto* chars = reinterpret_cast<const char*>(data);
        // A text whose count leaves out the NUL that follows it in memory
        // gets that NUL stored too, as Windows does for the ANSI call.
        const bool text = type == REG_SZ || type == REG_EXPAND_SZ;
        if (text && chars[dataSize - 1] != '\0' && chars[dataSize] == '\0') {
            ++dataSize;
        }
        bytes.assign(chars, dataSize);
    }
    if (model::Value* value = handle->key->FindValue(name)) {
        value->type = type;
        value->bytes = std::move(bytes);
    } else {
        handle->key->values.push_back(model::Value{name, type, std::move(bytes)});
    }
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    model::Log("RegCloseKey", {model::Hex(key)});
    if (key == 0) {
        return ERROR_INVALID_HANDLE;
    }
    if (model::IsPredefined(key)) {
        return ERROR_SUCCESS; // a predefined root is never really closed
    }
    return model::State().handles.erase(key) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // namespace platform
