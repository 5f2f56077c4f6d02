#pragma once

#include "platform/model/ModelControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

// Every test starts from a freshly installed model machine and must leave no
// key handle open behind it. Objects under test live inside the test body,
// so they are gone by the time TearDown looks.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { model::Reset(); }
    void TearDown() override { EXPECT_EQ(model::OpenKeyHandles(), 0) << "a key handle was left open"; }
};

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
