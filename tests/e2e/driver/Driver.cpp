// The end-to-end driver: a small Windows program that runs inside the test
// prefix next to lobbyfix.exe. It prepares and reads back the registry,
// starts the tool, finds every message box the tool shows, reports what the
// box says and answers it as told, and reads the tool's resources through
// the Windows loader.
//
// Usage: driver.exe <script> <report>
//
// The script is UTF-8 text, one command per line, fields separated by tabs.
// The report is written line by line (flushed after each line) in the same
// tab-separated form; texts whose bytes matter are written in hex, so that
// no console or code-page conversion can alter them. The report goes to a
// file rather than a pipe because Wine's helper processes may outlive us.
//
// Commands (ROOT is HKLM or HKCU; every key is opened in the 32-bit view):
//   regdel   ROOT path                        delete the key and its subtree
//   regkey   ROOT path [volatile]             create the key
//   regset   ROOT path name type hexbytes     create the key, set the value
//   regdump  ROOT path [64]                   key present|missing, then one
//                                             value line per value, then end;
//                                             with 64, read in the 64-bit view
//   regdeny  ROOT path                        let everyone read the key only
//   run      exe cwd actions [sync]           start exe in cwd, answer boxes
//   res      exe                              string table, icon, manifest,
//                                             version information
//   env      name value                       set an environment variable
//                                             that the tool will inherit
//   lobby                                     ask the DirectPlay lobby for its
//                                             applications: one app line per
//                                             application (name in hex, GUID),
//                                             then lobby <HRESULT in hex>
//   launch   guid                             ask the lobby to start that
//                                             application, as for a match:
//                                             launch <HRESULT> <application
//                                             id>, then the launched lines
//                                             of the stand-in game (see
//                                             tests/e2e/game)
//
// run: actions is a comma-separated list of ok, cancel, close (the title
// bar's close command), escape (the Escape key) or wait (leave the box to
// the user). A box beyond the list is reported and closed. With "sync" the
// driver waits, after reporting box n, for the file <report>.ack<n> before
// answering it, so that the caller can take a screenshot.

#include "TestKeys.h"

#include <initguid.h> // defines the lobby's interface ids in this file

#include <dplobby.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBoxTimeoutMs = 15000;   // a box that never appears
constexpr DWORD kExitTimeoutMs = 15000;  // a process that never ends
constexpr DWORD kAckTimeoutMs = 60000;   // a caller that never acknowledges
constexpr DWORD kWaitTimeoutMs = 600000; // a user who never answers

FILE* g_report = nullptr;

void Report(const std::string& line) {
    std::fputs(line.c_str(), g_report);
    std::fputc('\n', g_report);
    std::fflush(g_report);
}

std::string Hex(const void* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

std::string Hex(const std::string& bytes) { return Hex(bytes.data(), bytes.size()); }

bool FromHex(const std::string& hex, std::string& out) {
    if (hex.size() % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = hex.substr(i, 2);
        const long value = std::strtol(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) {
            return false;
        }
        out += static_cast<char>(value);
    }
    return true;
}

using testkeys::Utf8;
using testkeys::Widen;

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

// Owners of the handle kinds the driver opens.
using testkeys::UniqueKey;

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct ModuleFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

bool ParseRoot(const std::string& name, HKEY& root) {
    if (name == "HKLM") {
        root = HKEY_LOCAL_MACHINE;
        return true;
    }
    if (name == "HKCU") {
        root = HKEY_CURRENT_USER;
        return true;
    }
    return false;
}

// ---- registry commands --------------------------------------------------

// Deletes the key and its subtree, also the parts an earlier scenario locked.
void RegDelete(HKEY root, const std::string& path) {
    Report(testkeys::DeleteTree(root, Widen(path)) ? "ok\tregdel" : "error\tregdel\tstill present");
}

LSTATUS CreateKey(HKEY root, const std::string& path, DWORD options, UniqueKey& key) {
    HKEY raw = nullptr;
    const LSTATUS status = RegCreateKeyExW(root, Widen(path).c_str(), 0, nullptr, options,
                                           KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &raw, nullptr);
    key = UniqueKey(status == ERROR_SUCCESS ? raw : nullptr);
    return status;
}

void RegKey(HKEY root, const std::string& path, bool isVolatile) {
    UniqueKey key;
    const LSTATUS status =
        CreateKey(root, path, isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE, key);
    Report(status == ERROR_SUCCESS ? "ok\tregkey" : "error\tregkey\t" + std::to_string(status));
}

void RegSet(HKEY root, const std::string& path, const std::string& name, DWORD type,
            const std::string& bytes) {
    UniqueKey key;
    LSTATUS status = CreateKey(root, path, REG_OPTION_NON_VOLATILE, key);
    if (status == ERROR_SUCCESS) {
        // The ANSI call, so that text data is taken in the process's code
        // page exactly as the tool will read it back.
        status = RegSetValueExA(key.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                static_cast<DWORD>(bytes.size()));
    }
    Report(status == ERROR_SUCCESS ? "ok\tregset" : "error\tregset\t" + std::to_string(status));
}

void ReportValue(const char* tag, HKEY key, const std::string& name) {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        Report(std::string(tag) + "\t" + Hex(name) + "\tmissing");
        return;
    }
    std::string data(size, '\0');
    if (status == ERROR_SUCCESS && size > 0) {
        status =
            RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size);
    }
    if (status != ERROR_SUCCESS) {
        Report("error\tregvalue\t" + std::to_string(status));
        return;
    }
    Report(std::string(tag) + "\t" + Hex(name) + "\t" + std::to_string(type) + "\t" + std::to_string(size) +
           "\t" + Hex(data));
}

// view is KEY_WOW64_32KEY, the view the tool and the lobby see, or
// KEY_WOW64_64KEY, the one a 64-bit program sees.
UniqueKey OpenForRead(HKEY root, const std::string& path, REGSAM view) {
    return testkeys::OpenKey(root, Widen(path), KEY_READ, view);
}

void RegDump(HKEY root, const std::string& path, REGSAM view) {
    const UniqueKey key = OpenForRead(root, path, view);
    if (!key.IsOpen()) {
        Report("key\tmissing");
        return;
    }
    Report("key\tpresent");
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameSize = sizeof name;
        if (RegEnumValueA(key.Get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        ReportValue("value", key.Get(), std::string(name, nameSize));
    }
    Report("end");
}

// Replaces the key's access list with one entry: everyone may read.
void RegDeny(HKEY root, const std::string& path) {
    HKEY raw = nullptr;
    LSTATUS status = RegOpenKeyExW(root, Widen(path).c_str(), 0, WRITE_DAC | KEY_WOW64_32KEY, &raw);
    if (status == ERROR_SUCCESS) {
        const UniqueKey key(raw);
        status = testkeys::SetEveryoneAccess(key.Get(), KEY_READ);
    }
    Report(status == ERROR_SUCCESS ? "ok\tregdeny" : "error\tregdeny\t" + std::to_string(status));
}

// ---- message boxes ------------------------------------------------------

struct BoxSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindBoxOfProcess(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) != L"#32770") {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

std::wstring WindowTextW(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

std::string WindowTextA(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

struct BoxParts {
    HWND text = nullptr;
    std::vector<int> buttons;
    bool icon = false;
};

BOOL CALLBACK CollectParts(HWND child, LPARAM param) {
    auto* parts = reinterpret_cast<BoxParts*>(param);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    const std::wstring cls(className);
    const int id = GetDlgCtrlID(child);
    if (cls == L"Button" && IsWindowVisible(child)) {
        parts->buttons.push_back(id);
    } else if (cls == L"Static") {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0) != 0) {
                parts->icon = true;
            }
        } else if (id == 0xFFFF) {
            parts->text = child;
        }
    }
    return TRUE;
}

bool WaitForAck(const std::string& reportPath, int index) {
    const std::wstring ack = Widen(reportPath + ".ack" + std::to_string(index));
    for (DWORD waited = 0; waited < kAckTimeoutMs; waited += 50) {
        if (GetFileAttributesW(ack.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

void Answer(HWND box, const std::string& action) {
    if (action == "ok") {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    } else if (action == "cancel") {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDCANCEL)));
    } else if (action == "escape") {
        // The dialog loop turns Escape into the Cancel command (or into the
        // only button's command when there is no Cancel). The keystroke
        // flags: repeat count 1 and scan code 1; a key going up also has
        // its previous-state and transition bits, the top two, set.
        constexpr auto keyDown = static_cast<LPARAM>(0x00010001u);
        constexpr auto keyUp = static_cast<LPARAM>(0xC0010001u);
        HWND focus = GetDlgItem(box, IDOK);
        PostMessageW(focus != nullptr ? focus : box, WM_KEYDOWN, VK_ESCAPE, keyDown);
        PostMessageW(focus != nullptr ? focus : box, WM_KEYUP, VK_ESCAPE, keyUp);
    } else {
        PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
}

void Run(const std::string& exe, const std::string& cwd, const std::string& actionList, bool sync,
         const std::string& reportPath) {
    std::vector<std::string> actions;
    {
        std::stringstream stream(actionList);
        std::string item;
        while (std::getline(stream, item, ',')) {
            if (!item.empty()) {
                actions.push_back(item);
            }
        }
    }

    std::wstring commandLine = L"\"" + Widen(exe) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : Widen(cwd).c_str(), &startup, &info)) {
        Report("error\trun\tstart\t" + std::to_string(GetLastError()));
        return;
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    Report("started");

    int boxes = 0;
    bool exited = false;
    for (;;) {
        // Wait for the next box, or for the process to end without one.
        const bool userAnswers = boxes < static_cast<int>(actions.size()) && actions[boxes] == "wait";
        const DWORD limit = userAnswers ? kWaitTimeoutMs : kBoxTimeoutMs;
        BoxSearch search{info.dwProcessId, nullptr};
        DWORD waited = 0;
        while (search.found == nullptr) {
            if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
                exited = true;
                break;
            }
            EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&search));
            if (search.found != nullptr) {
                break;
            }
            if (waited >= limit) {
                break;
            }
            Sleep(25);
            waited += 25;
        }
        if (exited) {
            break;
        }
        if (search.found == nullptr) {
            Report("timeout\tbox");
            TerminateProcess(process.get(), 255);
            WaitForSingleObject(process.get(), kExitTimeoutMs);
            return;
        }

        // Let the box finish laying itself out before it is read.
        Sleep(100);
        const HWND box = search.found;
        ++boxes;
        BoxParts parts;
        EnumChildWindows(box, CollectParts, reinterpret_cast<LPARAM>(&parts));
        const std::string action = boxes <= static_cast<int>(actions.size()) ? actions[boxes - 1] : "close";
        Report("box\t" + std::to_string(boxes));
        Report("caption_w\t" + Hex(Utf8(WindowTextW(box))));
        Report("caption_a\t" + Hex(WindowTextA(box)));
        Report("text_w\t" + Hex(parts.text != nullptr ? Utf8(WindowTextW(parts.text)) : std::string()));
        Report("text_a\t" + Hex(parts.text != nullptr ? WindowTextA(parts.text) : std::string()));
        std::string buttons;
        for (int id : parts.buttons) {
            if (!buttons.empty()) {
                buttons += ',';
            }
            buttons += std::to_string(id);
        }
        Report("buttons\t" + buttons);
        Report(std::string("icon\t") + (parts.icon ? "1" : "0"));
        RECT rect{};
        GetWindowRect(box, &rect);
        Report("rect\t" + std::to_string(rect.left) + "\t" + std::to_string(rect.top) + "\t" +
               std::to_string(rect.right - rect.left) + "\t" + std::to_string(rect.bottom - rect.top));
        Report("shown\t" + std::to_string(boxes));
        if (sync && !WaitForAck(reportPath, boxes)) {
            Report("timeout\tack");
        }
        if (action == "wait") {
            Report("action\twait");
        } else {
            Report("action\t" + action);
            Answer(box, action);
        }
        // Wait until this box is gone before looking for the next one.
        const DWORD goneLimit = action == "wait" ? kWaitTimeoutMs : kBoxTimeoutMs;
        DWORD goneWait = 0;
        while (IsWindow(box) && IsWindowVisible(box) && goneWait < goneLimit) {
            if (WaitForSingleObject(process.get(), 25) == WAIT_OBJECT_0) {
                break;
            }
            goneWait += 25;
        }
        if (IsWindow(box) && IsWindowVisible(box) && WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) {
            Report("timeout\tanswer");
            TerminateProcess(process.get(), 255);
            WaitForSingleObject(process.get(), kExitTimeoutMs);
            return;
        }
    }

    if (WaitForSingleObject(process.get(), kExitTimeoutMs) != WAIT_OBJECT_0) {
        Report("timeout\texit");
        TerminateProcess(process.get(), 255);
        return;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    Report("boxes\t" + std::to_string(boxes));
    Report("exit\t" + std::to_string(code));
}

// ---- resources ----------------------------------------------------------

void Resources(const std::string& exe) {
    const UniqueModule module(LoadLibraryExW(Widen(exe).c_str(), nullptr,
                                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        Report("error\tres\tload\t" + std::to_string(GetLastError()));
        return;
    }
    for (UINT id = 65507; id <= 65509; ++id) {
        const wchar_t* wide = nullptr;
        // A zero buffer size asks for a read-only pointer into the resource.
        const int wideLength = LoadStringW(module.get(), id, reinterpret_cast<LPWSTR>(&wide), 0);
        char ansi[1024] = {};
        const int ansiLength = LoadStringA(module.get(), id, ansi, sizeof ansi);
        Report("string\t" + std::to_string(id) + "\t" +
               Hex(wideLength > 0 ? Utf8(std::wstring(wide, static_cast<std::size_t>(wideLength)))
                                  : std::string()) +
               "\t" + Hex(ansi, static_cast<std::size_t>(ansiLength > 0 ? ansiLength : 0)));
    }
    Report(std::string("icon_group\tMAINICON\t") +
           (FindResourceW(module.get(), L"MAINICON", MAKEINTRESOURCEW(14)) != nullptr ? "1" : "0"));
    const HRSRC manifest = FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (manifest != nullptr) {
        const DWORD size = SizeofResource(module.get(), manifest);
        const HGLOBAL loaded = LoadResource(module.get(), manifest);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        Report("manifest\t1\t" + (data != nullptr ? Hex(data, size) : std::string()));
    } else {
        Report("manifest\t0");
    }

    const std::wstring path = Widen(exe);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        Report("version\tmissing");
        return;
    }
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT translationsSize = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                        &translationsSize) ||
        translationsSize < sizeof(Translation)) {
        Report("version\tno-translation");
        return;
    }
    wchar_t prefix[64];
    swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", translations[0].language, translations[0].codePage);
    for (const wchar_t* field : {L"ProductName", L"FileDescription", L"CompanyName", L"ProductVersion",
                                 L"FileVersion", L"OriginalFilename", L"LegalCopyright"}) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(prefix) + field;
        if (VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) &&
            value != nullptr) {
            std::wstring text(value, length);
            while (!text.empty() && text.back() == L'\0') {
                text.pop_back();
            }
            Report("version\t" + Utf8(field) + "\t" + Hex(Utf8(text)));
        }
    }
}

// ---- the DirectPlay lobby -----------------------------------------------

struct ComReleaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using UniqueCom = std::unique_ptr<Interface, ComReleaser>;

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                  guid.Data4[7]);
    return text;
}

BOOL CALLBACK ReportApplication(LPCDPLAPPINFO info, LPVOID /*context*/, DWORD /*flags*/) {
    const char* name = info->lpszAppNameA != nullptr ? info->lpszAppNameA : "";
    Report("app\t" + Hex(std::string(name)) + "\t" + GuidText(info->guidApplication));
    return TRUE;
}

// The system's dplayx, loaded at run time as a lobby service loads it, and
// its lobby interface. dplayx reads the registrations from the registry view
// of a 32-bit program. The module outlives the interface it made.
struct LobbySession {
    UniqueModule dplayx;
    UniqueCom<IDirectPlayLobby3A> lobby;
};

bool OpenLobby(const std::string& command, LobbySession& session) {
    using CreateFn = HRESULT(WINAPI*)(LPGUID, LPDIRECTPLAYLOBBYA*, IUnknown*, LPVOID, DWORD);
    session.dplayx.reset(LoadLibraryW(L"dplayx.dll"));
    if (!session.dplayx) {
        Report("error\t" + command + "\tload\t" + std::to_string(GetLastError()));
        return false;
    }
    const auto proc = GetProcAddress(session.dplayx.get(), "DirectPlayLobbyCreateA");
    if (proc == nullptr) {
        Report("error\t" + command + "\tcreate-missing");
        return false;
    }
    const auto create = std::bit_cast<CreateFn>(proc);
    LPDIRECTPLAYLOBBYA rawLobby = nullptr;
    HRESULT result = create(nullptr, &rawLobby, nullptr, nullptr, 0);
    if (FAILED(result) || rawLobby == nullptr) {
        Report("error\t" + command + "\tcreate\t" + std::to_string(result));
        return false;
    }
    const UniqueCom<IDirectPlayLobbyA> lobby(rawLobby);
    void* rawLobby3 = nullptr;
    result = lobby->QueryInterface(IID_IDirectPlayLobby3A, &rawLobby3);
    if (FAILED(result) || rawLobby3 == nullptr) {
        Report("error\t" + command + "\tinterface\t" + std::to_string(result));
        return false;
    }
    session.lobby.reset(static_cast<IDirectPlayLobby3A*>(rawLobby3));
    return true;
}

std::string HresultText(HRESULT result) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(result));
    return code;
}

// Lists the applications as a lobby service sees them.
void Lobby() {
    LobbySession session;
    if (OpenLobby("lobby", session)) {
        const HRESULT result = session.lobby->EnumLocalApplications(ReportApplication, nullptr, 0);
        Report("lobby\t" + HresultText(result));
    }
}

// Starts the application with the GUID as a lobby service does when a match
// begins: DirectPlay starts its program with a connection for a TCP/IP
// session. A program that writes to the file named by LOBBYFIX_LAUNCH_REPORT
// (the e2e stand-in game) has its lines copied into the report, each with
// its value in hex.
void Launch(const std::string& guidText, const std::string& reportPath) {
    GUID application{};
    if (FAILED(CLSIDFromString(Widen(guidText).c_str(), &application))) {
        Report("error\tlaunch\tguid");
        return;
    }
    LobbySession lobby;
    if (!OpenLobby("launch", lobby)) {
        return;
    }
    const std::wstring launched = Widen(reportPath + ".launched");
    DeleteFileW(launched.c_str());
    SetEnvironmentVariableW(L"LOBBYFIX_LAUNCH_REPORT", launched.c_str());

    DPSESSIONDESC2 session{};
    session.dwSize = sizeof session;
    session.guidApplication = application;
    char player[] = "lobbyfix e2e";
    DPNAME name{};
    name.dwSize = sizeof name;
    name.lpszShortNameA = player;
    DPLCONNECTION connection{};
    connection.dwSize = sizeof connection;
    connection.lpSessionDesc = &session;
    connection.lpPlayerName = &name;
    connection.guidSP = DPSPGUID_TCPIP;
    DWORD applicationId = 0;
    const HRESULT result = lobby.lobby->RunApplication(0, &applicationId, &connection, nullptr);
    Report("launch\t" + HresultText(result) + "\t" + std::to_string(applicationId));
    if (FAILED(result)) {
        return;
    }
    for (DWORD waited = 0; waited < kExitTimeoutMs; waited += 50) {
        const std::unique_ptr<FILE, decltype(&std::fclose)> file(_wfopen(launched.c_str(), L"rb"),
                                                                 &std::fclose);
        if (file) {
            char line[4096];
            while (std::fgets(line, sizeof line, file.get()) != nullptr) {
                const std::vector<std::string> fields =
                    SplitTabs(std::string(line, std::strcspn(line, "\r\n")));
                Report("launched\t" + fields[0] + "\t" + Hex(fields.size() > 1 ? fields[1] : std::string()));
            }
            return;
        }
        Sleep(50);
    }
    Report("timeout\tlaunch");
}

// ---- script -------------------------------------------------------------

bool Execute(const std::vector<std::string>& f, const std::string& reportPath) {
    const std::string& command = f[0];
    HKEY root = nullptr;
    if (command.starts_with("reg") && (f.size() < 3 || !ParseRoot(f[1], root))) {
        return false;
    }
    if (command == "regdel") {
        RegDelete(root, f[2]);
    } else if (command == "regkey") {
        RegKey(root, f[2], f.size() > 3 && f[3] == "volatile");
    } else if (command == "regset" && f.size() == 6) {
        std::string bytes;
        if (!FromHex(f[5], bytes)) {
            return false;
        }
        RegSet(root, f[2], f[3], static_cast<DWORD>(std::strtoul(f[4].c_str(), nullptr, 10)), bytes);
    } else if (command == "regdump") {
        RegDump(root, f[2], f.size() > 3 && f[3] == "64" ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
    } else if (command == "regdeny") {
        RegDeny(root, f[2]);
    } else if (command == "run" && f.size() >= 4) {
        Run(f[1], f[2], f[3], f.size() > 4 && f[4] == "sync", reportPath);
    } else if (command == "res" && f.size() == 2) {
        Resources(f[1]);
    } else if (command == "lobby" && f.size() == 1) {
        Lobby();
    } else if (command == "launch" && f.size() == 2) {
        Launch(f[1], reportPath);
    } else if (command == "env" && f.size() == 3) {
        SetEnvironmentVariableW(Widen(f[1]).c_str(), Widen(f[2]).c_str());
        Report("ok\tenv");
    } else {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: driver.exe <script> <report>\n", stderr);
        return 2;
    }
    std::unique_ptr<FILE, decltype(&std::fclose)> script(std::fopen(argv[1], "rb"), &std::fclose);
    g_report = std::fopen(argv[2], "wb");
    if (!script || g_report == nullptr) {
        std::fputs("driver: cannot open the script or the report\n", stderr);
        return 2;
    }
    std::unique_ptr<FILE, decltype(&std::fclose)> reportOwner(g_report, &std::fclose);
    char buffer[65536];
    int status = 0;
    while (std::fgets(buffer, sizeof buffer, script.get()) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (!Execute(SplitTabs(line), argv[2])) {
            Report("error\tscript\t" + Hex(line));
            status = 1;
        }
    }
    Report("done");
    return status;
}
