// A stand-in for the game's executable, for the scenarios that check how the
// DirectPlay lobby starts the game. Started, it writes three lines to the
// file that LOBBYFIX_LAUNCH_REPORT names: "module", "folder" and "command",
// each with a tab and then, in UTF-8, the path of its own module, its working
// folder and its command line. It writes them under a temporary name and
// renames the file when it is whole, then exits.

#include "TestKeys.h"

#include <cstdio>
#include <memory>
#include <string>

using testkeys::Utf8;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t target[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"LOBBYFIX_LAUNCH_REPORT", target, MAX_PATH) == 0) {
        return 2;
    }
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    const std::string lines = "module\t" + Utf8(module) + "\nfolder\t" + Utf8(folder) + "\ncommand\t" +
                              Utf8(GetCommandLineW()) + "\n";

    const std::wstring partial = std::wstring(target) + L".part";
    {
        const std::unique_ptr<FILE, decltype(&std::fclose)> file(_wfopen(partial.c_str(), L"wb"),
                                                                 &std::fclose);
        if (!file || std::fwrite(lines.data(), 1, lines.size(), file.get()) != lines.size()) {
            return 3;
        }
    }
    if (!MoveFileExW(partial.c_str(), target, MOVEFILE_REPLACE_EXISTING)) {
        return 4;
    }
    return 0;
}
