// The file presence test on a real folder, through platform calls only: no
// model controls here, so these cases also hold on a real Windows.

#include "DosDateTime.h"
#include "TestFolder.h"
#include "fs/FileStamp.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using platform::FILETIME;

FILETIME FromTicks(std::uint64_t ticks) {
    return {static_cast<platform::DWORD>(ticks), static_cast<platform::DWORD>(ticks >> 32)};
}

std::uint64_t TicksOf(FILETIME time) { return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime; }

class FolderStamp : public ::testing::Test {
protected:
    void TearDown() override {
        if (const auto open = folder.OpenSearches()) {
            EXPECT_EQ(*open, 0) << "a search was left open";
        }
    }

    // The machine's current offset of local time from UTC, in ticks, as the
    // platform applies it.
    static std::int64_t LocalOffset() {
        const FILETIME probe = FromTicks(Utc({2020, 6, 15, 12, 0, 0}));
        FILETIME local{};
        EXPECT_TRUE(platform::FileTimeToLocalFileTime(&probe, &local));
        return static_cast<std::int64_t>(TicksOf(local) - TicksOf(probe));
    }

    static std::uint64_t Utc(const calendar::CivilTime& civil) { return calendar::TicksOfMoment(civil); }

    // The UTC file time whose local time is the given calendar moment.
    static FILETIME UtcForLocal(const calendar::CivilTime& local) {
        return FromTicks(Utc(local) - static_cast<std::uint64_t>(LocalOffset()));
    }

    std::string In(const std::string& relative) const { return folder.Path() + "\\" + relative; }

    TestFolder folder;
};

TEST_F(FolderStamp, PlainFileGivesItsLocalTimeAsMsDosStamp) {
    folder.MakeFile("vrk.exe", UtcForLocal({2020, 6, 15, 12, 34, 57}));
    // 2020-06-15: (40 << 9 | 6 << 5 | 15); 12:34:56: (12 << 11 | 34 << 5 | 28).
    EXPECT_EQ(QueryFileStamp(In("vrk.exe")), 0x50CF'645C);
    EXPECT_TRUE(FileIsPresent(In("vrk.exe")));
}

TEST_F(FolderStamp, NothingThereIsAbsent) {
    folder.MakeFile("vrk.exe", UtcForLocal({2020, 6, 15, 12, 0, 0}));
    EXPECT_EQ(QueryFileStamp(In("game.exe")), -1);
    EXPECT_FALSE(FileIsPresent(In("missing\\vrk.exe")));
    EXPECT_FALSE(FileIsPresent(""));
}

TEST_F(FolderStamp, DirectoryIsAbsentEvenWhenNamedLikeTheExecutable) {
    folder.MakeDirectory("vrk.exe");
    folder.MakeFile("vrk.exe\\vrk.exe", UtcForLocal({2020, 6, 15, 12, 0, 0}));
    EXPECT_EQ(QueryFileStamp(In("vrk.exe")), -1);
    EXPECT_TRUE(FileIsPresent(In("vrk.exe\\vrk.exe")));
}

TEST_F(FolderStamp, AttributesOtherThanDirectoryDoNotMatter) {
    const FILETIME when = UtcForLocal({2020, 6, 15, 12, 0, 0});
    folder.MakeFile("hidden.exe", when, platform::FILE_ATTRIBUTE_HIDDEN);
    folder.MakeFile("system.exe", when, platform::FILE_ATTRIBUTE_SYSTEM);
    folder.MakeFile("readonly.exe", when, platform::FILE_ATTRIBUTE_READONLY);
    folder.MakeFile("all.exe", when,
                    platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_SYSTEM |
                        platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_ARCHIVE);
    for (const char* name : {"hidden.exe", "system.exe", "readonly.exe", "all.exe"}) {
        EXPECT_TRUE(FileIsPresent(In(name))) << name;
    }
}

TEST_F(FolderStamp, PathIsMatchedAsWindowsMatchesIt) {
    folder.MakeFile("vrk.exe", UtcForLocal({2020, 6, 15, 12, 0, 0}));
    EXPECT_TRUE(FileIsPresent(In("v?k.e*")));
    EXPECT_FALSE(FileIsPresent(In("vrk.exe\\"))) << "a trailing separator names no file";
}

TEST_F(FolderStamp, OnlyTheFirstWildcardMatchDecides) {
    const FILETIME when = UtcForLocal({2020, 6, 15, 12, 0, 0});
    folder.MakeDirectory("sub");
    folder.MakeFile("sub\\game.exe", when);
    // A listing starts with "." (the folder itself): a directory.
    EXPECT_FALSE(FileIsPresent(In("sub\\*")));
    EXPECT_TRUE(FileIsPresent(In("sub\\g*")));

    // Entries are listed in name order: "alpha" (a directory) before the
    // plain file "alpha.exe", and the plain file "aardvark.exe" before both.
    folder.MakeFile("alpha.exe", when);
    folder.MakeDirectory("alpha");
    EXPECT_FALSE(FileIsPresent(In("alph*")));
    folder.MakeFile("aardvark.exe", when);
    EXPECT_TRUE(FileIsPresent(In("a*")));
}

TEST_F(FolderStamp, LocalTimesBefore1980AreAbsent) {
    folder.MakeFile("first.exe", UtcForLocal({1980, 1, 1, 0, 0, 0}));
    folder.MakeFile("before.exe", UtcForLocal({1979, 12, 31, 23, 59, 59}));
    folder.MakeFile("ancient.exe", FromTicks(Utc({1601, 1, 2, 0, 0, 0})));
    EXPECT_EQ(QueryFileStamp(In("first.exe")), 0x0021'0000);
    EXPECT_EQ(QueryFileStamp(In("before.exe")), -1);
    EXPECT_EQ(QueryFileStamp(In("ancient.exe")), -1);
}

TEST_F(FolderStamp, StampsFrom2044OnAreNegativeButPresent) {
    folder.MakeFile("future.exe", UtcForLocal({2044, 1, 1, 0, 0, 0}));
    folder.MakeFile("last.exe", UtcForLocal({2107, 12, 31, 23, 59, 59}));
    EXPECT_EQ(QueryFileStamp(In("future.exe")), static_cast<std::int32_t>(0x8021'0000u));
    EXPECT_TRUE(FileIsPresent(In("future.exe")));
    EXPECT_EQ(QueryFileStamp(In("last.exe")), static_cast<std::int32_t>(0xFF9F'BF7Du));
    EXPECT_TRUE(FileIsPresent(In("last.exe")));
}

} // namespace
