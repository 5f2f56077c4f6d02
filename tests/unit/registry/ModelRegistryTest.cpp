// The model's registry dump: other tests compare dumps to show that a run
// left the registry as it was, which shows nothing unless a change to a value
// changes the dump and the order of the writes does not.

#include "RegistryTest.h"
#include "model/ModelControl.h"

using namespace platform;

namespace {

using ModelRegistry = RegistryTest;

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

} // namespace
