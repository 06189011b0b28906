// The Win32 comm subset over termios (see platform/comm.h for the rules).
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/comm.h"
#include "platform/posix/comm_device.h"
#include "platform/posix/comm_receiver.h"
#include "platform/posix/comm_termios.h"

namespace {

using platform::posix::CommDevice;
using platform::posix::ErrorFromErrno;
using platform::posix::Fail;
using platform::posix::FailWithErrno;
using platform::posix::t_lastError;

std::mutex g_mutex;
std::unordered_map<uintptr_t, std::shared_ptr<CommDevice>> g_devices;
uintptr_t g_nextHandle = 0x1000;  // handle values are never reused
std::map<int, std::string> g_devicePaths;

BOOL FailErrno() {
    return FailWithErrno(errno);
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
    return platform::DefaultCommDevice(n);
}

// The growth of a kernel counter, which may wrap.
int64_t Grown(int now, int before) {
    return static_cast<uint32_t>(now) - static_cast<uint32_t>(before);
}

// CE_ bits for what the kernel counted since the last look; what the device
// lost is added to `lost`. An overrun (the UART's FIFO was not emptied in
// time) loses at least one byte, perhaps more, and is counted as one; a
// buffer overrun (no room in the kernel's buffer) counts every byte.
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
    dev.lost +=
        Grown(now.overrun, dev.counters.overrun) + Grown(now.buf_overrun, dev.counters.buf_overrun);
    dev.counters = now;
    return errors;
}

bool DsrHolds(CommDevice& dev) {
    if (dev.dcb.fOutxDsrFlow == 0 || !dev.hasModemLines) {
        return false;
    }
    int bits = 0;
    return dev.ModemIoctl(TIOCMGET, &bits) && (bits & TIOCM_DSR) == 0;
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

// Puts a new device into raw mode without flow control and reads its state.
bool PrepareDevice(CommDevice& dev) {
    termios t{};
    if (::tcgetattr(dev.fd, &t) != 0) {
        return false;
    }
    // A Windows port is binary and starts without flow control; a tty starts
    // as a terminal (echo, CR translation, XON/XOFF), which would alter data.
    platform::posix::MakeRaw(t);
    if (::tcsetattr(dev.fd, TCSANOW, &t) != 0) {
        return false;
    }
    dev.dcb = platform::posix::TermiosToDcb(t, platform::posix::GetLineSpeed(dev.fd));
    dev.hasCounters = ::ioctl(dev.fd, TIOCGICOUNT, &dev.counters) == 0;
    return true;
}

// The device path no longer names what was opened: unplugged, or replaced by
// a new device under the same name.
bool NodeGone(const CommDevice& dev, const std::string& path) {
    struct stat now {};
    struct stat opened {};
    if (::stat(path.c_str(), &now) != 0) {
        return true;
    }
    return ::fstat(dev.fd, &opened) == 0 && now.st_rdev != opened.st_rdev;
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
    const std::string path = DevicePathOf(name);
    dev->fd = OpenExclusive(path);
    if (dev->fd < 0 || !PrepareDevice(*dev)) {
        FailWithErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    dev->path = path;
    if (!platform::posix::StartReceiving(dev)) {
        FailWithErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    const uintptr_t handle = g_nextHandle;
    g_nextHandle += 4;
    g_devices.emplace(handle, std::move(dev));
    t_lastError = ERROR_SUCCESS;
    platform::posix::t_lastFailure[0] = '\0';
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
    // Once the receive thread has let go, the device closes with this
    // reference, so the next open of it finds it free.
    platform::posix::StopReceiving(dev.get());
    return TRUE;
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
    std::lock_guard<std::mutex> lock(dev->mutex);
    // Waiting bytes move to the new queue; it never gets smaller than they are.
    const size_t size = inQueue > dev->count ? inQueue : dev->count;
    std::vector<uint8_t> resized(size);
    const size_t moved = dev->Take(resized.data(), dev->count);
    dev->queue = std::move(resized);
    dev->head = 0;
    dev->count = moved;
    dev->ResumeIfRoom();
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
    std::lock_guard<std::mutex> lock(dev->mutex);
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
    std::lock_guard<std::mutex> lock(dev->mutex);
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
        dev->SetLine(TIOCM_DTR, dcb->fDtrControl == DTR_CONTROL_ENABLE);
    } else {
        dev->SetLine(TIOCM_DTR, true);
        dev->UpdateDtrHandshake();
    }
    if (dcb->fRtsControl == RTS_CONTROL_ENABLE || dcb->fRtsControl == RTS_CONTROL_DISABLE) {
        dev->SetLine(TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE);
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
    DWORD got = 0;
    {
        std::lock_guard<std::mutex> lock(dev->mutex);
        got = static_cast<DWORD>(dev->Take(static_cast<uint8_t*>(buffer), toRead));
        dev->ResumeIfRoom();
    }
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
    std::lock_guard<std::mutex> lock(dev->mutex);
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
    std::lock_guard<std::mutex> lock(dev->mutex);
    const DWORD found = dev->pendingErrors | CounterErrors(*dev);
    dev->pendingErrors = 0;
    if (errors != nullptr) {
        *errors = found;
    }
    if (stat != nullptr) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(dev->count);
        int outQueue = 0;
        if (!dev->gone && ::ioctl(dev->fd, TIOCOUTQ, &outQueue) == 0 && outQueue > 0) {
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
    std::lock_guard<std::mutex> lock(dev->mutex);
    // Nothing is ever pending, so the abort flags have nothing to end.
    if ((flags & PURGE_TXCLEAR) != 0 && ::tcflush(dev->fd, TCOFLUSH) != 0) {
        return FailErrno();
    }
    if ((flags & PURGE_RXCLEAR) != 0) {
        dev->head = 0;
        dev->count = 0;
        dev->NoteFill();
        dev->UpdateDtrHandshake();
        const int flushed = ::tcflush(dev->fd, TCIFLUSH);
        dev->ResumeIfRoom();
        if (flushed != 0) {
            return FailErrno();
        }
    }
    return TRUE;
}

namespace {

// A break condition on or off.
BOOL SetBreak(HANDLE handle, bool on) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(dev->mutex);
    return ::ioctl(dev->fd, on ? TIOCSBRK : TIOCCBRK) == 0 ? TRUE : FailErrno();
}

}  // namespace

BOOL SetCommBreak(HANDLE handle) {
    return SetBreak(handle, true);
}

BOOL ClearCommBreak(HANDLE handle) {
    return SetBreak(handle, false);
}

BOOL GetCommModemStatus(HANDLE handle, DWORD* modemStatus) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    if (modemStatus == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(dev->mutex);
    int bits = 0;
    if (!dev->ModemIoctl(TIOCMGET, &bits)) {
        return FALSE;
    }
    *modemStatus =
        ((bits & TIOCM_CTS) != 0 ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) != 0 ? MS_DSR_ON : 0) |
        ((bits & TIOCM_RNG) != 0 ? MS_RING_ON : 0) | ((bits & TIOCM_CAR) != 0 ? MS_RLSD_ON : 0);
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE handle, DWORD function) {
    switch (function) {
        case SETBREAK:
        case CLRBREAK:
            return SetBreak(handle, function == SETBREAK);
        default:
            break;
    }
    const auto dev = Lookup(handle);
    if (!dev) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(dev->mutex);
    switch (function) {
        case SETDTR:
        case CLRDTR:
            return dev->SetLine(TIOCM_DTR, function == SETDTR) ? TRUE : FALSE;
        case SETRTS:
        case CLRRTS:
            return dev->SetLine(TIOCM_RTS, function == SETRTS) ? TRUE : FALSE;
        case SETXOFF:
            return ::tcflow(dev->fd, TCOOFF) == 0 ? TRUE : FailErrno();
        case SETXON:
            return ::tcflow(dev->fd, TCOON) == 0 ? TRUE : FailErrno();
        default:
            return Fail(ERROR_INVALID_PARAMETER);
    }
}

namespace platform {

std::string CommDevicePath(int comNumber) {
    return DevicePathOf(("\\\\.\\COM" + std::to_string(comNumber)).c_str());
}

std::string DefaultCommDevice(int comNumber) {
    return "/dev/ttyS" + std::to_string(comNumber - 1);
}

std::string LastCommFailure() {
    return t_lastError == ERROR_SUCCESS ? std::string() : std::string(posix::t_lastFailure);
}

void SetCommDevicePath(int comNumber, const char* path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (path == nullptr || *path == '\0') {
        g_devicePaths.erase(comNumber);
    } else {
        g_devicePaths[comNumber] = path;
    }
}

uint64_t CommWakeMark() {
    posix::CommWaitRoom& room = posix::WaitRoom();
    std::lock_guard<std::mutex> lock(room.mutex);
    return room.wakes;
}

void WakeCommWaiters() {
    posix::CommWaitRoom& room = posix::WaitRoom();
    {
        std::lock_guard<std::mutex> lock(room.mutex);
        ++room.wakes;
    }
    room.changed.notify_all();
}

namespace {

// Counts the devices that hold `level` bytes or have gone, and asks the
// receive thread to report the others when they do (level 0: stop asking).
int ArmWaits(const std::vector<std::shared_ptr<CommDevice>>& devices, size_t level) {
    int ready = 0;
    for (const auto& dev : devices) {
        std::lock_guard<std::mutex> lock(dev->mutex);
        const bool isReady = level > 0 && (dev->count >= level || dev->gone);
        ready += isReady ? 1 : 0;
        dev->wakeLevel = isReady ? 0 : level;
    }
    return ready;
}

}  // namespace

int WaitForCommInput(const HANDLE* handles, DWORD* /*errors*/, int count, int timeoutMs,
                     DWORD level, uint64_t wakeMark) {
    // Errors stay in the kernel's counters and the device records here, for
    // the next ClearCommError. Nothing here reads a device: the receive
    // thread does, and says when a queue reaches the level.
    std::vector<std::shared_ptr<CommDevice>> devices;
    for (int i = 0; i < count; ++i) {
        if (auto dev = Lookup(handles[i])) {
            devices.push_back(std::move(dev));
        }
    }
    const size_t wanted = level > 0 ? level : 1;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    posix::CommWaitRoom& room = posix::WaitRoom();
    std::unique_lock<std::mutex> lock(room.mutex);
    int ready = 0;
    for (;;) {
        const uint64_t arrivals = room.arrivals;
        ready = ArmWaits(devices, wanted);
        if (ready > 0 || room.wakes != wakeMark) {
            break;
        }
        if (!room.changed.wait_until(lock, deadline, [&] {
                return room.arrivals != arrivals || room.wakes != wakeMark;
            })) {
            break;
        }
    }
    ArmWaits(devices, 0);
    return ready;
}

int64_t TakeCommLostBytes(HANDLE handle) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(dev->mutex);
    // The counters' errors stay for the next ClearCommError.
    dev->pendingErrors |= CounterErrors(*dev);
    const int64_t lost = dev->lost;
    dev->lost = 0;
    return lost;
}

int64_t TakeCommPausedMs(HANDLE handle) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(dev->mutex);
    return dev->TakeWaitedMs();
}

bool CommDeviceLost(HANDLE handle, DWORD* /*errors*/, std::string* reason) {
    const auto dev = Lookup(handle);
    if (!dev) {
        return false;
    }
    std::lock_guard<std::mutex> lock(dev->mutex);
    // A hang-up or a failing read the receive thread sees at once; a node
    // that was removed (or now names another device) is looked for once a
    // second.
    const auto now = std::chrono::steady_clock::now();
    if (!dev->gone && now - dev->nodeLookedAt >= std::chrono::seconds(1)) {
        dev->nodeLookedAt = now;
        if (NodeGone(*dev, dev->path)) {
            dev->gone = true;
            dev->goneReason = "device node removed";
        }
    }
    if (dev->gone && reason != nullptr) {
        *reason = dev->goneReason;
    }
    return dev->gone;
}

}  // namespace platform
