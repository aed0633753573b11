// Force-included into GoogleTest's MinGW build. The win32 thread model of MinGW's GCC 12 has no
// std::mutex, which GoogleTest's Notification uses; this stand-in (used only by GoogleTest's own
// thread tests) spins on an atomic flag instead.
#pragma once

#include <atomic>

namespace testing::internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace testing::internal

#define GTEST_HAS_NOTIFICATION_ 1
