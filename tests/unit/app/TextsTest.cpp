// The fixed texts must reach the box as exact Windows-1251 bytes. The
// expected bytes are derived here on their own, with the C library's code
// page converter and hexadecimal literals, not from the program's sources.

#include "app/Texts.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <stdexcept>
#include <string>

namespace {

std::string Cp1251(const std::string& text) {
    const iconv_t converter = iconv_open("CP1251", "UTF-8");
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

// Braces here would pick the character-list constructor and make two
// characters, not count spaces.
// NOLINTNEXTLINE(modernize-return-braced-init-list)
std::string Spaces(std::size_t count) { return std::string(count, ' '); }

} // namespace

// Each box's text, caption and buttons as exact bytes.
TEST(Texts, BoxesHoldTheirExactBytes) {
    struct Case {
        const char* name;
        const TBoxText& box;
        std::string text;
        std::string caption;
        unsigned style;
    };
    const Case cases[] = {
        {"question", questionBox,
         Cp1251(std::string("Устранение проблемы c игрой в интернет\n") + Spaces(8) +
                "(GameSpy Ar\u0441ade не находит игру)\n\n" + Spaces(18) + "Устранить проблему?"),
         "\xC8\xE3\xF0\xE0: Dunmarsh", 0x01u},
        {"success", successBox,
         Cp1251(Spaces(7) + "Проблема успешно устранена\n" + Spaces(14) +
                "Приятной вам игры!\n\nПосетите наш сайт в сети интернет\n" + Spaces(17) + "www.dunmarsh.ru"),
         "\xD3\xF1\xEF\xE5\xF5", 0x01u},
        {"error", errorBox, Cp1251("Игра Dunmarsh не установлена на компьютере."), "\xCE\xF8\xE8\xE1\xEA\xE0",
         0x10u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::string(c.box.text), c.text);
        EXPECT_EQ(std::string(c.box.caption), c.caption);
        EXPECT_EQ(c.box.style, c.style);
    }
}

// Two letters of the question look alike and must stay apart: the word before
// "игрой" is the Latin c, the third letter of "Arсade" the Cyrillic es.
TEST(Texts, QuestionIs118BytesWithTheLookAlikeLettersApart) {
    const std::string question = questionBox.text;
    EXPECT_EQ(question.size(), 118u);
    EXPECT_EQ(static_cast<unsigned char>(question[20]), 0x63);
    EXPECT_NE(question.find("GameSpy Ar\xF1"
                            "ade"),
              std::string::npos);
}

TEST(Texts, FallbackFailureTextIsWindows1251) {
    EXPECT_EQ(std::string(unexpectedFailureText), Cp1251("Непредвиденная ошибка."));
}
