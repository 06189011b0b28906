#include "support/notify_listener.h"

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>

namespace testing_support {

namespace {

constexpr int kSafetyDeadlineMs = 30000;  // only reached when something is broken
std::atomic<int> g_abstract_names{0};

}  // namespace

NotifyListener::NotifyListener(Kind kind) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socklen_t length = 0;
    if (kind == Kind::kPath) {
        name_ = dir_.File("notify");
        std::memcpy(address.sun_path, name_.c_str(), name_.size() + 1);
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name_.size() + 1);
    } else {
        name_ = "@quorvane-test-" + std::to_string(getpid()) + "-" +
                std::to_string(g_abstract_names.fetch_add(1));
        std::memcpy(address.sun_path + 1, name_.c_str() + 1, name_.size() - 1);
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name_.size());
    }
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        close(fd_);
        fd_ = -1;
    }
    setenv("NOTIFY_SOCKET", name_.c_str(), 1);
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
}

NotifyListener::~NotifyListener() {
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::optional<std::string> NotifyListener::Receive(int timeout_ms) {
    pollfd wait{fd_, POLLIN, 0};
    if (fd_ < 0 || poll(&wait, 1, timeout_ms) != 1) {
        return std::nullopt;
    }
    char buffer[4096];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got < 0) {
        return std::nullopt;
    }
    return std::string(buffer, static_cast<size_t>(got));
}

std::optional<std::string> NotifyListener::Next() {
    return Receive(kSafetyDeadlineMs);
}

std::optional<std::string> NotifyListener::Pending() {
    return Receive(0);
}

std::optional<std::vector<std::string>> NotifyListener::Until(const std::string& message) {
    std::vector<std::string> received;
    while (const auto next = Next()) {
        received.push_back(*next);
        if (*next == message) {
            return received;
        }
    }
    return std::nullopt;
}

}  // namespace testing_support
