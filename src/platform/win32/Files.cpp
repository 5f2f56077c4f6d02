// Real file search and file time calls.

#include "platform/win32/FindData.h"

#include <cstdint>
#include <cstring>

namespace {

// Spelled out here, outside namespace platform: there the macro's HANDLE
// would be the boundary's 32-bit number.
const ::HANDLE kFailedSearch = INVALID_HANDLE_VALUE;

::HANDLE ToNative(platform::HANDLE handle) {
    return reinterpret_cast<::HANDLE>(static_cast<std::uintptr_t>(handle));
}

platform::HANDLE FromNative(::HANDLE handle) {
    return static_cast<platform::HANDLE>(reinterpret_cast<std::uintptr_t>(handle));
}

::FILETIME ToNative(const platform::FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

platform::FILETIME FromNative(const ::FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

} // namespace

namespace platform {

WIN32_FIND_DATAA FromNativeFindData(const ::WIN32_FIND_DATAA& native) {
    WIN32_FIND_DATAA record{};
    record.dwFileAttributes = native.dwFileAttributes;
    record.ftCreationTime = FromNative(native.ftCreationTime);
    record.ftLastAccessTime = FromNative(native.ftLastAccessTime);
    record.ftLastWriteTime = FromNative(native.ftLastWriteTime);
    record.nFileSizeHigh = native.nFileSizeHigh;
    record.nFileSizeLow = native.nFileSizeLow;
    record.dwReserved0 = native.dwReserved0;
    record.dwReserved1 = native.dwReserved1;
    static_assert(sizeof record.cFileName == sizeof native.cFileName);
    static_assert(sizeof record.cAlternateFileName == sizeof native.cAlternateFileName);
    std::memcpy(record.cFileName, native.cFileName, sizeof native.cFileName);
    std::memcpy(record.cAlternateFileName, native.cAlternateFileName, sizeof native.cAlternateFileName);
    return record;
}

HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) {
    ::WIN32_FIND_DATAA native{};
    const ::HANDLE search = ::FindFirstFileA(fileName, &native);
    if (search != kFailedSearch && findData != nullptr) {
        *findData = FromNativeFindData(native);
    }
    return FromNative(search);
}

BOOL FindClose(HANDLE findFile) { return ::FindClose(ToNative(findFile)); }

BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime) {
    if (fileTime == nullptr || localFileTime == nullptr) {
        return FALSE;
    }
    const ::FILETIME utc = ToNative(*fileTime);
    ::FILETIME local{};
    const BOOL ok = ::FileTimeToLocalFileTime(&utc, &local);
    if (ok) {
        *localFileTime = FromNative(local);
    }
    return ok;
}

BOOL FileTimeToDosDateTime(const FILETIME* fileTime, WORD* fatDate, WORD* fatTime) {
    if (fileTime == nullptr || fatDate == nullptr || fatTime == nullptr) {
        return FALSE;
    }
    const ::FILETIME local = ToNative(*fileTime);
    ::WORD date = 0;
    ::WORD time = 0;
    const BOOL ok = ::FileTimeToDosDateTime(&local, &date, &time);
    if (ok) {
        *fatDate = date;
        *fatTime = time;
    }
    return ok;
}

} // namespace platform
