// A logger process for the tests that kill it: the real acquisition thread on
// one pty instrument under a fake clock, driven line by line over standard
// input, answering on standard output. It ends itself with SIGKILL when told,
// or at a named point of the journal or of a data-file write.
//
//   journal_kill_child DIRECTORY DEVICE EPOCH_MS [die-at POINT]
// Commands: "time MS", "wait-journaled BYTES", "wait-flushes N",
// "die-at POINT" (a journal checkpoint, or "write:N" for the N-th write into
// a data file), "die", "stop". Each is answered "ok" (the first line is
// "started" once the loop runs).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "acquisition/acquisition_thread.h"
#include "acquisition/journal.h"
#include "platform/fake_clock.h"
#include "platform/files.h"
#include "support/test_config.h"

namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
int64_t g_journaled = 0;
int g_flushes = 0;
bool g_passed = false;
std::string g_die_at;  // a checkpoint name, or "write:N"
std::atomic<int> g_writes_left{0};

[[noreturn]] void Die() {
    ::kill(::getpid(), SIGKILL);
    std::abort();  // not reached
}

void OnCheckpoint(const char* point, int, int64_t value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_die_at == point) {
        Die();
    }
    if (std::string(point) == "appended") {
        g_journaled = value;
        g_changed.notify_all();
    }
}

size_t OnWrite(const char* path, size_t size) {
    const std::string text = path;
    if (text.find(".P01") != std::string::npos && g_writes_left.load() > 0 &&
        --g_writes_left == 0) {
        Die();  // the pieces before this one are in the file
    }
    return size;
}

class Probe final : public AcquisitionProbe {
public:
    void OnPass(const int64_t*, int) override {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_passed = true;
        g_changed.notify_all();
    }
    void OnFlush(int flushes) override {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_flushes = flushes;
        g_changed.notify_all();
    }
};

template <typename Condition>
bool WaitFor(Condition condition) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, std::chrono::seconds(30), condition);
}

void Arm(const std::string& point) {
    if (point.rfind("write:", 0) == 0) {
        g_writes_left = std::atoi(point.c_str() + 6);
        return;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_die_at = point;
}

void Reply(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) {
        std::fprintf(stderr, "usage: %s DIRECTORY DEVICE EPOCH_MS [die-at POINT]\n", argv[0]);
        return 2;
    }
    platform::FakeClock clock(std::atoll(argv[3]));
    platform::SetClock(&clock);
    SetJournalCheckpoint(OnCheckpoint);
    platform::SetWriteFault(OnWrite);
    if (argc == 6) {
        Arm(argv[5]);  // reached during the recovery at start
    }
    com = testing_support::MakeTestConfig(argv[1], 15,
                                          {testing_support::Port(1, "Thermo").WithDevice(argv[2])});
    Probe probe;
    SetAcquisitionProbe(&probe);
    StartAcquisitionThread(nullptr);
    if (!WaitFor([] { return g_passed; })) {
        return 3;
    }
    Reply("started");
    std::string command;
    while (std::cin >> command) {
        if (command == "time") {
            long long ms = 0;
            std::cin >> ms;
            clock.SetEpochMs(ms);
        } else if (command == "wait-journaled") {
            long long bytes = 0;
            std::cin >> bytes;
            if (!WaitFor([&] { return g_journaled >= bytes; })) {
                return 4;
            }
        } else if (command == "wait-flushes") {
            int flushes = 0;
            std::cin >> flushes;
            if (!WaitFor([&] { return g_flushes >= flushes; })) {
                return 5;
            }
        } else if (command == "die-at") {
            std::string point;
            std::cin >> point;
            Arm(point);
        } else if (command == "die") {
            Die();
        } else if (command == "stop") {
            StopAcquisitionThread();
            break;
        }
        Reply("ok");
    }
    SetAcquisitionProbe(nullptr);
    SetJournalCheckpoint(nullptr);
    platform::SetWriteFault(nullptr);
    FreeComConfig(com);
    platform::SetClock(nullptr);
    Reply("stopped");
    return 0;
}
