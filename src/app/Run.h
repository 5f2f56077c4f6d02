#pragma once

#include "platform/Platform.h"

// The registration run: asks the user, reads the game's installation folder
// from the App Paths entry of its executable, checks that the executable is
// there, writes the game's DirectPlay lobby registration and reports the
// outcome. Takes the four arguments of the program's entry and uses none.
//
// Returns 0 when the closing box is confirmed with OK and 1 in every other
// ordinary ending. A registry value that cannot be read or written raises
// ERegistryException out of the run; values written before it stay written.
int RunRegistration(platform::HMODULE instance, platform::HMODULE previousInstance, const char* commandLine,
                    int showCommand);
