// The Win32 comm subset over termios (see platform/comm.h for the rules).
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/comm.h"
#include "platform/posix/comm_termios.h"

namespace {

// Before SetupComm a device gets the queue size Windows starts with.
constexpr size_t kDefaultQueueSize = 4096;

struct CommDevice {
    int fd = -1;
    std::vector<uint8_t> queue = std::vector<uint8_t>(kDefaultQueueSize);
    size_t head = 0;   // first unread byte
    size_t count = 0;  // bytes waiting
    DCB dcb{};
    DWORD pendingErrors = 0;  // raised by this layer, reported by the next ClearCommError
    serial_icounter_struct counters{};
    bool hasCounters = false;
    bool hasModemLines = true;  // cleared when the device refuses a modem-line call
    bool dtrHeld = false;       // DTR lowered by the input handshake
    bool lineGone = false;      // reading failed with an error other than EAGAIN

    ~CommDevice() {
        if (fd >= 0) {
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);  // also drops the flock
        }
    }
};

thread_local DWORD t_lastError = ERROR_SUCCESS;

std::mutex g_mutex;
std::unordered_map<uintptr_t, std::shared_ptr<CommDevice>> g_devices;
uintptr_t g_nextHandle = 0x1000;  // handle values are never reused
std::map<int, std::string> g_devicePaths;

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

BOOL Fail(DWORD error) {
    t_lastError = error;
    return FALSE;
}

BOOL FailErrno() {
    return Fail(ErrorFromErrno(errno));
}

std::shared_ptr<CommDevice> Lookup(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_devices.find(reinterpret_cast<uintptr_t>(handle));
    if (it == g_devices.end()) {
        t_lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return it->second;
}

// "\\.\COMn" (or "COMn") gives n; anything else 0.
int ComNumberOf(const char* name) {
    if (std::strncmp(name, "\\\\.\\", 4) == 0) {
        name += 4;
    }
    if (std::strlen(name) < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
        return 0;
    }
    char* end = nullptr;
    const long n = std::strtol(name + 3, &end, 10);
    if (*end != '\0' || n < 1 || n > 65535 || !std::isdigit(static_cast<unsigned char>(name[3]))) {
        return 0;
    }
    return static_cast<int>(n);
}

std::string DevicePathOf(const char* name) {
    const int n = ComNumberOf(name);
    if (n == 0) {
        return name;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_devicePaths.find(n);
    if (it != g_devicePaths.end()) {
        return it->second;
    }
    return "/dev/ttyS" + std::to_string(n - 1);
}

// A modem-line ioctl. A device that has no modem lines (a pseudo-terminal)
// refuses them with ENOTTY or EINVAL; that is remembered and reported as
// ERROR_NOT_SUPPORTED.
BOOL ModemIoctl(CommDevice& dev, unsigned long request, int* bits) {
    if (dev.hasModemLines && ::ioctl(dev.fd, request, bits) == 0) {
        return TRUE;
    }
    if (!dev.hasModemLines || errno == ENOTTY || errno == EINVAL) {
        dev.hasModemLines = false;
        return Fail(ERROR_NOT_SUPPORTED);
    }
    return FailErrno();
}

BOOL SetLine(CommDevice& dev, int line, bool on) {
    int bits = line;
    return ModemIoctl(dev, on ? TIOCMBIS : TIOCMBIC, &bits);
}

// Emulates DTR_CONTROL_HANDSHAKE, which the kernel lacks: DTR drops while the
// queue has fewer than XoffLim free places and rises again once no more than
// XonLim bytes wait.
void UpdateDtrHandshake(CommDevice& dev) {
    if (dev.dcb.fDtrControl != DTR_CONTROL_HANDSHAKE || !dev.hasModemLines) {
        return;
    }
    const size_t free = dev.queue.size() - dev.count;
    if (!dev.dtrHeld && free < dev.dcb.XoffLim) {
        dev.dtrHeld = SetLine(dev, TIOCM_DTR, false) != FALSE;
    } else if (dev.dtrHeld && dev.count <= dev.dcb.XonLim) {
        dev.dtrHeld = SetLine(dev, TIOCM_DTR, true) == FALSE;
    }
}

// Moves what the kernel holds into the queue, as far as it has room, without
// blocking. Bytes that do not fit stay in the kernel for a later call.
void Fill(CommDevice& dev) {
    const size_t capacity = dev.queue.size();
    if (dev.count == 0) {
        dev.head = 0;
    }
    while (dev.count < capacity) {
        const size_t tail = (dev.head + dev.count) % capacity;
        const size_t room = tail >= dev.head ? capacity - tail : dev.head - tail;
        const ssize_t got = ::read(dev.fd, dev.queue.data() + tail, room);
        if (got > 0) {
            dev.count += static_cast<size_t>(got);
            if (static_cast<size_t>(got) < room) {
                break;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // A raw tty answers 0 (or EAGAIN) when nothing waits; an error such
        // as EIO means the line is gone (a closed pseudo-terminal master).
        if (got < 0 && errno != EAGAIN) {
            dev.lineGone = true;
        }
        break;
    }
    UpdateDtrHandshake(dev);
}

size_t TakeFromQueue(CommDevice& dev, uint8_t* out, size_t wanted) {
    const size_t capacity = dev.queue.size();
    const size_t n = wanted < dev.count ? wanted : dev.count;
    const size_t first = n < capacity - dev.head ? n : capacity - dev.head;
    std::memcpy(out, dev.queue.data() + dev.head, first);
    std::memcpy(out + first, dev.queue.data(), n - first);
    dev.head = (dev.head + n) % capacity;
    dev.count -= n;
    UpdateDtrHandshake(dev);
    return n;
}

// CE_ bits for what the kernel counted since the last look.
DWORD CounterErrors(CommDevice& dev) {
    if (!dev.hasCounters) {
        return 0;
    }
    serial_icounter_struct now{};
    if (::ioctl(dev.fd, TIOCGICOUNT, &now) != 0) {
        return 0;
    }
    DWORD errors = 0;
    if (now.frame != dev.counters.frame) {
        errors |= CE_FRAME;
    }
    if (now.overrun != dev.counters.overrun) {
        errors |= CE_OVERRUN;
    }
    if (now.parity != dev.counters.parity) {
        errors |= CE_RXPARITY;
    }
    if (now.brk != dev.counters.brk) {
        errors |= CE_BREAK;
    }
    if (now.buf_overrun != dev.counters.buf_overrun) {
        errors |= CE_RXOVER;
    }
    dev.counters = now;
    return errors;
}

bool DsrHolds(CommDevice& dev) {
    if (dev.dcb.fOutxDsrFlow == 0 || !dev.hasModemLines) {
        return false;
    }
    int bits = 0;
    return ModemIoctl(dev, TIOCMGET, &bits) != FALSE && (bits & TIOCM_DSR) == 0;
}

void Complete(OVERLAPPED* overlapped, DWORD transferred) {
    if (overlapped != nullptr) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = transferred;
    }
}

int OpenExclusive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    // The lock keeps out every other opener, root included; TIOCEXCL keeps out
    // programs that do not lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error == EWOULDBLOCK ? EBUSY : error;
        return -1;
    }
    ::ioctl(fd, TIOCEXCL);
    return fd;
}

}  // namespace

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD error) {
    t_lastError = error;
}

DWORD GetVersion() {
    return (19041u << 16) | (0u << 8) | 10u;
}

HANDLE CreateFileA(LPCSTR name, DWORD /*access*/, DWORD /*shareMode*/, void* /*security*/,
                   DWORD disposition, DWORD /*flags*/, HANDLE /*templateFile*/) {
    if (name == nullptr || disposition != OPEN_EXISTING) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto dev = std::make_shared<CommDevice>();
    dev->fd = OpenExclusive(DevicePathOf(name));
    if (dev->fd < 0) {
        FailErrno();
        return INVALID_HANDLE_VALUE;
    }
    termios t{};
    if (::tcgetattr(dev->fd, &t) != 0) {
        FailErrno();
        return INVALID_HANDLE_VALUE;
    }
    // A Windows port is binary and starts without flow control; a tty starts
    // as a terminal (echo, CR translation, XON/XOFF), which would alter data.
    platform::posix::MakeRaw(t);
    if (::tcsetattr(dev->fd, TCSANOW, &t) != 0) {
        FailErrno();
        return INVALID_HANDLE_VALUE;
    }
    dev->dcb = platform::posix::TermiosToDcb(t, platform::posix::GetLineSpeed(dev->fd));
    dev->hasCounters = ::ioctl(dev->fd, TIOCGICOUNT, &dev->counters) == 0;

    std::lock_guard<std::mutex> lock(g_mutex);
    const uintptr_t handle = g_nextHandle;
    g_nextHandle += 4;
    g_devices.emplace(handle, std::move(dev));
    t_lastError = ERROR_SUCCESS;
    return reinterpret_cast<HANDLE>(handle);
}

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<CommDevice> dev;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        const auto it = g_devices.find(reinterpret_cast<uintptr_t>(handle));
        if (it == g_devices.end()) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        dev = std::move(it->second);
        g_devices.erase(it);
    }
    return TRUE;  // the device closes with its last reference
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD /*outQueue*/) {
    // The transmit side has no queue of its own: bytes go straight to the kernel.
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    if (inQueue == 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Waiting bytes move to the new queue; it never gets smaller than they are.
    const size_t size = inQueue > dev->count ? inQueue : dev->count;
    std::vector<uint8_t> resized(size);
    const size_t moved = TakeFromQueue(*dev, resized.data(), dev->count);
    dev->queue = std::move(resized);
    dev->head = 0;
    dev->count = moved;
    return TRUE;
}

BOOL SetCommMask(HANDLE handle, DWORD /*mask*/) {
    // Events are not watched by this layer (there is no WaitCommEvent).
    return Lookup(handle) ? TRUE : FALSE;
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    if (dcb == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *dcb = dev->dcb;
    return TRUE;
}

BOOL SetCommState(HANDLE handle, DCB* dcb) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    if (dcb == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    termios t{};
    if (::tcgetattr(dev->fd, &t) != 0) {
        return FailErrno();
    }
    if (DWORD error = platform::posix::DcbToTermios(*dcb, t); error != ERROR_SUCCESS) {
        return Fail(error);
    }
    if (::tcsetattr(dev->fd, TCSANOW, &t) != 0 ||
        platform::posix::SetLineSpeed(dev->fd, platform::posix::LineSpeedOf(dcb->BaudRate)) != 0) {
        return FailErrno();
    }
    dev->dcb = *dcb;
    dev->dtrHeld = false;
    // The line levels. A device without modem lines has nothing to drive.
    if (dcb->fDtrControl != DTR_CONTROL_HANDSHAKE) {
        SetLine(*dev, TIOCM_DTR, dcb->fDtrControl == DTR_CONTROL_ENABLE);
    } else {
        SetLine(*dev, TIOCM_DTR, true);
        UpdateDtrHandshake(*dev);
    }
    if (dcb->fRtsControl == RTS_CONTROL_ENABLE || dcb->fRtsControl == RTS_CONTROL_DISABLE) {
        SetLine(*dev, TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE);
    }
    t_lastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    if (timeouts == nullptr || timeouts->ReadIntervalTimeout != MAXDWORD ||
        timeouts->ReadTotalTimeoutMultiplier != 0 || timeouts->ReadTotalTimeoutConstant != 0 ||
        timeouts->WriteTotalTimeoutMultiplier != 0 || timeouts->WriteTotalTimeoutConstant != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    return TRUE;
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    if (buffer == nullptr && toRead > 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (dev->count < toRead) {
        Fill(*dev);
    }
    const DWORD got =
        static_cast<DWORD>(TakeFromQueue(*dev, static_cast<uint8_t*>(buffer), toRead));
    if (read != nullptr) {
        *read = got;
    }
    Complete(overlapped, got);
    return TRUE;
}

BOOL WriteFile(HANDLE handle, const void* data, DWORD toWrite, DWORD* written,
               OVERLAPPED* overlapped) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    if (data == nullptr && toWrite > 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD put = 0;
    if (!DsrHolds(*dev)) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        while (put < toWrite) {
            const ssize_t n = ::write(dev->fd, bytes + put, toWrite - put);
            if (n > 0) {
                put += static_cast<DWORD>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno != EAGAIN) {
                return FailErrno();
            } else {
                break;  // the kernel's transmit buffer is full
            }
        }
    }
    if (put < toWrite) {
        dev->pendingErrors |= CE_TXFULL;
    }
    if (written != nullptr) {
        *written = put;
    }
    Complete(overlapped, put);
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred, BOOL /*wait*/) {
    if (!Lookup(handle)) {
        return FALSE;
    }
    if (overlapped == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (transferred != nullptr) {
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    return overlapped->Internal == 0 ? TRUE : Fail(ERROR_GEN_FAILURE);
}

BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* stat) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    Fill(*dev);
    const DWORD found = dev->pendingErrors | CounterErrors(*dev);
    dev->pendingErrors = 0;
    if (errors != nullptr) {
        *errors = found;
    }
    if (stat != nullptr) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(dev->count);
        int outQueue = 0;
        if (::ioctl(dev->fd, TIOCOUTQ, &outQueue) == 0 && outQueue > 0) {
            stat->cbOutQue = static_cast<DWORD>(outQueue);
        }
        stat->fDsrHold = DsrHolds(*dev) ? 1 : 0;
    }
    return TRUE;
}

BOOL PurgeComm(HANDLE handle, DWORD flags) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    // Nothing is ever pending, so the abort flags have nothing to end.
    if ((flags & PURGE_TXCLEAR) != 0 && ::tcflush(dev->fd, TCOFLUSH) != 0) {
        return FailErrno();
    }
    if ((flags & PURGE_RXCLEAR) != 0) {
        dev->head = 0;
        dev->count = 0;
        UpdateDtrHandshake(*dev);
        if (::tcflush(dev->fd, TCIFLUSH) != 0) {
            return FailErrno();
        }
    }
    return TRUE;
}

BOOL SetCommBreak(HANDLE handle) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    return ::ioctl(dev->fd, TIOCSBRK) == 0 ? TRUE : FailErrno();
}

BOOL ClearCommBreak(HANDLE handle) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    return ::ioctl(dev->fd, TIOCCBRK) == 0 ? TRUE : FailErrno();
}

BOOL GetCommModemStatus(HANDLE handle, DWORD* modemStatus) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    int bits = 0;
    if (modemStatus == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!ModemIoctl(*dev, TIOCMGET, &bits)) {
        return FALSE;
    }
    *modemStatus =
        ((bits & TIOCM_CTS) != 0 ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) != 0 ? MS_DSR_ON : 0) |
        ((bits & TIOCM_RNG) != 0 ? MS_RING_ON : 0) | ((bits & TIOCM_CAR) != 0 ? MS_RLSD_ON : 0);
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE handle, DWORD function) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    switch (function) {
        case SETDTR:
        case CLRDTR:
            return SetLine(*dev, TIOCM_DTR, function == SETDTR);
        case SETRTS:
        case CLRRTS:
            return SetLine(*dev, TIOCM_RTS, function == SETRTS);
        case SETBREAK:
            return ::ioctl(dev->fd, TIOCSBRK) == 0 ? TRUE : FailErrno();
        case CLRBREAK:
            return ::ioctl(dev->fd, TIOCCBRK) == 0 ? TRUE : FailErrno();
        case SETXOFF:
            return ::tcflow(dev->fd, TCOOFF) == 0 ? TRUE : FailErrno();
        case SETXON:
            return ::tcflow(dev->fd, TCOON) == 0 ? TRUE : FailErrno();
        default:
            return Fail(ERROR_INVALID_PARAMETER);
    }
}

namespace platform {

void SetCommDevicePath(int comNumber, const char* path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (path == nullptr || *path == '\0') {
        g_devicePaths.erase(comNumber);
    } else {
        g_devicePaths[comNumber] = path;
    }
}

int WaitForCommInput(const HANDLE* handles, DWORD* /*errors*/, int count, int timeoutMs) {
    // Errors stay in the kernel's counters here, for the next ClearCommError.
    // An idle pass costs one poll: the queues are filled only from the devices
    // that poll finds readable.
    std::vector<std::shared_ptr<CommDevice>> devices;
    std::vector<pollfd> fds;
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        auto dev = Lookup(handles[i]);
        if (!dev) {
            continue;
        }
        if (dev->count > 0) {
            ++ready;
        } else if (!dev->lineGone) {
            fds.push_back(pollfd{dev->fd, POLLIN, 0});
            devices.push_back(std::move(dev));
        }
    }
    if (ready > 0) {
        return ready;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        // Rounded up: a wait cut to 0 ms would make the callers spin.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int polled = ::poll(fds.data(), fds.size(), left > 0 ? static_cast<int>(left) : 0);
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            return 0;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            Fill(*devices[i]);
            if (devices[i]->count > 0) {
                ++ready;
            } else {
                fds[i].fd = -1;  // a hung-up line would wake every poll
            }
        }
        if (ready > 0 || left <= 0) {
            return ready;
        }
    }
}

}  // namespace platform
