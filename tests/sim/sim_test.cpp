// quorvane-sim as the demo, the tests and an operator run it: a real process
// on a real pseudo-terminal, ended by signals, sharing link names with others.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;

constexpr int kDeadlineMs = 30000;

// One run of quorvane-sim with its standard output and error in pipes.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
        static char program[] = QUORVANE_SIM_PROGRAM;
        std::vector<char*> argv{program};
        for (std::string& argument : arguments_) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~Simulator() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The first line of standard output (the terminal's path), or "" when
    // none comes before the deadline.
    std::string FirstLine() {
        std::string line;
        char c = 0;
        while (Readable(out_) && ::read(out_, &c, 1) == 1) {
            if (c == '\n') {
                return line;
            }
            line += c;
        }
        return "";
    }

    // Waits up to the deadline for the process to end: its exit status, or
    // -1 when it still runs.
    int WaitForExit() {
        if (status_) {
            return *status_;
        }
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        pollfd entry{pidfd, POLLIN, 0};
        const bool ended = pidfd >= 0 && ::poll(&entry, 1, kDeadlineMs) > 0;
        ::close(pidfd);
        if (!ended) {
            return -1;
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return *status_;
    }

    // Waits until the process sleeps in a system call (state S in
    // /proc/PID/stat): one that never pauses between writes then waits for
    // room to write.
    bool WaitUntilAsleep() const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeadlineMs);
        const std::string stat = "/proc/" + std::to_string(pid_) + "/stat";
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string text = testing_support::ReadFile(stat);
            const std::size_t after_name = text.rfind(") ");
            if (after_name != std::string::npos && text.compare(after_name + 2, 1, "S") == 0) {
                return true;
            }
        }
        return false;
    }

    // What it has written to standard error so far.
    std::string Errors() const {
        ::fcntl(err_, F_SETFL, ::fcntl(err_, F_GETFL) | O_NONBLOCK);
        std::string text;
        char chunk[512];
        ssize_t got = 0;
        while ((got = ::read(err_, chunk, sizeof chunk)) > 0) {
            text.append(chunk, static_cast<std::size_t>(got));
        }
        return text;
    }

private:
    static bool Readable(int fd) {
        pollfd entry{fd, POLLIN, 0};
        return ::poll(&entry, 1, kDeadlineMs) > 0;
    }

    std::vector<std::string> arguments_;
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::optional<int> status_;
};

// A pseudo-terminal on which this side can stop the other side's output, as
// a receiver's XOFF does: the writer's queue is then full, stably, and every
// write waits for room that does not come.
class Terminal {
public:
    Terminal() {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (::openpty(&reader_, &writer_, name, &raw, nullptr) == 0) {
            path_ = name;
        }
    }
    ~Terminal() {
        ::close(writer_);
        ::close(reader_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool ok() const { return !path_.empty(); }
    // The writer's side.
    const std::string& path() const { return path_; }

    // Waits until the writer's first bytes arrive: it is at work.
    bool ReadTheWritersBytes() {
        pollfd entry{reader_, POLLIN, 0};
        char chunk[4096];
        return ::poll(&entry, 1, kDeadlineMs) > 0 && ::read(reader_, chunk, sizeof chunk) > 0;
    }

    // Suspends the writer's output (a raw mode set later does not resume it).
    bool StopTheWriter() { return ::tcflow(writer_, TCOOFF) == 0; }

private:
    int reader_ = -1;
    int writer_ = -1;
    std::string path_;
};

class StopSignal : public ::testing::TestWithParam<int> {};

// Ctrl+C (SIGINT) or SIGTERM while every write waits for room that never comes.
TEST(Help, NamesTheProgram) {
    Simulator simulator({"--help"});
    ASSERT_TRUE(simulator.started());
    simulator.FirstLine();  // what it is
    EXPECT_EQ(simulator.FirstLine().rfind("Usage: quorvane-sim [OPTIONS]", 0), 0u);
    EXPECT_EQ(simulator.WaitForExit(), 0);
}

TEST_P(StopSignal, EndsTheSimulatorWhileItsTerminalIsFull) {
    Terminal terminal;
    ASSERT_TRUE(terminal.ok());
    // Records at a rate no line reaches: it always has one to write, so it
    // never waits but for room to write.
    Simulator sim({"numeric", "--rate", "1e9", "--device", terminal.path()});
    ASSERT_TRUE(sim.started());
    ASSERT_EQ(sim.FirstLine(), terminal.path());
    // Once it is writing, its output stops, and the signal comes when it
    // waits inside a write.
    ASSERT_TRUE(terminal.ReadTheWritersBytes());
    ASSERT_TRUE(terminal.StopTheWriter());
    ASSERT_TRUE(sim.WaitUntilAsleep());

    ASSERT_EQ(::kill(sim.pid(), GetParam()), 0);
    EXPECT_EQ(sim.WaitForExit(), 0) << "still writing into the full terminal";
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGINT, SIGTERM));

class Link : public ::testing::Test {
protected:
    TempDir dir_;
    std::string link_ = dir_.File("ttyWXT");
};

TEST_F(Link, ALiveLinkOfAnotherSimulatorIsRefusedAndKept) {
    Simulator first({"numeric", "--rate", "1", "--link", link_});
    ASSERT_TRUE(first.started());
    const std::string pty = first.FirstLine();
    ASSERT_FALSE(pty.empty());
    ASSERT_EQ(fs::read_symlink(link_), pty);

    Simulator second({"numeric", "--rate", "1", "--link", link_});
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.WaitForExit(), 1) << "the second simulator took the name over";
    const std::string errors = second.Errors();
    EXPECT_NE(errors.find(link_ + " already links to " + pty), std::string::npos) << errors;
    EXPECT_EQ(fs::read_symlink(link_), pty) << "the first simulator's link is kept";

    ASSERT_EQ(::kill(first.pid(), SIGTERM), 0);
    EXPECT_EQ(first.WaitForExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link_))) << "a simulator removes its own link";
}

TEST_F(Link, AStaleLinkIsReplacedAndAFileIsNot) {
    fs::create_symlink(dir_.File("gone"), link_);
    {
        Simulator sim({"numeric", "--rate", "1", "--link", link_});
        ASSERT_TRUE(sim.started());
        const std::string pty = sim.FirstLine();
        ASSERT_FALSE(pty.empty());
        EXPECT_EQ(fs::read_symlink(link_), pty);
        ASSERT_EQ(::kill(sim.pid(), SIGINT), 0);
        EXPECT_EQ(sim.WaitForExit(), 0);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));

    testing_support::WriteFile(link_, "notes");
    Simulator sim({"numeric", "--rate", "1", "--link", link_});
    ASSERT_TRUE(sim.started());
    EXPECT_EQ(sim.WaitForExit(), 1);
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(link_))) << "the file was replaced";
    EXPECT_EQ(testing_support::ReadFile(link_), "notes");
}

// Whoever took the name over after this simulator keeps it when it ends.
TEST_F(Link, OnlyItsOwnLinkIsRemovedAtTheEnd) {
    Simulator sim({"numeric", "--rate", "1", "--link", link_});
    ASSERT_TRUE(sim.started());
    ASSERT_FALSE(sim.FirstLine().empty());
    fs::remove(link_);
    fs::create_symlink("/dev/null", link_);

    ASSERT_EQ(::kill(sim.pid(), SIGTERM), 0);
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_EQ(fs::read_symlink(link_), "/dev/null");
}

}  // namespace
