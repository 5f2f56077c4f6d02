// The fixed texts, written here in UTF-8 and compiled into Windows-1251
// bytes (this file alone is built with -fexec-charset=CP1251).
//
// Two letters look alike and differ: the one-letter word before "игрой" in
// the question is the Latin c, kept as a literal of its own, while the third
// letter of "Arсade" is the Cyrillic с, written as \u0441.

#include "app/Texts.h"

const TBoxText questionBox = {
    "Устранение проблемы "
    "c" // Latin c
    " игрой в интернет\n"
    "        (GameSpy Ar\u0441ade не находит игру)\n" // 8 spaces
    "\n"
    "                  Устранить проблему?", // 18 spaces
    "Игра: Dunmarsh",
    platform::MB_OKCANCEL,
};

const TBoxText successBox = {
    "       Проблема успешно устранена\n" // 7 spaces
    "              Приятной вам игры!\n"  // 14 spaces
    "\n"
    "Посетите наш сайт в сети интернет\n"
    "                 www.dunmarsh.ru", // 17 spaces
    "Успех",
    platform::MB_OKCANCEL,
};

const TBoxText errorBox = {
    "Игра Dunmarsh не установлена на компьютере.",
    "Ошибка",
    platform::MB_ICONERROR,
};

const char unexpectedFailureText[] = "Непредвиденная ошибка.";
