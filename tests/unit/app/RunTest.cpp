// The registration run over the model machine: what the user sees, what the
// registry holds afterwards and what the run returns.

#include "app/Run.h"
#include "app/Texts.h"

#include "Machine.h"
#include "model/CallLog.h"

#include <vector>

using namespace machine;
using model::BoxAction;

namespace {

int RunOnce() { return RunRegistration(0x00400000u, 0, "", 10); }

void ExpectBox(const model::ShownBox& shown, const TBoxText& box) {
    EXPECT_EQ(shown.owner, 0u);
    EXPECT_EQ(shown.text, box.text);
    EXPECT_EQ(shown.caption, box.caption);
    EXPECT_EQ(shown.type, box.style);
}

// The run asked, then reported that the game is not installed.
void ExpectQuestionThenError() {
    const auto& boxes = model::ShownBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    ExpectBox(boxes[0], questionBox);
    ExpectBox(boxes[1], errorBox);
}

} // namespace

class RunTest : public MachineTest {};

// Declining the question ends the run before anything is looked up;
// declining the success box still leaves the registration in place.
TEST_F(RunTest, DeclinedBoxesEndWithOne) {
    struct Case {
        const char* name;
        std::vector<BoxAction> answers;
        bool registered;
    };
    const Case cases[] = {
        {"question cancelled", {BoxAction::Cancel}, false},
        {"question closed", {BoxAction::Close}, false},
        {"success cancelled", {BoxAction::Ok, BoxAction::Cancel}, true},
        {"success closed", {BoxAction::Ok, BoxAction::Close}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model::Reset();
        InstallGame();
        for (const BoxAction answer : c.answers) {
            model::ScriptBoxes({answer});
        }

        EXPECT_EQ(RunOnce(), 1);

        EXPECT_EQ(model::ShownBoxes().size(), c.answers.size());
        if (c.registered) {
            ExpectRegistration(gameFolder);
        } else {
            EXPECT_EQ(model::Calls().size(), 1u) << "only the question may be asked";
        }
    }
}

// Each way in which the game counts as not installed ends with the one error
// box, status 1 and an untouched lobby registration.
TEST_F(RunTest, GameNotFoundShowsTheErrorBoxAndWritesNothing) {
    struct Case {
        const char* name;
        void (*arrange)();
    };
    const Case cases[] = {
        {"no App Paths key",
         [] {
             model::AddDirectory(gameFolder);
             model::AddFile(gameFolder + "\\vrk.exe", GameBuildTime());
         }},
        {"App Paths key readable but not fully accessible",
         [] {
             InstallGame();
             model::DenyFullAccess(HKEY_LOCAL_MACHINE, appPathsKey);
         }},
        {"no executable in the folder",
         [] {
             model::AddDirectory(gameFolder);
             SetFolder(gameFolder);
         }},
        {"folder missing altogether", [] { SetFolder("D:\\Nowhere"); }},
        {"a directory named vrk.exe",
         [] {
             model::AddDirectory(gameFolder);
             model::AddDirectory(gameFolder + "\\vrk.exe");
             SetFolder(gameFolder);
         }},
        {"executable written before 1980 local time",
         [] {
             InstallGame();
             model::AddFile(gameFolder + "\\vrk.exe", model::FileTimeFromUtc(1979, 12, 31, 23, 59, 58));
         }},
        {"executable 1980 in UTC but 1979 in local time",
         [] {
             InstallGame();
             model::AddFile(gameFolder + "\\vrk.exe", model::FileTimeFromUtc(1980, 1, 1, 0, 30, 0));
             model::SetUtcOffsetMinutes(-60);
         }},
        {"executable written after 2107",
         [] {
             InstallGame();
             model::AddFile(gameFolder + "\\vrk.exe", model::FileTimeFromUtc(2108, 1, 1, 0, 0, 0));
         }},
        {"lobby key cannot be created",
         [] {
             InstallGame();
             model::DenyFullAccess(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectPlay\\Applications");
         }},
        {"lobby key exists but is not fully accessible",
         [] {
             InstallGame();
             model::DenyFullAccess(HKEY_LOCAL_MACHINE, lobbyKey);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model::Reset();
        c.arrange();
        model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok});

        EXPECT_EQ(RunOnce(), 1);

        ExpectQuestionThenError();
        ExpectNothingWritten();
        EXPECT_EQ(model::OpenKeyHandles(), 0);
        EXPECT_EQ(model::OpenSearchHandles(), 0);
    }
}

// An empty folder names the executable at the root of the current drive.
TEST_F(RunTest, EmptyOrMissingFolderLooksAtTheDriveRoot) {
    struct Case {
        const char* name;
        void (*arrange)();
    };
    const Case folders[] = {
        {"no Path value", [] { model::CreateKey(HKEY_LOCAL_MACHINE, appPathsKey); }},
        {"empty Path value", [] { SetFolder(""); }},
        {"Path value of zero bytes",
         [] { model::SetValue(HKEY_LOCAL_MACHINE, appPathsKey, "Path", REG_SZ, ""); }},
    };
    for (const Case& c : folders) {
        SCOPED_TRACE(c.name);

        model::Reset();
        c.arrange();
        model::AddDirectory(gameFolder);
        model::AddFile(gameFolder + "\\vrk.exe", GameBuildTime());
        model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok});
        EXPECT_EQ(RunOnce(), 1);
        ExpectQuestionThenError();
        ExpectNothingWritten();

        model::Reset();
        c.arrange();
        model::AddDirectory("C:\\Temp");
        model::SetCurrentDirectory("C:\\Temp");
        model::AddFile("C:\\vrk.exe", GameBuildTime());
        model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok});
        EXPECT_EQ(RunOnce(), 0);
        EXPECT_GE(CallIndex("FindFirstFileA(\"\\vrk.exe\""), 0);
        ExpectRegistration("");
    }
}

TEST_F(RunTest, FolderWithTrailingBackslashIsUsedUnchanged) {
    const std::string folder = gameFolder + "\\";
    model::AddDirectory(gameFolder);
    model::AddFile(gameFolder + "\\vrk.exe", GameBuildTime());
    SetFolder(folder);
    model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok});

    EXPECT_EQ(RunOnce(), 0);

    EXPECT_GE(CallIndex("FindFirstFileA(\"C:\\Games\\Dunmarsh\\\\vrk.exe\""), 0);
    ExpectRegistration(folder);
}

TEST_F(RunTest, FolderIsNeitherTrimmedNorExpanded) {
    // The folder text names a directory literally called "%GAMES%" below the
    // current directory; the variable is never looked up.
    const std::string folder = "%GAMES%\\Dunmarsh ";
    for (const DWORD type : {REG_SZ, REG_EXPAND_SZ}) {
        SCOPED_TRACE(type);
        model::Reset();
        model::AddDirectory("C:\\%GAMES%");
        model::AddDirectory("C:\\%GAMES%\\Dunmarsh ");
        model::AddFile("C:\\%GAMES%\\Dunmarsh \\vrk.exe", GameBuildTime());
        SetFolder(folder, type);
        model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok});

        EXPECT_EQ(RunOnce(), 0);

        EXPECT_GE(CallIndex("FindFirstFileA(\"%GAMES%\\Dunmarsh \\vrk.exe\""), 0);
        // Written back as plain text, whatever type it was read from.
        ExpectRegistration(folder);
    }
}

TEST_F(RunTest, SecondRunLeavesTheSameRegistry) {
    InstallGame();
    model::ScriptBoxes({BoxAction::Ok, BoxAction::Ok, BoxAction::Ok, BoxAction::Ok});

    ASSERT_EQ(RunOnce(), 0);
    const std::string afterFirst = model::DumpRegistry();
    ASSERT_EQ(RunOnce(), 0);

    EXPECT_EQ(model::DumpRegistry(), afterFirst);
}
