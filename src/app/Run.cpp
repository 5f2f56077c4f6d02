#include "app/Run.h"

#include "app/Texts.h"
#include "core/AnsiString.h"
#include "fs/FileStamp.h"
#include "registry/TRegistry.h"

namespace {

// Where the game's installer records the folder of its executable. Both key
// paths start with a backslash, so they are taken from the root key whatever
// key is open at the time.
const char appPathsKey[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vrk.exe";
const char folderValue[] = "Path";
const char executableSuffix[] = "\\vrk.exe";

// Where the lobby service looks the game up.
const char lobbyKey[] = "\\Software\\Microsoft\\DirectPlay\\Applications\\RZN";
const char lobbyFile[] = "VRK.exe";
const char lobbyGuid[] = "{5E7D19A2-3C84-4f0b-9A61-2B0F47C8E3D5}";

int ShowBox(const TBoxText& box) { return platform::MessageBoxA(0, box.text, box.caption, box.style); }

// Every expected failure ends the same way: the game counts as not installed.
int ReportNotInstalled() {
    ShowBox(errorBox);
    return 1;
}

} // namespace

int RunRegistration(platform::HMODULE, platform::HMODULE, const char*, int) {
    TRegistry registry;
    registry.SelectRoot(platform::HKEY_LOCAL_MACHINE);

    if (ShowBox(questionBox) != platform::IDOK) {
        return 1;
    }

    if (!registry.OpenPath(appPathsKey, false)) {
        return ReportNotInstalled();
    }
    // The folder is used exactly as stored: nothing is trimmed, added or expanded.
    const AnsiString folder = registry.ReadText(folderValue);
    if (!FileIsPresent(folder + executableSuffix)) {
        return ReportNotInstalled();
    }

    if (!registry.OpenPath(lobbyKey, true)) {
        return ReportNotInstalled();
    }
    registry.WriteText("CurrentDirectory", folder);
    registry.WriteText("Path", folder);
    registry.WriteText("File", lobbyFile);
    registry.WriteText("Guid", lobbyGuid);

    // The registration stays in place whichever button ends the box.
    return ShowBox(successBox) == platform::IDOK ? 0 : 1;
}
