#pragma once

#include "core/TUniqueHandle.h"
#include "platform/Platform.h"

// A file search; INVALID_HANDLE_VALUE, what a failed search returns, is none.
struct TSearchTraits {
    using Handle = platform::HANDLE;
    static constexpr Handle Empty() noexcept { return platform::INVALID_HANDLE_VALUE; }
    static void Close(Handle search) noexcept { platform::FindClose(search); }
};

// The one owner of a file search handle.
using TUniqueSearch = TUniqueHandle<TSearchTraits>;
