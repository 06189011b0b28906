// On Windows the comm calls are the system's own, and the system's driver
// fills each port's receive queue by itself; this adds the helpers.
#include <atomic>
#include <string>

#include "platform/comm.h"

namespace platform {
namespace {

std::atomic<uint64_t> g_wakes{0};

// Set by WakeCommWaiters; a waiter that sees it ends its pause early.
HANDLE WakeEvent() {
    static HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Errors a port gives once its device has gone (a USB adapter unplugged).
bool IsRemovalError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_HANDLE:
            return true;
        default:
            return false;
    }
}

}  // namespace

void SetCommDevicePath(int /*comNumber*/, const char* /*path*/) {
    // Windows names its devices itself: "\\.\COMn" is the port.
}

std::string CommDevicePath(int comNumber) {
    return DefaultCommDevice(comNumber);
}

std::string DefaultCommDevice(int comNumber) {
    return "\\\\.\\COM" + std::to_string(comNumber);
}

std::string LastCommFailure() {
    const DWORD error = GetLastError();
    if (error == ERROR_SUCCESS) {
        return {};
    }
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
        reason.pop_back();
    }
    return reason.empty() ? "system error " + std::to_string(error) : reason;
}

uint64_t CommWakeMark() {
    return g_wakes.load();
}

void WakeCommWaiters() {
    g_wakes.fetch_add(1);
    SetEvent(WakeEvent());
}

int WaitForCommInput(const HANDLE* handles, DWORD* errors, int count, int timeoutMs, DWORD level,
                     uint64_t wakeMark) {
    // Ports opened without an event mask have nothing to wait on, so this
    // looks at the queues every few milliseconds. ClearCommError clears the
    // device's error state, so its bits go back to the caller.
    const DWORD wanted = level > 0 ? level : 1;
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG limit = timeoutMs > 0 ? static_cast<ULONGLONG>(timeoutMs) : 0;
    for (;;) {
        int ready = 0;
        for (int i = 0; i < count; ++i) {
            DWORD found = 0;
            COMSTAT stat{};
            if (ClearCommError(handles[i], &found, &stat)) {
                errors[i] |= found;
                ready += stat.cbInQue >= wanted ? 1 : 0;
            } else if (IsRemovalError(GetLastError())) {
                ++ready;  // gone: the caller wants to know at once
            }
        }
        const ULONGLONG spent = GetTickCount64() - start;
        if (ready > 0 || g_wakes.load() != wakeMark || spent >= limit) {
            return ready;
        }
        const ULONGLONG left = limit - spent;
        WaitForSingleObject(WakeEvent(), static_cast<DWORD>(left < 5 ? left : 5));
    }
}

int64_t TakeCommLostBytes(HANDLE /*handle*/) {
    return -1;  // the system reports CE_RXOVER, not how much it dropped
}

int64_t TakeCommPausedMs(HANDLE /*handle*/) {
    return 0;  // the driver drops what its full queue cannot take (CE_RXOVER)
}

bool CommDeviceLost(HANDLE handle, DWORD* errors, std::string* reason) {
    DWORD found = 0;
    COMSTAT stat{};
    if (ClearCommError(handle, &found, &stat)) {
        if (errors != nullptr) {
            *errors |= found;
        }
        return false;
    }
    const DWORD error = GetLastError();
    if (!IsRemovalError(error)) {
        return false;
    }
    if (reason != nullptr) {
        *reason = "device removed (error " + std::to_string(error) + ")";
    }
    return true;
}

}  // namespace platform
