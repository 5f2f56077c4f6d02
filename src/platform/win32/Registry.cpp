// Real registry calls (advapi32), forwarded with handle and integer type
// conversions only. The predefined roots (0x80000001, 0x80000002) are the
// very values Windows uses for them and pass through as they are.

#include "platform/Platform.h"
// <windows.h> after the boundary header: it turns the Windows names into macros.
#include <windows.h>

#include <cstdint>

namespace {

::HKEY ToWindows(platform::HKEY key) { return reinterpret_cast<::HKEY>(static_cast<std::uintptr_t>(key)); }

platform::HKEY FromWindows(::HKEY key) {
    return static_cast<platform::HKEY>(reinterpret_cast<std::uintptr_t>(key));
}

// An out handle: starts from what the caller put there, since Windows may
// leave it alone, and goes back to the caller after the call.
class OutKey {
public:
    explicit OutKey(platform::HKEY* target) : target_(target), key_(target ? ToWindows(*target) : nullptr) {}
    ~OutKey() {
        if (target_ != nullptr) {
            *target_ = FromWindows(key_);
        }
    }
    OutKey(const OutKey&) = delete;
    OutKey& operator=(const OutKey&) = delete;
    ::HKEY* Get() { return target_ != nullptr ? &key_ : nullptr; }

private:
    platform::HKEY* target_;
    ::HKEY key_;
};

// The same for a DWORD out-parameter: the boundary's DWORD is a 32-bit
// unsigned int, Windows' is an unsigned long of the same width.
class OutDword {
public:
    explicit OutDword(platform::DWORD* target) : target_(target), value_(target ? *target : 0) {}
    ~OutDword() {
        if (target_ != nullptr) {
            *target_ = static_cast<platform::DWORD>(value_);
        }
    }
    OutDword(const OutDword&) = delete;
    OutDword& operator=(const OutDword&) = delete;
    ::DWORD* Get() { return target_ != nullptr ? &value_ : nullptr; }

private:
    platform::DWORD* target_;
    ::DWORD value_;
};

} // namespace

namespace platform {

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result) {
    OutKey opened(result);
    return static_cast<LSTATUS>(::RegOpenKeyExA(ToWindows(key), subKey, options, samDesired, opened.Get()));
}

LSTATUS RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                        REGSAM samDesired, const void* securityAttributes, HKEY* result, DWORD* disposition) {
    OutKey created(result);
    OutDword createdOrOpened(disposition);
    return static_cast<LSTATUS>(
        ::RegCreateKeyExA(ToWindows(key), subKey, reserved, keyClass, options, samDesired,
                          static_cast<::LPSECURITY_ATTRIBUTES>(const_cast<void*>(securityAttributes)),
                          created.Get(), createdOrOpened.Get()));
}

LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
    OutDword reservedWord(reserved);
    OutDword valueType(type);
    OutDword byteCount(dataSize);
    return static_cast<LSTATUS>(::RegQueryValueExA(ToWindows(key), valueName, reservedWord.Get(),
                                                   valueType.Get(), data, byteCount.Get()));
}

LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    return static_cast<LSTATUS>(::RegSetValueExA(ToWindows(key), valueName, reserved, type, data, dataSize));
}

LSTATUS RegCloseKey(HKEY key) { return static_cast<LSTATUS>(::RegCloseKey(ToWindows(key))); }

} // namespace platform
