#include "platform/posix/comm_device.h"

#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform::posix {

thread_local DWORD t_lastError = ERROR_SUCCESS;
// Plain characters, not a std::string: the comm calls of an exit handler
// (closing the ports left open) run after the thread's own objects are gone.
thread_local char t_lastFailure[160] = "";

namespace {

// What Windows says for the errors this layer gives without an errno.
const char* ErrorText(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return "";
        case ERROR_INVALID_HANDLE:
            return "The handle is invalid.";
        case ERROR_NOT_SUPPORTED:
            return "The request is not supported.";
        case ERROR_INVALID_PARAMETER:
            return "The parameter is incorrect.";
        default:
            return "A device attached to the system is not functioning.";
    }
}

}  // namespace

BOOL Fail(DWORD error) {
    t_lastError = error;
    std::snprintf(t_lastFailure, sizeof t_lastFailure, "%s", ErrorText(error));
    return FALSE;
}

BOOL FailWithErrno(int error) {
    t_lastError = ErrorFromErrno(error);
    char text[160];
    std::snprintf(t_lastFailure, sizeof t_lastFailure, "%s", strerror_r(error, text, sizeof text));
    return FALSE;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENOTTY:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

CommDevice::~CommDevice() {
    if (fd >= 0) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);  // also drops the flock
    }
}

int CommDevice::FreePieces(iovec pieces[2]) {
    const size_t capacity = queue.size();
    if (count == capacity) {
        return 0;
    }
    if (count == 0) {
        head = 0;  // one piece, as large as it gets
    }
    const size_t tail = (head + count) % capacity;
    if (tail >= head) {
        pieces[0] = iovec{queue.data() + tail, capacity - tail};
        if (head == 0) {
            return 1;
        }
        pieces[1] = iovec{queue.data(), head};
        return 2;
    }
    pieces[0] = iovec{queue.data() + tail, head - tail};
    return 1;
}

namespace {
std::atomic<int64_t> g_longestHalfFullMs{0};
std::atomic<int> g_pausedDevices{0};

// A paused device is read again once this much room is free (less in a
// small queue): a reader that takes a byte at a time then does not turn
// reading on and off for every byte.
constexpr size_t kResumeRoom = 4096;
}  // namespace

void CommDevice::NoteFill() {
    const bool now_half_full = count * 2 > queue.size();
    if (now_half_full == halfFull) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now_half_full) {
        halfFullSince = now;
    } else {
        const int64_t ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - halfFullSince).count();
        int64_t longest = g_longestHalfFullMs.load();
        while (ms > longest && !g_longestHalfFullMs.compare_exchange_weak(longest, ms)) {
        }
    }
    halfFull = now_half_full;
}

void CommDevice::PauseReading() {
    if (paused) {
        return;
    }
    ::epoll_ctl(receiveSet, EPOLL_CTL_DEL, fd, nullptr);
    paused = true;
    pausedSince = std::chrono::steady_clock::now();
    ++g_pausedDevices;
}

void CommDevice::ResumeIfRoom() {
    if (!paused) {
        return;
    }
    const size_t room = std::max<size_t>(1, std::min(queue.size() / 2, kResumeRoom));
    const bool serving = !gone && receiveSet >= 0;
    if (serving && queue.size() - count < room) {
        return;
    }
    if (serving) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = receiveId;
        if (::epoll_ctl(receiveSet, EPOLL_CTL_ADD, fd, &event) != 0 && errno != EEXIST) {
            // Never to be read again: the port is lost, and reopened.
            gone = true;
            goneReason = std::strerror(errno);
        }
    }
    paused = false;
    waited += std::chrono::steady_clock::now() - pausedSince;
    --g_pausedDevices;
}

int64_t CommDevice::TakeWaitedMs() {
    auto total = waited;
    waited = {};
    if (paused) {
        const auto now = std::chrono::steady_clock::now();
        total += now - pausedSince;
        pausedSince = now;
    }
    return std::chrono::ceil<std::chrono::milliseconds>(total).count();
}

int PausedDevices() {
    return g_pausedDevices.load();
}

int64_t LongestHalfFullMs() {
    return g_longestHalfFullMs.load();
}

void ResetLongestHalfFull() {
    g_longestHalfFullMs.store(0);
}

size_t CommDevice::Take(uint8_t* out, size_t wanted) {
    const size_t capacity = queue.size();
    const size_t n = wanted < count ? wanted : count;
    const size_t first = n < capacity - head ? n : capacity - head;
    std::memcpy(out, queue.data() + head, first);
    std::memcpy(out + first, queue.data(), n - first);
    head = (head + n) % capacity;
    count -= n;
    NoteFill();
    UpdateDtrHandshake();
    return n;
}

bool CommDevice::ModemIoctl(unsigned long request, int* bits) {
    if (hasModemLines && ::ioctl(fd, request, bits) == 0) {
        return true;
    }
    if (!hasModemLines || errno == ENOTTY || errno == EINVAL) {
        hasModemLines = false;
        return Fail(ERROR_NOT_SUPPORTED);
    }
    return FailWithErrno(errno);
}

bool CommDevice::SetLine(int line, bool on) {
    int bits = line;
    return ModemIoctl(on ? TIOCMBIS : TIOCMBIC, &bits);
}

void CommDevice::UpdateDtrHandshake() {
    if (dcb.fDtrControl != DTR_CONTROL_HANDSHAKE || !hasModemLines) {
        return;
    }
    const size_t free = queue.size() - count;
    if (!dtrHeld && free < dcb.XoffLim) {
        dtrHeld = SetLine(TIOCM_DTR, false);
    } else if (dtrHeld && count <= dcb.XonLim) {
        dtrHeld = !SetLine(TIOCM_DTR, true);
    }
}

}  // namespace platform::posix
