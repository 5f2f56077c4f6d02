#pragma once

// Real-registry helpers for the contract tests' fixtures under Windows.
// Deliberately free of <windows.h>, so that tests written against the
// platform boundary can include it.

#include <string>

namespace contract {

// Removes the key below HKEY_CURRENT_USER and its whole subtree, restoring
// full access to any part that a test locked first. A missing key is fine.
void DeleteCurrentUserTree(const std::string& path);

// Creates the key below HKEY_CURRENT_USER if needed and lets everyone read
// it, and nothing more.
void DenyFullAccessUnderCurrentUser(const std::string& path);

} // namespace contract
