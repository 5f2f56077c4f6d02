#include "registry/TRegistry.h"

#include "registry/MessageTemplates.h"
#include "registry/RegistryErrors.h"

#include <utility>

using namespace platform;

std::optional<AnsiString> TextFromValueData(AnsiString data, TValueKind kind) {
    if (kind != vkText && kind != vkExpandText) {
        return std::nullopt;
    }
    const auto end = data.find('\0');
    if (end != AnsiString::npos) {
        data.resize(end);
    }
    return data;
}

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() { ReleaseCurrent(); }

void TRegistry::SelectRoot(HKEY root) {
    if (root == rootHandle) {
        return;
    }
    rootHandle = root;
    ReleaseCurrent();
}

bool TRegistry::HasRootMark(const AnsiString& path) noexcept { return !path.empty() && path.front() == '\\'; }

HKEY TRegistry::BaseFor(bool relative) const noexcept {
    return relative && activeKey.IsOpen() ? activeKey.Get() : rootHandle;
}

bool TRegistry::OpenPath(const AnsiString& path, bool mayCreate) {
    const bool relative = !HasRootMark(path);
    // Only the one backslash that marks the root is dropped; a second one is
    // part of the path and left for the registry to judge.
    AnsiString subKey = relative ? path : path.substr(1);
    const HKEY base = BaseFor(relative);

    HKEY opened = 0;
    DWORD disposition = 0;
    // An empty path opens the base key itself; creating could add nothing.
    const LSTATUS status = !mayCreate || subKey.empty()
                               ? RegOpenKeyExA(base, subKey.c_str(), 0, accessMask, &opened)
                               : RegCreateKeyExA(base, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 accessMask, nullptr, &opened, &disposition);
    if (!Succeeded(status)) {
        // Whatever the call left in its out handle is not ours to close.
        return false;
    }
    TUniqueKey key(opened);
    if (relative && activeKey.IsOpen()) {
        // The path grows by one separator between two non-empty parts, so it
        // never starts or ends with one (the active key may be the root
        // itself, whose path is empty, and "" opens the active key again).
        if (activePath.empty() || subKey.empty()) {
            subKey = activePath + subKey;
        } else {
            subKey = activePath + "\\" + subKey;
        }
    }
    SwitchCurrent(std::move(key), std::move(subKey));
    return true;
}

void TRegistry::SwitchCurrent(TUniqueKey key, AnsiString path) noexcept {
    ReleaseCurrent();
    activeKey = std::move(key);
    activePath = std::move(path);
}

void TRegistry::ReleaseCurrent() {
    if (!activeKey.IsOpen()) {
        return;
    }
    activeKey.Reset();
    activePath.clear();
}

bool TRegistry::QueryValueInfo(const AnsiString& name, TValueInfo& info) const {
    info = TValueInfo{};
    DWORD regType = REG_NONE;
    DWORD size = 0;
    if (!Succeeded(RegQueryValueExA(activeKey.Get(), name.c_str(), nullptr, &regType, nullptr, &size))) {
        return false;
    }
    info.kind = KindFromRegType(regType);
    info.size = static_cast<std::int32_t>(size);
    return true;
}

std::int32_t TRegistry::ValueSize(const AnsiString& name) const {
    TValueInfo info{};
    return QueryValueInfo(name, info) ? info.size : -1;
}

TValueKind TRegistry::FetchValue(const AnsiString& name, char* buffer, std::int32_t size,
                                 std::int32_t& count) const {
    DWORD regType = REG_NONE;
    auto byteCount = static_cast<DWORD>(size);
    RaiseOnFailure(RegQueryValueExA(activeKey.Get(), name.c_str(), nullptr, &regType,
                                    reinterpret_cast<BYTE*>(buffer), &byteCount),
                   IDS_REG_GET_FAILED, name);
    count = static_cast<std::int32_t>(byteCount);
    return KindFromRegType(regType);
}

AnsiString TRegistry::ReadText(const AnsiString& name) {
    const std::int32_t size = ValueSize(name);
    if (size <= 0) {
        return {};
    }
    // Zero-filled, so that data shorter than the size first reported (text
    // stored without its NUL, a value that shrank meanwhile) still ends in a
    // NUL rather than in leftover bytes.
    AnsiString data(static_cast<std::size_t>(size), '\0');
    std::int32_t count = 0;
    const TValueKind kind = FetchValue(name, data.data(), size, count);
    auto text = TextFromValueData(std::move(data), kind);
    if (!text) {
        RaiseRegistryError(IDS_REG_INVALID_TYPE, name);
    }
    return std::move(*text);
}

void TRegistry::StoreValue(const AnsiString& name, const char* buffer, std::int32_t count,
                           TValueKind kind) const {
    RaiseOnFailure(RegSetValueExA(activeKey.Get(), name.c_str(), 0, RegTypeFromKind(kind),
                                  reinterpret_cast<const BYTE*>(buffer), static_cast<DWORD>(count)),
                   IDS_REG_SET_FAILED, name);
}

void TRegistry::WriteText(const AnsiString& name, const AnsiString& text) {
    // The byte count takes in the NUL that follows the characters.
    StoreValue(name, text.c_str(), static_cast<std::int32_t>(text.size() + 1), vkText);
}
