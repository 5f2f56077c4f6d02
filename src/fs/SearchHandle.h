#pragma once

#include "platform/Platform.h"

#include <utility>

namespace fs {

// Sole owner of a file search handle. Empty is INVALID_HANDLE_VALUE, the
// value a failed search returns; a held search is closed exactly once, by
// Reset or by the destructor.
class SearchHandle {
public:
    explicit SearchHandle(platform::HANDLE search) noexcept : search_(search) {}
    SearchHandle(const SearchHandle&) = delete;
    SearchHandle& operator=(const SearchHandle&) = delete;
    SearchHandle(SearchHandle&&) = delete;
    SearchHandle& operator=(SearchHandle&&) = delete;
    ~SearchHandle() { Reset(); }

    [[nodiscard]] bool IsOpen() const noexcept { return search_ != platform::INVALID_HANDLE_VALUE; }

    // Closes the held search, if any.
    void Reset() noexcept {
        const platform::HANDLE old = std::exchange(search_, platform::INVALID_HANDLE_VALUE);
        if (old != platform::INVALID_HANDLE_VALUE) {
            platform::FindClose(old); // nothing to do about a failed close
        }
    }

private:
    platform::HANDLE search_ = platform::INVALID_HANDLE_VALUE;
};

} // namespace fs
