#pragma once

// The registry tests' fixture over a real registry: each test starts with no
// scratch keys left from an earlier test or run. (The host build uses the
// model's fixture of the same name, which also counts open handles.)

#include "ScratchRegistry.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { contract::DeleteCurrentUserTree("Software\\lobbyfix-behaviour"); }
    void TearDown() override { contract::DeleteCurrentUserTree("Software\\lobbyfix-behaviour"); }
};
