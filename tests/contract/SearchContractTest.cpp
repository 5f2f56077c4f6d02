// How the file search reads a path, against whichever implementation the
// target has. The presence test hands the path over unchanged, so whatever
// the search makes of it is what the tool sees.

#include "FileTimes.h"
#include "TestFolder.h"
#include "fs/FileStamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

using namespace platform;

namespace {

// When the test files were last written: any moment the MS-DOS stamp can hold.
const FILETIME kWritten = contract::UtcFileTime({2020, 6, 15, 12, 0, 0});

class SearchContract : public ::testing::Test {
protected:
    std::string In(const std::string& relative) const { return folder.Path() + "\\" + relative; }

    // The record of the first entry a search yields, if any.
    static std::optional<WIN32_FIND_DATAA> First(const std::string& path) {
        WIN32_FIND_DATAA record{};
        std::memset(&record, 0xBD, sizeof record);
        const HANDLE search = FindFirstFileA(path.c_str(), &record);
        if (search == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        EXPECT_NE(FindClose(search), 0);
        return record;
    }

    TestFolder folder;
};

TEST_F(SearchContract, SeparatorsAndDotsAreNormalised) {
    folder.MakeFile("Game\\vrk.exe", kWritten);
    for (const std::string& path :
         {In("Game\\vrk.exe"), In("Game/vrk.exe"), In("Game\\\\vrk.exe"), In("Game\\.\\vrk.exe"),
          In("Other\\..\\Game\\vrk.exe"), In("GAME\\VRK.EXE")}) {
        const auto found = First(path);
        EXPECT_EQ(found ? std::string(found->cFileName) : "<none>", "vrk.exe") << path;
        EXPECT_TRUE(FileIsPresent(path)) << path;
    }
}

TEST_F(SearchContract, TrailingDotsAndSpacesOfTheLastNameAreDropped) {
    folder.MakeFile("vrk.exe", kWritten);
    for (const std::string& path : {In("vrk.exe."), In("vrk.exe "), In("vrk.exe. .")}) {
        EXPECT_TRUE(FileIsPresent(path)) << '"' << path << '"';
    }
    // Within the path they stay part of the folder's name.
    folder.MakeFile("Game\\vrk.exe", kWritten);
    EXPECT_FALSE(FileIsPresent(In("Game \\vrk.exe")));
}

TEST_F(SearchContract, FoldersAreFoundByNameButNeverCountAsTheFile) {
    folder.MakeDirectory("vrk.exe");
    const auto found = First(In("vrk.exe"));
    ASSERT_TRUE(found.has_value());
    EXPECT_NE(found.value_or(WIN32_FIND_DATAA{}).dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(FileIsPresent(In("vrk.exe")));
    // A path ending in a separator, or naming the folder's own entries, finds nothing usable.
    EXPECT_FALSE(First(In("vrk.exe\\")).has_value());
    EXPECT_FALSE(FileIsPresent(folder.Path() + "\\"));
}

} // namespace
