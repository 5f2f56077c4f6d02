// The registry layer against whichever registry the target has: the model on
// the host, the real one under Windows or Wine. The same assertions must hold
// on both, so that what the unit tests prove over the model also holds for
// the shipped program.

#include "ContractTarget.h"
#include "TestConstants.h"
#include "registry/MessageTemplates.h"
#include "registry/TRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

using namespace platform;

namespace {

class RegistryContract : public ::testing::Test {
protected:
    // The scratch key written as an absolute path from HKEY_CURRENT_USER.
    std::string Abs(const std::string& relative = "") const {
        return "\\" + scratch.Path() + (relative.empty() ? "" : "\\" + relative);
    }

    // Stores exact bytes under the scratch key, with the platform's own call.
    // Only the first count bytes are handed over (all of them by default).
    void Put(const std::string& relative, const char* name, DWORD type, const std::string& bytes,
             std::size_t count = std::string::npos) const {
        HKEY key = 0;
        const std::string path = scratch.Path() + (relative.empty() ? "" : "\\" + relative);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(std::min(count, bytes.size()))),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }

    struct Stored {
        LSTATUS status;
        DWORD type;
        std::string bytes;
    };
    Stored Get(const std::string& relative, const char* name) const {
        HKEY key = 0;
        const std::string path = scratch.Path() + (relative.empty() ? "" : "\\" + relative);
        Stored stored{RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), 0, {}};
        if (stored.status != ERROR_SUCCESS) {
            return stored;
        }
        char buffer[512];
        std::memset(buffer, 0xBD, sizeof buffer);
        DWORD size = sizeof buffer;
        stored.status =
            RegQueryValueExA(key, name, nullptr, &stored.type, reinterpret_cast<BYTE*>(buffer), &size);
        if (stored.status == ERROR_SUCCESS) {
            stored.bytes.assign(buffer, size);
        }
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        return stored;
    }

    static std::string MessageOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const ERegistryException& error) {
            return error.Message();
        }
        return "(nothing raised)";
    }

    contract::ScratchKey scratch;
};

TEST_F(RegistryContract, TheProgramsStringTableHoldsTheThreeTemplates) {
    const HMODULE self = GetModuleHandleA(nullptr);
    char buffer[1024];
    for (const auto& [id, text] : {std::pair{IDS_REG_INVALID_TYPE, TEXT_REG_INVALID_TYPE},
                                   std::pair{IDS_REG_SET_FAILED, TEXT_REG_SET_FAILED},
                                   std::pair{IDS_REG_GET_FAILED, TEXT_REG_GET_FAILED}}) {
        std::memset(buffer, 0xBD, sizeof buffer);
        const int length = LoadStringA(self, id, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length > 0 ? length : 0)), text) << id;
        EXPECT_EQ(buffer[length > 0 ? length : 0], '\0') << id;
    }
    // An id that the table does not hold gives nothing.
    EXPECT_EQ(LoadStringA(self, 4242, buffer, sizeof buffer), 0);
}

TEST_F(RegistryContract, TextRoundTripsExactlyWithItsNulCounted) {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenPath(Abs("Lobby\\RZN"), true));
    registry.WriteText("CurrentDirectory", "C:\\Games\\Dunmarsh");
    registry.WriteText("Empty", "");
    registry.WriteText("Inner", std::string("ab\0cd", 5));

    const Stored folder = Get("Lobby\\RZN", "currentdirectory");
    EXPECT_EQ(folder.type, REG_SZ);
    EXPECT_EQ(folder.bytes, std::string("C:\\Games\\Dunmarsh\0", 18));
    const Stored empty = Get("Lobby\\RZN", "Empty");
    EXPECT_EQ(empty.type, REG_SZ);
    EXPECT_EQ(empty.bytes, std::string(1, '\0'));
    EXPECT_EQ(Get("Lobby\\RZN", "Inner").bytes, std::string("ab\0cd\0", 6));

    EXPECT_EQ(registry.ReadText("CURRENTDIRECTORY"), "C:\\Games\\Dunmarsh");
    EXPECT_EQ(registry.ReadText("Empty"), "");
    EXPECT_EQ(registry.ReadText("Inner"), "ab");
    EXPECT_EQ(registry.ReadText("Missing"), "");
}

TEST_F(RegistryContract, TextDataIsReadAsStoredWhateverItsTermination) {
    Put("", "WithNul", REG_SZ, std::string("abc\0", 4));
    Put("", "WithoutNul", REG_SZ, "abcX", 3);
    Put("", "Middle", REG_SZ, std::string("ab\0cd\0", 6));
    Put("", "Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x\0", 15));
    Put("", "ZeroLength", REG_DWORD, "");
    Put("", "", REG_SZ, std::string("default\0", 8));

    TRegistry registry;
    ASSERT_TRUE(registry.OpenPath(Abs(), false));
    EXPECT_EQ(registry.ReadText("WithNul"), "abc");
    EXPECT_EQ(registry.ReadText("WithoutNul"), "abc");
    EXPECT_EQ(registry.ReadText("Middle"), "ab");
    EXPECT_EQ(registry.ReadText("Expand"), "%SystemRoot%\\x");
    EXPECT_EQ(registry.ReadText("ZeroLength"), "");
    EXPECT_EQ(registry.ReadText(""), "default");
}

TEST_F(RegistryContract, CyrillicTextKeepsItsWindows1251Bytes) {
    // "Игры" in Windows-1251. The test runs with that ANSI code page.
    const std::string folder = "C:\\\xC8\xE3\xF0\xFB";
    TRegistry registry;
    ASSERT_TRUE(registry.OpenPath(Abs(), false));
    registry.WriteText("Path", folder);
    EXPECT_EQ(Get("", "Path").bytes, folder + '\0');
    EXPECT_EQ(registry.ReadText("Path"), folder);
}

TEST_F(RegistryContract, ValuesThatAreNotTextRaiseWithTheirName) {
    Put("", "Number", REG_DWORD, std::string("\x01\0\0\0", 4));
    Put("", "Raw", REG_BINARY, "xyz");
    Put("", "List", REG_MULTI_SZ, std::string("a\0b\0\0", 5));

    TRegistry registry;
    ASSERT_TRUE(registry.OpenPath(Abs(), false));
    EXPECT_EQ(MessageOf([&] { (void)registry.ReadText("Number"); }), "Invalid data type for 'Number'");
    EXPECT_EQ(MessageOf([&] { (void)registry.ReadText("raw"); }), "Invalid data type for 'raw'");
    EXPECT_EQ(MessageOf([&] { (void)registry.ReadText("List"); }), "Invalid data type for 'List'");
}

TEST_F(RegistryContract, KeysOpenOnlyWithFullAccess) {
    Put("Locked", "Path", REG_SZ, std::string("C:\\Game\0", 8));
    scratch.DenyFullAccess("Locked");

    // Reading alone would be allowed, but every open asks for full access.
    HKEY reader = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (scratch.Path() + "\\Locked").c_str(), 0, KEY_READ, &reader),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
    HKEY full = 0xDEADBEEFu;
    EXPECT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, (scratch.Path() + "\\Locked").c_str(), 0, KEY_ALL_ACCESS, &full),
        ERROR_ACCESS_DENIED);

    TRegistry registry;
    ASSERT_TRUE(registry.OpenPath(Abs("Open"), true));
    EXPECT_FALSE(registry.OpenPath(Abs("Locked"), false));
    EXPECT_FALSE(registry.OpenPath(Abs("Locked"), true));
    // The key open before stays the active one: writes still land there.
    registry.WriteText("After", "x");
    EXPECT_EQ(Get("Open", "After").bytes, std::string("x\0", 2));
    EXPECT_EQ(Get("Locked", "After").status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, CreatingBelowAReadOnlyKeyIsRefused) {
    scratch.DenyFullAccess("Applications");
    HKEY child = 0xDEADBEEFu;
    const LSTATUS status =
        RegCreateKeyExA(HKEY_CURRENT_USER, (scratch.Path() + "\\Applications\\RZN").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &child, nullptr);
    if (contract::RunningOnWine()) {
        // Known Wine difference: Wine does not check the parent's right to
        // make subkeys, and creates the key; Windows refuses it.
        EXPECT_EQ(status, ERROR_SUCCESS)
            << "Wine now refuses the create as Windows does: drop this difference";
        if (status == ERROR_SUCCESS) {
            EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
        }
        return;
    }
    EXPECT_EQ(status, ERROR_ACCESS_DENIED);
    TRegistry registry;
    EXPECT_FALSE(registry.OpenPath(Abs("Applications\\RZN"), true));
    EXPECT_EQ(registry.ActiveKey(), 0u);
}

TEST_F(RegistryContract, WritingWithNoKeyOpenRaises) {
    TRegistry registry;
    EXPECT_FALSE(registry.OpenPath(Abs("Missing"), false));
    EXPECT_EQ(MessageOf([&] { registry.WriteText("Guid", "{x}"); }), "Failed to set data for 'Guid'");
    EXPECT_EQ(registry.ReadText("Guid"), "");
}

TEST_F(RegistryContract, RelativeAndRootPathsResolveAsTheRegistryDoes) {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenPath(Abs("A"), true));
    ASSERT_TRUE(registry.OpenPath("B", true));
    EXPECT_EQ(registry.ActivePath(), scratch.Path() + "\\A\\B");
    registry.WriteText("Where", "A\\B");
    EXPECT_EQ(Get("A\\B", "Where").bytes, std::string("A\\B\0", 4));

    // A second leading backslash reaches the registry, which refuses it.
    EXPECT_FALSE(registry.OpenPath("\\\\" + scratch.Path(), true));
    EXPECT_EQ(registry.ActivePath(), scratch.Path() + "\\A\\B");

    // A single backslash opens the root itself, with or without creation.
    ASSERT_TRUE(registry.OpenPath("\\", true));
    EXPECT_EQ(registry.ActivePath(), "");
    ASSERT_TRUE(registry.OpenPath(scratch.Path() + "\\A", false));
    EXPECT_EQ(registry.ReadText("Missing"), "");
}

} // namespace

namespace {

TEST_F(RegistryContract, RawTextDataComesBackByteForByte) {
    // Text values go in and out through the ANSI calls: whatever the
    // registry keeps inside, the bytes and byte count read are those written.
    // Each case is followed in memory by a byte that is not NUL (see the
    // next test for why that matters).
    const std::string cases[] = {
        std::string("abc", 3),      std::string("abc\0", 4),
        std::string("ab\0cd\0", 6), std::string("abc\0\0", 5),
        std::string("\0", 1),       std::string("\xC8\xE3\xF0\xE0\0", 5), // "Игра" in Windows-1251
    };
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ}) {
        for (const std::string& data : cases) {
            Put("", "v", type, data + 'X', data.size());
            DWORD size = 0xDEADBEEFu;
            HKEY key = 0;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratch.Path().c_str(), 0, KEY_READ, &key),
                      ERROR_SUCCESS);
            EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
            EXPECT_EQ(size, data.size()) << type << " " << ::testing::PrintToString(data);
            const Stored stored = Get("", "v");
            EXPECT_EQ(stored.type, type);
            EXPECT_EQ(stored.bytes, data) << type << " " << ::testing::PrintToString(data);
        }
    }
}

TEST_F(RegistryContract, KeyAndValueNamesMatchWhateverTheCaseOfTheirCyrillicLetters) {
    // "Ключ" and "Имя" in Windows-1251, found again through their capitals.
    Put("\xCA\xEB\xFE\xF7", "\xC8\xEC\xFF", REG_SZ, std::string("x\0", 2));
    const Stored stored = Get("\xCA\xCB\xDE\xD7", "\xC8\xCC\xDF");
    EXPECT_EQ(stored.status, ERROR_SUCCESS);
    EXPECT_EQ(stored.bytes, std::string("x\0", 2));
}

TEST_F(RegistryContract, TextWhoseCountLeavesOutTheNulThatFollowsGetsIt) {
    // The ANSI write of a text value whose last counted byte is not NUL, but
    // whose next byte in memory is, stores that NUL too.
    Put("", "Short", REG_SZ, std::string("abc\0", 4), 3);
    Put("", "Expand", REG_EXPAND_SZ, std::string("%x%\0", 4), 3);
    Put("", "Binary", REG_BINARY, std::string("abc\0", 4), 3);
    EXPECT_EQ(Get("", "Short").bytes, std::string("abc\0", 4));
    EXPECT_EQ(Get("", "Expand").bytes, std::string("%x%\0", 4));
    EXPECT_EQ(Get("", "Binary").bytes, "abc");
}

} // namespace
