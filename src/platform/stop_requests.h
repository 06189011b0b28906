// The operating system's requests to end a program that runs without a
// window: SIGINT, SIGTERM and SIGHUP (its terminal went away) on POSIX, where
// a broken pipe on its output is ignored meanwhile; Ctrl+C, Ctrl+Break and
// closing the console on Windows. They are caught from construction on and can be
// waited for, so the program ends its work in order instead of dying.
#pragma once

#include <chrono>
#include <optional>

namespace platform {

class StopRequests {
public:
    // Construct it before starting any thread: on POSIX the signals are
    // blocked here, and threads started afterwards keep them blocked, so
    // only Wait receives them.
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // Waits until a request arrives or `timeout` has passed (no value: no
    // limit). True when a request arrived.
    bool Wait(std::optional<std::chrono::milliseconds> timeout);
};

}  // namespace platform
