// The library routines over the operation table: the timed line read, the
// input drain, the timed wait and the idle hook they call while they wait.
#include <vector>

#include "platform/clock.h"
#include "platform/comm.h"
#include "serial/port.h"
#include "serial/port_internal.h"

namespace {

PortIdleHookFn PortIdleHook = PumpMessages;

struct IdleWork {
    PortIdleWorkFn work = nullptr;
    void* context = nullptr;
};
thread_local IdleWork t_idle_work;

// The idle hook, then the calling thread's own idle work.
int Idle(PortRecord* port) {
    const int hook = PortIdleHook(port);
    if (t_idle_work.work != nullptr) {
        t_idle_work.work(t_idle_work.context);
    }
    return hook;
}

constexpr int kCarriageReturn = 13;
constexpr int kLineFeed = 10;

// Tick counts wrap every 49.7 days; the difference tells which comes first.
bool Reached(uint32_t now, uint32_t deadline) {
    return static_cast<int32_t>(now - deadline) >= 0;
}

// The line being assembled in the caller's buffer.
class LineBuffer {
public:
    LineBuffer(PortRecord* port, char* buffer, uint32_t size)
        : port_(port), buffer_(buffer), room_(size - 1) {}

    // False (and Status -31) when the buffer is full.
    bool Store(int c) {
        if (room_ == 0) {
            port_->Status = PORT_ERR_BUFFER_FULL;
            return false;
        }
        buffer_[stored_++] = static_cast<char>(c);
        --room_;
        return true;
    }

    int Finish(int result) {
        buffer_[stored_] = '\0';
        port_->Count = stored_;
        return result;
    }

private:
    PortRecord* port_;
    char* buffer_;
    uint32_t room_;
    uint32_t stored_ = 0;
};

}  // namespace

int PortReadString(PortRecord* port, char* buffer, uint32_t size, int terminator, int timeout_ms) {
    const uint32_t deadline = platform::TickCount() + static_cast<uint32_t>(timeout_ms);
    if (size < 2 || terminator > 255 || terminator < -2) {
        port->Status = PORT_ERR_BAD_ARGUMENT;
        return PORT_ERR_BAD_ARGUMENT;
    }
    LineBuffer line(port, buffer, size);
    int previous = 0;
    for (;;) {
        const int c = port->ReadByte(port);
        if (c < 0 && c != PORT_ERR_NO_DATA) {
            port->Status = c;
            break;
        }
        if (c == PORT_ERR_NO_DATA) {
            if (timeout_ms != -1 && Reached(platform::TickCount(), deadline)) {
                // A CR held back is part of the line unless CR LF ends lines.
                if (previous == kCarriageReturn && terminator >= 0 &&
                    !line.Store(kCarriageReturn)) {
                    break;
                }
                return line.Finish(PORT_ERR_NO_DATA);
            }
            const int hook = Idle(port);
            if (hook < 0) {
                return line.Finish(hook);
            }
            continue;
        }
        if (c == kLineFeed && previous == kCarriageReturn && terminator < 0) {
            break;
        }
        if (previous == kCarriageReturn && !line.Store(kCarriageReturn)) {
            break;
        }
        if (c == terminator) {
            break;
        }
        previous = c;
        if (c == kCarriageReturn) {
            continue;  // held back until the next byte shows what it belongs to
        }
        if (!line.Store(c)) {
            break;
        }
    }
    return line.Finish(port->Status);
}

int PortDrainInput(PortRecord* port) {
    char scratch[64];
    for (;;) {
        const int result = port->ReadBlock(port, scratch, sizeof scratch);
        if (result < 0 && result != PORT_ERR_NO_DATA) {
            return result;
        }
        if (port->Count == 0) {
            return PORT_OK;
        }
    }
}

int PortWait(PortRecord* port, int milliseconds) {
    const uint32_t end = platform::TickCount() + static_cast<uint32_t>(milliseconds);
    while (!Reached(platform::TickCount(), end)) {
        const int hook = Idle(port);
        if (hook < 0) {
            return hook;
        }
    }
    return PORT_OK;
}

void PortSetIdleHook(PortIdleHookFn hook) {
    PortIdleHook = hook;
}

void PortSetThreadIdleWork(PortIdleWorkFn work, void* context) {
    t_idle_work = IdleWork{work, context};
}

int PumpMessages(PortRecord* port) {
    // Input that is already waiting would end the wait at once; then the
    // caller is not reading it (PortWait), and a plain pause is due.
    if (!serial_internal::HasOpenDevice(port) ||
        serial_internal::QueryComm(port->DriverData).cbInQue > 0) {
        platform::WaitForCommInput(nullptr, nullptr, 0, 1);
        return 0;
    }
    HANDLE handle = port->DriverData->Handle;
    DWORD errors = 0;
    platform::WaitForCommInput(&handle, &errors, 1, 1);
    serial_internal::NoteLineErrors(port->DriverData, errors);
    return 0;
}

int PortWaitForInput(PortRecord* const* ports, int count, int timeout_ms, uint32_t level,
                     uint64_t wake_mark) {
    std::vector<PortRecord*> open;
    std::vector<HANDLE> handles;
    for (int i = 0; i < count; ++i) {
        if (serial_internal::HasOpenDevice(ports[i])) {
            open.push_back(ports[i]);
            handles.push_back(ports[i]->DriverData->Handle);
        }
    }
    std::vector<DWORD> errors(open.size(), 0);
    const int ready =
        platform::WaitForCommInput(handles.data(), errors.data(), static_cast<int>(handles.size()),
                                   timeout_ms, level, wake_mark);
    for (size_t i = 0; i < open.size(); ++i) {
        serial_internal::NoteLineErrors(open[i]->DriverData, errors[i]);
    }
    return ready;
}

uint64_t PortWakeMark() {
    return platform::CommWakeMark();
}

void PortWakeWaiters() {
    platform::WakeCommWaiters();
}

int PortTakeOverflow(PortRecord* port, int64_t* lost_bytes) {
    *lost_bytes = 0;
    if (!serial_internal::HasOpenDevice(port)) {
        return 0;
    }
    Win32PortData* data = port->DriverData;
    serial_internal::QueryComm(data);
    const bool overflowed = data->OverflowErrors != 0;
    data->OverflowErrors = 0;
    if (overflowed) {
        *lost_bytes = platform::TakeCommLostBytes(data->Handle);
    }
    return overflowed ? 1 : 0;
}

int64_t PortTakePausedMs(PortRecord* port) {
    if (!serial_internal::HasOpenDevice(port)) {
        return 0;
    }
    return platform::TakeCommPausedMs(port->DriverData->Handle);
}

int PortDeviceLost(PortRecord* port, std::string* reason) {
    if (!serial_internal::HasOpenDevice(port)) {
        return 0;
    }
    DWORD errors = 0;
    const bool lost = platform::CommDeviceLost(port->DriverData->Handle, &errors, reason);
    serial_internal::NoteLineErrors(port->DriverData, errors);
    return lost ? 1 : 0;
}
