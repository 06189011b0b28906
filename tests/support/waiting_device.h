// Tells a test when the comm layer's receive thread has stopped reading a
// device because its receive queue is full, so the device waits. (Linux.)
#pragma once

#include <chrono>
#include <thread>

#include "platform/posix/comm_device.h"

namespace testing_support {

// Waits until some device waits (30 s at most: only reached when none ever
// does). True when one does.
inline bool AwaitAWaitingDevice() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (platform::posix::PausedDevices() == 0) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

}  // namespace testing_support
