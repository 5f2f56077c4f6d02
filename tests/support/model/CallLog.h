#pragma once

// Reading the in-memory Windows' log of platform calls.

#include "model/ModelControl.h"

#include <algorithm>
#include <string>

inline std::string HexKey(platform::HKEY key) { return model::detail::Hex(key); }

// Position of the first logged call that starts with the text, or -1.
inline long CallIndex(const std::string& prefix) {
    const auto& calls = model::Calls();
    const auto found = std::find_if(calls.begin(), calls.end(),
                                    [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
    return found == calls.end() ? -1 : static_cast<long>(found - calls.begin());
}

inline long CountCalls(const std::string& prefix) {
    const auto& calls = model::Calls();
    return std::count_if(calls.begin(), calls.end(),
                         [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
}
