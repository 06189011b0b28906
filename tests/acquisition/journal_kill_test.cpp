// Nothing received is lost to a crash: a real logger process (the real
// acquisition thread on a pty instrument, fake clock) is killed with SIGKILL
// at points of a period, among them between a data-file write and the cut of
// its journal, and restarted. Every byte it had read before the kill must be
// in the data files exactly once, in order, in the file of its hour.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "acquisition/journal.h"
#include "platform/fake_clock.h"
#include "platform/files.h"
#include "pty_pair.h"
#include "support/engine_harness.h"
#include "support/temp_dir.h"

extern char** environ;

namespace engine_testing {
namespace {

int64_t T(int hour, int minute, int second = 0) {
    return platform::FakeClock::EpochMs(2024, 3, 1, hour, minute, second);
}

// One logger process (tests/acquisition/kill_child.cpp), spoken to over a
// socket on its standard input and output.
class LoggerProcess {
public:
    LoggerProcess(const std::string& directory, const std::string& device, int64_t epoch_ms,
                  const std::string& die_at = "") {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        std::vector<std::string> args = {QUORVANE_KILL_CHILD, directory, device,
                                         std::to_string(epoch_ms)};
        if (!die_at.empty()) {
            args.push_back("die-at");
            args.push_back(die_at);
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        socket_ = ends[0];
    }
    ~LoggerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (socket_ >= 0) {
            ::close(socket_);
        }
    }
    LoggerProcess(const LoggerProcess&) = delete;
    LoggerProcess& operator=(const LoggerProcess&) = delete;

    // The next line the process says; "" once it has ended.
    std::string ReadLine() {
        const auto deadline = std::chrono::steady_clock::now() + kSafetyDeadline;
        for (;;) {
            const size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable{socket_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                timed_out_ = true;
                return "";
            }
            char chunk[256];
            const ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return "";
            }
            pending_.append(chunk, static_cast<size_t>(got));
        }
    }
    // Sends a command and returns the answer ("" when the process ended).
    std::string Ask(const std::string& command) {
        const std::string line = command + "\n";
        if (::send(socket_, line.data(), line.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(line.size())) {
            return "";
        }
        return ReadLine();
    }
    // Waits for the process to end; its wait status.
    int Wait() {
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
            pid_ = -1;
            last_status_ = status;
        }
        return last_status_;
    }
    bool ok() const { return pid_ > 0 && socket_ >= 0; }
    // True when the last ReadLine gave up waiting: the process still runs.
    bool timed_out() const { return timed_out_; }
    void Kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
        }
    }

private:
    pid_t pid_ = -1;
    int socket_ = -1;
    std::string pending_;
    int last_status_ = -1;
    bool timed_out_ = false;
};

bool KilledBySigkill(int status) {
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}
bool EndedCleanly(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A block of a data file: the text between its StartTime and EndTime markers
// (times as "HH:MM:SS"; empty: no end marker).
std::string Block(const std::string& start, const std::string& text, const std::string& end) {
    std::string block = "03/01/24 " + start + ":000 StartTime\n" + text;
    if (!end.empty()) {
        block += "03/01/24 " + end + ":000 EndTime\n";
    }
    return block;
}

class KillTest : public ::testing::Test {
protected:
    KillTest() { EXPECT_TRUE(pty_.ok()); }
    std::unique_ptr<LoggerProcess> StartLogger(int64_t epoch_ms, const std::string& die_at = "") {
        auto logger = std::make_unique<LoggerProcess>(dir_.path(), pty_.path(), epoch_ms, die_at);
        EXPECT_TRUE(logger->ok());
        return logger;
    }
    // Sends text at `epoch_ms` and waits until the logger has it in its journal.
    void Send(LoggerProcess& logger, int64_t epoch_ms, const std::string& text) {
        ASSERT_EQ(logger.Ask("time " + std::to_string(epoch_ms)), "ok");
        ASSERT_TRUE(pty_.Write(text));
        journaled_ += static_cast<int64_t>(text.size());
        ASSERT_EQ(logger.Ask("wait-journaled " + std::to_string(journaled_)), "ok");
    }
    // The process ended itself with SIGKILL where it was told to.
    void ExpectKilled(LoggerProcess& logger) {
        const std::string said = logger.ReadLine();
        if (!said.empty() || logger.timed_out()) {
            ADD_FAILURE() << "the logger still runs (it said \"" << said << "\")";
            logger.Kill();
        } else {
            EXPECT_TRUE(KilledBySigkill(logger.Wait()));
        }
        logger.Wait();
        journaled_ = 0;  // a new process counts from 0
    }
    void StopAt(LoggerProcess& logger, int64_t epoch_ms) {
        ASSERT_EQ(logger.Ask("time " + std::to_string(epoch_ms)), "ok");
        ASSERT_EQ(logger.Ask("stop"), "stopped");
        EXPECT_TRUE(EndedCleanly(logger.Wait()));
        journaled_ = 0;
    }
    std::string DataFile(const char* name) { return testing_support::ReadFile(dir_.File(name)); }
    bool JournalHoldsNothing() {
        return platform::FileLength(JournalPath(dir_.path().c_str(), 1).c_str()) == 16 + 6 + 4;
    }

    testing_support::TempDir dir_;
    sim::PtyPair pty_;
    int64_t journaled_ = 0;
};

struct KillPoint {
    const char* name;
    const char* point;  // "" for a kill in the middle of the period
    bool written;       // the period's data file was complete before the kill
};
void PrintTo(const KillPoint& point, std::ostream* out) {
    *out << point.name;
}

class KillDuringAPeriod : public KillTest, public ::testing::WithParamInterface<KillPoint> {};

TEST_P(KillDuringAPeriod, EveryByteReadBeforeTheKillIsWrittenOnceAfterTheRestart) {
    const std::string before = WholeRecords(0, 16);
    const std::string after = WholeRecords(16, 8);
    {
        auto logger = StartLogger(T(10, 7, 30));
        ASSERT_EQ(logger->ReadLine(), "started");
        Send(*logger, T(10, 8), before);
        const std::string point = GetParam().point;
        if (point.empty()) {
            EXPECT_EQ(logger->Ask("die"), "");
        } else {
            ASSERT_EQ(logger->Ask("die-at " + point), "ok");
            ASSERT_EQ(logger->Ask("time " + std::to_string(T(10, 15))), "ok");  // the period ends
        }
        ExpectKilled(*logger);
    }
    auto logger = StartLogger(T(10, 20));
    ASSERT_EQ(logger->ReadLine(), "started");
    Send(*logger, T(10, 21), after);
    StopAt(*logger, T(10, 22));

    // Text that was read at 10:08 and recovered is a block of its own,
    // between markers of the time it was received.
    const std::string first =
        GetParam().written ? Block("10:07:30", before, "") : Block("10:08:00", before, "10:08:00");
    EXPECT_EQ(DataFile("2406110.P01"), "Thermo\n" + first + Block("10:20:00", after, "10:22:00"));
    EXPECT_FALSE(platform::PathExists(dir_.File("2406111.P01").c_str()));
    EXPECT_TRUE(JournalHoldsNothing());
}

INSTANTIATE_TEST_SUITE_P(
    Points, KillDuringAPeriod,
    ::testing::Values(KillPoint{"InTheMiddleOfThePeriod", "", false},
                      KillPoint{"AfterTheDrainBeforeTheDataFile", "period-ended", false},
                      KillPoint{"AfterTheIntentBeforeTheWrite", "intent-recorded", false},
                      KillPoint{"AfterTheDataFileIsMadeBeforeItsFirstByte", "write:1", false},
                      KillPoint{"InTheMiddleOfTheDataFileWrite", "write:3", false},
                      KillPoint{"AfterTheDataFileBeforeTheJournalCut", "data-written", true},
                      KillPoint{"AfterTheJournalCut", "journal-cut", true}),
    [](const ::testing::TestParamInfo<KillPoint>& p) { return p.param.name; });

TEST_F(KillTest, TextKeptAcrossAnHourIsRecoveredIntoTheFileOfEachHour) {
    const std::string ten = WholeRecords(0, 8);
    const std::string eleven = WholeRecords(8, 16);
    // The hour-10 file cannot be made (a directory is in its place), so the
    // flush at 11:00 keeps its text.
    std::filesystem::create_directory(dir_.File("2406110.P01"));
    {
        auto logger = StartLogger(T(10, 40));
        ASSERT_EQ(logger->ReadLine(), "started");
        Send(*logger, T(10, 50), ten);
        ASSERT_EQ(logger->Ask("time " + std::to_string(T(11, 0))), "ok");
        ASSERT_EQ(logger->Ask("wait-flushes 1"), "ok");
        Send(*logger, T(11, 5), eleven);
        EXPECT_EQ(logger->Ask("die"), "");
        ExpectKilled(*logger);
    }
    std::filesystem::remove(dir_.File("2406110.P01"));
    auto logger = StartLogger(T(11, 20));
    ASSERT_EQ(logger->ReadLine(), "started");
    StopAt(*logger, T(11, 21));
    EXPECT_EQ(DataFile("2406110.P01"), "Thermo\n" + Block("10:50:00", ten, "10:50:00"));
    EXPECT_EQ(DataFile("2406111.P01"), "Thermo\n" + Block("11:05:00", eleven, "11:05:00"));
    EXPECT_TRUE(JournalHoldsNothing());
}

class KillDuringRecovery : public KillTest, public ::testing::WithParamInterface<KillPoint> {};

TEST_P(KillDuringRecovery, ASecondRestartStillWritesEverythingOnce) {
    const std::string before = WholeRecords(0, 16);
    const std::string after = WholeRecords(16, 8);
    {
        auto logger = StartLogger(T(10, 7, 30));
        ASSERT_EQ(logger->ReadLine(), "started");
        Send(*logger, T(10, 8), before);
        EXPECT_EQ(logger->Ask("die"), "");
        ExpectKilled(*logger);
    }
    {
        auto recovering = StartLogger(T(10, 20), GetParam().point);
        ExpectKilled(*recovering);  // before its loop ever ran
    }
    auto logger = StartLogger(T(10, 25));
    ASSERT_EQ(logger->ReadLine(), "started");
    Send(*logger, T(10, 26), after);
    StopAt(*logger, T(10, 27));
    EXPECT_EQ(DataFile("2406110.P01"), "Thermo\n" + Block("10:08:00", before, "10:08:00") +
                                           Block("10:25:00", after, "10:27:00"));
    EXPECT_TRUE(JournalHoldsNothing());
}

INSTANTIATE_TEST_SUITE_P(Points, KillDuringRecovery,
                         ::testing::Values(KillPoint{"AfterItsIntent", "intent-recorded", false},
                                           KillPoint{"InTheMiddleOfItsWrite", "write:3", false},
                                           KillPoint{"AfterItsWriteBeforeTheCut", "data-written",
                                                     false}),
                         [](const ::testing::TestParamInfo<KillPoint>& p) { return p.param.name; });

}  // namespace
}  // namespace engine_testing
