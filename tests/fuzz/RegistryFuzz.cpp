// Fuzzes TRegistry with random operation sequences over random model
// registries. Each input fills both roots with keys and values of every
// type, may deny full access to some keys, fail writes of some names or
// grow a value between its size query and its read, and then drives one
// object through SelectRoot, OpenPath (absolute, relative, odd backslashes,
// with and without creation), ReadText, WriteText and ReleaseCurrent.
// Checked after every operation:
//  - the object holds at most one handle: the model counts exactly the
//    active key as open, and a key given up is closed once, by its handle;
//  - a failed open changes nothing; a successful one makes a new key active
//    with the path the key has below the root, and succeeds exactly when
//    the key exists (or may be created) and allows full access;
//  - reading and writing never change the object's state, reads return the
//    stored text (cut at its first NUL) or raise with the right message,
//    writes store the text with its NUL or raise with the right message;
//  - no value other than the ones written changes, and none appears;
//  - once the object is gone, no key handle is open.

#include "FuzzCheck.h"
#include "model/ModelControl.h"
#include "registry/ERegistryException.h"
#include "registry/MessageTemplates.h"
#include "registry/TRegistry.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using platform::HKEY;
using platform::HKEY_CURRENT_USER;
using platform::HKEY_LOCAL_MACHINE;

// Key and value names. None of them differ only in the case of a
// non-ASCII letter, so folding ASCII letters is enough to tell which names
// the registry takes as the same.
constexpr std::array<const char*, 10> kKeyNames = {"Software", "SOFTWARE",         "A", "b",   "RZN", "x y",
                                                   "Game.exe", "\xCA\xEB\xFE\xF7", "z", "Deep"};
constexpr std::array<const char*, 8> kValueNames = {"", "Path", "PATH", "File", "Guid", "v", "x y", "%s"};

std::string Fold(std::string text) {
    std::ranges::transform(text, text.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return text;
}

// Components joined by single backslashes, empty ones dropped: the key a
// subkey text names, as the registry reads it.
std::string Canonical(const std::string& path) {
    std::string result;
    std::string part;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (!part.empty()) {
                result += result.empty() ? "" : "\\";
                result += part;
            }
            part.clear();
        } else {
            part += path[i];
        }
    }
    return result;
}

std::string KeyPath(FuzzedDataProvider& in, int maxDepth) {
    std::string path;
    const int depth = in.ConsumeIntegralInRange<int>(1, maxDepth);
    for (int i = 0; i < depth; ++i) {
        if (i > 0) {
            path += '\\';
        }
        path += kKeyNames[in.ConsumeIntegralInRange<std::size_t>(0, kKeyNames.size() - 1)];
    }
    return path;
}

std::string ValueName(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange<int>(0, 9) == 0) {
        // Printable ASCII, apart from the names above.
        std::string name = in.ConsumeRandomLengthString(12);
        std::ranges::transform(name, name.begin(), [](char c) {
            return static_cast<char>(' ' + static_cast<unsigned char>(c) % 95);
        });
        return name;
    }
    return kValueNames[in.ConsumeIntegralInRange<std::size_t>(0, kValueNames.size() - 1)];
}

using ValueId = std::tuple<HKEY, std::string, std::string>; // root, folded key path, folded name
using KeyId = std::pair<HKEY, std::string>;                 // root, folded key path

// What the registry should hold: every value the set-up made or the object
// wrote, by key, and the keys whose values are all known.
struct Expected {
    std::map<ValueId, model::StoredValue> values;
    std::map<KeyId, std::string> keys; // folded path -> path as given
    std::set<ValueId> volatileValues;  // grown by the model on a read
    // Growths not yet applied, one per read: a write does not stop them.
    std::multiset<ValueId> pendingGrowth;
    std::set<KeyId> denied;
    std::set<std::string> failingNames; // folded
};

// Records every key on a path (made by a set-up call) as known.
void AddKeyChain(Expected& expected, HKEY root, const std::string& path) {
    for (std::size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
        const std::string key = path.substr(0, end);
        expected.keys.emplace(KeyId{root, Fold(key)}, key);
        if (end == std::string::npos) {
            break;
        }
    }
}

HKEY Root(FuzzedDataProvider& in) { return in.ConsumeBool() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

void Populate(FuzzedDataProvider& in, Expected& expected) {
    static constexpr std::array<platform::DWORD, 8> kTypes = {
        platform::REG_SZ,     platform::REG_SZ,       platform::REG_EXPAND_SZ, platform::REG_DWORD,
        platform::REG_BINARY, platform::REG_MULTI_SZ, platform::REG_NONE,      11};
    const int values = in.ConsumeIntegralInRange<int>(0, 16);
    for (int i = 0; i < values; ++i) {
        const HKEY root = Root(in);
        const std::string path = KeyPath(in, 4);
        const std::string name = ValueName(in);
        const platform::DWORD type = kTypes[in.ConsumeIntegralInRange<std::size_t>(0, kTypes.size() - 1)];
        const std::string bytes = in.ConsumeRandomLengthString(24);
        model::SetValue(root, path, name, type, bytes);
        AddKeyChain(expected, root, path);
        expected.values[{root, Fold(path), Fold(name)}] = {type, bytes};
    }
    const int specials = in.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < specials; ++i) {
        switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0: {
            const HKEY root = Root(in);
            const std::string path = KeyPath(in, 3);
            model::DenyFullAccess(root, path);
            expected.denied.insert({root, Fold(path)});
            AddKeyChain(expected, root, path);
            break;
        }
        case 1: {
            const std::string name = ValueName(in);
            model::FailSetValue(name);
            expected.failingNames.insert(Fold(name));
            break;
        }
        default: {
            if (expected.values.empty()) {
                break;
            }
            auto it = expected.values.begin();
            std::advance(it, in.ConsumeIntegralInRange<std::size_t>(0, expected.values.size() - 1));
            const auto& [root, foldedPath, foldedName] = it->first;
            // The model matches names without regard to case.
            model::GrowValueBeforeRead(root, expected.keys.at({root, foldedPath}), foldedName,
                                       in.ConsumeRandomLengthString(8) + "x");
            expected.volatileValues.insert(it->first);
            expected.pendingGrowth.insert(it->first);
            break;
        }
        }
    }
}

// Every known value is as expected, and every known key holds no others.
void CheckValues(const Expected& expected) {
    std::map<KeyId, std::size_t> counts;
    for (const auto& [id, value] : expected.values) {
        const auto& [root, foldedPath, foldedName] = id;
        ++counts[{root, foldedPath}];
        if (expected.volatileValues.count(id) != 0) {
            continue;
        }
        const auto stored = model::GetValue(root, expected.keys.at({root, foldedPath}), foldedName);
        FUZZ_CHECK(stored.has_value());
        FUZZ_CHECK(stored->type == value.type && stored->bytes == value.bytes);
    }
    for (const auto& [key, path] : expected.keys) {
        FUZZ_CHECK(model::KeyExists(key.first, path));
        FUZZ_CHECK(model::ValueNames(key.first, path).size() == counts[key]);
    }
}

std::string Message(const char* pattern, const std::string& name) {
    std::string text = pattern;
    return text.replace(text.find("%s"), 2, name);
}

bool IsPredefined(HKEY key) { return key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE; }

class Driver {
public:
    Driver(FuzzedDataProvider& in, Expected& expected) : in_(in), expected_(expected) {}

    void Run() {
        {
            TRegistry registry;
            FUZZ_CHECK(registry.RootHandle() == HKEY_CURRENT_USER);
            FUZZ_CHECK(registry.ActiveKey() == 0 && registry.ActivePath().empty());
            const int steps = in_.ConsumeIntegralInRange<int>(1, 40);
            for (int i = 0; i < steps && in_.remaining_bytes() > 0; ++i) {
                Step(registry);
                CheckHandles(registry);
            }
            CheckValues(expected_);
        }
        FUZZ_CHECK(model::OpenKeyHandles() == 0);
        CheckValues(expected_);
    }

private:
    struct State {
        HKEY root;
        HKEY key;
        std::string path;
        std::size_t calls;
    };

    static State Snapshot(const TRegistry& registry) {
        return {registry.RootHandle(), registry.ActiveKey(), registry.ActivePath(), model::Calls().size()};
    }

    static void CheckUnchanged(const TRegistry& registry, const State& before) {
        FUZZ_CHECK(registry.RootHandle() == before.root);
        FUZZ_CHECK(registry.ActiveKey() == before.key);
        FUZZ_CHECK(registry.ActivePath() == before.path);
    }

    // The registry closes made since the snapshot: exactly the given key.
    static void CheckClosed(const State& before, std::optional<HKEY> key) {
        std::vector<std::string> closes;
        const auto& calls = model::Calls();
        for (std::size_t i = before.calls; i < calls.size(); ++i) {
            if (calls[i].starts_with("RegCloseKey(")) {
                closes.push_back(calls[i]);
            }
        }
        if (key) {
            FUZZ_CHECK(closes.size() == 1 && closes[0] == "RegCloseKey(" + model::detail::Hex(*key) + ")");
        } else {
            FUZZ_CHECK(closes.empty());
        }
    }

    static void CheckHandles(const TRegistry& registry) {
        const HKEY key = registry.ActiveKey();
        FUZZ_CHECK(model::OpenKeyHandles() == (key != 0 && !IsPredefined(key) ? 1 : 0));
        if (key == 0) {
            FUZZ_CHECK(registry.ActivePath().empty());
        }
    }

    void Step(TRegistry& registry) {
        switch (in_.ConsumeIntegralInRange<int>(0, 9)) {
        case 0:
            SelectRoot(registry);
            break;
        case 1:
            ReleaseCurrent(registry);
            break;
        case 2:
        case 3:
        case 4:
            OpenPath(registry);
            break;
        case 5:
        case 6:
            ReadText(registry);
            break;
        default:
            WriteText(registry);
            break;
        }
    }

    void SelectRoot(TRegistry& registry) {
        const HKEY root = Root(in_);
        const State before = Snapshot(registry);
        registry.SelectRoot(root);
        if (root != before.root) {
            active_.reset();
        }
        if (root == before.root) {
            CheckUnchanged(registry, before);
            CheckClosed(before, std::nullopt);
            return;
        }
        FUZZ_CHECK(registry.RootHandle() == root);
        FUZZ_CHECK(registry.ActiveKey() == 0 && registry.ActivePath().empty());
        CheckClosed(before, before.key != 0 ? std::optional<HKEY>(before.key) : std::nullopt);
    }

    void ReleaseCurrent(TRegistry& registry) {
        const State before = Snapshot(registry);
        registry.ReleaseCurrent();
        active_.reset();
        FUZZ_CHECK(registry.RootHandle() == before.root);
        FUZZ_CHECK(registry.ActiveKey() == 0 && registry.ActivePath().empty());
        CheckClosed(before, before.key != 0 ? std::optional<HKEY>(before.key) : std::nullopt);
    }

    bool Denied(HKEY root, const std::string& path) const {
        return expected_.denied.count({root, Fold(path)}) != 0;
    }

    // Whether an open of `target` (a canonical path below the root) should
    // succeed: the key must exist unless it may be created, a key whose full
    // access is denied is never opened, and no key is created directly below
    // one.
    bool ShouldOpen(HKEY root, const std::string& target, bool creates) const {
        if (target.empty()) {
            return true; // the root itself
        }
        if (model::KeyExists(root, target)) {
            return !Denied(root, target);
        }
        if (!creates) {
            return false;
        }
        // The first missing key is made below its parent, which must allow it.
        std::string parent;
        for (std::size_t end = target.find('\\');; end = target.find('\\', end + 1)) {
            const std::string key = target.substr(0, end);
            if (!model::KeyExists(root, key)) {
                return parent.empty() || !Denied(root, parent);
            }
            parent = key;
        }
    }

    std::string OpenText() {
        switch (in_.ConsumeIntegralInRange<int>(0, 9)) {
        case 0:
            return "\\";
        case 1:
            return "";
        case 2: // a second leading backslash, or doubled and trailing ones
            return "\\\\" + KeyPath(in_, 2);
        case 3:
            return KeyPath(in_, 1) + "\\\\" + KeyPath(in_, 2) + (in_.ConsumeBool() ? "\\" : "");
        case 4:
            return in_.ConsumeRandomLengthString(16);
        default:
            return (in_.ConsumeBool() ? "\\" : "") + KeyPath(in_, 3);
        }
    }

    void OpenPath(TRegistry& registry) {
        const std::string path = OpenText();
        const bool mayCreate = in_.ConsumeBool();
        const State before = Snapshot(registry);
        const std::optional<KeyId> base = active_;
        const std::string dumpBefore = mayCreate ? std::string() : model::DumpRegistry();

        const bool opened = registry.OpenPath(path, mayCreate);

        // What goes to the platform, and the path the object records.
        const bool absolute = !path.empty() && path[0] == '\\';
        const std::string sent = absolute ? path.substr(1) : path;
        const bool fromActive = !absolute && before.key != 0;
        const std::string recorded = fromActive ? before.path + "\\" + sent : sent;

        // The platform reads the text up to its first NUL. A text that still
        // starts with a backslash is malformed; any other names a key below
        // the base, and the outcome is known.
        const std::string platformText = sent.substr(0, sent.find('\0'));
        if (!platformText.empty() && platformText[0] == '\\') {
            FUZZ_CHECK(!opened);
        } else if (!fromActive || base) {
            const std::string target = Canonical((fromActive ? base->second + "\\" : "") + platformText);
            FUZZ_CHECK(opened == ShouldOpen(before.root, target, mayCreate && !sent.empty()));
            if (opened) {
                active_ = KeyId{before.root, Fold(target)};
                if (!target.empty()) {
                    expected_.keys.emplace(*active_, target);
                }
            }
        } else if (opened) {
            active_.reset();
        }

        if (!opened) {
            CheckUnchanged(registry, before);
            CheckClosed(before, std::nullopt);
            if (!mayCreate) {
                FUZZ_CHECK(model::DumpRegistry() == dumpBefore);
            }
            return;
        }
        FUZZ_CHECK(registry.RootHandle() == before.root);
        // The recorded path names the same key; whether it keeps an empty
        // component (a relative open of "" or from the root itself) is the
        // object's own affair, as only later relative opens read it.
        FUZZ_CHECK(Canonical(registry.ActivePath()) == Canonical(recorded));
        FUZZ_CHECK(registry.ActiveKey() != 0);
        if (before.key != 0 && !IsPredefined(before.key)) {
            FUZZ_CHECK(registry.ActiveKey() != before.key);
        }
        CheckClosed(before, before.key != 0 ? std::optional<HKEY>(before.key) : std::nullopt);
    }

    void ReadText(TRegistry& registry) {
        const std::string name = ValueName(in_);
        const State before = Snapshot(registry);
        const std::optional<KeyId> key = active_;

        std::optional<std::string> text;
        std::string message;
        try {
            text = registry.ReadText(name);
        } catch (const ERegistryException& error) {
            message = error.Message();
        }
        CheckUnchanged(registry, before);
        CheckClosed(before, std::nullopt);

        if (before.key == 0) {
            FUZZ_CHECK(text.has_value() && text->empty());
            return;
        }
        if (!text) {
            FUZZ_CHECK(message == Message(TEXT_REG_INVALID_TYPE, name) ||
                       message == Message(TEXT_REG_GET_FAILED, name));
        }
        if (!key) {
            return;
        }
        const ValueId id{key->first, key->second, Fold(name)};
        if (const auto growth = expected_.pendingGrowth.find(id); growth != expected_.pendingGrowth.end()) {
            expected_.pendingGrowth.erase(growth); // the size query has applied it
        }
        if (expected_.volatileValues.count(id) != 0) {
            return;
        }
        const auto found = expected_.values.find(id);
        if (found == expected_.values.end() || found->second.bytes.empty()) {
            FUZZ_CHECK(text.has_value() && text->empty());
            return;
        }
        const model::StoredValue& value = found->second;
        if (value.type == platform::REG_SZ || value.type == platform::REG_EXPAND_SZ) {
            FUZZ_CHECK(text.has_value() && *text == value.bytes.substr(0, value.bytes.find('\0')));
        } else {
            FUZZ_CHECK(!text && message == Message(TEXT_REG_INVALID_TYPE, name));
        }
    }

    void WriteText(TRegistry& registry) {
        const std::string name = ValueName(in_);
        std::string text = in_.ConsumeRandomLengthString(20);
        const State before = Snapshot(registry);
        const std::optional<KeyId> key = active_;

        bool raised = false;
        try {
            registry.WriteText(name, text);
        } catch (const ERegistryException& error) {
            raised = true;
            FUZZ_CHECK(error.Message() == Message(TEXT_REG_SET_FAILED, name));
        }
        CheckUnchanged(registry, before);
        CheckClosed(before, std::nullopt);

        if (before.key == 0 || expected_.failingNames.count(Fold(name)) != 0) {
            FUZZ_CHECK(raised);
            return;
        }
        FUZZ_CHECK(!raised);
        if (!key) {
            return;
        }
        const ValueId id{key->first, key->second, Fold(name)};
        expected_.values[id] = {platform::REG_SZ, text + '\0'};
        if (expected_.pendingGrowth.count(id) == 0) {
            expected_.volatileValues.erase(id);
        }
        if (key->second.empty()) {
            expected_.keys.emplace(*key, ""); // the root itself
        }
    }

    FuzzedDataProvider& in_;
    Expected& expected_;
    // The key the object has open, as this driver followed it.
    std::optional<KeyId> active_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    model::Reset();
    Expected expected;
    Populate(in, expected);
    CheckValues(expected);
    Driver(in, expected).Run();
    return 0;
}
