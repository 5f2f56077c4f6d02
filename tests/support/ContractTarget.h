#pragma once

// What a contract test may ask of the machine it runs on, whether that is
// the in-memory model or a real Windows (or Wine). Each target provides its
// own implementation; the tests themselves use only platform calls and the
// program's own layers.

#include <string>

namespace contract {

// True under Wine. Wine is a second implementation of Windows; where it is
// known to depart from Windows, a test states both behaviours.
bool RunningOnWine();

// A fresh key under HKEY_CURRENT_USER for one test, removed afterwards.
class ScratchKey {
public:
    ScratchKey();
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    ScratchKey(ScratchKey&&) = delete;
    ScratchKey& operator=(ScratchKey&&) = delete;

    // Path below HKEY_CURRENT_USER, without a leading backslash.
    [[nodiscard]] const std::string& Path() const { return path_; }

    // From now on the key at Path() + "\\" + relative (created if missing)
    // admits read access only: opening it with full access fails, and so
    // does creating a key below it.
    void DenyFullAccess(const std::string& relative);

private:
    std::string path_;
};

} // namespace contract
