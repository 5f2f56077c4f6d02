#pragma once

#include "platform/Platform.h"

// The program's guarded entry. It limits DLL loading to System32, then calls
// the run with the four entry arguments and returns the run's result as the
// exit status. A failure that leaves the run as an exception does not end
// the program silently: its message is shown in one error box and the exit
// status becomes unexpectedFailureStatus. What the run wrote before the
// failure stays written.

inline constexpr int unexpectedFailureStatus = 2;

using TRunFunction = int (*)(platform::HMODULE instance, platform::HMODULE previousInstance,
                             const char* commandLine, int showCommand);

// The entry with the registration run.
int RunProgram(platform::HMODULE instance, platform::HMODULE previousInstance, const char* commandLine,
               int showCommand);

// The entry with any run in its place.
int RunGuarded(TRunFunction run, platform::HMODULE instance, platform::HMODULE previousInstance,
               const char* commandLine, int showCommand);
