// The tests' machine on the host: a fresh in-memory Windows for every
// scratch key, test folder and registry test.

#include "ContractTarget.h"
#include "RegistryTest.h"
#include "TestFolder.h"
#include "model/ModelControl.h"

namespace contract {

bool RunningOnWine() { return false; }

ScratchKey::ScratchKey() : path_("Software\\lobbyfix-contract") {
    model::Reset();
    model::CreateKey(platform::HKEY_CURRENT_USER, path_);
}

ScratchKey::~ScratchKey() = default;

void ScratchKey::DenyFullAccess(const std::string& relative) {
    model::DenyFullAccess(platform::HKEY_CURRENT_USER, path_ + "\\" + relative);
}

} // namespace contract

// The folder lies on the model's drive C:.
TestFolder::TestFolder() : path_("C:\\lobbyfix tests") {
    model::Reset();
    model::AddDirectory(path_);
}

TestFolder::~TestFolder() = default;

void TestFolder::MakeFile(const std::string& relative, platform::FILETIME lastWriteUtc,
                          platform::DWORD attributes) {
    model::AddFile(path_ + "\\" + relative, lastWriteUtc, attributes);
}

void TestFolder::MakeDirectory(const std::string& relative) { model::AddDirectory(path_ + "\\" + relative); }

std::optional<int> TestFolder::OpenSearches() const { return model::OpenSearchHandles(); }

// Objects under test live inside the test body, so they are gone by the time
// TearDown looks for open handles.
void RegistryTest::SetUp() { model::Reset(); }

void RegistryTest::TearDown() { EXPECT_EQ(model::OpenKeyHandles(), 0) << "a key handle was left open"; }
