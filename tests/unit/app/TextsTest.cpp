// The fixed texts must reach the box as exact Windows-1251 bytes. The
// expected bytes are derived here on their own, with the C library's code
// page converter and hexadecimal literals, not from the program's sources.

#include "app/Texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string Convert(const std::string& text, const char* to, const char* from) {
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("no converter");
    }
    std::string in = text;
    std::string out(text.size() * 4 + 4, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1)) {
        throw std::runtime_error("text does not convert");
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string Cp1251(const std::string& utf8) { return Convert(utf8, "CP1251", "UTF-8"); }
std::string Utf8(const std::string& cp1251) { return Convert(cp1251, "UTF-8", "CP1251"); }

// Braces here would pick the character-list constructor and make two
// characters, not count spaces.
// NOLINTNEXTLINE(modernize-return-braced-init-list)
std::string Spaces(std::size_t count) { return std::string(count, ' '); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (const char c : text) {
        if (c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

std::size_t LeadingSpaces(const std::string& line) { return line.find_first_not_of(' '); }

} // namespace

TEST(Texts, QuestionIsExactly118BytesWithTheLookAlikeLettersApart) {
    const std::string question = questionBox.text;
    ASSERT_EQ(question.size(), 118u);
    // "Устранение проблемы " is 20 letters and spaces; the next byte is the Latin c.
    EXPECT_EQ(static_cast<unsigned char>(question[20]), 0x63);
    EXPECT_EQ(question.substr(19, 3), " c ");
    // "GameSpy Arсade": the third letter is the Cyrillic es.
    EXPECT_NE(question.find("GameSpy Ar\xF1"
                            "ade"),
              std::string::npos);
    EXPECT_EQ(question.find("Arcade"), std::string::npos);
    EXPECT_EQ(question.find('\r'), std::string::npos);
    EXPECT_NE(question.back(), '\n');

    const std::string expected =
        Cp1251(std::string("Устранение проблемы c игрой в интернет\n") + Spaces(8) +
               "(GameSpy Ar\u0441ade не находит игру)\n\n" + Spaces(18) + "Устранить проблему?");
    EXPECT_EQ(question, expected);
    const auto lines = Lines(question);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(LeadingSpaces(lines[1]), 8u);
    EXPECT_TRUE(lines[2].empty());
    EXPECT_EQ(LeadingSpaces(lines[3]), 18u);
}

TEST(Texts, SuccessHasFiveLinesWithCountedIndentsAndAnAddress) {
    const std::string success = successBox.text;
    const auto lines = Lines(success);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(LeadingSpaces(lines[0]), 7u);
    EXPECT_EQ(LeadingSpaces(lines[1]), 14u);
    EXPECT_TRUE(lines[2].empty());
    EXPECT_EQ(LeadingSpaces(lines[3]), 0u);
    EXPECT_EQ(LeadingSpaces(lines[4]), 17u);
    EXPECT_EQ(lines[4].substr(17), "www.dunmarsh.ru");
    EXPECT_EQ(success.find('\r'), std::string::npos);

    const std::string expected =
        Cp1251(Spaces(7) + "Проблема успешно устранена\n" + Spaces(14) +
               "Приятной вам игры!\n\nПосетите наш сайт в сети интернет\n" + Spaces(17) + "www.dunmarsh.ru");
    EXPECT_EQ(success, expected);
}

TEST(Texts, ErrorIsOneLine) {
    const std::string error = errorBox.text;
    EXPECT_EQ(error, Cp1251("Игра Dunmarsh не установлена на компьютере."));
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(error.size(), 43u);
}

TEST(Texts, CaptionsAreWindows1251) {
    EXPECT_EQ(std::string(questionBox.caption), "\xC8\xE3\xF0\xE0: Dunmarsh");
    EXPECT_EQ(std::string(successBox.caption), "\xD3\xF1\xEF\xE5\xF5");
    EXPECT_EQ(std::string(errorBox.caption), "\xCE\xF8\xE8\xE1\xEA\xE0");
}

TEST(Texts, StylesAreOkCancelForQuestionsAndErrorIconAlone) {
    EXPECT_EQ(questionBox.style, 0x01u);
    EXPECT_EQ(successBox.style, 0x01u);
    EXPECT_EQ(errorBox.style, 0x10u);
}

TEST(Texts, FallbackFailureTextIsWindows1251) {
    EXPECT_EQ(Utf8(unexpectedFailureText), "Непредвиденная ошибка.");
}
