// One open serial device of the POSIX comm layer: its descriptor, its
// receive queue and what the receive thread has seen of it. The receive
// thread and the thread that uses the handle meet here, under `mutex`.
#pragma once

#include <linux/serial.h>
#include <sys/uio.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm.h"

namespace platform::posix {

// Before SetupComm a device gets the queue size Windows starts with.
inline constexpr size_t kDefaultQueueSize = 4096;

struct CommDevice {
    CommDevice() = default;
    ~CommDevice();
    CommDevice(const CommDevice&) = delete;
    CommDevice& operator=(const CommDevice&) = delete;

    int fd = -1;       // set at the open, closed with the last reference
    std::string path;  // what was opened

    std::mutex mutex;  // guards everything below
    std::vector<uint8_t> queue = std::vector<uint8_t>(kDefaultQueueSize);
    size_t head = 0;   // first unread byte
    size_t count = 0;  // bytes waiting
    int64_t lost = 0;  // bytes the kernel counted as lost (a UART's overruns), since the last look
    DCB dcb{};
    DWORD pendingErrors = 0;  // raised by this layer, reported by the next ClearCommError
    serial_icounter_struct counters{};
    bool hasCounters = false;
    bool hasModemLines = true;  // cleared when the device refuses a modem-line call
    bool dtrHeld = false;       // DTR lowered by the input handshake
    bool gone = false;          // the device went away; the receive thread no longer reads it
    std::string goneReason;
    std::chrono::steady_clock::time_point nodeLookedAt{};  // the last look at the device's node
    size_t wakeLevel = 0;  // queued bytes that end a WaitForCommInput; 0: nobody waits
    // Where the receive thread watches the device (its epoll set and the
    // device's id there); -1 once it no longer serves it.
    int receiveSet = -1;
    uint64_t receiveId = 0;
    // A full queue stops the reading of a device that has more to give: the
    // device waits (a pty's writer blocks, a USB or network device is
    // throttled) instead of losing what it sends. The device is out of the
    // receive thread's set while it waits, so a hang-up cannot wake the
    // thread over and over.
    bool paused = false;
    std::chrono::steady_clock::time_point pausedSince{};
    std::chrono::steady_clock::duration waited{};  // paused time not yet taken
    // Since when the queue is more than half full (for the benchmarks'
    // figure of the longest such time); unset while it is not.
    std::chrono::steady_clock::time_point halfFullSince{};
    bool halfFull = false;

    // The free places of the queue in ring order, as up to two pieces; the
    // bytes read into them are then added with Appended. Returns the number
    // of pieces (0: the queue is full). Called with `mutex` held, as are the
    // functions below.
    int FreePieces(iovec pieces[2]);
    void Appended(size_t n) {
        count += n;
        NoteFill();
    }
    // Keeps the figure of the longest time a queue was more than half full.
    void NoteFill();
    // Takes up to `wanted` bytes from the front of the queue.
    size_t Take(uint8_t* out, size_t wanted);
    // Stops the reading of the device until ResumeIfRoom finds room.
    void PauseReading();
    // Reads the device again once its queue has room for a read; a device
    // that has gone is not read again, its wait just ends.
    void ResumeIfRoom();
    // The time the device was made to wait since the last call, a wait that
    // goes on included, in milliseconds rounded up.
    int64_t TakeWaitedMs();
    // Emulates DTR_CONTROL_HANDSHAKE, which the kernel lacks: DTR drops while
    // the queue has fewer than XoffLim free places and rises again once no
    // more than XonLim bytes wait.
    void UpdateDtrHandshake();
    // Raises or lowers a modem line; false (last error set) when it cannot.
    bool SetLine(int line, bool on);
    // A modem-line ioctl. A device that has no modem lines (a pseudo-terminal)
    // refuses them with ENOTTY or EINVAL; that is remembered and reported as
    // ERROR_NOT_SUPPORTED.
    bool ModemIoctl(unsigned long request, int* bits);
};

// The longest time, in milliseconds, that any receive queue was more than
// half full since the process started (or the last reset). For benchmarks.
int64_t LongestHalfFullMs();
void ResetLongestHalfFull();
// The devices whose reading is paused now. For tests and benchmarks.
int PausedDevices();

// The calling thread's last error (GetLastError), and its text.
extern thread_local DWORD t_lastError;
extern thread_local char t_lastFailure[160];
// Sets the calling thread's last error (GetLastError) and returns FALSE.
BOOL Fail(DWORD error);
// The same for an errno value, whose text the system gives.
BOOL FailWithErrno(int error);
// The Win32 error for an errno value.
DWORD ErrorFromErrno(int error);

}  // namespace platform::posix
