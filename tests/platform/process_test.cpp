#include "platform/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "platform/external_programs.h"
#include "support/recorded_programs.h"
#include "support/temp_dir.h"

namespace {

using testing_support::RecordedPrograms;

#ifdef _WIN32
constexpr char kFake[] = "fake-viewer.exe";
#else
constexpr char kFake[] = "fake-viewer";

pid_t AsPid(const platform::ProcessHandle& process) {
    return static_cast<pid_t>(process.value);
}
#endif

TEST(Process, EveryArgumentArrivesUnchanged) {
    RecordedPrograms programs({kFake});
    const std::vector<std::string> arguments = {
        "/E",       "/data/with blanks/97123.LOG", "say \"hi\"", "trailing\\", "two\\\\", "",
        "tab\there"};
    const auto process = platform::StartProcess(kFake, arguments);
    ASSERT_TRUE(process.has_value());
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    std::vector<std::string> expected = {kFake};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(runs[0], expected);
    EXPECT_TRUE(platform::WaitForProcessEnd(*process, 30000));
    platform::ReleaseProcess(*process);
}

TEST(Process, AProgramNotOnTheSearchPathIsNotStarted) {
    EXPECT_FALSE(platform::StartProcess("quorvane-no-such-program", {"x"}).has_value());
}

TEST(Process, TerminateEndsARunningProgramAndPassesOverAnEndedOne) {
    RecordedPrograms programs({kFake});
    programs.StayRunning(true);
    const auto running = platform::StartProcess(kFake, {"stay"});
    ASSERT_TRUE(running.has_value());
    ASSERT_EQ(programs.WaitForRuns(1).size(), 1u);
    EXPECT_FALSE(platform::WaitForProcessEnd(*running, 0));
    EXPECT_TRUE(platform::TerminateProcess(*running));
    EXPECT_TRUE(platform::WaitForProcessEnd(*running, 30000));
    EXPECT_FALSE(platform::TerminateProcess(*running)) << "ended already";
#ifdef _WIN32
    EXPECT_EQ(platform::ExitStatus(*running), 0);
#else
    EXPECT_EQ(platform::ExitStatus(*running), 128 + SIGTERM);
#endif
    platform::ReleaseProcess(*running);

    programs.StayRunning(false);
    const auto finished = platform::StartProcess(kFake, {"done"});
    ASSERT_TRUE(finished.has_value());
    EXPECT_FALSE(platform::ExitStatus(*finished).has_value() &&
                 !platform::WaitForProcessEnd(*finished, 0))
        << "a status only once it has ended";
    ASSERT_TRUE(platform::WaitForProcessEnd(*finished, 30000));
    EXPECT_EQ(platform::ExitStatus(*finished), 0);
    EXPECT_FALSE(platform::TerminateProcess(*finished));
    platform::ReleaseProcess(*finished);
}

#ifndef _WIN32
// True once the process `pid` (not necessarily a child) has ended, waiting up
// to the safety deadline.
bool EndsWithinDeadline(pid_t pid) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        return errno == ESRCH;  // gone already
    }
    pollfd entry{pidfd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, 30000);
    ::close(pidfd);
    return ready > 0;
}

// Whether `pid` is still a child of this process, ended or not (a zombie).
bool IsUncollectedChild(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

// A launcher as xdg-open and x-terminal-emulator are: it starts the viewer in
// its own process group, writes the viewer's process id to the file named by
// its argument, and exits.
class HandingOffLauncher : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::WriteFile(launcher_,
                                   "#!/bin/sh\nsleep 600 &\necho $! > \"$1.part\"\n"
                                   "mv \"$1.part\" \"$1\"\n");
        std::filesystem::permissions(launcher_, std::filesystem::perms::owner_all);
    }

    // Starts the launcher, waits until it has handed over and ended, and
    // gives the viewer's process id.
    pid_t HandOff(platform::ProcessHandle& launcher) {
        const auto started = platform::StartProcess(launcher_, {viewer_pid_file_});
        EXPECT_TRUE(started.has_value());
        if (!started) {
            return 0;
        }
        launcher = *started;
        EXPECT_TRUE(platform::WaitForProcessEnd(launcher, 30000));
        return static_cast<pid_t>(std::atol(testing_support::ReadFile(viewer_pid_file_).c_str()));
    }

    testing_support::TempDir dir_;
    std::string launcher_ = dir_.File("launcher");
    std::string viewer_pid_file_ = dir_.File("viewer.pid");
};

TEST_F(HandingOffLauncher, EndingTheLauncherEndsTheViewerItLeftInItsGroup) {
    platform::ProcessHandle launcher;
    const pid_t viewer = HandOff(launcher);
    ASSERT_GT(viewer, 0);
    ASSERT_EQ(::kill(viewer, 0), 0) << "the viewer runs on after the hand-over";

    EXPECT_FALSE(platform::TerminateProcess(launcher)) << "the launcher itself had ended";
    const bool viewer_ended = EndsWithinDeadline(viewer);
    EXPECT_TRUE(viewer_ended);
    if (!viewer_ended) {
        ::kill(viewer, SIGKILL);
    }
    EXPECT_TRUE(IsUncollectedChild(AsPid(launcher))) << "not collected before CollectProcess";

    platform::CollectProcess(launcher, 30000);
    EXPECT_FALSE(IsUncollectedChild(AsPid(launcher))) << "no zombie left";
}

TEST(Process, CollectingAnEndedProgramLeavesNoZombie) {
    RecordedPrograms programs({kFake});
    programs.StayRunning(true);
    const auto running = platform::StartProcess(kFake, {"stay"});
    ASSERT_TRUE(running.has_value());
    ASSERT_EQ(programs.WaitForRuns(1).size(), 1u);
    EXPECT_TRUE(platform::TerminateProcess(*running));
    platform::CollectProcess(*running, 30000);
    EXPECT_FALSE(IsUncollectedChild(AsPid(*running)));
}

// A program that ignores the request to end is killed when the wait is over.
TEST(Process, CollectKillsAProgramThatDoesNotEndWhenAsked) {
    const auto stubborn = platform::StartProcess("sh", {"-c", "trap '' TERM; exec sleep 600"});
    ASSERT_TRUE(stubborn.has_value());
    EXPECT_TRUE(platform::TerminateProcess(*stubborn));
    platform::CollectProcess(*stubborn, 0);
    EXPECT_FALSE(IsUncollectedChild(AsPid(*stubborn)));
}
#endif

TEST(Process, WindowsCommandLineQuoting) {
    using platform::QuoteWindowsArgument;
    EXPECT_EQ(QuoteWindowsArgument("plain"), "plain");
    EXPECT_EQ(QuoteWindowsArgument("C:\\DATA\\97123.LOG"), "C:\\DATA\\97123.LOG");
    EXPECT_EQ(QuoteWindowsArgument(""), "\"\"");
    EXPECT_EQ(QuoteWindowsArgument("D:\\My Data\\x.P01"), "\"D:\\My Data\\x.P01\"");
    EXPECT_EQ(QuoteWindowsArgument("a\"b"), "\"a\\\"b\"");
    EXPECT_EQ(QuoteWindowsArgument("a\\\"b"), "\"a\\\\\\\"b\"");
    EXPECT_EQ(QuoteWindowsArgument("dir with\\"), "\"dir with\\\\\"");
    EXPECT_EQ(platform::BuildWindowsCommandLine({"v.exe", "/E", "C:\\a b\\c.LOG"}),
              "v.exe /E \"C:\\a b\\c.LOG\"");
}

TEST(ExternalPrograms, SerialTerminalGetsThePortAndItsLineSettings) {
    const std::vector<std::string> values = {"3", "9600", "E", "7", "2"};
#ifdef _WIN32
    const auto command = platform::SerialTerminalCommand(values, "COM3");
    EXPECT_EQ(command.program, "Wexlorant.exe");
    EXPECT_EQ(command.arguments, values);
    EXPECT_EQ(platform::SerialDevicePath(3, "/dev/ignored"), "COM3");
#else
    EXPECT_EQ(platform::SerialDevicePath(3, ""), "/dev/ttyS2");
    EXPECT_EQ(platform::SerialDevicePath(3, "/dev/ttyUSB0"), "/dev/ttyUSB0");
    const auto command = platform::SerialTerminalCommand(values, "/dev/ttyUSB0");
    EXPECT_EQ(command.program, "x-terminal-emulator");
    const std::vector<std::string> expected = {"-e", "tio", "-b", "9600", "-p",          "even",
                                               "-d", "7",   "-s", "2",    "/dev/ttyUSB0"};
    EXPECT_EQ(command.arguments, expected);
    EXPECT_EQ(
        platform::SerialTerminalCommand({"1", "4800", "N", "8", "1"}, "/dev/ttyS0").arguments[5],
        "none");
#endif
}

}  // namespace
