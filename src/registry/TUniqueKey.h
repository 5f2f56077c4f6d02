#pragma once

#include "platform/Platform.h"

#include <utility>

// The one owner of an open registry key handle. 0 means "no key". The handle
// is closed exactly once: when the owner is reset, overwritten by a move, or
// destroyed. The status of the close is not looked at: nothing useful can be
// done about a key that will not close.
class TUniqueKey final {
public:
    TUniqueKey() noexcept = default;
    explicit TUniqueKey(platform::HKEY key) noexcept : key_(key) {}
    ~TUniqueKey() { Reset(); }

    TUniqueKey(const TUniqueKey&) = delete;
    TUniqueKey& operator=(const TUniqueKey&) = delete;

    TUniqueKey(TUniqueKey&& other) noexcept : key_(std::exchange(other.key_, 0)) {}
    TUniqueKey& operator=(TUniqueKey&& other) noexcept {
        if (this != &other) {
            Reset();
            key_ = std::exchange(other.key_, 0);
        }
        return *this;
    }

    [[nodiscard]] platform::HKEY Get() const noexcept { return key_; }
    [[nodiscard]] bool IsOpen() const noexcept { return key_ != 0; }

    void Reset() noexcept {
        if (key_ != 0) {
            platform::RegCloseKey(std::exchange(key_, 0));
        }
    }

private:
    platform::HKEY key_ = 0;
};
