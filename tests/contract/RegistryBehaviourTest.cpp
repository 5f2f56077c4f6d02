// How the registry calls behave, written with nothing but the platform calls
// so that the same assertions can run against a real registry (a scratch key
// under HKEY_CURRENT_USER) as well as against the model. Only the fixture
// knows it is looking at the model.

#include "RegistryTest.h"
#include "TestConstants.h"

#include <cstring>

using namespace platform;

namespace {

constexpr HKEY kJunkKey = 0xDEADBEEFu;
constexpr DWORD kJunk = 0xDEADBEEFu;

class RegistryBehaviour : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        const std::string path = std::string("Software\\lobbyfix-behaviour\\") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &base_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        EXPECT_EQ(RegCloseKey(base_), ERROR_SUCCESS);
        RegistryTest::TearDown();
    }

    HKEY Open(const char* subKey, LSTATUS expected = ERROR_SUCCESS) const {
        HKEY key = kJunkKey;
        EXPECT_EQ(RegOpenKeyExA(base_, subKey, 0, KEY_ALL_ACCESS, &key), expected) << subKey;
        return key;
    }
    HKEY Create(const char* subKey, DWORD* disposition = nullptr) const {
        HKEY key = kJunkKey;
        EXPECT_EQ(RegCreateKeyExA(base_, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition),
                  ERROR_SUCCESS)
            << subKey;
        return key;
    }
    void Set(const char* name, DWORD type, const std::string& bytes) const {
        ASSERT_EQ(RegSetValueExA(base_, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }

    HKEY base_ = 0;
};

TEST_F(RegistryBehaviour, KeyPathsAndWhatFailedOpensLeaveInTheOutHandle) {
    // Missing keys are not made by an open, and the out handle is cleared.
    EXPECT_EQ(Open("Missing", ERROR_FILE_NOT_FOUND), 0u);
    EXPECT_EQ(Open("Missing\\Deeper", ERROR_FILE_NOT_FOUND), 0u);
    // A leading backslash is a malformed path for both calls.
    EXPECT_EQ(Open("\\A", ERROR_BAD_PATHNAME), 0u);
    EXPECT_EQ(Open("\\", ERROR_BAD_PATHNAME), 0u);
    HKEY key = kJunkKey;
    EXPECT_EQ(RegCreateKeyExA(base_, "\\A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(key, 0u);

    DWORD disposition = kJunk;
    EXPECT_EQ(RegCloseKey(Create("A\\B\\C", &disposition)), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(RegCloseKey(Create("a\\b\\c", &disposition)), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    // Names match without regard to case; stray separators inside are skipped;
    // a forward slash is part of a name.
    for (const char* path : {"a\\B\\c", "A\\B\\", "A\\\\B"}) {
        EXPECT_EQ(RegCloseKey(Open(path)), ERROR_SUCCESS) << path;
    }
    EXPECT_EQ(Open("A/B", ERROR_FILE_NOT_FOUND), 0u);
}

TEST_F(RegistryBehaviour, EmptySubkeyOpensTheBaseKeyItself) {
    // Under a predefined root the root's own handle comes back, and closing
    // it is harmless: the root stays usable.
    HKEY root = kJunkKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_ALL_ACCESS, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    HKEY software = kJunkKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, &software), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(software), ERROR_SUCCESS);

    // Under an ordinary key it is a second handle that outlives the first.
    const HKEY first = Create("K");
    HKEY second = kJunkKey;
    ASSERT_EQ(RegOpenKeyExA(first, "", 0, KEY_ALL_ACCESS, &second), ERROR_SUCCESS);
    EXPECT_NE(second, first);
    EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(second, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);

    // A create with an empty subkey always makes a new handle, even for a root.
    HKEY created = kJunkKey;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
        ERROR_SUCCESS);
    EXPECT_NE(created, HKEY_CURRENT_USER);
    EXPECT_EQ(RegCloseKey(created), ERROR_SUCCESS);
}

TEST_F(RegistryBehaviour, ClosedAndNullHandlesAreRejectedEverywhere) {
    const HKEY closed = Create("K");
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    for (const HKEY bad : {closed, HKEY{0}}) {
        HKEY key = 0;
        EXPECT_EQ(RegOpenKeyExA(bad, "x", 0, KEY_ALL_ACCESS, &key), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCreateKeyExA(bad, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_INVALID_HANDLE);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(bad, "v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegSetValueExA(bad, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
    }
    // Handle 0 is turned away before the out handle is touched.
    HKEY untouched = kJunkKey;
    EXPECT_EQ(RegOpenKeyExA(0, "x", 0, KEY_ALL_ACCESS, &untouched), ERROR_INVALID_HANDLE);
    EXPECT_EQ(untouched, kJunkKey);
}

TEST_F(RegistryBehaviour, ValueQueriesReportSizesAndNeverOverrun) {
    Set("Text", REG_SZ, std::string("abc\0", 4));
    Set("Raw", REG_BINARY, "xyz");

    DWORD type = kJunk;
    DWORD size = kJunk;
    ASSERT_EQ(RegQueryValueExA(base_, "TEXT", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4u);

    // Too small: ERROR_MORE_DATA, the needed size, and the buffer left alone.
    BYTE buffer[8];
    std::memset(buffer, 0xBD, sizeof buffer);
    size = 3;
    EXPECT_EQ(RegQueryValueExA(base_, "Text", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(buffer[0], 0xBD);

    // Exactly right: the data and not a byte more.
    size = 4;
    ASSERT_EQ(RegQueryValueExA(base_, "Text", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(buffer, "abc\0\xBD", 5), 0);
    std::memset(buffer, 0xBD, sizeof buffer);
    size = 3;
    ASSERT_EQ(RegQueryValueExA(base_, "Raw", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::memcmp(buffer, "xyz\xBD", 4), 0);

    // Missing: ERROR_FILE_NOT_FOUND, the buffer left alone.
    std::memset(buffer, 0xBD, sizeof buffer);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(base_, "Missing", nullptr, &type, buffer, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(buffer[0], 0xBD);
    EXPECT_EQ(RegQueryValueExA(base_, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryBehaviour, ValuesAreStoredAsGivenUnderCaseInsensitiveNames) {
    Set("Name", REG_SZ, std::string("ab\0cd\0", 6));
    Set("NAME", REG_EXPAND_SZ, std::string("%WINDIR%\0", 9)); // overwrites, type and all
    Set("", REG_SZ, std::string("default\0", 8));
    Set("Empty", REG_BINARY, "");

    const auto read = [&](const char* name, DWORD expectedType, const std::string& expected) {
        DWORD type = kJunk;
        BYTE buffer[16];
        DWORD size = sizeof buffer;
        ASSERT_EQ(RegQueryValueExA(base_, name, nullptr, &type, buffer, &size), ERROR_SUCCESS) << name;
        EXPECT_EQ(type, expectedType) << name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), size), expected) << name;
    };
    read("name", REG_EXPAND_SZ, std::string("%WINDIR%\0", 9));
    read("", REG_SZ, std::string("default\0", 8));
    read(nullptr, REG_SZ, std::string("default\0", 8));
    read("Empty", REG_BINARY, "");
}

TEST_F(RegistryBehaviour, AHandleOpenedForReadingCannotWrite) {
    RegCloseKey(Create("K"));
    HKEY reader = kJunkKey;
    ASSERT_EQ(RegOpenKeyExA(base_, "K", 0, KEY_READ, &reader), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(reader, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_ACCESS_DENIED);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(reader, "v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
}

} // namespace
