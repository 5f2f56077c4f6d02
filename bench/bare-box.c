/* The smallest program that shows one message box, like lobbyfix's first
   one (OK and Cancel, no owner, a Russian text), and then ends. The
   benchmark builds it with and without lobbyfix's manifest. */

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    /* "Устранить проблему?" and "Игра: Dunmarsh" */
    const wchar_t text[] = L"\x0423\x0441\x0442\x0440\x0430\x043d\x0438\x0442\x044c \x043f\x0440\x043e"
                           L"\x0431\x043b\x0435\x043c\x0443?";
    const wchar_t caption[] = L"\x0418\x0433\x0440\x0430: Dunmarsh";
    return MessageBoxW(NULL, text, caption, MB_OKCANCEL) == IDOK ? 0 : 1;
}
