#pragma once

// The registry tests' fixture. Each test starts with no scratch keys left
// from an earlier test or run. Over the in-memory Windows that is a freshly
// installed machine, and the fixture also fails a test that leaves a key
// handle open; over a real registry it removes the tests' keys under
// HKEY_CURRENT_USER before and after each test.

#include <gtest/gtest.h>

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
