#pragma once

// Reading the in-memory Windows' log of platform calls.

#include "model/ModelControl.h"

#include <algorithm>
#include <string>

inline std::string HexKey(platform::HKEY key) { return model::detail::Hex(key); }

// Position of the first logged call that starts with the text, or -1.
inline long CallIndex(const std::string& prefix) {
    const auto& calls = model::Calls();
    const auto found =
        std::ranges::find_if(calls, [&](const std::string& call) { return call.starts_with(prefix); });
    return found == calls.end() ? -1 : static_cast<long>(found - calls.begin());
}

inline long CountCalls(const std::string& prefix) {
    const auto& calls = model::Calls();
    return std::ranges::count_if(calls, [&](const std::string& call) { return call.starts_with(prefix); });
}
