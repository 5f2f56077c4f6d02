#pragma once

// GoogleTest's own Notification is built on std::mutex and
// std::condition_variable, which the toolchain's win32 thread model does not
// have. This stand-in, forced into every GoogleTest translation unit of the
// Windows build, waits on an atomic flag instead. GoogleTest needs it only
// for threads it starts itself, which these tests never do.

#include <atomic>

namespace testing::internal {

class Notification {
public:
    Notification() = default;
    ~Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    Notification(Notification&&) = delete;
    Notification& operator=(Notification&&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

} // namespace testing::internal
