#include "platform/service_notify.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#endif

namespace platform {

#ifdef _WIN32

int NotifyServiceManager(std::string_view /*state*/) {
    return 0;
}

int64_t ServiceWatchdogIntervalMs() {
    return 0;
}

#else

namespace {

// The socket address of NOTIFY_SOCKET and its length; false when the name
// is not one of an AF_UNIX socket or too long.
bool NotifyAddress(const char* name, sockaddr_un& address, socklen_t& length) {
    address = {};
    address.sun_family = AF_UNIX;
    const size_t size = std::strlen(name);
    if ((name[0] != '/' && name[0] != '@') || size < 2 || size >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, name, size);
    if (name[0] == '@') {
        // Abstract namespace: a leading zero byte, and no terminating one.
        address.sun_path[0] = '\0';
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
    } else {
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size + 1);
    }
    return true;
}

}  // namespace

int NotifyServiceManager(std::string_view state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    sockaddr_un address;
    socklen_t length = 0;
    if (!NotifyAddress(name, address, length)) {
        return -EAFNOSUPPORT;
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -errno;
    }
    const ssize_t sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), length);
    const int error = errno;
    close(fd);
    if (sent < 0) {
        return -error;
    }
    return sent == static_cast<ssize_t>(state.size()) ? 1 : -EMSGSIZE;
}

int64_t ServiceWatchdogIntervalMs() {
    const char* usec = std::getenv("WATCHDOG_USEC");
    if (usec == nullptr) {
        return 0;
    }
    if (const char* pid = std::getenv("WATCHDOG_PID")) {
        char* end = nullptr;
        const long long value = std::strtoll(pid, &end, 10);
        if (end == pid || *end != '\0' || value != static_cast<long long>(getpid())) {
            return 0;
        }
    }
    char* end = nullptr;
    const long long value = std::strtoll(usec, &end, 10);
    if (end == usec || *end != '\0' || value <= 0) {
        return 0;
    }
    // At least a millisecond, so a tiny interval still means "watched".
    return value < 1000 ? 1 : value / 1000;
}

#endif

namespace {

constexpr int64_t kUnread = -1;
// Only the acquisition thread kicks; a test or a new run resets between
// runs. Atomics keep a reset from another thread well-defined all the same.
std::atomic<int64_t> g_interval_ms{kUnread};
std::atomic<bool> g_kicked{false};
std::atomic<uint32_t> g_last_kick{0};

}  // namespace

void KickServiceWatchdog() {
    int64_t interval = g_interval_ms.load(std::memory_order_relaxed);
    if (interval == kUnread) {
        interval = ServiceWatchdogIntervalMs();
        g_interval_ms.store(interval);
    }
    if (interval == 0) {
        return;
    }
    const uint32_t now = TickCount();
    if (g_kicked.load(std::memory_order_relaxed) &&
        static_cast<int64_t>(now - g_last_kick.load(std::memory_order_relaxed)) < interval / 4) {
        return;
    }
    g_last_kick.store(now, std::memory_order_relaxed);
    g_kicked.store(true, std::memory_order_relaxed);
    NotifyServiceManager("WATCHDOG=1");
}

void ResetServiceWatchdog() {
    g_kicked.store(false);
    g_interval_ms.store(kUnread);
}

}  // namespace platform
