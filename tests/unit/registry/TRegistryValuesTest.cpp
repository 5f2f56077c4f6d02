// TRegistry: reading and writing text values, and the errors they raise.

#include "RegistryTestSupport.h"
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

TEST_F(TRegistryValues, TextValuesReadUpToTheirFirstNul) {
    Store("Terminated", REG_SZ, std::string("abc\0", 4));
    Store("Unterminated", REG_SZ, "abc");
    Store("Middle", REG_SZ, std::string("ab\0cd\0", 6));
    Store("Expand", REG_EXPAND_SZ, std::string("%WINDIR%\\Games\0", 15));
    Store("Cyrillic", REG_SZ, std::string("C:\\\xC8\xE3\xF0\xFB\0", 8));
    Store("", REG_SZ, std::string("default\0", 8));
    TRegistry& registry = Open();
    EXPECT_EQ(registry.ReadText("Terminated"), "abc");
    EXPECT_EQ(registry.ReadText("UNTERMINATED"), "abc");
    EXPECT_EQ(registry.ReadText("Middle"), "ab");
    EXPECT_EQ(registry.ReadText("Expand"), "%WINDIR%\\Games");
    EXPECT_EQ(registry.ReadText("Cyrillic"), "C:\\\xC8\xE3\xF0\xFB");
    EXPECT_EQ(registry.ReadText(""), "default");
}

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

TEST_F(TRegistryValues, NothingToReadGivesEmptyTextWithoutError) {
    for (const DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ, REG_NONE}) {
        Store("Empty" + std::to_string(type), type, "");
    }
    {
        TRegistry closed; // no key open: the query goes to handle 0 and fails
        EXPECT_EQ(closed.ReadText("Path"), "");
    }
    TRegistry& registry = Open();
    EXPECT_EQ(registry.ReadText("Missing"), "");
    for (const DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ, REG_NONE}) {
        EXPECT_EQ(registry.ReadText("Empty" + std::to_string(type)), "") << type;
    }
    EXPECT_EQ(CountCalls("RegQueryValueExA(" + HexKey(registry.ActiveKey()) + ", \"Missing\", null, buffer"),
              0);
}

TEST_F(TRegistryValues, DataThatIsNotTextRaisesAfterBothQueries) {
    Store("Dword", REG_DWORD, std::string("\x01\0\0\0", 4));
    Store("Bytes", REG_BINARY, "xyz");
    Store("Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    Store("None", REG_NONE, "x");
    Store("Link", 6, "x");
    TRegistry& registry = Open();
    for (const char* name : {"Dword", "Bytes", "Multi", "None", "Link"}) {
        const long queries = CountCalls("RegQueryValueExA");
        EXPECT_EQ(RaisedMessage([&] { registry.ReadText(name); }),
                  std::string("Invalid data type for '") + name + "'");
        EXPECT_EQ(CountCalls("RegQueryValueExA") - queries, 2);
    }
    EXPECT_EQ(registry.ActivePath(), kKey);
}

TEST_F(TRegistryValues, ValueThatGrowsBeforeTheReadRaises) {
    Store("Path", REG_SZ, std::string("C:\\G\0", 5));
    model::GrowValueBeforeRead(HKEY_LOCAL_MACHINE, kKey, "Path", "ame");
    TRegistry& registry = Open();
    EXPECT_EQ(RaisedMessage([&] { registry.ReadText("Path"); }), "Failed to get data for 'Path'");
    EXPECT_EQ(registry.ReadText("Path"), "C:\\G"); // grown data, read again in full, still ends at the NUL
}

TEST_F(TRegistryValues, WritesStoreTheTextAndItsNul) {
    Store("Path", REG_BINARY, "old");
    Store("Other", REG_SZ, "keep");
    TRegistry& registry = Open();
    registry.WriteText("File", "VRK.exe");
    registry.WriteText("path", "");
    registry.WriteText("Odd", std::string("ab\0cd", 5));

    const auto stored = [](const char* name) { return model::GetValue(HKEY_LOCAL_MACHINE, kKey, name); };
    EXPECT_EQ(stored("File")->type, REG_SZ);
    EXPECT_EQ(stored("File")->bytes, std::string("VRK.exe\0", 8));
    EXPECT_EQ(stored("Path")->type, REG_SZ);
    EXPECT_EQ(stored("Path")->bytes, std::string(1, '\0'));
    EXPECT_EQ(stored("Odd")->bytes, std::string("ab\0cd\0", 6));
    EXPECT_EQ(stored("Other")->bytes, "keep");
    EXPECT_EQ(registry.ReadText("Odd"), "ab");
    EXPECT_GE(CallIndex("RegSetValueExA(" + HexKey(registry.ActiveKey()) + ", \"File\", 0, 1, data, 8)"), 0);
}

TEST_F(TRegistryValues, FailedWritesRaiseAndKeepWhatWasWritten) {
    model::FailSetValue("Guid");
    {
        TRegistry closed;
        EXPECT_EQ(RaisedMessage([&] { closed.WriteText("File", "x"); }), "Failed to set data for 'File'");
    }
    TRegistry& registry = Open();
    registry.WriteText("File", "VRK.exe");
    EXPECT_EQ(RaisedMessage([&] { registry.WriteText("Guid", "{x}"); }), "Failed to set data for 'Guid'");
    EXPECT_TRUE(model::GetValue(HKEY_LOCAL_MACHINE, kKey, "File").has_value());
    EXPECT_FALSE(model::GetValue(HKEY_LOCAL_MACHINE, kKey, "Guid").has_value());
    EXPECT_EQ(registry.ActivePath(), kKey);
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

TEST_F(RegistryErrorText, FillsTheFirstSlotOnlyAndCarriesItAsAnException) {
    EXPECT_EQ(FillTemplate("Failed to get data for '%s'", "Path"), "Failed to get data for 'Path'");
    EXPECT_EQ(FillTemplate("%s and %s", "%s"), "%s and %s");
    EXPECT_EQ(FillTemplate("no slot", "Path"), "no slot");
    EXPECT_EQ(FillTemplate("'%s'", ""), "''");
    try {
        RaiseRegistryError(IDS_REG_INVALID_TYPE, "Guid");
    } catch (const Exception& error) {
        EXPECT_NE(dynamic_cast<const ERegistryException*>(&error), nullptr);
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

TEST(RegistryValueKinds, MapBothWaysWithTheirCrossedOrdinals) {
    EXPECT_EQ(static_cast<int>(vkInteger), 3);
    EXPECT_EQ(static_cast<int>(vkBytes), 4);
    for (DWORD type = 0; type < 16; ++type) {
        const TValueKind kind = KindFromRegType(type);
        if (kind == vkOther) {
            EXPECT_TRUE(type == 0 || type > 4) << type;
        } else {
            EXPECT_EQ(RegTypeFromKind(kind), type);
        }
    }
    EXPECT_EQ(KindFromRegType(REG_DWORD), vkInteger);
    EXPECT_EQ(KindFromRegType(REG_BINARY), vkBytes);
    EXPECT_EQ(KindFromRegType(0xFFFFFFFFu), vkOther);
    for (int ordinal = 5; ordinal < 256; ++ordinal) {
        EXPECT_EQ(RegTypeFromKind(static_cast<TValueKind>(ordinal)), REG_NONE) << ordinal;
    }
    EXPECT_EQ(RegTypeFromKind(vkOther), REG_NONE);
}

TEST(RegistryValueText, OnlyTextKindsBecomeText) {
    EXPECT_EQ(TextFromValueData(std::string("a\0b", 3), vkText), "a");
    EXPECT_EQ(TextFromValueData("%PATH%", vkExpandText), "%PATH%");
    EXPECT_EQ(TextFromValueData(std::string("\0", 1), vkText), "");
    EXPECT_FALSE(TextFromValueData("abc", vkBytes).has_value());
    EXPECT_FALSE(TextFromValueData("abcd", vkInteger).has_value());
    EXPECT_FALSE(TextFromValueData("abc", vkOther).has_value());
}

} // namespace
