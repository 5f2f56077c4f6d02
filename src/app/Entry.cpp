#include "app/Entry.h"

#include "app/Run.h"
#include "app/Texts.h"

#include <exception>

namespace {

// Shows the message of a failure that ended the run. It hands over the bytes
// that the failure already holds, without a copy of its own, and a box that
// itself fails does not turn into a second failure.
void ReportFailure(const char* message) noexcept {
    try {
        platform::MessageBoxA(0, message != nullptr && *message != '\0' ? message : unexpectedFailureText,
                              errorBox.caption, platform::MB_ICONERROR); // OK only, error icon
        // NOLINTNEXTLINE(bugprone-empty-catch): a failure of the box itself has no one left to tell
    } catch (...) {
        // Nothing more can be told to the user; the exit status still says it.
    }
}

} // namespace

int RunGuarded(TRunFunction run, platform::HMODULE instance, platform::HMODULE previousInstance,
               const char* commandLine, int showCommand) {
    try {
        // Before anything else may load a DLL, so that, where Windows can
        // limit the search, one planted beside the program is not picked up.
        platform::RestrictDllSearchToSystem32();
        return run(instance, previousInstance, commandLine, showCommand);
    } catch (const std::exception& failure) {
        // The program's own Exception is a std::exception and carries its
        // message in what().
        ReportFailure(failure.what());
    } catch (...) {
        ReportFailure(unexpectedFailureText);
    }
    return unexpectedFailureStatus;
}

int RunProgram(platform::HMODULE instance, platform::HMODULE previousInstance, const char* commandLine,
               int showCommand) {
    return RunGuarded(RunRegistration, instance, previousInstance, commandLine, showCommand);
}
