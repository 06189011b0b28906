// On Windows the comm calls are the system's own; this adds the two helpers.
#include "platform/comm.h"

namespace platform {

void SetCommDevicePath(int /*comNumber*/, const char* /*path*/) {
    // Windows names its devices itself: "\\.\COMn" is the port.
}

int WaitForCommInput(const HANDLE* handles, DWORD* errors, int count, int timeoutMs) {
    // Ports opened without an event mask have nothing to wait on, so this
    // polls the queues once a millisecond. ClearCommError clears the device's
    // error state, so its bits go back to the caller.
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG limit = timeoutMs > 0 ? static_cast<ULONGLONG>(timeoutMs) : 0;
    for (;;) {
        int ready = 0;
        for (int i = 0; i < count; ++i) {
            DWORD found = 0;
            COMSTAT stat{};
            if (ClearCommError(handles[i], &found, &stat)) {
                errors[i] |= found;
                if (stat.cbInQue > 0) {
                    ++ready;
                }
            }
        }
        if (ready > 0 || GetTickCount64() - start >= limit) {
            return ready;
        }
        Sleep(1);
    }
}

}  // namespace platform
