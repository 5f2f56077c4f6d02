// The model's file system behaves as Windows does for the calls the program
// makes: path reading, name matching, listing order, the search record and
// handles, and the clock.

#include "platform/model/FilePaths.h"
#include "platform/model/ModelControl.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

using namespace platform;

class ModelFiles : public ::testing::Test {
protected:
    void SetUp() override { model::Reset(); }
    void TearDown() override { EXPECT_EQ(model::OpenSearchHandles(), 0) << "a search was left open"; }

    // The name of the first entry a search yields, or "<none>".
    static std::string First(const std::string& path) {
        WIN32_FIND_DATAA record{};
        std::memset(&record, 0xBD, sizeof record);
        const HANDLE search = FindFirstFileA(path.c_str(), &record);
        if (search == INVALID_HANDLE_VALUE) {
            return "<none>";
        }
        FindClose(search);
        return record.cFileName;
    }
};

TEST_F(ModelFiles, NamesMatchWhateverTheirCase) {
    model::AddFile("C:\\Games\\Dunmarsh\\VRK.exe");
    EXPECT_EQ(First("c:\\GAMES\\dunmarsh\\vrk.EXE"), "VRK.exe");
    // Windows-1251 "Игры" found as "игры"; "Ёлка" as "ёлка".
    model::AddFile("C:\\\xC8\xE3\xF0\xFB\\\xA8\xEB\xEA\xE0.exe");
    EXPECT_EQ(First("C:\\\xE8\xE3\xF0\xFB\\\xB8\xEB\xEA\xE0.EXE"), "\xA8\xEB\xEA\xE0.exe");
    EXPECT_EQ(First("C:\\Games\\Dunmarsh\\VRK.ex"), "<none>");
}

// UTF-8 text as Windows-1251 bytes, by the C library's converter, so that
// the letters below are checked against a table the model does not share.
std::string ToCp1251(const std::string& utf8) {
    const iconv_t converter = iconv_open("CP1251", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("no UTF-8 to CP1251 converter");
    }
    std::string in = utf8;
    std::string out(utf8.size(), '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t converted = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (converted == static_cast<std::size_t>(-1) || inLeft != 0) {
        throw std::runtime_error("text not representable in CP1251");
    }
    out.resize(out.size() - outLeft);
    return out;
}

TEST_F(ModelFiles, EveryCyrillicLetterMatchesItsCapital) {
    const std::string lower = ToCp1251("абвгдеёжзийклмнопрстуфхцчшщъыьэюяђѓєѕіїјљњћќўџґ");
    const std::string upper = ToCp1251("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯЂЃЄЅІЇЈЉЊЋЌЎЏҐ");
    ASSERT_EQ(lower.size(), upper.size());
    for (std::size_t i = 0; i < lower.size(); ++i) {
        const std::string stored = std::string("x") + upper[i] + ".txt";
        SCOPED_TRACE(static_cast<unsigned>(static_cast<unsigned char>(lower[i])));
        model::Reset();
        model::AddFile("C:\\Letters\\" + stored);
        EXPECT_EQ(First(std::string("C:\\Letters\\x") + lower[i] + ".txt"), stored);
        EXPECT_EQ(First("C:\\Letters\\" + stored), stored);
    }
    // Every other byte (digits, signs, the non-letters of the code page)
    // folds to itself.
    for (int byte = 1; byte < 256; ++byte) {
        const auto c = static_cast<char>(byte);
        const bool isLetter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              lower.find(c) != std::string::npos || upper.find(c) != std::string::npos;
        if (!isLetter) {
            EXPECT_EQ(model::paths::FoldCase(static_cast<unsigned char>(byte)), byte) << byte;
        }
    }
}

TEST(ModelNameRules, DotEntriesSortFirstAndAreNoNames) {
    using model::paths::ListedBefore;
    EXPECT_TRUE(ListedBefore(".", ".."));
    EXPECT_FALSE(ListedBefore("..", "."));
    EXPECT_TRUE(ListedBefore("..", "!first")) << "'!' sorts before '.' as a byte";
    EXPECT_FALSE(ListedBefore(" x", "."));
    EXPECT_TRUE(ListedBefore("alpha", "Beta"));
    for (const char* name : {"", ".", "..", "a:b", "a\tb"}) {
        EXPECT_FALSE(model::paths::IsValidName(name)) << name;
    }
    EXPECT_TRUE(model::paths::IsValidName("..."));
}

TEST_F(ModelFiles, SeparatorsAndDotsAreReadBeforeTheLookup) {
    model::AddFile("C:\\Games\\Dunmarsh\\vrk.exe");
    EXPECT_EQ(First("C:/Games/Dunmarsh/vrk.exe"), "vrk.exe");
    EXPECT_EQ(First("C:\\\\Games\\\\\\Dunmarsh\\\\vrk.exe"), "vrk.exe");
    EXPECT_EQ(First("C:\\Games\\.\\Dunmarsh\\vrk.exe"), "vrk.exe");
    EXPECT_EQ(First("C:\\Nowhere\\..\\Games\\Dunmarsh\\vrk.exe"), "vrk.exe") << "'..' is undone on the text";
    EXPECT_EQ(First("C:\\..\\..\\Games\\Dunmarsh\\vrk.exe"), "vrk.exe") << "'..' stops at the root";
    EXPECT_EQ(First("C:\\Games\\Dunmarsh\\vrk.exe\\.."), "Dunmarsh");
    EXPECT_EQ(First("C:\\Games\\Dunmarsh\\."), "Dunmarsh");
    EXPECT_EQ(First("C:\\Games\\Dunmarsh."), "Dunmarsh");
    EXPECT_EQ(First("C:\\Games.\\Dunmarsh\\vrk.exe"), "vrk.exe") << "one trailing dot of a folder";
    EXPECT_EQ(First("C:\\Games\\Dunmarsh\\vrk.exe. . "), "vrk.exe") << "trailing dots and spaces of the name";
    EXPECT_EQ(First("C:\\Games \\Dunmarsh\\vrk.exe"), "<none>") << "a folder keeps its trailing space";
    EXPECT_EQ(First("C:\\Games\\Dunmarsh\\ vrk.exe"), "<none>") << "leading spaces count";
}

TEST_F(ModelFiles, PathsWithoutALastNameFindNothing) {
    model::AddFile("C:\\Games\\vrk.exe");
    for (const char* path : {"", "C:", "C:\\", "\\", "/", "C:\\Games\\", "C:\\Games/", "C:\\Games\\vrk.exe\\",
                             "C:\\Games\\..", "C:\\.", "C:\\Games\\...", "C:\\Games\\vrk.exe\\x"}) {
        EXPECT_EQ(First(path), "<none>") << '"' << path << '"';
    }
}

TEST_F(ModelFiles, RelativePathsStartAtTheCurrentDirectoryOfTheirDrive) {
    model::AddFile("C:\\vrk.exe");
    model::AddFile("C:\\Games\\vrk.exe");
    model::AddFile("D:\\Work\\Sub\\vrk.exe");
    model::AddFile("D:\\vrk.exe");
    EXPECT_EQ(First("Games\\vrk.exe"), "vrk.exe") << "default current directory C:\\";
    model::SetCurrentDirectory("d:\\work");
    EXPECT_EQ(First("Sub\\vrk.exe"), "vrk.exe");
    EXPECT_EQ(First("..\\vrk.exe"), "vrk.exe");
    EXPECT_EQ(First("D:Sub\\vrk.exe"), "vrk.exe") << "drive-relative on the current drive";
    EXPECT_EQ(First("C:Games\\vrk.exe"), "vrk.exe") << "another drive is read from its root";
    EXPECT_EQ(First("\\Work\\Sub\\vrk.exe"), "vrk.exe") << "root of the current drive";
    EXPECT_EQ(First("\\Games\\vrk.exe"), "<none>");
    EXPECT_EQ(First("E:\\vrk.exe"), "<none>") << "no such drive";
}

TEST_F(ModelFiles, NetworkPathsFindNothingButDevicePrefixesNameADrivePath) {
    model::AddFile("C:\\server\\share\\vrk.exe");
    model::AddFile("C:\\vrk.exe");
    EXPECT_EQ(First("\\\\server\\share\\vrk.exe"), "<none>");
    EXPECT_EQ(First("//server/share/vrk.exe"), "<none>");
    EXPECT_EQ(First("\\\\vrk.exe"), "<none>");
    EXPECT_EQ(First("\\\\?\\C:\\server\\share\\vrk.exe"), "vrk.exe");
    EXPECT_EQ(First("\\\\.\\C:\\vrk.exe"), "vrk.exe");
}

TEST_F(ModelFiles, OverlongPathsFindNothing) {
    const std::string folder = "C:\\" + std::string(200, 'f');
    const std::string longest = folder + "\\" + std::string(MAX_PATH - folder.size() - 1, 'n');
    ASSERT_EQ(longest.size(), MAX_PATH);
    model::AddFile(longest);
    EXPECT_NE(First(longest), "<none>");
    EXPECT_EQ(First("C:\\.\\" + longest.substr(3)), "<none>") << "one character more";
}

TEST_F(ModelFiles, ListingsAreInNameOrderWithDotsFirstExceptAtTheRoot) {
    for (const char* name : {"zeta.txt", "Alpha.txt", "mid", "beta"}) {
        model::AddFile(std::string("C:\\Dir\\") + name);
    }
    model::AddDirectory("C:\\Dir\\_sub");
    EXPECT_EQ(First("C:\\Dir\\*"), ".");
    EXPECT_EQ(First("C:\\Dir\\.*"), ".");
    EXPECT_EQ(First("C:\\Dir\\.?"), "..");
    EXPECT_EQ(First("C:\\Dir\\?*"), ".");
    EXPECT_EQ(First("C:\\Dir\\*a*"), "Alpha.txt");
    EXPECT_EQ(First("C:\\Dir\\*t*"), "Alpha.txt");
    EXPECT_EQ(First("C:\\Dir\\*e*"), "beta");
    EXPECT_EQ(First("C:\\Dir\\???"), "mid");
    EXPECT_EQ(First("C:\\Dir\\*_*"), "_sub");
    EXPECT_EQ(First("C:\\*"), "Dir") << "a root lists no '.' or '..'";
    model::AddFile("C:\\Beta.txt");
    EXPECT_EQ(First("C:\\*"), "Beta.txt");
}

TEST_F(ModelFiles, WildcardsFollowTheSearchRules) {
    model::AddFile("C:\\Dir\\zeta.txt");
    model::AddFile("C:\\Dir\\a.b.c");
    model::AddFile("C:\\Dir\\noext");
    EXPECT_EQ(First("C:\\Dir\\?eta.txt"), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\zeta.tx?"), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\zeta.txt?"), "<none>") << "'?' stands for exactly one character";
    EXPECT_EQ(First("C:\\Dir\\ze>a.txt"), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\*.c"), "a.b.c");
    EXPECT_EQ(First("C:\\Dir\\a*c"), "a.b.c");
    EXPECT_EQ(First("C:\\Dir\\no*.*"), "noext") << "'.*' at the end allows no extension";
    EXPECT_EQ(First("C:\\Dir\\zeta.txt.*"), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\*.txt."), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\Z*T"), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\*x"), "<none>");
    EXPECT_EQ(First("C:\\Di*\\zeta.txt"), "<none>") << "wildcards only in the last component";
    EXPECT_EQ(First("C:\\Dir\\zeta|txt"), "<none>");
    EXPECT_EQ(First("C:\\Dir\\zeta.txt:stream"), "<none>");
}

TEST_F(ModelFiles, SearchFillsTheRecordOnlyWhenItFinds) {
    model::AddFile("C:\\Dir\\vrk.exe", model::FileTimeFromUtc(2001, 2, 3, 4, 5, 6), FILE_ATTRIBUTE_HIDDEN);
    model::AddFile("C:\\Dir\\plain.exe", model::FileTimeFromUtc(2001, 2, 3, 4, 5, 6), 0);
    WIN32_FIND_DATAA record{};
    std::memset(&record, 0xBD, sizeof record);
    EXPECT_EQ(FindFirstFileA("C:\\Dir\\none.exe", &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(record.dwFileAttributes, 0xBDBDBDBDu) << "a failed search leaves the record alone";
    EXPECT_EQ(model::OpenSearchHandles(), 0);

    const HANDLE search = FindFirstFileA("c:\\dir\\VRK.EXE", &record);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_NE(search, 0u);
    EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(model::TicksOf(record.ftLastWriteTime),
              model::TicksOf(model::FileTimeFromUtc(2001, 2, 3, 4, 5, 6)));
    EXPECT_STREQ(record.cFileName, "vrk.exe") << "the name as stored";
    EXPECT_STREQ(record.cAlternateFileName, "");
    EXPECT_EQ(FindClose(search), 1);

    const HANDLE plain = FindFirstFileA("C:\\Dir\\plain.exe", &record);
    EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_NORMAL) << "no attributes read as NORMAL";
    EXPECT_NE(plain, search);
    FindClose(plain);
}

TEST_F(ModelFiles, DotEntriesCarryTheirDirectories) {
    model::AddDirectory("C:\\Dir", model::FileTimeFromUtc(1999, 1, 1, 0, 0, 0), FILE_ATTRIBUTE_HIDDEN);
    model::AddDirectory("C:\\Dir\\Sub", model::FileTimeFromUtc(2005, 1, 1, 0, 0, 0), 0);
    WIN32_FIND_DATAA record{};
    FindClose(FindFirstFileA("C:\\Dir\\Sub\\*", &record));
    EXPECT_STREQ(record.cFileName, ".");
    EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(model::TicksOf(record.ftLastWriteTime),
              model::TicksOf(model::FileTimeFromUtc(2005, 1, 1, 0, 0, 0)));
    FindClose(FindFirstFileA("C:\\Dir\\Sub\\..", &record));
    EXPECT_STREQ(record.cFileName, "Dir");
    FindClose(FindFirstFileA("C:\\Dir\\Sub\\.?", &record));
    EXPECT_STREQ(record.cFileName, "..");
    EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(ModelFiles, ClosingAnythingButAnOpenSearchFails) {
    model::AddFile("C:\\a.exe");
    WIN32_FIND_DATAA record{};
    const HANDLE search = FindFirstFileA("C:\\a.exe", &record);
    EXPECT_EQ(model::OpenSearchHandles(), 1);
    EXPECT_EQ(FindClose(search), 1);
    EXPECT_EQ(FindClose(search), 0) << "already closed";
    EXPECT_EQ(FindClose(INVALID_HANDLE_VALUE), 0);
    EXPECT_EQ(FindClose(0), 0);
    EXPECT_EQ(model::OpenSearchHandles(), 0);
}

TEST_F(ModelFiles, LocalTimeUsesTheOffsetInForceNow) {
    const FILETIME summer = model::FileTimeFromUtc(2020, 6, 15, 12, 0, 0);
    const FILETIME winter = model::FileTimeFromUtc(2020, 1, 15, 12, 0, 0);
    FILETIME local{0xDEADBEEF, 0xDEADBEEF};
    model::SetUtcOffsetMinutes(180);
    ASSERT_EQ(FileTimeToLocalFileTime(&summer, &local), 1);
    EXPECT_EQ(model::TicksOf(local), model::TicksOf(model::FileTimeFromUtc(2020, 6, 15, 15, 0, 0)));
    ASSERT_EQ(FileTimeToLocalFileTime(&winter, &local), 1);
    EXPECT_EQ(model::TicksOf(local), model::TicksOf(model::FileTimeFromUtc(2020, 1, 15, 15, 0, 0)));
    model::SetUtcOffsetMinutes(-330);
    ASSERT_EQ(FileTimeToLocalFileTime(&winter, &local), 1);
    EXPECT_EQ(model::TicksOf(local), model::TicksOf(model::FileTimeFromUtc(2020, 1, 15, 6, 30, 0)));

    const FILETIME start{0, 0};
    local = {0xDEADBEEF, 0xDEADBEEF};
    EXPECT_EQ(FileTimeToLocalFileTime(&start, &local), 0) << "before 1601 is no time";
    model::SetUtcOffsetMinutes(0);
    model::FailLocalTimeConversion(true);
    EXPECT_EQ(FileTimeToLocalFileTime(&summer, &local), 0);
    EXPECT_EQ(local.dwLowDateTime, 0xDEADBEEFu) << "a failed conversion leaves the output alone";
    EXPECT_EQ(local.dwHighDateTime, 0xDEADBEEFu);
}

TEST_F(ModelFiles, DosConversionFillsBothWordsOrNeither) {
    WORD date = 0xBDBD;
    WORD time = 0xBDBD;
    const FILETIME early = model::FileTimeFromUtc(1979, 12, 31, 23, 59, 59);
    EXPECT_EQ(FileTimeToDosDateTime(&early, &date, &time), 0);
    EXPECT_EQ(date, 0xBDBD);
    EXPECT_EQ(time, 0xBDBD);
    const FILETIME negative{0, 0x80000000u};
    EXPECT_EQ(FileTimeToDosDateTime(&negative, &date, &time), 0);
    const FILETIME late = model::FileTimeFromUtc(2107, 12, 31, 23, 59, 59);
    EXPECT_EQ(FileTimeToDosDateTime(&late, &date, &time), 1);
    EXPECT_EQ(date, 0xFF9F);
    EXPECT_EQ(time, 0xBF7D);
}

TEST_F(ModelFiles, ControlsRefuseImpossibleSetUps) {
    model::AddFile("C:\\Dir\\file.exe");
    EXPECT_THROW(model::AddFile("C:\\Dir\\file.exe\\inner.exe"), std::invalid_argument);
    EXPECT_THROW(model::AddDirectory("C:\\Dir\\file.exe"), std::invalid_argument);
    EXPECT_THROW(model::AddFile("C:\\Dir"), std::invalid_argument);
    EXPECT_THROW(model::AddFile("C:\\Dir\\x.exe", model::FileTimeFromUtc(2020, 1, 1, 0, 0, 0),
                                FILE_ATTRIBUTE_DIRECTORY),
                 std::invalid_argument);
    EXPECT_THROW(model::AddFile("C:\\Dir\\a*.exe"), std::invalid_argument);
    EXPECT_THROW(model::AddFile("\\\\server\\share\\a.exe"), std::invalid_argument);
    EXPECT_THROW(model::FileTimeFromUtc(2021, 2, 29, 0, 0, 0), std::invalid_argument);

    model::AddFile("c:\\dir\\FILE.EXE", model::FileTimeFromUtc(1990, 1, 1, 0, 0, 0), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(First("C:\\Dir\\*.exe"), "file.exe") << "replacing a file keeps its name";
    EXPECT_EQ(First("C:\\Dir\\file.exe\\..\\*.exe"), "file.exe");
}

TEST_F(ModelFiles, ResetRestoresTheDefaultMachine) {
    model::AddFile("D:\\Work\\vrk.exe");
    model::SetCurrentDirectory("D:\\Work");
    model::SetUtcOffsetMinutes(120);
    model::FailLocalTimeConversion(true);
    WIN32_FIND_DATAA record{};
    const HANDLE leaked = FindFirstFileA("vrk.exe", &record);
    ASSERT_NE(leaked, INVALID_HANDLE_VALUE);

    model::Reset();
    EXPECT_EQ(model::OpenSearchHandles(), 0);
    EXPECT_EQ(First("D:\\Work\\vrk.exe"), "<none>");
    model::AddFile("C:\\vrk.exe");
    EXPECT_EQ(First("vrk.exe"), "vrk.exe") << "C:\\ is current again";
    const FILETIME when = model::FileTimeFromUtc(2020, 1, 1, 0, 0, 0);
    FILETIME local{};
    ASSERT_EQ(FileTimeToLocalFileTime(&when, &local), 1);
    EXPECT_EQ(model::TicksOf(local), model::TicksOf(when));
}

} // namespace
