#pragma once

#include "platform/Platform.h"

// The fixed texts that the user sees. Every text is Windows-1251 bytes,
// zero-terminated; lines are separated by a single line feed.

// One message box: its text, its caption and its buttons and icon.
struct TBoxText {
    const char* text;
    const char* caption;
    platform::UINT style;
};

// Asks whether to fix the game's registration (OK and Cancel).
extern const TBoxText questionBox;
// Reports that the registration has been written (OK and Cancel).
extern const TBoxText successBox;
// Reports that the game is not installed (OK only, error icon).
extern const TBoxText errorBox;

// Shown under the error caption when a failure that carries no message of
// its own ends the program.
extern const char unexpectedFailureText[];
