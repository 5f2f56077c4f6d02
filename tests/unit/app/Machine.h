#pragma once

// A model machine for the run's tests: the game's registry entries and files,
// and helpers to read back what the run left behind.

#include "model/ModelControl.h"

#include <gtest/gtest.h>

#include <string>

namespace machine {

using namespace platform;

inline const std::string appPathsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vrk.exe";
inline const std::string lobbyKey = "Software\\Microsoft\\DirectPlay\\Applications\\RZN";
inline const std::string gameFolder = "C:\\Games\\Dunmarsh";
inline const std::string guidText = "{5E7D19A2-3C84-4f0b-9A61-2B0F47C8E3D5}";

// Text as the registry stores a string: its bytes and a terminating NUL.
inline std::string Sz(const std::string& text) { return text + '\0'; }

inline FILETIME GameBuildTime() { return model::FileTimeFromUtc(2004, 6, 15, 12, 0, 0); }

// Records the installation folder as the game's installer does.
inline void SetFolder(const std::string& folder, DWORD type = REG_SZ) {
    model::SetValue(HKEY_LOCAL_MACHINE, appPathsKey, "Path", type, Sz(folder));
}

// A machine where the game is installed in `folder` and registered for it.
inline void InstallGame(const std::string& folder = gameFolder) {
    model::AddDirectory(folder);
    model::AddFile(folder + "\\vrk.exe", GameBuildTime());
    SetFolder(folder);
}

inline std::optional<model::StoredValue> Lobby(const std::string& name) {
    return model::GetValue(HKEY_LOCAL_MACHINE, lobbyKey, name);
}

// The four values of the lobby registration hold `folder` and the fixed texts.
inline void ExpectRegistration(const std::string& folder) {
    const auto expectSz = [](const std::string& name, const std::string& text) {
        const auto value = Lobby(name);
        ASSERT_TRUE(value.has_value()) << name;
        EXPECT_EQ(value->type, REG_SZ) << name;
        EXPECT_EQ(value->bytes, Sz(text)) << name;
    };
    expectSz("CurrentDirectory", folder);
    expectSz("Path", folder);
    expectSz("File", "VRK.exe");
    expectSz("Guid", guidText);
}

inline void ExpectNothingWritten() {
    EXPECT_TRUE(model::ValueNames(HKEY_LOCAL_MACHINE, lobbyKey).empty()) << model::DumpRegistry();
}

// Fresh machine for every test; no handle of either kind may outlive a run.
class MachineTest : public ::testing::Test {
protected:
    void SetUp() override { model::Reset(); }
    void TearDown() override {
        EXPECT_EQ(model::OpenKeyHandles(), 0);
        EXPECT_EQ(model::OpenSearchHandles(), 0);
    }
};

} // namespace machine
