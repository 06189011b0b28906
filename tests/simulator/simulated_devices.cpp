#include "simulated_devices.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace simulation {
namespace fs = std::filesystem;

SimulatedDevice::SimulatedDevice(std::string link) : link_(std::move(link)) {
    Return();
}

SimulatedDevice::~SimulatedDevice() {
    Vanish();
}

void SimulatedDevice::Vanish() {
    std::error_code ec;
    fs::remove(link_, ec);
    pty_.reset();
}

void SimulatedDevice::Return() {
    Vanish();
    pty_ = std::make_unique<sim::PtyPair>();
    if (pty_->ok()) {
        std::error_code ec;
        fs::create_symlink(pty_->path(), link_, ec);
    }
}

size_t SimulatedDevice::Offer(std::string_view bytes) {
    size_t sent = 0;
    while (pty_ != nullptr && sent < bytes.size()) {
        const ssize_t put = ::write(pty_->master_fd(), bytes.data() + sent, bytes.size() - sent);
        if (put > 0) {
            sent += static_cast<size_t>(put);
        } else if (put < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // the line is full (or gone)
        }
    }
    return sent;
}

bool SimulatedDevice::Send(std::string_view bytes) {
    return pty_ != nullptr && sim::WriteAll(pty_->master_fd(), bytes);
}

bool SimulatedDevice::WaitWritable(int timeout_ms) {
    if (pty_ == nullptr) {
        return false;
    }
    pollfd p{pty_->master_fd(), POLLOUT, 0};
    return ::poll(&p, 1, timeout_ms) > 0 && (p.revents & POLLOUT) != 0;
}

int SimulatedDevice::Unread() const {
    if (pty_ == nullptr) {
        return 0;
    }
    // A poll that finds nothing waiting first moves what the pty still holds
    // on its way (the kernel passes written bytes on in the background) into
    // the terminal's input, which the count then includes.
    pollfd p{pty_->terminal_fd(), POLLIN, 0};
    ::poll(&p, 1, 0);
    int waiting = 0;
    if (::ioctl(pty_->terminal_fd(), FIONREAD, &waiting) != 0) {
        return 0;
    }
    return waiting;
}

SilentHygrometer::SilentHygrometer(SimulatedDevice& device, platform::FakeClock& clock,
                                   std::function<void()> on_command, std::function<void()> on_quiet)
    : device_(device),
      clock_(clock),
      on_command_(std::move(on_command)),
      on_quiet_(std::move(on_quiet)) {
    thread_ = std::thread([this] { Listen(); });
}

SilentHygrometer::~SilentHygrometer() {
    stop_ = true;
    thread_.join();
}

void SilentHygrometer::Listen() {
    while (!stop_) {
        sim::PtyPair* pty = device_.pty();
        if (pty == nullptr) {
            return;
        }
        for (char command : pty->Read(20)) {
            if (command == '9') {
                exchanging_ = true;
                clock_.SetAutoAdvanceMs(kTickStepMs);
            } else if (command == 'a') {
                clock_.SetAutoAdvanceMs(0);
                exchanging_ = false;
                if (on_quiet_) {
                    on_quiet_();
                }
            } else if (command == '5' || command == '0') {
                // The query's time-out waits until the simulator has done what
                // it does while the exchange stalls.
                clock_.SetAutoAdvanceMs(0);
                if (on_command_) {
                    on_command_();
                }
                clock_.SetAutoAdvanceMs(kTickStepMs);
            }
        }
    }
}

}  // namespace simulation
