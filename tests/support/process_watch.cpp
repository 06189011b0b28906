#include "support/process_watch.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace testing_support {

namespace {
constexpr int kDeadlineMs = 30000;
}

#ifdef _WIN32

ProcessWatch::ProcessWatch(const platform::ProcessHandle& process) {
    const DWORD id = GetProcessId(reinterpret_cast<HANDLE>(process.value));
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (handle != nullptr) {
        watch_ = reinterpret_cast<long long>(handle);
    }
}

ProcessWatch::~ProcessWatch() {
    if (watch_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(watch_));
    }
}

bool ProcessWatch::Ended() const {
    return watch_ != -1 &&
           WaitForSingleObject(reinterpret_cast<HANDLE>(watch_), kDeadlineMs) == WAIT_OBJECT_0;
}

#else

ProcessWatch::ProcessWatch(const platform::ProcessHandle& process) {
    watch_ = ::syscall(SYS_pidfd_open, static_cast<pid_t>(process.value), 0);
}

ProcessWatch::~ProcessWatch() {
    if (watch_ >= 0) {
        ::close(static_cast<int>(watch_));
    }
}

bool ProcessWatch::Ended() const {
    if (watch_ < 0) {
        return false;
    }
    pollfd entry{static_cast<int>(watch_), POLLIN, 0};
    return ::poll(&entry, 1, kDeadlineMs) > 0;
}

#endif

}  // namespace testing_support
