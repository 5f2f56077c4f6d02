#pragma once

#include <utility>

// The one owner of a handle of one kind. Traits says what "no handle" is for
// that kind and how a handle of it is closed:
//
//   struct Traits {
//       using Handle = ...;
//       static Handle Empty() noexcept;      // the value that holds nothing
//       static void Close(Handle) noexcept;  // releases a held handle
//   };
//
// Empty is a function, not a constant, because some kinds' empty value
// (INVALID_HANDLE_VALUE for a native search) is not a constant expression.
// A held handle is closed exactly once: when the owner is reset, overwritten
// by a move, or destroyed. The close's own result is not looked at: nothing
// useful can be done about a handle that will not close.
template <typename Traits>
class TUniqueHandle final {
public:
    using Handle = typename Traits::Handle;

    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(Handle handle) noexcept : handle_(handle) {}
    ~TUniqueHandle() { Reset(); }

    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;

    TUniqueHandle(TUniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Traits::Empty())) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, Traits::Empty());
        }
        return *this;
    }

    [[nodiscard]] Handle Get() const noexcept { return handle_; }
    [[nodiscard]] bool IsOpen() const noexcept { return handle_ != Traits::Empty(); }

    // Closes the held handle, if any, and holds nothing from then on.
    void Reset() noexcept {
        const Handle old = std::exchange(handle_, Traits::Empty());
        if (old != Traits::Empty()) {
            Traits::Close(old);
        }
    }

private:
    Handle handle_ = Traits::Empty();
};
