// The process entry of the Windows executable. The C runtime starts up first
// and then calls WinMain with the module handle, no previous instance, the
// command line after the program name and the show flag; WinMain's result
// becomes the exit status.
//
// WinMain is declared here with an opaque handle type instead of through
// <windows.h>: with C linkage only its name and the size of its arguments
// matter, and on 32-bit Windows a module handle is a pointer whose value fits
// the boundary's 32-bit handle.

#include "app/Entry.h"

#include <cstdint>

struct TInstance;

namespace {

platform::HMODULE ToModule(TInstance* instance) {
    return static_cast<platform::HMODULE>(reinterpret_cast<std::uintptr_t>(instance));
}

} // namespace

// Windows fixes this signature: the command line is passed as a char*.
// cppcheck-suppress constParameterPointer
extern "C" int __stdcall WinMain(TInstance* instance, TInstance* previousInstance, char* commandLine,
                                 int showCommand) {
    return RunProgram(ToModule(instance), ToModule(previousInstance), commandLine, showCommand);
}
