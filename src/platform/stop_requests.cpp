#include "platform/stop_requests.h"

#ifdef _WIN32
#include <windows.h>

#include <condition_variable>
#include <mutex>
#else
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>
#endif

namespace platform {

#ifdef _WIN32

namespace {
std::mutex g_mutex;
std::condition_variable g_requested_changed;
bool g_requested = false;

BOOL WINAPI OnConsoleEvent(DWORD) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_requested = true;
    }
    g_requested_changed.notify_all();
    return TRUE;  // handled: the program ends by itself
}
}  // namespace

StopRequests::StopRequests() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_requested = false;
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool StopRequests::Wait(std::optional<std::chrono::milliseconds> timeout) {
    std::unique_lock<std::mutex> lock(g_mutex);
    if (!timeout) {
        g_requested_changed.wait(lock, [] { return g_requested; });
        return true;
    }
    return g_requested_changed.wait_for(lock, *timeout, [] { return g_requested; });
}

#else

namespace {
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);  // the terminal (an ssh session) that started it went away
    return set;
}
sigset_t g_previous_mask;
struct sigaction g_previous_pipe_action;
}  // namespace

StopRequests::StopRequests() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, &g_previous_mask);
    // A reader of its output that went away fails the write, not the program.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &g_previous_pipe_action);
}

StopRequests::~StopRequests() {
    sigaction(SIGPIPE, &g_previous_pipe_action, nullptr);
    pthread_sigmask(SIG_SETMASK, &g_previous_mask, nullptr);
}

bool StopRequests::Wait(std::optional<std::chrono::milliseconds> timeout) {
    const sigset_t set = StopSignals();
    if (!timeout) {
        int signal_number = 0;
        while (sigwait(&set, &signal_number) != 0) {
        }
        return true;
    }
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + *timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) {
            // A request that came at the last moment still counts.
            const timespec zero{0, 0};
            return sigtimedwait(&set, nullptr, &zero) > 0;
        }
        timespec wait{};
        wait.tv_sec = static_cast<time_t>(left.count() / 1000000000);
        wait.tv_nsec = static_cast<long>(left.count() % 1000000000);
        if (sigtimedwait(&set, nullptr, &wait) > 0) {
            return true;
        }
        if (errno != EINTR && errno != EAGAIN) {
            return false;
        }
    }
}

#endif

}  // namespace platform
