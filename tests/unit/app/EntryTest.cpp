// The guarded entry: ordinary endings pass through unchanged; a failure that
// leaves the run is shown once, in an error box with its own message, and
// ends the program with status 2 while keeping what was already written.

#include "app/Entry.h"
#include "app/Texts.h"
#include "core/Exception.h"

#include "Machine.h"

#include <new>

using namespace machine;
using model::BoxAction;

namespace {

int Enter() { return RunProgram(0x00400000u, 0, "", 10); }

// The one box a failure leaves behind: no owner, the error caption, OK only
// with the error icon, and the failure's own message.
void ExpectFailureBox(const model::ShownBox& shown, const std::string& message) {
    EXPECT_EQ(shown.owner, 0u);
    EXPECT_EQ(shown.text, message);
    EXPECT_EQ(shown.caption, errorBox.caption);
    EXPECT_EQ(shown.type, MB_ICONERROR); // MB_OK is 0
}

} // namespace

class EntryTest : public MachineTest {};

TEST_F(EntryTest, FailedWriteKeepsEarlierValuesAndShowsItsMessage) {
    InstallGame();
    model::FailSetValue("File");
    model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok});

    EXPECT_EQ(Enter(), 2); // the status of an unexpected failure

    EXPECT_EQ(Lobby("CurrentDirectory").value_or(model::StoredValue{}).bytes, Sz(gameFolder));
    EXPECT_EQ(Lobby("Path").value_or(model::StoredValue{}).bytes, Sz(gameFolder));
    EXPECT_FALSE(Lobby("File").has_value());
    EXPECT_FALSE(Lobby("Guid").has_value());
    const auto& boxes = model::ShownBoxes();
    ASSERT_EQ(boxes.size(), 2u); // the question, then the failure; no success box
    EXPECT_EQ(boxes[0].text, questionBox.text);
    ExpectFailureBox(boxes[1], "Failed to set data for 'File'");
}

// A folder value that cannot be read is a failure of its own, not a game
// that is missing: its message, status 2 and no lobby key.
TEST_F(EntryTest, UnreadableFolderShowsItsMessageAndWritesNothing) {
    struct Case {
        const char* name;
        void (*arrange)();
        std::string message;
    };
    const Case cases[] = {
        {"wrong type",
         [] {
             model::SetValue(HKEY_LOCAL_MACHINE, appPathsKey, "Path", REG_DWORD,
                             std::string("\x01\0\0\0", 4));
         },
         "Invalid data type for 'Path'"},
        {"grows while read",
         [] { model::GrowValueBeforeRead(HKEY_LOCAL_MACHINE, appPathsKey, "Path", "\\Longer"); },
         "Failed to get data for 'Path'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model::Reset();
        InstallGame();
        c.arrange();
        model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok});

        EXPECT_EQ(Enter(), 2);

        ASSERT_EQ(model::ShownBoxes().size(), 2u);
        ExpectFailureBox(model::ShownBoxes()[1], c.message);
        EXPECT_FALSE(model::KeyExists(HKEY_LOCAL_MACHINE, lobbyKey));
    }
}

// Failures of every kind, thrown by a stand-in run.
TEST_F(EntryTest, AnyFailureBecomesOneBoxAndStatusTwo) {
    struct Case {
        const char* name;
        TRunFunction run;
        std::string message;
    };
    const Case cases[] = {
        {"program error", [](HMODULE, HMODULE, const char*, int) -> int { throw Exception("Broken 'X'"); },
         "Broken 'X'"},
        {"out of memory", [](HMODULE, HMODULE, const char*, int) -> int { throw std::bad_alloc(); },
         std::bad_alloc().what()},
        {"error without a message", [](HMODULE, HMODULE, const char*, int) -> int { throw Exception(""); },
         unexpectedFailureText},
        {"something not an exception class", [](HMODULE, HMODULE, const char*, int) -> int { throw 42; },
         unexpectedFailureText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model::Reset();

        EXPECT_EQ(RunGuarded(c.run, 0x00400000u, 0, "", 10), 2);

        ASSERT_EQ(model::ShownBoxes().size(), 1u);
        ExpectFailureBox(model::ShownBoxes()[0], c.message);
        EXPECT_TRUE(model::DllSearchRestricted());
    }
}

TEST_F(EntryTest, HandsTheRunItsArgumentsAndReturnsItsResult) {
    static HMODULE seenInstance;
    static HMODULE seenPrevious;
    static std::string seenCommandLine;
    static int seenShow;
    const TRunFunction recorder = [](HMODULE instance, HMODULE previous, const char* commandLine,
                                     int show) -> int {
        seenInstance = instance;
        seenPrevious = previous;
        seenCommandLine = commandLine;
        seenShow = show;
        return 7;
    };

    EXPECT_EQ(RunGuarded(recorder, 0x00400000u, 0, "-x \"y\"", 10), 7);

    EXPECT_EQ(seenInstance, 0x00400000u);
    EXPECT_EQ(seenPrevious, 0u);
    EXPECT_EQ(seenCommandLine, "-x \"y\"");
    EXPECT_EQ(seenShow, 10);
    EXPECT_TRUE(model::ShownBoxes().empty());
}

// The whole program on an installed game, call by call: the DLL search limit,
// then only what the run needs. The lobby key is opened before the game's key
// is released, and the one key still open is released when the run ends.
TEST_F(EntryTest, InstalledGameMakesExactlyTheseCalls) {
    InstallGame();
    model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok});

    ASSERT_EQ(Enter(), 0);

    // Byte counts and handles appear in hexadecimal.
    const auto box = [](const TBoxText& shown) {
        return std::string("MessageBoxA(0, \"") + shown.text + "\", \"" + shown.caption + "\", 1)";
    };
    const std::string appPaths = "\"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vrk.exe\"";
    const std::string lobby = "\"Software\\Microsoft\\DirectPlay\\Applications\\RZN\"";
    const std::vector<std::string> expected = {
        "RestrictDllSearchToSystem32()",
        box(questionBox),
        "RegOpenKeyExA(80000002, " + appPaths + ", 0, F003F)",
        "RegQueryValueExA(1000, \"Path\", null, null, 0)",
        "RegQueryValueExA(1000, \"Path\", null, buffer, 12)",
        "FindFirstFileA(\"C:\\Games\\Dunmarsh\\vrk.exe\")",
        "FindClose(1000)",
        "FileTimeToLocalFileTime(01C452D048B96000)",
        "FileTimeToDosDateTime(01C452D048B96000)",
        "RegCreateKeyExA(80000002, " + lobby + ", 0, null, 0, F003F, null)",
        "RegCloseKey(1000)",
        "RegSetValueExA(1004, \"CurrentDirectory\", 0, 1, data, 12)",
        "RegSetValueExA(1004, \"Path\", 0, 1, data, 12)",
        "RegSetValueExA(1004, \"File\", 0, 1, data, 8)",
        "RegSetValueExA(1004, \"Guid\", 0, 1, data, 27)",
        box(successBox),
        "RegCloseKey(1004)",
    };
    EXPECT_EQ(model::Calls(), expected);
}
