// Ports whose devices go away and come back: the loss is logged and shown at
// once, what came before is kept, the port is opened again when its device
// returns, and a device that comes and goes does not flood the log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/comm_receiver.h"
#include "support/engine_harness.h"

namespace engine_testing {
namespace {

using testing_support::Port;

size_t OpenDescriptors() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

// Threads of the process by name (a sanitizer may start threads of its own).
size_t ThreadsNamed(const std::string& name) {
    size_t count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm = testing_support::ReadFile(task.path().string() + "/comm");
        comm.erase(comm.find_last_not_of('\n') + 1);
        count += comm == name ? 1 : 0;
    }
    return count;
}

// The receive thread names itself once it runs, which a busy machine may
// delay past the engine's start: wait for the name to be seen.
bool ThreadNamedAppears(const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ThreadsNamed(name) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

class EngineReconnect : public EngineTest {
protected:
    // The instrument's stable name, as a udev rule would make it.
    std::string Link() { return dir_.path() + "-instrument"; }
    ~EngineReconnect() override { std::filesystem::remove(Link()); }

    // A new pty behind the stable name (the old link replaced at once).
    sim::PtyPair& Plug() {
        sim::PtyPair& pty = AddPty();
        const std::string fresh = Link() + ".new";
        std::filesystem::create_symlink(pty.path(), fresh);
        std::filesystem::rename(fresh, Link());
        return pty;
    }
    // The name goes and the terminal hangs up. A name left pointing at the
    // closed terminal could come to name another program's new pty.
    void Unplug() {
        std::filesystem::remove(Link());
        ptys_.pop_back();
    }
};

TEST_F(EngineReconnect, ALostDeviceIsShownAndReopenedAndNothingBeforeOrAfterIsLost) {
    sim::PtyPair* pty = &Plug();
    SetTime(10, 7, 30);
    Start(testing_support::MakeTestConfig(dir_.path(), 15, {Port(1, "Thermo").WithDevice(Link())}));
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortsOpen, "COM1"));
    Send(*pty, 0, "before\n");

    Unplug();
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "COM1"));
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortsOpen, "None"));
    const auto lost = LinesWithCodes(Log(), {"32"});
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].rfind("32  COM1 lost (", 0), 0u) << lost[0];
    EXPECT_NE(lost[0].find("); it is reopened when it returns."), std::string::npos) << lost[0];

    pty = &Plug();
    SetTime(10, 7, 32);  // the first try comes a second after the loss
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortsOpen, "COM1"));
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "None"));
    Send(*pty, 0, "after\n");
    SetTime(10, 10);
    Stop();

    EXPECT_EQ(File("2406110.P01"),
              "Thermo\n03/01/24 10:07:30:000 StartTime\nbefore\nafter\n"
              "03/01/24 10:10:00:000 EndTime\n");
    const auto entries = LinesWithCodes(Log(), {"32", "33"});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1], "33  COM1 reopened after 2 s.");
}

// The device is held by another program when acquisition starts (08) and is
// let go later: the port opens then, and its data is archived.
TEST_F(EngineReconnect, APortBusyAtTheStartOpensOnceItIsFree) {
    sim::PtyPair& pty = AddPty();
    int release[2];
    ASSERT_EQ(::pipe(release), 0);
    int locked[2];
    ASSERT_EQ(::pipe(locked), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(release[1]);  // so that the parent's close is the end of the pipe
        const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        [[maybe_unused]] const ssize_t told = ::write(locked[1], &ok, 1);
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(release[0], &byte, 1);
        ::_exit(0);
    }
    ASSERT_GT(holder, 0);
    char ok = 0;
    ASSERT_EQ(::read(locked[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    SetTime(10, 7, 30);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(2, "Thermo").WithDevice(pty.path())}));
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "COM2"));
    SetTime(10, 7, 32);  // a try while the device is still held
    ASSERT_TRUE(probe_.WaitForPasses(probe_.passes() + 2));
    ::close(release[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    ::close(release[0]);
    ::close(locked[0]);
    ::close(locked[1]);
    SetTime(10, 7, 40);
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortsOpen, "COM2"));
    Send(pty, 0, "free\n");
    SetTime(10, 10);
    Stop();

    EXPECT_EQ(LinesWithCodes(Log(), {"08", "32", "33"}),
              (std::vector<std::string>{"08  PortOpenMSWin32 error on COM2...Port already in use.",
                                        "33  COM2 reopened after 10 s."}));
    EXPECT_EQ(File("2406110.P02"),
              "Thermo\n03/01/24 10:07:30:000 StartTime\nfree\n03/01/24 10:10:00:000 EndTime\n");
}

// Twenty losses in a minute: ten logged pairs and one summary, and every
// descriptor and thread of the comings and goings is gone afterwards.
TEST_F(EngineReconnect, AFlappingDeviceGetsASummaryAndLeavesNothingBehind) {
    const size_t descriptors = OpenDescriptors();
    ASSERT_EQ(ThreadsNamed(platform::posix::kReceiveThreadName), 0u);
    sim::PtyPair* pty = &Plug();
    SetTime(10, 0, 5);
    Start(testing_support::MakeTestConfig(dir_.path(), 1, {Port(3, "Flaky").WithDevice(Link())}));
    ASSERT_TRUE(ThreadNamedAppears(platform::posix::kReceiveThreadName));
    EXPECT_EQ(ThreadsNamed(platform::posix::kReceiveThreadName), 1u);
    for (int n = 0; n < 20; ++n) {
        Send(*pty, 0, "r" + std::to_string(n) + "\n");
        Unplug();
        ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "COM3")) << n;
        pty = &Plug();
        SetTime(10, 0, 7 + 2 * n);
        ASSERT_TRUE(view_.WaitForDrawn(kStatusPortsOpen, "COM3")) << n;
    }
    EndPeriodAt(10, 1);
    Stop();
    ptys_.clear();
    std::filesystem::remove(Link());

    const auto entries = LinesWithCodes(Log(), {"32", "33", "37"});
    ASSERT_EQ(entries.size(), 21u);
    EXPECT_EQ(entries.back(),
              "37  COM3 was lost and reopened 10 more times in this period than the entries "
              "above tell.");
    std::string text;
    for (int n = 0; n < 20; ++n) {
        text += "r" + std::to_string(n) + "\n";
    }
    // (The period does not end on the hour, and the next one brought nothing.)
    EXPECT_EQ(File("2406110.P03"), "Flaky\n03/01/24 10:00:05:000 StartTime\n" + text);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    // The receive thread of the comings and goings ended with the last port.
    EXPECT_EQ(ThreadsNamed(platform::posix::kReceiveThreadName), 0u);
}

}  // namespace
}  // namespace engine_testing
