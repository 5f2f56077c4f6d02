// TRegistry: which key a path names, which key stays active, and that every
// key it opens is released exactly once.

#include "RegistryTest.h"
#include "model/CallLog.h"
#include "registry/TRegistry.h"

using namespace platform;

namespace {

using TRegistryKeys = RegistryTest;

const std::string kHklm = "80000002";

TEST_F(TRegistryKeys, AbsoluteAndRelativePathsPickTheirBase) {
    model::CreateKey(HKEY_LOCAL_MACHINE, "Software\\A\\B");
    model::CreateKey(HKEY_LOCAL_MACHINE, "Software\\C");
    TRegistry registry;
    registry.SelectRoot(HKEY_LOCAL_MACHINE);

    ASSERT_TRUE(registry.OpenPath("\\Software\\A", false));
    EXPECT_EQ(model::Calls().back(), "RegOpenKeyExA(" + kHklm + ", \"Software\\A\", 0, F003F)");
    const std::string a = HexKey(registry.ActiveKey());

    ASSERT_TRUE(registry.OpenPath("B", false));
    EXPECT_EQ(registry.ActivePath(), "Software\\A\\B");
    EXPECT_EQ(CallIndex("RegOpenKeyExA(" + a + ", \"B\","), CallIndex("RegCloseKey(" + a + ")") - 1);
    const std::string ab = HexKey(registry.ActiveKey());

    // Absolute again: from the root, and the old key goes only after the new
    // one is open.
    ASSERT_TRUE(registry.OpenPath("\\Software\\C", true));
    EXPECT_EQ(registry.ActivePath(), "Software\\C");
    EXPECT_LT(CallIndex("RegCreateKeyExA(" + kHklm + ", \"Software\\C\", 0, null, 0, F003F, null)"),
              CallIndex("RegCloseKey(" + ab + ")"));
    EXPECT_EQ(model::OpenKeyHandles(), 1);
}

TEST_F(TRegistryKeys, LoneBackslashOpensTheRootItselfAndNeverCreates) {
    for (const bool mayCreate : {false, true}) {
        model::Reset();
        model::CreateKey(HKEY_LOCAL_MACHINE, "Software\\A");
        TRegistry registry;
        registry.SelectRoot(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(registry.OpenPath("\\Software\\A", false));
        ASSERT_TRUE(registry.OpenPath("\\", mayCreate));
        EXPECT_EQ(registry.ActiveKey(), HKEY_LOCAL_MACHINE);
        EXPECT_EQ(registry.ActivePath(), "");
        EXPECT_EQ(CountCalls("RegCreateKeyExA"), 0);
        EXPECT_TRUE(model::Calls().back().starts_with("RegCloseKey(")); // the old key went

        // From the root itself a relative path grows a clean path.
        ASSERT_TRUE(registry.OpenPath("Software", false));
        EXPECT_EQ(registry.ActivePath(), "Software");
        // An empty relative path opens the active key afresh; the path stays.
        ASSERT_TRUE(registry.OpenPath("", mayCreate));
        EXPECT_EQ(registry.ActivePath(), "Software");
    }
}

TEST_F(TRegistryKeys, FailedOpenChangesNothing) {
    model::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Good");
    model::DenyFullAccess(HKEY_LOCAL_MACHINE, "Software\\Locked");
    TRegistry registry;
    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenPath("\\Software\\Good", false));
    const HKEY good = registry.ActiveKey();

    struct Attempt {
        const char* path;
        bool mayCreate;
    };
    for (const Attempt attempt :
         {Attempt{"\\Software\\Missing", false}, Attempt{"Missing", false}, Attempt{"\\\\Software", false},
          Attempt{"\\\\Software", true}, Attempt{"/Software", false}, Attempt{"\\Software\\Locked", false},
          Attempt{"\\Software\\Locked", true}, Attempt{"\\Software\\Locked\\Sub", true}}) {
        EXPECT_FALSE(registry.OpenPath(attempt.path, attempt.mayCreate)) << attempt.path;
        EXPECT_EQ(registry.ActiveKey(), good) << attempt.path;
        EXPECT_EQ(registry.ActivePath(), "Software\\Good") << attempt.path;
    }
    EXPECT_EQ(CountCalls("RegCloseKey"), 0);
    EXPECT_FALSE(model::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Missing"));
    EXPECT_FALSE(model::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Locked\\Sub"));
    // The second backslash reached the registry as part of the path.
    EXPECT_GE(CallIndex("RegOpenKeyExA(" + kHklm + ", \"\\Software\", 0, F003F)"), 0);

    // Later writes still go to the key that stayed active.
    registry.WriteText("Kept", "yes");
    EXPECT_TRUE(model::GetValue(HKEY_LOCAL_MACHINE, "Software\\Good", "Kept").has_value());
}

TEST_F(TRegistryKeys, SelectRootKeepsOrDropsTheActiveKey) {
    model::CreateKey(HKEY_LOCAL_MACHINE, "Software\\A");
    model::CreateKey(HKEY_CURRENT_USER, "Software\\A");
    TRegistry registry; // a new object works on the current user
    EXPECT_EQ(registry.RootHandle(), HKEY_CURRENT_USER);
    registry.SelectRoot(HKEY_CURRENT_USER);
    EXPECT_TRUE(model::Calls().empty());
    ASSERT_TRUE(registry.OpenPath("Software\\A", false));
    const HKEY key = registry.ActiveKey();
    const auto callsBefore = model::Calls().size();

    registry.SelectRoot(HKEY_CURRENT_USER); // the same root: nothing at all happens
    EXPECT_EQ(model::Calls().size(), callsBefore);
    EXPECT_EQ(registry.ActiveKey(), key);
    EXPECT_EQ(registry.ActivePath(), "Software\\A");

    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(model::Calls().back(), "RegCloseKey(" + HexKey(key) + ")");
    EXPECT_EQ(registry.ActiveKey(), 0u);
    EXPECT_EQ(registry.ActivePath(), "");
    EXPECT_EQ(registry.RootHandle(), HKEY_LOCAL_MACHINE);
    // With no key open, a relative path starts at the new root.
    ASSERT_TRUE(registry.OpenPath("Software", false));
    EXPECT_EQ(model::Calls().back(), "RegOpenKeyExA(" + kHklm + ", \"Software\", 0, F003F)");
    EXPECT_EQ(registry.ActivePath(), "Software");
}

TEST_F(TRegistryKeys, EveryOpenedKeyIsReleasedExactlyOnce) {
    model::CreateKey(HKEY_LOCAL_MACHINE, "Software\\A\\B");
    std::vector<HKEY> opened;
    {
        TRegistry registry;
        registry.SelectRoot(HKEY_LOCAL_MACHINE);
        for (const char* path : {"\\Software", "A", "B", "", "\\Software\\A", "\\Software\\X\\Y"}) {
            ASSERT_TRUE(registry.OpenPath(path, true)) << path;
            opened.push_back(registry.ActiveKey());
            EXPECT_EQ(model::OpenKeyHandles(), 1) << path;
        }
        registry.ReleaseCurrent();
        EXPECT_EQ(registry.ActiveKey(), 0u);
        EXPECT_EQ(registry.ActivePath(), "");
        registry.ReleaseCurrent(); // nothing left to release
        ASSERT_TRUE(registry.OpenPath("Software", false));
        opened.push_back(registry.ActiveKey());
    } // destruction releases the last one
    for (const HKEY key : opened) {
        EXPECT_EQ(CountCalls("RegCloseKey(" + HexKey(key) + ")"), 1) << HexKey(key);
    }
    EXPECT_EQ(CountCalls("RegCloseKey"), static_cast<long>(opened.size()));
}

} // namespace
