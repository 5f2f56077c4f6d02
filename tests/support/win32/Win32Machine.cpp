// The tests' machine under Windows (or Wine): real registry keys below
// HKEY_CURRENT_USER and real folders below the temporary folder.

#include "ContractTarget.h"
#include "RegistryTest.h"
#include "TestFolder.h"
// TestKeys.h brings <windows.h>, which turns the Windows names into macros:
// it comes after the boundary header.
#include "TestKeys.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace {

struct FileTraits {
    using Handle = ::HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle file) noexcept { ::CloseHandle(file); }
};
using UniqueFile = TUniqueHandle<FileTraits>;

struct SearchTraits {
    using Handle = ::HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle search) noexcept { ::FindClose(search); }
};
using UniqueSearch = TUniqueHandle<SearchTraits>;

using testkeys::UniqueKey;

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
        if (search.IsOpen()) {
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
            } while (::FindNextFileA(search.Get(), &entry));
        }
    }
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryA(path.c_str());
}

std::string CurrentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "outside";
}

// Removes the key below HKEY_CURRENT_USER and its whole subtree, restoring
// full access to any part that a test locked first. A missing key is fine.
void DeleteCurrentUserTree(const std::string& path) {
    // The path is ANSI text, as the program's own paths are.
    if (!testkeys::DeleteTree(HKEY_CURRENT_USER, testkeys::Widen(path, CP_ACP))) {
        throw std::runtime_error("could not delete the scratch key " + path);
    }
}

// Creates the key below HKEY_CURRENT_USER if needed and lets everyone read
// it, and nothing more.
void DenyFullAccessUnderCurrentUser(const std::string& path) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, WRITE_DAC, nullptr, &raw,
                          nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("could not create " + path);
    }
    const UniqueKey key(raw);
    if (testkeys::SetEveryoneAccess(key.Get(), KEY_READ) != ERROR_SUCCESS) {
        throw std::runtime_error("could not restrict " + path);
    }
}

} // namespace

namespace contract {

bool RunningOnWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

ScratchKey::ScratchKey() : path_("Software\\lobbyfix-contract\\" + CurrentTestName()) {
    DeleteCurrentUserTree(path_);
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                          nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("could not create " + path_);
    }
    UniqueKey{raw}.Reset();
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
        if (!file.IsOpen()) {
            throw std::runtime_error("could not create " + path);
        }
        const ::FILETIME when{lastWriteUtc.dwLowDateTime, lastWriteUtc.dwHighDateTime};
        if (!::SetFileTime(file.Get(), nullptr, nullptr, &when)) {
            throw std::runtime_error("could not set the time of " + path);
        }
    }
    ::SetFileAttributesA(path.c_str(), attributes);
}

void TestFolder::MakeDirectory(const std::string& relative) { CreateDirectories(path_ + "\\" + relative); }

std::optional<int> TestFolder::OpenSearches() const { return std::nullopt; }

// ---- RegistryTest: no keys left from an earlier test or run --------------

void RegistryTest::SetUp() { DeleteCurrentUserTree("Software\\lobbyfix-behaviour"); }

void RegistryTest::TearDown() { DeleteCurrentUserTree("Software\\lobbyfix-behaviour"); }
