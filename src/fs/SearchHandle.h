#pragma once

#include "platform/Platform.h"

#include <utility>

namespace fs {

// Sole owner of a file search handle. Empty is INVALID_HANDLE_VALUE, the
// value a failed search returns; a held search is closed exactly once, by
// Reset or by the destructor.
class SearchHandle {
public:
    SearchHandle() = default;
    explicit SearchHandle(platform::HANDLE search) noexcept : search_(search) {}
    SearchHandle(const SearchHandle&) = delete;
    SearchHandle& operator=(const SearchHandle&) = delete;
    SearchHandle(SearchHandle&& other) noexcept : search_(other.Release()) {}
    SearchHandle& operator=(SearchHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~SearchHandle() { Reset(); }

    [[nodiscard]] bool IsOpen() const noexcept { return search_ != platform::INVALID_HANDLE_VALUE; }
    [[nodiscard]] platform::HANDLE Get() const noexcept { return search_; }

    // Closes the held search, if any, and holds `search` instead.
    void Reset(platform::HANDLE search = platform::INVALID_HANDLE_VALUE) noexcept {
        const platform::HANDLE old = std::exchange(search_, search);
        if (old != platform::INVALID_HANDLE_VALUE) {
            platform::FindClose(old); // nothing to do about a failed close
        }
    }

    // Gives up ownership without closing.
    [[nodiscard]] platform::HANDLE Release() noexcept {
        return std::exchange(search_, platform::INVALID_HANDLE_VALUE);
    }

private:
    platform::HANDLE search_ = platform::INVALID_HANDLE_VALUE;
};

} // namespace fs
