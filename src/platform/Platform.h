#pragma once

// The boundary between the program and Windows: one thin function for each
// Windows call the program makes, with that call's arguments in their order
// and its result codes, and only the constants the program itself uses.
// win32/ forwards to the real system; host builds and tests get a small
// in-memory Windows from the test tree instead.
//
// Handles are plain 32-bit numbers here, as they are in the 32-bit program.
// This header must not include <windows.h>, and a file that includes both
// must include this one first: the constants below carry the Windows names,
// which <windows.h> defines as macros.

#include <cstdint>

namespace platform {

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using LSTATUS = LONG;
using REGSAM = DWORD;

using HKEY = std::uint32_t;    // registry key; 0 is no key
using HANDLE = std::uint32_t;  // search handle
using HMODULE = std::uint32_t; // module that holds resources
using HWND = std::uint32_t;    // owner window; 0 is none

// Status codes (LSTATUS / Win32 error codes).
inline constexpr LSTATUS ERROR_SUCCESS = 0;

// Predefined registry roots.
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

// Registry access rights, options and value types.
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// File search.
inline constexpr HANDLE INVALID_HANDLE_VALUE = 0xFFFFFFFFu;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD MAX_PATH = 260;

// Message boxes.
inline constexpr UINT MB_OKCANCEL = 0x01;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr int IDOK = 1;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
};

// Registry (advapi32).
LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result);
LSTATUS RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                        REGSAM samDesired, const void* securityAttributes, HKEY* result, DWORD* disposition);
LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize);
LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegCloseKey(HKEY key);

// Module and string resources (kernel32, user32).
HMODULE GetModuleHandleA(const char* moduleName);
int LoadStringA(HMODULE instance, UINT id, char* buffer, int bufferMax);

// File system (kernel32).
HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData);
BOOL FindClose(HANDLE findFile);
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime);
BOOL FileTimeToDosDateTime(const FILETIME* fileTime, WORD* fatDate, WORD* fatTime);

// User interface (user32). The texts are Windows-1251 bytes; the box shows
// them as Russian whatever the system's ANSI code page is.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// Process start-up (kernel32): limits later DLL loads to System32 where the
// system supports it, so that a DLL planted beside the program is not loaded.
void RestrictDllSearchToSystem32();

} // namespace platform
