#pragma once

// Registry part of the model's test controls (see ModelControl.h).
//
// Paths here are written as below a root key: components separated by a
// backslash, no leading backslash ("Software\\A\\B"); "" is the root itself.
// A malformed path (leading backslash, empty component) is a mistake in the
// test and throws std::invalid_argument. Key and value names match without
// regard to case, as the registry's own calls do; names keep the case in
// which they were first created.

#include "TestConstants.h"

#include <optional>
#include <string>
#include <vector>

namespace model {

using namespace platform;

struct StoredValue {
    DWORD type = REG_NONE;
    std::string bytes; // the exact data, terminating NULs included
};

// Makes every missing key on the path.
void CreateKey(HKEY root, const std::string& path);

// Stores a value with exactly these bytes, creating the key if it is missing.
void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::string& bytes);

// The value as stored, or nothing when the key or the value is missing.
std::optional<StoredValue> GetValue(HKEY root, const std::string& path, const std::string& name);

bool KeyExists(HKEY root, const std::string& path);

// Value names of the key in the order they were first set; empty when the
// key is missing. The unnamed default value appears as "".
std::vector<std::string> ValueNames(HKEY root, const std::string& path);

// From now on the key admits read access only: opening or creating it with
// any right beyond KEY_READ fails with ERROR_ACCESS_DENIED, and so does
// creating a missing key directly below it. The key is created if missing.
void DenyFullAccess(HKEY root, const std::string& path);

// Every later RegSetValueExA of a value of this name (any key, any case)
// fails with ERROR_WRITE_FAULT and stores nothing.
void FailSetValue(const std::string& valueName);

// After the next successful size query (null data buffer) of that value, its
// data grows by extraBytes, so a read sized by that query no longer fits.
void GrowValueBeforeRead(HKEY root, const std::string& path, const std::string& name,
                         const std::string& extraBytes);

// Handles made by RegOpenKeyExA or RegCreateKeyExA that are still open. The
// predefined roots are not counted.
int OpenKeyHandles();

// Every key and value in a canonical text form, one line each: keys and
// values sorted without regard to case, data in hexadecimal. Two registry
// states are equal exactly when their dumps are.
std::string DumpRegistry();

} // namespace model
