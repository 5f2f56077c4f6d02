#pragma once

// Test-only control of the in-memory Windows model. Production code never
// includes this header: tests use it to set up the machine, steer failures
// and read back what the program did.

#include "TestConstants.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace model {

using namespace platform;

// Puts the whole model back to a freshly installed machine: an empty
// registry with its predefined roots, an empty file system, a UTC clock,
// no scripted box answers, the program's own string table, an empty log.
void Reset();

// Every platform call made since the last Reset, in order, one line each,
// written as Name(arg, arg, ...): handles in hex, texts in double quotes,
// null pointers as null.
const std::vector<std::string>& Calls();

// Message boxes. A scripted action answers each box in turn; a box shown
// when no action is left is closed, as a user who dismisses it would.
enum class BoxAction : std::uint8_t { Ok, Cancel, Close };
struct ShownBox {
    HWND owner;
    std::string text;    // the exact bytes passed in (Windows-1251)
    std::string caption; // the exact bytes passed in (Windows-1251)
    UINT type;
    int result;
};
void ScriptBoxes(std::initializer_list<BoxAction> actions);
const std::vector<ShownBox>& ShownBoxes();

// String table: replaces (or adds) one entry of the program's table.
void SetString(UINT id, std::string text);

// Whether the start-up DLL search limit has been applied.
bool DllSearchRestricted();

namespace detail {
// Used by the model's implementation files.
void Log(const char* name, std::initializer_list<std::string> args);
std::string Hex(std::uint32_t value);
std::string Quote(const char* text); // "text" or null
void ResetRegistry();
void ResetFiles();
void ResetUi();
} // namespace detail

} // namespace model

#include "model/FilesControl.h"
#include "model/RegistryControl.h"
