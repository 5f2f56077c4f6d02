// The model's test controls: what the registration tests rely on when they
// set up a machine, steer failures and compare registry states.

#include "RegistryTestSupport.h"

#include <stdexcept>

using namespace platform;

namespace {

using ModelRegistry = RegistryTest;

HKEY OpenFor(REGSAM access, const char* path, LSTATUS expected = ERROR_SUCCESS) {
    HKEY key = 0xDEADBEEFu;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key), expected) << path;
    return key;
}

LSTATUS CreateFull(const char* path) {
    HKEY key = 0;
    const LSTATUS status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return status;
}

TEST_F(ModelRegistry, ControlsAndCallsSeeOneRegistry) {
    model::SetValue(HKEY_LOCAL_MACHINE, "Software\\Game", "Path", REG_SZ, std::string("C:\\G\0", 5));
    EXPECT_TRUE(model::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\game"));
    EXPECT_FALSE(model::KeyExists(HKEY_CURRENT_USER, "Software\\Game"));
    EXPECT_TRUE(model::KeyExists(HKEY_CURRENT_USER, ""));

    const HKEY key = OpenFor(KEY_ALL_ACCESS, "Software\\Game");
    ASSERT_EQ(RegSetValueExA(key, "file", 0, REG_SZ, reinterpret_cast<const BYTE*>("a\0"), 2), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "PATH", 0, REG_BINARY, reinterpret_cast<const BYTE*>("z"), 1),
              ERROR_SUCCESS);
    RegCloseKey(key);

    // Names keep the case they were first given, in the order first set.
    EXPECT_EQ(model::ValueNames(HKEY_LOCAL_MACHINE, "Software\\Game"),
              (std::vector<std::string>{"Path", "file"}));
    const auto path = model::GetValue(HKEY_LOCAL_MACHINE, "software\\GAME", "path");
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(path->type, REG_BINARY);
    EXPECT_EQ(path->bytes, "z");
    EXPECT_FALSE(model::GetValue(HKEY_LOCAL_MACHINE, "Software\\Game", "Guid").has_value());
    EXPECT_FALSE(model::GetValue(HKEY_LOCAL_MACHINE, "Software\\Nothing", "Path").has_value());
    EXPECT_TRUE(model::ValueNames(HKEY_LOCAL_MACHINE, "Software\\Nothing").empty());

    EXPECT_THROW(model::CreateKey(HKEY_LOCAL_MACHINE, "\\Software"), std::invalid_argument);
    EXPECT_THROW(model::KeyExists(HKEY_LOCAL_MACHINE, "Software\\\\Game"), std::invalid_argument);
    EXPECT_THROW(model::CreateKey(0x80000009u, "Software"), std::invalid_argument);
}

TEST_F(ModelRegistry, DumpIsTheSameForTheSameStateHoweverItWasReached) {
    model::SetValue(HKEY_LOCAL_MACHINE, "B", "y", REG_SZ, "2");
    model::SetValue(HKEY_LOCAL_MACHINE, "a", "X", REG_DWORD, std::string("\x01\0\0\0", 4));
    model::SetValue(HKEY_LOCAL_MACHINE, "B", "x", REG_SZ, "1");
    const std::string first = model::DumpRegistry();

    model::Reset();
    model::SetValue(HKEY_LOCAL_MACHINE, "B", "x", REG_SZ, "1");
    model::SetValue(HKEY_LOCAL_MACHINE, "B", "y", REG_SZ, "2");
    model::SetValue(HKEY_LOCAL_MACHINE, "a", "X", REG_DWORD, std::string("\x01\0\0\0", 4));
    EXPECT_EQ(model::DumpRegistry(), first);
    EXPECT_NE(first.find("HKEY_LOCAL_MACHINE\\a\n  \"X\" type 4: 01 00 00 00\n"), std::string::npos) << first;

    model::SetValue(HKEY_LOCAL_MACHINE, "B", "y", REG_SZ, "3");
    EXPECT_NE(model::DumpRegistry(), first);
}

TEST_F(ModelRegistry, DeniedKeyAdmitsReadingOnly) {
    model::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Locked\\Below");
    model::DenyFullAccess(HKEY_LOCAL_MACHINE, "Software\\Locked");

    EXPECT_EQ(OpenFor(KEY_ALL_ACCESS, "Software\\Locked", ERROR_ACCESS_DENIED), 0u);
    EXPECT_EQ(CreateFull("Software\\Locked"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFull("Software\\Locked\\New\\Deeper"), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(model::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Locked\\New"));
    RegCloseKey(OpenFor(KEY_READ, "Software\\Locked"));
    // Keys that already exist below it have their own rights.
    EXPECT_EQ(CreateFull("Software\\Locked\\Below\\Fresh"), ERROR_SUCCESS);
}

TEST_F(ModelRegistry, FailingWritesStoreNothing) {
    model::SetValue(HKEY_LOCAL_MACHINE, "K", "Guid", REG_SZ, "old");
    model::FailSetValue("GUID");
    const HKEY key = OpenFor(KEY_ALL_ACCESS, "K");
    EXPECT_NE(RegSetValueExA(key, "guid", 0, REG_SZ, reinterpret_cast<const BYTE*>("new"), 4), ERROR_SUCCESS);
    EXPECT_NE(RegSetValueExA(key, "Guid", 0, REG_SZ, reinterpret_cast<const BYTE*>("new"), 4), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "File", 0, REG_SZ, reinterpret_cast<const BYTE*>("f"), 2), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(model::GetValue(HKEY_LOCAL_MACHINE, "K", "Guid")->bytes, "old");
}

TEST_F(ModelRegistry, ValueGrowsOnceAfterTheNextSizeQuery) {
    model::SetValue(HKEY_LOCAL_MACHINE, "K", "Path", REG_SZ, "ab");
    model::GrowValueBeforeRead(HKEY_LOCAL_MACHINE, "k", "PATH", "cd");
    const HKEY key = OpenFor(KEY_ALL_ACCESS, "K");
    BYTE buffer[8] = {};
    DWORD size = sizeof buffer;
    // A read with a buffer is not a size query: nothing grows yet.
    ASSERT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(model::GetValue(HKEY_LOCAL_MACHINE, "K", "Path")->bytes, "abcd");
    ASSERT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(model::GetValue(HKEY_LOCAL_MACHINE, "K", "Path")->bytes, "abcd");
    RegCloseKey(key);
}

TEST_F(ModelRegistry, OnlyHandlesTheModelMadeAreCountedAndResetForgetsThem) {
    RegCloseKey(OpenFor(KEY_ALL_ACCESS, "")); // the root itself
    EXPECT_EQ(model::OpenKeyHandles(), 0);
    model::CreateKey(HKEY_LOCAL_MACHINE, "K");
    const HKEY key = OpenFor(KEY_ALL_ACCESS, "K");
    EXPECT_EQ(model::OpenKeyHandles(), 1);
    model::Reset();
    EXPECT_EQ(model::OpenKeyHandles(), 0);
    EXPECT_FALSE(model::KeyExists(HKEY_LOCAL_MACHINE, "K"));
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

} // namespace
