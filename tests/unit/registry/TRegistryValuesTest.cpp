// TRegistry: reading and writing text values, and the errors they raise.

#include "RegistryTest.h"
#include "model/CallLog.h"
#include "registry/MessageTemplates.h"
#include "registry/RegistryErrors.h"
#include "registry/TRegistry.h"

#include <optional>
#include <utility>

using namespace platform;

namespace {

const std::string kKey = "Software\\Game";

// A registry with the test key open and, for every value given, that value.
class TRegistryValues : public RegistryTest {
protected:
    void Store(const std::string& name, DWORD type, const std::string& bytes) {
        model::SetValue(HKEY_LOCAL_MACHINE, kKey, name, type, bytes);
    }
    TRegistry& Open() {
        model::CreateKey(HKEY_LOCAL_MACHINE, kKey);
        registry_.emplace();
        registry_->SelectRoot(HKEY_LOCAL_MACHINE);
        EXPECT_TRUE(registry_->OpenPath("\\" + kKey, false));
        return *registry_;
    }
    // The message of the ERegistryException that the action raises.
    template <typename Action>
    static std::string RaisedMessage(Action action) {
        try {
            action();
        } catch (const ERegistryException& error) {
            return error.Message();
        }
        ADD_FAILURE() << "no ERegistryException";
        return {};
    }
    void TearDown() override {
        registry_.reset();
        RegistryTest::TearDown();
    }

    std::optional<TRegistry> registry_;
};

TEST_F(TRegistryValues, ReadAsksForTheSizeThenReadsExactlyThatMuch) {
    Store("Path", REG_SZ, std::string("C:\\Game\0", 8));
    TRegistry& registry = Open();
    const std::string key = HexKey(registry.ActiveKey());
    const auto before = model::Calls().size();
    EXPECT_EQ(registry.ReadText("Path"), "C:\\Game");
    const std::vector<std::string> reads(model::Calls().begin() + static_cast<long>(before),
                                         model::Calls().end());
    EXPECT_EQ(reads, (std::vector<std::string>{"RegQueryValueExA(" + key + ", \"Path\", null, null, 0)",
                                               "RegQueryValueExA(" + key + ", \"Path\", null, buffer, 8)"}));
}

// The type is judged only once the data has been read.
TEST_F(TRegistryValues, DataThatIsNotTextRaisesAfterBothQueries) {
    Store("None", REG_NONE, "x");
    TRegistry& registry = Open();
    EXPECT_EQ(RaisedMessage([&] { registry.ReadText("None"); }), "Invalid data type for 'None'");
    EXPECT_EQ(CountCalls("RegQueryValueExA"), 2);
}

TEST_F(TRegistryValues, ValueThatGrowsBeforeTheReadRaises) {
    Store("Path", REG_SZ, std::string("C:\\G\0", 5));
    model::GrowValueBeforeRead(HKEY_LOCAL_MACHINE, kKey, "Path", "ame");
    TRegistry& registry = Open();
    EXPECT_EQ(RaisedMessage([&] { registry.ReadText("Path"); }), "Failed to get data for 'Path'");
    EXPECT_EQ(registry.ReadText("Path"), "C:\\G"); // grown data, read again in full, still ends at the NUL
}

TEST_F(TRegistryValues, MessagesComeFromTheProgramsStringTable) {
    model::SetString(IDS_REG_GET_FAILED, "Cannot read %s now");
    model::SetString(IDS_REG_SET_FAILED, "");                              // yields nothing
    model::SetString(IDS_REG_INVALID_TYPE, std::string(1100, 'x') + "%s"); // longer than the buffer
    Store("Bytes", REG_BINARY, "xyz");
    Store("Path", REG_SZ, "ab");
    model::GrowValueBeforeRead(HKEY_LOCAL_MACHINE, kKey, "Path", "c");
    model::FailSetValue("%s %d");
    TRegistry& registry = Open();

    EXPECT_EQ(RaisedMessage([&] { registry.ReadText("Path"); }), "Cannot read Path now");
    EXPECT_EQ(model::Calls().back(), "LoadStringA(400000, 65509, 1024)");
    EXPECT_EQ(model::Calls()[model::Calls().size() - 2], "GetModuleHandleA(null)");
    // An entry that yields nothing falls back to the built-in text; a name
    // with % signs in it is taken literally.
    EXPECT_EQ(RaisedMessage([&] { registry.WriteText("%s %d", "x"); }), "Failed to set data for '%s %d'");
    // Only 1023 characters of a template fit the buffer, so this one loses its %s.
    EXPECT_EQ(RaisedMessage([&] { registry.ReadText("Bytes"); }), std::string(1023, 'x'));
}

using RegistryErrorText = RegistryTest;

TEST_F(RegistryErrorText, FillsTheFirstSlotOnlyAndIsReadableAsAStdException) {
    EXPECT_EQ(FillTemplate("%s and %s", "%s"), "%s and %s");
    try {
        RaiseRegistryError(IDS_REG_INVALID_TYPE, "Guid");
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'Guid'");
    }
}

// A string table that yields nothing (an entry removed from the resources,
// a stripped executable) still gives every error its exact text.
TEST_F(RegistryErrorText, EveryTemplateHasItsOwnBuiltInText) {
    const std::pair<UINT, const char*> templates[] = {
        {65507, "Invalid data type for '%s'"},
        {65508, "Failed to set data for '%s'"},
        {65509, "Failed to get data for '%s'"},
    };
    for (const auto& [id, text] : templates) {
        model::SetString(id, "");
        EXPECT_EQ(LoadMessageTemplate(id), text) << id;
    }
    EXPECT_EQ(LoadMessageTemplate(65506), "") << "no text for an id of no error";
}

// The registry layer's kinds do not share the registry's type numbers;
// every kind it knows maps back to the type it came from.
TEST(RegistryValueKinds, MapBothWays) {
    for (DWORD type = 0; type < 16; ++type) {
        const TValueKind kind = KindFromRegType(type);
        if (kind == vkOther) {
            EXPECT_TRUE(type == REG_NONE || type > REG_DWORD) << type;
        } else {
            EXPECT_EQ(RegTypeFromKind(kind), type);
        }
    }
}

} // namespace
