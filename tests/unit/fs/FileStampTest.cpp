// The file presence test over the model: the local clock, the current
// drive, and the exact platform calls made.

#include "fs/FileStamp.h"
#include "fs/TUniqueSearch.h"
#include "model/ModelControl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;

class FileStampModel : public ::testing::Test {
protected:
    void SetUp() override { model::Reset(); }
    void TearDown() override { EXPECT_EQ(model::OpenSearchHandles(), 0) << "a search was left open"; }

    static std::vector<std::string> CallNames() {
        std::vector<std::string> names;
        std::ranges::transform(model::Calls(), std::back_inserter(names),
                               [](const std::string& call) { return call.substr(0, call.find('(')); });
        return names;
    }
};

TEST_F(FileStampModel, LocalOffsetCanMoveATimeAcrossThe1980Boundary) {
    model::AddFile("C:\\Games\\vrk.exe", model::FileTimeFromUtc(1979, 12, 31, 23, 30, 0));
    EXPECT_FALSE(FileIsPresent("C:\\Games\\vrk.exe")) << "at UTC";
    model::SetUtcOffsetMinutes(60);
    EXPECT_EQ(QueryFileStamp("C:\\Games\\vrk.exe"), 0x0021'0000 | 30 << 5) << "local 1980-01-01 00:30";

    model::AddFile("C:\\Games\\vrk.exe", model::FileTimeFromUtc(1980, 1, 1, 0, 30, 0));
    model::SetUtcOffsetMinutes(-60);
    EXPECT_FALSE(FileIsPresent("C:\\Games\\vrk.exe")) << "local 1979-12-31 23:30";
}

TEST_F(FileStampModel, FailedLocalConversionCountsAsAbsent) {
    model::AddFile("C:\\Games\\vrk.exe");
    model::FailLocalTimeConversion(true);
    EXPECT_EQ(QueryFileStamp("C:\\Games\\vrk.exe"), -1);
    EXPECT_THAT(CallNames(), ElementsAre("FindFirstFileA", "FindClose", "FileTimeToLocalFileTime"))
        << "nothing is packed from a local time that was never produced";
}

TEST_F(FileStampModel, RootOfTheCurrentDriveServesALeadingBackslash) {
    model::AddFile("C:\\vrk.exe");
    model::SetCurrentDirectory("D:\\Work");
    EXPECT_FALSE(FileIsPresent("\\vrk.exe")) << "C: is no longer the current drive";
    model::AddFile("D:\\vrk.exe");
    EXPECT_TRUE(FileIsPresent("\\vrk.exe"));
    EXPECT_FALSE(FileIsPresent("\\\\vrk.exe")) << "two backslashes start a network path";
}

TEST_F(FileStampModel, PlainFileMakesFourCallsWithTheSearchClosedFirst) {
    model::AddFile("C:\\Games\\Dunmarsh\\vrk.exe");
    EXPECT_EQ(QueryFileStamp("C:\\Games\\Dunmarsh\\\\vrk.exe"), 0x50CF'6000);
    const auto& calls = model::Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], "FindFirstFileA(\"C:\\Games\\Dunmarsh\\\\vrk.exe\")")
        << "the path goes through unchanged";
    EXPECT_TRUE(calls[1].starts_with("FindClose(")) << calls[1];
    EXPECT_NE(calls[1], "FindClose(FFFFFFFF)");
    EXPECT_EQ(calls[2], "FileTimeToLocalFileTime(01D6430C7ECC6000)") << "the record's last-write time";
    EXPECT_EQ(calls[3], "FileTimeToDosDateTime(01D6430C7ECC6000)");
}

TEST_F(FileStampModel, DirectoryIsJudgedWithoutAnyTimeConversion) {
    model::AddDirectory("C:\\Games\\vrk.exe");
    EXPECT_EQ(QueryFileStamp("C:\\Games\\vrk.exe"), -1);
    EXPECT_THAT(CallNames(), ElementsAre("FindFirstFileA", "FindClose"));
}

TEST_F(FileStampModel, FailedSearchIsNeitherClosedNorConverted) {
    EXPECT_EQ(QueryFileStamp("C:\\Games\\vrk.exe"), -1);
    EXPECT_EQ(QueryFileStamp(""), -1);
    EXPECT_THAT(model::Calls(), ElementsAre("FindFirstFileA(\"C:\\Games\\vrk.exe\")", "FindFirstFileA(\"\")"))
        << "the empty path is handed over as an empty text, not null";
}

TEST_F(FileStampModel, PathWithANulInsideNamesNoFile) {
    // Cut at its NUL the text would name C:\Games\vrk.exe, which exists.
    model::AddFile("C:\\Games\\vrk.exe");
    const AnsiString path = AnsiString("C:\\Games\\vrk.exe") + '\0' + "\\vrk.exe";
    EXPECT_FALSE(FileIsPresent(path));
    EXPECT_TRUE(model::Calls().empty());
}

TEST_F(FileStampModel, SearchOwnerClosesExactlyOnce) {
    platform::WIN32_FIND_DATAA record{};
    model::AddFile("C:\\a.exe");
    {
        TUniqueSearch search(platform::FindFirstFileA("C:\\a.exe", &record));
        TUniqueSearch kept(platform::FindFirstFileA("C:\\a.exe", &record));
        ASSERT_TRUE(search.IsOpen());
        search.Reset();
        search.Reset();
        EXPECT_FALSE(search.IsOpen());
        EXPECT_EQ(model::OpenSearchHandles(), 1);
        TUniqueSearch failed(platform::FindFirstFileA("C:\\none", &record));
        EXPECT_FALSE(failed.IsOpen());
    }
    EXPECT_THAT(CallNames(),
                ElementsAre("FindFirstFileA", "FindFirstFileA", "FindClose", "FindFirstFileA", "FindClose"))
        << "no second close, the other search closed when its owner goes, and no close of a failed search";
}

} // namespace
