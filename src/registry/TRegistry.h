#pragma once

#include "core/AnsiString.h"
#include "core/TObject.h"
#include "platform/Platform.h"
#include "registry/ERegistryException.h"
#include "registry/TUniqueKey.h"

#include <cstdint>
#include <optional>

// The registry layer's own classification of value data. The ordinals of
// vkInteger and vkBytes deliberately do not follow the registry's type
// numbers (REG_DWORD is 4, REG_BINARY is 3).
enum TValueKind : std::uint8_t {
    vkOther = 0,
    vkText = 1,
    vkExpandText = 2,
    vkInteger = 3,
    vkBytes = 4,
};

// What a value query made without a buffer tells: the kind of the data and
// its size in bytes.
struct TValueInfo {
    TValueKind kind;
    std::int32_t size;
};

[[nodiscard]] constexpr TValueKind KindFromRegType(platform::DWORD regType) noexcept {
    switch (regType) {
    case platform::REG_SZ:
        return vkText;
    case platform::REG_EXPAND_SZ:
        return vkExpandText;
    case platform::REG_DWORD:
        return vkInteger;
    case platform::REG_BINARY:
        return vkBytes;
    default:
        return vkOther;
    }
}

[[nodiscard]] constexpr platform::DWORD RegTypeFromKind(TValueKind kind) noexcept {
    switch (kind) {
    case vkText:
        return platform::REG_SZ;
    case vkExpandText:
        return platform::REG_EXPAND_SZ;
    case vkInteger:
        return platform::REG_DWORD;
    case vkBytes:
        return platform::REG_BINARY;
    default:
        return platform::REG_NONE;
    }
}

// Turns the raw bytes of a value into text: text kinds end at their first
// NUL (or at the end of the data when there is none) and are otherwise
// returned as stored, with no expansion of environment references. Any other
// kind is not text, and gives nothing.
[[nodiscard]] std::optional<AnsiString> TextFromValueData(AnsiString data, TValueKind kind);

// Access to the registry below one root key. The object holds at most one
// open key at a time (the active key), opens keys by absolute path (from the
// root, written with a leading backslash) or relative path (from the active
// key, or from the root while none is open), and reads and writes text
// values of the active key. Opening reports failure as false; value access
// raises ERegistryException. The object owns its active key and releases it
// when it gives it up or is destroyed; it never releases its root.
class TRegistry : public TObject {
public:
    TRegistry();
    ~TRegistry() override;

    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;
    TRegistry(TRegistry&&) = delete;
    TRegistry& operator=(TRegistry&&) = delete;

    // Makes another key the root. An open key is given up, unless the root
    // is the one already set, in which case nothing changes at all.
    void SelectRoot(platform::HKEY root);

    // Opens the key at the path (creating what is missing when mayCreate is
    // set) and makes it the active key, giving up the key open before only
    // once the new one is open. A failure returns false and changes nothing.
    bool OpenPath(const AnsiString& path, bool mayCreate);

    // The text of a value of the active key. A missing value, a value of
    // length zero, and a read with no key open give the empty text.
    AnsiString ReadText(const AnsiString& name);

    // Stores the text, with its terminating NUL, as a REG_SZ value of the
    // active key.
    void WriteText(const AnsiString& name, const AnsiString& text);

    // Gives up the active key, if any.
    void ReleaseCurrent();

    // Whether a path is written from the root: it starts with a backslash.
    [[nodiscard]] static bool HasRootMark(const AnsiString& path) noexcept;

    [[nodiscard]] platform::HKEY ActiveKey() const noexcept { return activeKey.Get(); }
    [[nodiscard]] platform::HKEY RootHandle() const noexcept { return rootHandle; }
    [[nodiscard]] const AnsiString& ActivePath() const noexcept { return activePath; }

private:
    [[nodiscard]] platform::HKEY BaseFor(bool relative) const noexcept;
    void SwitchCurrent(TUniqueKey key, AnsiString path) noexcept;
    bool QueryValueInfo(const AnsiString& name, TValueInfo& info) const;
    [[nodiscard]] std::int32_t ValueSize(const AnsiString& name) const;
    TValueKind FetchValue(const AnsiString& name, char* buffer, std::int32_t size, std::int32_t& count) const;
    void StoreValue(const AnsiString& name, const char* buffer, std::int32_t count, TValueKind kind) const;

    // Neither of the first two ever changes: a key given up is released
    // without a flush, and the root is never one the object opened itself,
    // so it is never closed. Every open and create asks for full access.
    static constexpr bool deferFlush = true;
    static constexpr bool ownsRoot = false;
    static constexpr platform::REGSAM accessMask = platform::KEY_ALL_ACCESS;

    TUniqueKey activeKey;
    // A new object works below HKEY_CURRENT_USER until another root is selected.
    platform::HKEY rootHandle = platform::HKEY_CURRENT_USER;
    AnsiString activePath;
};
