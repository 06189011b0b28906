// Reception while the logger is busy: instruments that behave like UARTs
// without flow control keep writing while the acquisition thread flushes,
// asks a silent hygrometer for its constants, or stands still; nothing may be
// lost, and an instrument that can wait is made to wait.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/journal.h"
#include "acquisition/port_buffers.h"
#include "acquisition/statistics_analysis.h"
#include "archived_text.h"
#include "support/engine_harness.h"
#include "support/uart_writer.h"
#include "support/waiting_device.h"

namespace engine_testing {
namespace {

using testing_support::Port;
using testing_support::UartWriter;

// These stream at 115200 baud's byte rate on ports set to 256000 baud, the
// fastest the driver accepts, whose queues hold 60 s of their line rate
// (1536000 bytes). A pty takes about 20 kB before it refuses more, so a
// reader that stopped reading for the exchange would lose a third of its
// 3 s; a reader that keeps reading may pause for well over a second (a busy
// machine) without a loss.
constexpr double kStreamRate = 11520;
constexpr int kFastestBaud = 256000;

std::vector<std::string> MessagesWithCode(const std::string& log, const std::string& code) {
    std::vector<std::string> found;
    for (const std::string& m : LogMessages(log)) {
        if (m.rfind(code + "  ", 0) == 0) {
            found.push_back(m);
        }
    }
    return found;
}

// Statistics of the first two fields of port position `position`, named F0
// and F1, with no error values.
void SummariseTwoFields(ComConfig& config, int position) {
    config.NumTokenIndices[position] = 2;
    for (int j = 0; j < 2; ++j) {
        config.TokenIndicesForStatistics[position][j] = j + 1;
        config.ErrorCheckingTokenIndices[position][j] = 0;
        config.ErrorValuesPerTokenIndex[position][j] = -1;
        std::snprintf(config.TokenLabelsForStatistics[position][j], 500, "F%d", j);
    }
}

class EngineReception : public EngineTest {};

// A period that ends on the hour asks a silent hygrometer for its constants:
// three unanswered questions while three ports stream. The
// receive queues take it all; the writers never find the line full.
TEST_F(EngineReception, NothingIsLostWhileAFlushWaitsForASilentHygrometer) {
    constexpr int kPorts = 3;
    std::vector<testing_support::TestPort> ports;
    for (int i = 0; i < kPorts; ++i) {
        ports.push_back(Port(i + 1, "Fast").WithDevice(AddPty().path()).WithBaud(kFastestBaud));
    }
    sim::PtyPair& silent = AddPty();
    ports.push_back(Port(kPorts + 1, "Ophir")
                        .WithDevice(silent.path())
                        .WithAcquisition(INIT_GETOPHIRCONSTANTS));
    SetTime(10, 59, 30);
    Start(testing_support::MakeTestConfig(dir_.path(), 1, ports));
    // The exchange's 5-second time-outs pass on the tick count in about a
    // second each of real time, while the writers go on at their real rate.
    clock_.SetAutoAdvanceMs(5);

    std::vector<std::unique_ptr<UartWriter>> writers;
    for (int i = 0; i < kPorts; ++i) {
        writers.push_back(std::make_unique<UartWriter>(ptys_[static_cast<size_t>(i)]->master_fd(),
                                                       Records(i + 1, 50000), kStreamRate));
        writers.back()->Start();
    }
    EndPeriodAt(11, 0);
    ASSERT_EQ(MessagesWithCode(Log(), "27").size(), 1u) << "the exchange ran and failed";
    for (int i = 0; i < kPorts; ++i) {
        writers[static_cast<size_t>(i)]->Finish();
        ASSERT_TRUE(probe_.WaitForReceived(
            i, static_cast<int64_t>(writers[static_cast<size_t>(i)]->Accepted().size())));
    }
    clock_.SetAutoAdvanceMs(0);
    Stop();

    const std::string log = Log();
    EXPECT_TRUE(MessagesWithCode(log, "16").empty());
    EXPECT_TRUE(MessagesWithCode(log, "31").empty());
    for (int i = 0; i < kPorts; ++i) {
        const UartWriter& writer = *writers[static_cast<size_t>(i)];
        EXPECT_EQ(writer.refused(), 0) << "port " << i + 1;
        const std::string name = "P0" + std::to_string(i + 1);
        const std::string archived =
            ArchivedText(File("2406110." + name)) + ArchivedText(File("2406111." + name));
        EXPECT_EQ(archived.size(), writer.size()) << "port " << i + 1;
        EXPECT_TRUE(archived == writer.Accepted()) << "port " << i + 1;
    }
}

// A thread that stands still (held in a pass) while an instrument that can
// wait (a pty's writer blocks) sends far more than its 65000-byte queue
// holds: the device is no longer read while the queue is full, so it waits
// instead of losing anything. Every byte is archived in order, nothing is
// reported lost, and the wait is logged.
TEST_F(EngineReception, AThreadThatStandsStillMakesTheDeviceWaitAndLosesNothing) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(4, "Slow").WithDevice(pty.path()).WithBaud(9600)}));
    probe_.Hold();
    ASSERT_TRUE(probe_.WaitUntilHeld());
    const std::string sent = Records(4, 4 << 20);
    std::atomic<bool> written{false};
    std::thread writer([&] { written = pty.Write(sent); });
    const bool waited = testing_support::AwaitAWaitingDevice();
    probe_.Release();
    writer.join();
    ASSERT_TRUE(waited);
    ASSERT_TRUE(written.load());
    ASSERT_TRUE(probe_.WaitForReceived(0, static_cast<int64_t>(sent.size())));
    SetTime(10, 9);  // the next status update
    ASSERT_TRUE(probe_.WaitForPasses(probe_.passes() + 2));
    Stop();

    const std::string log = Log();
    EXPECT_TRUE(MessagesWithCode(log, "16").empty());
    EXPECT_TRUE(MessagesWithCode(log, "31").empty());
    const auto waits = MessagesWithCode(log, "40");
    ASSERT_EQ(waits.size(), 1u) << "one entry in a period";
    long seconds = 0;
    ASSERT_EQ(std::sscanf(waits.front().c_str(), "40  COM4 was made to wait %ld s", &seconds), 1)
        << waits.front();
    EXPECT_GE(seconds, 1) << "rounded up";
    EXPECT_EQ(waits.front(), "40  COM4 was made to wait " + std::to_string(seconds) +
                                 " s: its receive queue of 65000 bytes was full.");
    const std::string archived = ArchivedText(File("2406110.P04"));
    EXPECT_EQ(archived.size(), sent.size());
    EXPECT_TRUE(archived == sent);
    EXPECT_TRUE(view_.WasDrawn(kStatusBufferOverflows, "None"));
}

// Fifty megabytes in one period grow the buffer a few dozen times, each growth
// with its one log entry. (The pty is written as fast as it takes bytes, far
// above any line rate, so the test sends a quarter megabyte at a time.)
TEST_F(EngineReception, AFiftyMegabytePeriodLogsAFewDozenGrowths) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30);
    Start(testing_support::MakeTestConfig(
        dir_.path(), 15, {Port(1, "Big").WithDevice(pty.path()).WithBaud(kFastestBaud)}));
    const std::string chunk = Records(1, 1 << 18);
    for (int n = 0; n < 200; ++n) {
        Send(pty, 0, chunk);
    }
    Stop();
    const std::string log = Log();
    EXPECT_TRUE(MessagesWithCode(log, "31").empty());
    const auto growths = MessagesWithCode(log, "18");
    EXPECT_GE(growths.size(), 20u);
    EXPECT_LE(growths.size(), 40u);
    EXPECT_EQ(std::filesystem::file_size(dir_.File("2406110.P01")),
              std::string("Big\n03/01/24 10:07:30:000 StartTime\n").size() + (50u << 20) +
                  std::string("\n03/01/24 10:07:30:000 EndTime\n").size());
}

// A period longer than a buffer holds in memory: the buffer never grows past
// its cap, the rest goes on in the journal, and the data file and the
// statistics are those of the whole text, as if it had all stayed in memory.
TEST_F(EngineReception, APeriodLongerThanTheBufferIsWrittenWholeFromTheJournal) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30);
    testing_support::TestPort port = Port(1, "Long").WithDevice(pty.path()).WithBaud(kFastestBaud);
    ComConfig config = testing_support::MakeTestConfig(dir_.path(), 15, {port.WithStats('\r')});
    SummariseTwoFields(config, 0);
    Start(config);
    std::string sent;
    while (sent.size() < static_cast<size_t>(kPortBufferCapBytes) * 5 / 2) {
        const std::string chunk = Records(1, 1 << 18);
        Send(pty, 0, chunk);
        sent += chunk;
    }
    Send(pty, 0, "\rtail");
    sent += "\rtail";
    EndPeriodAt(10, 15);
    Stop();

    int64_t largest = 0;
    for (const std::string& m : MessagesWithCode(Log(), "18")) {
        largest = std::max<int64_t>(largest, std::atoll(m.substr(m.rfind(' ') + 1).c_str()));
    }
    EXPECT_LE(largest, kPortBufferCapBytes);
    const std::string file = File("2406110.P01");
    const std::string expected =
        "Long\n03/01/24 10:07:30:000 StartTime\n" + sent;  // (10:15 is not on the hour)
    EXPECT_EQ(file.size(), expected.size());
    size_t differ = 0;
    while (differ < file.size() && differ < expected.size() && file[differ] == expected[differ]) {
        ++differ;
    }
    EXPECT_TRUE(file == expected) << "first difference at " << differ << ": "
                                  << file.substr(differ > 40 ? differ - 40 : 0, 80) << " | "
                                  << expected.substr(differ > 40 ? differ - 40 : 0, 80);
    // The rows the whole text gives when it is analysed in one piece.
    PortStatisticsSettings settings = PortStatisticsSettingsOf(com, 0);
    const std::vector<StatisticsRow> rows =
        AnalysePortText(sent.data(), sent.size(), settings, nullptr);
    ASSERT_EQ(rows.size(), 2u);
    const std::string sta = File("2406110.sta");
    for (int j = 0; j < 2; ++j) {
        const std::string row = FormatStatisticsRow("Long", ("F" + std::to_string(j)).c_str(),
                                                    rows[static_cast<size_t>(j)]);
        EXPECT_NE(sta.find(row), std::string::npos) << row << sta;
    }
    EXPECT_GT(rows[0].samples, 1000000);
}

// The journal's checkpoints are plain functions, called on the acquisition
// thread: what they do and see lives here.
struct FlushTrace {
    sim::PtyPair* quick = nullptr;
    std::string burst;
    bool sent = false;
    std::vector<std::string> points;  // "COMn point", in the order they were passed
};
FlushTrace g_trace;

struct CheckpointScope {
    explicit CheckpointScope(JournalCheckpoint checkpoint) { SetJournalCheckpoint(checkpoint); }
    ~CheckpointScope() { SetJournalCheckpoint(nullptr); }
    CheckpointScope(const CheckpointScope&) = delete;
    CheckpointScope& operator=(const CheckpointScope&) = delete;
};

// True while bytes wait on the line for the receive thread to read them.
bool WaitingOnTheLine(int terminal_fd) {
    int waiting = 0;
    return ::ioctl(terminal_fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

// As the long period's data file is about to be written (its read-back comes
// next), the quick instrument sends a burst, and the flush goes on only once
// the receive thread has taken all of it from the line into the queue.
void SendAsTheLongPeriodIsReadBack(const char* point, int port_number, int64_t) {
    const std::string name = point;
    if (name != "appended" || port_number == 2) {
        g_trace.points.push_back("COM" + std::to_string(port_number) + " " + name);
    }
    if (port_number == 1 && name == "intent-recorded" && !g_trace.sent) {
        g_trace.sent = true;
        EXPECT_TRUE(g_trace.quick->Write(g_trace.burst));
        const auto deadline = std::chrono::steady_clock::now() + kSafetyDeadline;
        while (WaitingOnTheLine(g_trace.quick->terminal_fd()) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    }
}

// A long period's end reads its text back from the journal for seconds (for
// its data file, then for the statistics), in which a fast instrument could
// fill its queue: every megabyte read back, the flush takes what the queues
// hold for the next period, and journals it as soon as that port's period is
// closed, long before the flush ends. The burst reaches the next period whole
// and in order.
TEST_F(EngineReception, AFlushThatReadsALongPeriodBackKeepsReceiving) {
    sim::PtyPair& long_pty = AddPty();
    sim::PtyPair& quick_pty = AddPty();
    SetTime(10, 7, 30);
    testing_support::TestPort long_port =
        Port(1, "Long").WithDevice(long_pty.path()).WithBaud(kFastestBaud).WithStats('\r');
    // 9600 baud: a queue of 65000 bytes.
    testing_support::TestPort quick_port =
        Port(2, "Quick").WithDevice(quick_pty.path()).WithBaud(9600);
    ComConfig config = testing_support::MakeTestConfig(dir_.path(), 15, {long_port, quick_port});
    SummariseTwoFields(config, 0);
    Start(config);
    const std::string chunk = Records(1, 1 << 18);
    while (sent_[0] < int64_t{kPortBufferCapBytes} * 3) {
        Send(long_pty, 0, chunk);
    }
    g_trace = FlushTrace{};
    g_trace.quick = &quick_pty;
    g_trace.burst = Records(2, 60000);
    {
        const CheckpointScope checkpoint(SendAsTheLongPeriodIsReadBack);
        EndPeriodAt(10, 15);
    }
    ASSERT_TRUE(g_trace.sent);
    ASSERT_TRUE(probe_.WaitForReceived(1, static_cast<int64_t>(g_trace.burst.size())));
    Stop();

    // The burst was journaled while the long period's statistics were still
    // to be read back, not after the flush.
    const auto& points = g_trace.points;
    const auto held = std::find(points.begin(), points.end(), "COM2 appended");
    const auto cut = std::find(points.begin(), points.end(), "COM1 journal-cut");
    ASSERT_TRUE(held != points.end()) << "the burst was not journaled during the flush";
    EXPECT_LT(held - points.begin(), cut - points.begin());
    const std::string log = Log();
    EXPECT_TRUE(MessagesWithCode(log, "16").empty());
    EXPECT_TRUE(MessagesWithCode(log, "31").empty());
    EXPECT_TRUE(ArchivedText(File("2406110.P02")) == g_trace.burst);
}

}  // namespace
}  // namespace engine_testing
