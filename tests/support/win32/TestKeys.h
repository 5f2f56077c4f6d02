#pragma once

// Registry helpers shared by the test programs that run under Windows (or
// Wine): the contract tests' target over the real calls and the end-to-end
// driver. Both lock test keys to read-only and must later remove them, with
// their whole subtree, whatever a test left locked. Keys are opened in the
// 32-bit view, the one the tool itself sees. Beside them, the UTF-8 and
// UTF-16 conversions that these programs and the e2e stand-in game share.

#include "core/TUniqueHandle.h"

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <string>
#include <vector>

namespace testkeys {

struct KeyTraits {
    using Handle = HKEY;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle key) noexcept { ::RegCloseKey(key); }
};
using UniqueKey = TUniqueHandle<KeyTraits>;

// The text as UTF-16, its bytes read in the given code page.
inline std::wstring Widen(const std::string& text, UINT codePage = CP_UTF8) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

// The UTF-16 text as UTF-8.
inline std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

// The key opened with the given rights, or an empty owner. The view is the
// 32-bit one unless KEY_WOW64_64KEY asks for the one 64-bit programs see.
inline UniqueKey OpenKey(HKEY root, const std::wstring& path, REGSAM access, REGSAM view = KEY_WOW64_32KEY) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, access | view, &raw) != ERROR_SUCCESS) {
        return {};
    }
    return UniqueKey{raw};
}

// Replaces the key's access list with one entry: everyone gets the rights.
inline LSTATUS SetEveryoneAccess(HKEY key, DWORD rights) {
    struct SidFreer {
        void operator()(void* sid) const { ::FreeSid(sid); }
    };
    struct LocalFreer {
        void operator()(void* memory) const { ::LocalFree(memory); }
    };
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        return static_cast<LSTATUS>(::GetLastError());
    }
    const std::unique_ptr<void, SidFreer> sidOwner(everyone);
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = rights;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    const auto status = static_cast<LSTATUS>(::SetEntriesInAclW(1, &access, nullptr, &acl));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const std::unique_ptr<void, LocalFreer> aclOwner(acl);
    return static_cast<LSTATUS>(::SetSecurityInfo(
        key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
        nullptr, acl, nullptr));
}

// Gives everyone full access to the key and its whole subtree again.
inline void GrantAll(HKEY root, const std::wstring& path) {
    if (const UniqueKey key = OpenKey(root, path, WRITE_DAC); key.IsOpen()) {
        SetEveryoneAccess(key.Get(), KEY_ALL_ACCESS | DELETE);
    }
    std::vector<std::wstring> children;
    if (const UniqueKey key = OpenKey(root, path, KEY_READ); key.IsOpen()) {
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD size = 256;
            if (::RegEnumKeyExW(key.Get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            children.emplace_back(name, size);
        }
    }
    const std::wstring parent = path + L"\\";
    for (const auto& child : children) {
        GrantAll(root, parent + child);
    }
}

// Removes the key and its subtree, unlocking first whatever a test locked.
// True when the key is gone afterwards, also when it was never there.
[[nodiscard]] inline bool DeleteTree(HKEY root, const std::wstring& path) {
    GrantAll(root, path);
    ::RegDeleteTreeW(root, path.c_str());
    // RegDeleteTree may leave the key itself behind.
    ::RegDeleteKeyExW(root, path.c_str(), KEY_WOW64_32KEY, 0);
    return !OpenKey(root, path, READ_CONTROL).IsOpen();
}

} // namespace testkeys
