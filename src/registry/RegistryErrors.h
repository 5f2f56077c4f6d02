#pragma once

// The single path by which registry statuses become results or errors, and
// the single place where error messages are put together.

#include "core/AnsiString.h"
#include "platform/Platform.h"

// Whether a registry call reported success. One failure status is as good
// as another to the registry layer.
[[nodiscard]] constexpr bool Succeeded(platform::LSTATUS status) noexcept {
    return status == platform::ERROR_SUCCESS;
}

// The template in place of its first %s gets the value name, taken as it is:
// a % sign in the name is never read as a directive. A template without %s
// is returned unchanged.
[[nodiscard]] AnsiString FillTemplate(const AnsiString& pattern, const AnsiString& valueName);

// The template of that id from the program's string table. Should the table
// yield nothing, the compiled-in text of the same id is used instead, so an
// error never goes out without a message.
[[nodiscard]] AnsiString LoadMessageTemplate(platform::UINT id);

// Throws ERegistryException with the message of that template for the name.
[[noreturn]] void RaiseRegistryError(platform::UINT id, const AnsiString& valueName);

// Throws as RaiseRegistryError when the status is a failure.
void RaiseOnFailure(platform::LSTATUS status, platform::UINT id, const AnsiString& valueName);
