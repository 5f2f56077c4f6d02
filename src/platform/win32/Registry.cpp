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

::DWORD DwordToWindows(platform::DWORD value) { return value; }

// The boundary's DWORD is a 32-bit unsigned int, Windows' an unsigned long of
// the same width.
platform::DWORD DwordFromWindows(::DWORD value) { return static_cast<platform::DWORD>(value); }

// An out-parameter of the boundary's type, handed to Windows as one of
// Windows' own type. It starts from what the caller put there, since Windows
// may leave it alone, and goes back to the caller when the call is over.
template <typename Ours, typename Theirs, Theirs (*toTheirs)(Ours), Ours (*toOurs)(Theirs)>
class OutParam {
public:
    explicit OutParam(Ours* target)
        : target_(target), value_(target != nullptr ? toTheirs(*target) : Theirs{}) {}
    ~OutParam() {
        if (target_ != nullptr) {
            *target_ = toOurs(value_);
        }
    }
    OutParam(const OutParam&) = delete;
    OutParam& operator=(const OutParam&) = delete;
    OutParam(OutParam&&) = delete;
    OutParam& operator=(OutParam&&) = delete;
    Theirs* Get() { return target_ != nullptr ? &value_ : nullptr; }

private:
    Ours* target_;
    Theirs value_;
};

using OutKey = OutParam<platform::HKEY, ::HKEY, ToWindows, FromWindows>;
using OutDword = OutParam<platform::DWORD, ::DWORD, DwordToWindows, DwordFromWindows>;

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
    // Windows declares the attributes writable but only reads them; the
    // boundary passes them as const.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast)
    auto* const attributes = static_cast<::LPSECURITY_ATTRIBUTES>(const_cast<void*>(securityAttributes));
    return static_cast<LSTATUS>(::RegCreateKeyExA(ToWindows(key), subKey, reserved, keyClass, options,
                                                  samDesired, attributes, created.Get(),
                                                  createdOrOpened.Get()));
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
