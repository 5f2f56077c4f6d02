// Real user-interface, resource and start-up calls.

#include "platform/Platform.h"
// <windows.h> after the boundary header: it turns the Windows names into macros.
#include <windows.h>

#include <bit>
#include <string>

namespace {

// Windows-1251 bytes to UTF-16. The texts are converted from that code page
// explicitly, so that they read as Russian on a system whose ANSI code page
// is not 1251.
std::wstring FromCp1251(const char* text) {
    if (text == nullptr || *text == '\0') {
        return {};
    }
    const int length = ::MultiByteToWideChar(1251, 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(1251, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1)); // drop the converted NUL
    return wide;
}

} // namespace

namespace platform {

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    const std::wstring wideText = FromCp1251(text);
    const std::wstring wideCaption = FromCp1251(caption);
    return ::MessageBoxW(reinterpret_cast<::HWND>(static_cast<std::uintptr_t>(owner)), wideText.c_str(),
                         caption != nullptr ? wideCaption.c_str() : nullptr, type);
}

HMODULE GetModuleHandleA(const char* moduleName) {
    return static_cast<HMODULE>(reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(moduleName)));
}

int LoadStringA(HMODULE instance, UINT id, char* buffer, int bufferMax) {
    return ::LoadStringA(reinterpret_cast<::HINSTANCE>(static_cast<std::uintptr_t>(instance)), id, buffer,
                         bufferMax);
}

void RestrictDllSearchToSystem32() {
    // Looked up at run time: Windows releases without the call (Vista and 7
    // without the 2011 update) simply keep their default search order.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const ::HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return;
    }
    const auto proc = ::GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (proc == nullptr) {
        return;
    }
    const auto setDefault = std::bit_cast<SetDefaultDllDirectoriesFn>(proc);
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace platform
