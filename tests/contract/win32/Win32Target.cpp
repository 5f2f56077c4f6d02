// The contract tests' machine under Windows (or Wine): real registry keys
// below HKEY_CURRENT_USER and real folders below the temporary folder.

#include "ContractTarget.h"
#include "ScratchRegistry.h"
#include "TestFolder.h"
// <windows.h> after the boundary header: it turns the Windows names into macros.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

struct KeyCloser {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct HandleCloser {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueFile = std::unique_ptr<void, HandleCloser>;

struct SearchCloser {
    void operator()(HANDLE search) const { ::FindClose(search); }
};
using UniqueSearch = std::unique_ptr<void, SearchCloser>;

struct LocalFreer {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

struct SidFreer {
    void operator()(void* sid) const { ::FreeSid(sid); }
};

UniqueKey OpenKey(HKEY root, const std::string& path, REGSAM access) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExA(root, path.c_str(), 0, access, &raw) != ERROR_SUCCESS) {
        return UniqueKey{};
    }
    return UniqueKey{raw};
}

bool SetEveryoneAccess(HKEY key, DWORD rights) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        return false;
    }
    const std::unique_ptr<void, SidFreer> sidOwner(everyone);
    EXPLICIT_ACCESSA access{};
    access.grfAccessPermissions = rights;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPSTR>(everyone);
    PACL acl = nullptr;
    if (::SetEntriesInAclA(1, &access, nullptr, &acl) != ERROR_SUCCESS) {
        return false;
    }
    const std::unique_ptr<void, LocalFreer> aclOwner(acl);
    return ::SetSecurityInfo(key, SE_REGISTRY_KEY,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                             nullptr, acl, nullptr) == ERROR_SUCCESS;
}

void GrantAll(HKEY root, const std::string& path) {
    if (const UniqueKey key = OpenKey(root, path, WRITE_DAC)) {
        SetEveryoneAccess(key.get(), KEY_ALL_ACCESS | DELETE);
    }
    std::vector<std::string> children;
    if (const UniqueKey key = OpenKey(root, path, KEY_READ)) {
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD size = sizeof name;
            if (::RegEnumKeyExA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            children.emplace_back(name, size);
        }
    }
    for (const auto& child : children) {
        GrantAll(root, path + "\\" + child);
    }
}

void CreateDirectories(const std::string& path) {
    for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
        ::CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
    ::CreateDirectoryA(path.c_str(), nullptr);
}

void RemoveTree(const std::string& path) {
    {
        WIN32_FIND_DATAA entry{};
        const UniqueSearch search(::FindFirstFileA((path + "\\*").c_str(), &entry));
        if (search.get() != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = entry.cFileName;
                if (name == "." || name == "..") {
                    continue;
                }
                const std::string child = path + "\\" + name;
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    RemoveTree(child);
                } else {
                    ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                    ::DeleteFileA(child.c_str());
                }
            } while (::FindNextFileA(search.get(), &entry));
        }
    }
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryA(path.c_str());
}

std::string CurrentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "outside";
}

} // namespace

namespace contract {

bool RunningOnWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void DeleteCurrentUserTree(const std::string& path) {
    GrantAll(HKEY_CURRENT_USER, path);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    if (OpenKey(HKEY_CURRENT_USER, path, READ_CONTROL)) {
        throw std::runtime_error("could not delete the scratch key " + path);
    }
}

void DenyFullAccessUnderCurrentUser(const std::string& path) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, WRITE_DAC, nullptr, &raw,
                          nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("could not create " + path);
    }
    const UniqueKey key(raw);
    if (!SetEveryoneAccess(key.get(), KEY_READ)) {
        throw std::runtime_error("could not restrict " + path);
    }
}

ScratchKey::ScratchKey() : path_("Software\\lobbyfix-contract\\" + CurrentTestName()) {
    DeleteCurrentUserTree(path_);
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                          nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("could not create " + path_);
    }
    UniqueKey{raw}.reset();
}

ScratchKey::~ScratchKey() {
    try {
        DeleteCurrentUserTree(path_);
    } catch (const std::exception& failure) {
        ADD_FAILURE() << failure.what();
    }
}

void ScratchKey::DenyFullAccess(const std::string& relative) {
    DenyFullAccessUnderCurrentUser(path_ + "\\" + relative);
}

} // namespace contract

// ---- TestFolder: a fresh folder below the temporary folder ----------------

TestFolder::TestFolder() {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof temp, temp);
    std::string base(temp, length);
    while (!base.empty() && base.back() == '\\') {
        base.pop_back();
    }
    static int counter = 0;
    path_ = base + "\\lobbyfix-contract-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    RemoveTree(path_);
    CreateDirectories(path_);
}

TestFolder::~TestFolder() { RemoveTree(path_); }

void TestFolder::MakeFile(const std::string& relative, platform::FILETIME lastWriteUtc,
                          platform::DWORD attributes) {
    const std::string path = path_ + "\\" + relative;
    const std::size_t slash = path.rfind('\\');
    CreateDirectories(path.substr(0, slash));
    {
        const UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            throw std::runtime_error("could not create " + path);
        }
        const ::FILETIME when{lastWriteUtc.dwLowDateTime, lastWriteUtc.dwHighDateTime};
        if (!::SetFileTime(file.get(), nullptr, nullptr, &when)) {
            throw std::runtime_error("could not set the time of " + path);
        }
    }
    ::SetFileAttributesA(path.c_str(), attributes);
}

void TestFolder::MakeDirectory(const std::string& relative) { CreateDirectories(path_ + "\\" + relative); }

std::optional<int> TestFolder::OpenSearches() const { return std::nullopt; }
