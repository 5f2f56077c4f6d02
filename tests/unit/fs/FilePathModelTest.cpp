// The model's file system behaves as Windows does for the calls the program
// makes: path reading, name matching, listing order, the search record and
// handles, and the clock.

#include "model/FilePaths.h"
#include "model/ModelControl.h"

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
    EXPECT_TRUE(ListedBefore("..", "!first")) << "'!' sorts before '.' as a byte";
    EXPECT_TRUE(ListedBefore("alpha", "Beta"));
    for (const char* name : {"", ".", "..", "a:b", "a\tb"}) {
        EXPECT_FALSE(model::paths::IsValidName(name)) << name;
    }
    EXPECT_TRUE(model::paths::IsValidName("..."));
}

TEST_F(ModelFiles, DotsAreReadBeforeTheLookup) {
    model::AddFile("C:\\Games\\Dunmarsh\\vrk.exe");
    EXPECT_EQ(First("C:\\..\\..\\Games\\Dunmarsh\\vrk.exe"), "vrk.exe") << "'..' stops at the root";
    EXPECT_EQ(First("C:\\Games\\Dunmarsh\\vrk.exe\\.."), "Dunmarsh") << "'..' is undone on the text";
    EXPECT_EQ(First("C:\\Games\\Dunmarsh\\."), "Dunmarsh");
    EXPECT_EQ(First("C:\\Games.\\Dunmarsh\\vrk.exe"), "vrk.exe") << "one trailing dot of a folder";
    EXPECT_EQ(First("C:\\Games\\Dunmarsh\\ vrk.exe"), "<none>") << "leading spaces count";
}

TEST_F(ModelFiles, PathsWithoutALastNameFindNothing) {
    model::AddFile("C:\\Games\\vrk.exe");
    for (const char* path : {"C:", "C:\\", "\\", "/", "C:\\Games/", "C:\\Games\\..", "C:\\.",
                             "C:\\Games\\...", "C:\\Games\\vrk.exe\\x"}) {
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
    EXPECT_EQ(First("E:\\vrk.exe"), "<none>") << "no such drive";
}

TEST_F(ModelFiles, NetworkPathsFindNothingButDevicePrefixesNameADrivePath) {
    model::AddFile("C:\\server\\share\\vrk.exe");
    model::AddFile("C:\\vrk.exe");
    EXPECT_EQ(First("\\\\server\\share\\vrk.exe"), "<none>");
    EXPECT_EQ(First("//server/share/vrk.exe"), "<none>");
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
    EXPECT_EQ(First("C:\\Dir\\.?"), "..");
    EXPECT_EQ(First("C:\\Dir\\*a*"), "Alpha.txt");
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
    EXPECT_EQ(First("C:\\Dir\\zeta.tx"), "<none>") << "a name is matched whole";
    EXPECT_EQ(First("C:\\Dir\\zeta.txt?"), "<none>") << "'?' stands for exactly one character";
    EXPECT_EQ(First("C:\\Dir\\ze>a.txt"), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\*.c"), "a.b.c");
    EXPECT_EQ(First("C:\\Dir\\no*.*"), "noext") << "'.*' at the end allows no extension";
    EXPECT_EQ(First("C:\\Dir\\*.txt."), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\Z*T"), "zeta.txt");
    EXPECT_EQ(First("C:\\Dir\\*x"), "<none>");
    EXPECT_EQ(First("C:\\Di*\\zeta.txt"), "<none>") << "wildcards only in the last component";
    EXPECT_EQ(First("C:\\Dir\\zeta|txt"), "<none>");
    EXPECT_EQ(First("C:\\Dir\\zeta.txt:stream"), "<none>");
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
