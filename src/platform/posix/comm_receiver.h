// The receive thread of the POSIX comm layer: one thread for all open
// devices, waiting in epoll, moves what each device delivers into that
// device's receive queue as it arrives, from the open to the close, whatever
// the thread that owns the handle is doing. A device whose queue is full is
// no longer read until the queue has room: it waits, as a device that can
// (a pty, a USB CDC-ACM instrument, a network bridge) does; what a UART
// without flow control then loses, its driver counts (see CommDevice::lost).
// A device that hangs up or fails is marked gone and no longer read.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/posix/comm_device.h"

namespace platform::posix {

// The receive thread's name, as process listings show it.
inline constexpr char kReceiveThreadName[] = "comm-receive";

// Starts serving the device (the thread starts with the first one).
// False (errno set) when the device cannot be watched.
bool StartReceiving(const std::shared_ptr<CommDevice>& device);

// Stops serving the device. When it returns the thread no longer touches the
// device, so its descriptor may be closed (the thread ends with the last one).
void StopReceiving(CommDevice* device);

// Where WaitForCommInput waits. `arrivals` counts the times the receive
// thread found a waiter's level reached (or a device gone), `wakes` the calls
// of WakeCommWaiters; both change only under `mutex`, with `changed`
// notified. A waiter takes `mutex` before the device mutexes, never after.
struct CommWaitRoom {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t arrivals = 0;
    uint64_t wakes = 0;
};
CommWaitRoom& WaitRoom();

}  // namespace platform::posix
