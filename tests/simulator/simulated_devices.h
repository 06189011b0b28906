// The instruments of a simulated station: each a pseudo-terminal behind a
// stable name (a symbolic link, as a udev rule makes one), which can go away
// (the pty closed, the name gone) and come back as a new pty behind the same
// name. A device that can wait: what the line does not take now stays with
// the device and goes out later. A silent hygrometer never answers; each
// command it hears lets the fake clock run to the end of that command's
// time-out.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/fake_clock.h"
#include "pty_pair.h"

namespace simulation {

class SimulatedDevice {
public:
    explicit SimulatedDevice(std::string link);
    ~SimulatedDevice();
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    const std::string& link() const { return link_; }
    bool present() const { return pty_ != nullptr; }
    bool ok() const { return pty_ != nullptr && pty_->ok(); }

    // The pty closes and the name goes: the terminal side hangs up.
    void Vanish();
    // A new pty behind the same name.
    void Return();

    // Sends what the line takes now, without waiting; returns how many.
    size_t Offer(std::string_view bytes);
    // Sends every byte, waiting while the line is full. False on an error.
    bool Send(std::string_view bytes);
    // Waits until the line takes bytes again, at most `timeout_ms`.
    bool WaitWritable(int timeout_ms);
    // Bytes on the line that the logger has not taken from it yet. Once 0,
    // every byte sent is in the logger's receive queue or counted as lost
    // there (its receive thread takes them from the line and queues them
    // under one lock).
    int Unread() const;
    // The far side of the line (a hygrometer reads its commands there).
    sim::PtyPair* pty() { return pty_.get(); }

private:
    std::string link_;
    std::unique_ptr<sim::PtyPair> pty_;
};

// Answers nothing. For each query it hears ('5', '0') it calls `on_command`
// (on its own thread); once that has returned, and until the exchange's last
// command ('a'), every reading of the tick counter moves the fake clock on,
// so the query's time-out runs out after a few of its polls, as many on any
// machine.
class SilentHygrometer {
public:
    static constexpr int64_t kTickStepMs = 2500;

    // `on_quiet` is called once an exchange has ended (the clock runs on its
    // own again).
    SilentHygrometer(SimulatedDevice& device, platform::FakeClock& clock,
                     std::function<void()> on_command, std::function<void()> on_quiet);
    ~SilentHygrometer();
    SilentHygrometer(const SilentHygrometer&) = delete;
    SilentHygrometer& operator=(const SilentHygrometer&) = delete;

    // From the exchange's first command to its last.
    bool exchanging() const { return exchanging_.load(); }

private:
    void Listen();

    SimulatedDevice& device_;
    platform::FakeClock& clock_;
    std::function<void()> on_command_;
    std::function<void()> on_quiet_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> exchanging_{false};
    std::thread thread_;
};

}  // namespace simulation
