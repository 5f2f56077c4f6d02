#pragma once

#include "core/TUniqueHandle.h"
#include "platform/Platform.h"

// An open registry key; 0 is no key.
struct TKeyTraits {
    using Handle = platform::HKEY;
    static constexpr Handle Empty() noexcept { return 0; }
    static void Close(Handle key) noexcept { platform::RegCloseKey(key); }
};

// The one owner of an open registry key handle.
using TUniqueKey = TUniqueHandle<TKeyTraits>;
