// The acquisition thread end to end: pty instruments, real files, fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/port_buffers.h"
#include "config/dynamic_array.h"
#include "instruments.h"
#include "platform/files.h"
#include "support/engine_harness.h"

namespace engine_testing {
namespace {

using testing_support::Port;

std::string Records(uint64_t first, uint64_t count) {
    static const sim::NumericInstrument instrument(sim::RecordShape{});
    std::string text;
    for (uint64_t n = first; n < first + count; ++n) {
        text += instrument.Record(n);
    }
    return text;
}

std::vector<std::string> Without18(const std::vector<std::string>& messages) {
    std::vector<std::string> kept;
    for (const std::string& m : messages) {
        if (m.rfind("18  ", 0) != 0) {
            kept.push_back(m);
        }
    }
    return kept;
}

std::vector<std::string> Only18(const std::vector<std::string>& messages) {
    std::vector<std::string> kept;
    for (const std::string& m : messages) {
        if (m.rfind("18  ", 0) == 0) {
            kept.push_back(m);
        }
    }
    return kept;
}

// The growth entries a port's buffer makes over periods of the given sizes.
// The in-period polls read every whole block, so the final drain needs room
// for the whole blocks, one more block and the terminating zero; the buffer
// grows by half again (GrownBufferSize) until it has that, and never shrinks.
std::vector<std::string> GrowthEntries(int port_number, const std::vector<size_t>& periods) {
    std::vector<std::string> entries;
    int32_t size = 512;
    for (size_t bytes : periods) {
        if (bytes == 0) {
            continue;
        }
        const auto needed = static_cast<int32_t>(512 * (bytes / 512) + 513);
        while (size < needed) {
            size = GrownBufferSize(size);
            entries.push_back("18  Dynamic memory reallocation: COM" + std::to_string(port_number) +
                              " total size: " + std::to_string(size));
        }
    }
    return entries;
}

std::string None() {
    return "None" + std::string(126, ' ');
}
std::string Disabled() {
    return "Disabled" + std::string(128, ' ');
}

class Engine : public EngineTest {
protected:
    std::string Path(const std::string& name) { return dir_.File(name); }
};

TEST_F(Engine, AnHourOfQuarterHourPeriodsAndAStopInTheNext) {
    sim::PtyPair& thermo = AddPty();
    sim::PtyPair& quiet = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(
        dir_.path(), 15,
        {Port(1, "Thermo").WithDevice(thermo.path()).WithStats('\n'),
         Port(4, "Quiet").WithDevice(quiet.path())}));

    const std::vector<std::string> texts = {Records(0, 3),  Records(3, 60), "\nabc",
                                            Records(63, 5), "\nxyz\n",      Records(68, 2)};
    for (const std::string& text : texts) {
        ASSERT_NE(text.size() % 512, 0u);  // keeps the growth entries independent of timing
    }
    const int ends[][2] = {{10, 15}, {10, 30}, {10, 45}, {11, 0}, {11, 15}};
    for (size_t period = 0; period < 5; ++period) {
        Send(thermo, 0, texts[period]);
        EndPeriodAt(ends[period][0], ends[period][1]);
    }
    Send(thermo, 0, texts[5]);
    SetTime(11, 20);
    Stop();

    // The files, line by line.
    EXPECT_EQ(File("2406110.P01"), "Thermo\n03/01/24 10:07:30:250 StartTime\n" + texts[0] +
                                       texts[1] + texts[2] + texts[3] +
                                       "03/01/24 11:00:00:000 EndTime\n");
    EXPECT_EQ(File("2406111.P01"), "Thermo\n03/01/24 11:00:00:000 StartTime" + texts[4] + texts[5] +
                                       "03/01/24 11:20:00:000 EndTime\n");
    EXPECT_FALSE(platform::PathExists(Path("2406110.P04").c_str()));
    EXPECT_TRUE(platform::IsReadOnly(Path("2406110.P01").c_str()));
    EXPECT_NE(File("2406110.sta").find("Data Acquisition Statistics"), std::string::npos);
    EXPECT_NE(File("2406111.sta").find("Data Acquisition Statistics"), std::string::npos);

    // The log, in order.
    const std::string w10 = "20  Disk I/O: Write to " + Path("2406110.P01") + ".";
    const std::string w11 = "20  Disk I/O: Write to " + Path("2406111.P01") + ".";
    const std::string quiet21 = "21  No data received from COM4 during the period ";
    const std::string stats = "24  Calculating diagnostic statistics.";
    const std::vector<std::string> expected = {
        "03  Data acquisition thread started.",
        w10,
        quiet21 + "10:07:30 to 10:15:00",
        stats,
        w10,
        quiet21 + "10:15:00 to 10:30:00",
        stats,
        w10,
        quiet21 + "10:30:00 to 10:45:00",
        stats,
        w10,
        quiet21 + "10:45:00 to 11:00:00",
        stats,
        w11,
        quiet21 + "11:00:00 to 11:15:00",
        stats,
        w11,
        quiet21 + "11:15:00 to 11:20:00",
        stats,
        "04  Data acquisition thread stopped.",
    };
    const std::vector<std::string> messages = LogMessages(Log());
    EXPECT_EQ(Without18(messages), expected);
    std::vector<size_t> sizes;
    for (const std::string& text : texts) {
        sizes.push_back(text.size());
    }
    EXPECT_EQ(Only18(messages), GrowthEntries(1, sizes));

    // Status: started, first update announced, minute updates, stopped.
    const auto acquisition = view_.DrawsOf(kStatusAcquisition);
    ASSERT_EQ(acquisition.size(), 2u);
    EXPECT_EQ(acquisition[0].text, "Enabled on 03-01-24 at 10:07:30 UTC");
    EXPECT_EQ(acquisition[1].text, Disabled());
    const auto statistics = view_.DrawsOf(kStatusStatistics);
    EXPECT_EQ(statistics.at(0).text, "Enabled - 15 minute calculations");
    const auto received = view_.DrawsOf(kStatusReceivedData);
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(received[0].text, std::string(15, ' '));
    EXPECT_EQ(received[1].text, "First update at 10:08 UTC");
    EXPECT_EQ(received[1].colour, kPurple);
    EXPECT_EQ(received[2].text, "COM1" + std::string(57, ' '));
    EXPECT_EQ(received[2].colour, kRed) << "COM4 is open but silent: a problem";
    const auto last = view_.DrawsOf(kStatusLastUpdate);
    const auto next = view_.DrawsOf(kStatusNextUpdate);
    ASSERT_GE(last.size(), 3u);
    EXPECT_EQ(last[1].text, "03-01-24 10:08 UTC         ");
    EXPECT_EQ(next[1].text, "03-01-24 10:16 UTC         ");
    EXPECT_EQ(last[1].colour, kPurple);
    const auto open = view_.DrawsOf(kStatusPortsOpen);
    ASSERT_EQ(open.size(), 3u);
    EXPECT_EQ(open[0].text, "COM1");
    EXPECT_EQ(open[1].text, "COM1,COM4");
    EXPECT_EQ(open[1].colour, kDarkGreen);
    EXPECT_EQ(open[2].text, None());

    // No watchdog configured: the ports were never touched.
    EXPECT_TRUE(io_ports_.Writes().empty());
    EXPECT_EQ(io_ports_.AccessRequests(), 0);
}

TEST_F(Engine, StopSoonAfterStartFlushesClosesAndHaltsTheWatchdog) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 60,
                                          {Port(1, "Thermo").WithDevice(pty.path())}, 0x370));
    Send(pty, 0, "abc\n");
    CDataAcquisitionThread* running = ActiveAcquisitionThread;
    EXPECT_FALSE(StartAcquisitionThread(&view_));  // one thread at a time
    EXPECT_EQ(ActiveAcquisitionThread, running);
    SetTime(10, 7, 45, 500);
    Stop();
    EXPECT_EQ(ActiveAcquisitionThread, nullptr);

    EXPECT_EQ(File("2406110.P01"),
              "Thermo\n03/01/24 10:07:30:250 StartTime\nabc\n03/01/24 10:07:45:500 EndTime\n");
    const std::vector<std::string> expected = {
        "03/01/24 10:07:30:250  03  Data acquisition thread started.",
        "03/01/24 10:07:45:500  18  Dynamic memory reallocation: COM1 total size: 1024",
        "03/01/24 10:07:45:500  20  Disk I/O: Write to " + Path("2406110.P01") + ".",
        "03/01/24 10:07:45:500  04  Data acquisition thread stopped.",
    };
    EXPECT_EQ(LogLines(Log()), expected);

    // Six bytes on every pass, then 0xB6 once to the control port.
    const auto writes = io_ports_.Writes();
    ASSERT_GE(writes.size(), 7u);
    ASSERT_EQ(writes.size() % 6, 1u);
    const std::vector<platform::RecordingIoPorts::Written> kick = {
        {0x373, 0xB6}, {0x372, 0x20}, {0x372, 0x4E}, {0x373, 0x70}, {0x371, 0x30}, {0x371, 0x75}};
    for (size_t i = 0; i + 1 < writes.size(); ++i) {
        ASSERT_EQ(writes[i], kick[i % 6]) << "write " << i;
    }
    EXPECT_EQ(writes.back(), (platform::RecordingIoPorts::Written{0x373, 0xB6}));

    // Everything back to "None"/"Disabled", drawn in dark green.
    std::lock_guard<std::mutex> lock(StatusLock);
    EXPECT_EQ(StatusAcquisition, Disabled());
    EXPECT_EQ(StatusStatistics, Disabled());
    for (int i = kStatusPortsOpen; i < kStatusCount; ++i) {
        const auto index = static_cast<StatusIndex>(i);
        EXPECT_EQ(StatusText(index), None()) << StatusLineOf(index).label;
        EXPECT_EQ(LastDrawnColour(index), kDarkGreen);
    }
}

TEST_F(Engine, PortsThatFailToOpenAreLoggedListedInRedAndReportNoData) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(
        dir_.path(), 15,
        {Port(1, "Thermo").WithDevice(pty.path()), Port(5).WithDevice(Path("no-such-device")),
         Port(6).WithDevice(pty.path())}));  // the same device again: busy
    Send(pty, 0, "x\n");
    EndPeriodAt(10, 15);

    const auto open = view_.DrawsOf(kStatusPortsOpen);
    const auto errors = view_.DrawsOf(kStatusPortErrors);
    ASSERT_EQ(open.size(), 3u);  // drawn after each open
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(open[0].text, "COM1");
    EXPECT_EQ(open[2].text, "COM1");
    EXPECT_EQ(open[2].colour, kDarkGreen);
    EXPECT_EQ(errors[0].text, "None");
    EXPECT_EQ(errors[0].colour, kDarkGreen);
    EXPECT_EQ(errors[1].text, "COM5");
    EXPECT_EQ(errors[1].colour, kRed);
    EXPECT_EQ(errors[2].text, "COM5,COM6");
    EXPECT_EQ(errors[2].colour, kRed);

    // Each specified entry is followed by the device and the system's reason.
    std::vector<std::string> messages = LogMessages(Log());
    ASSERT_GE(messages.size(), 5u);
    const std::string busy = "42  COM6 (" + pty.path() + ") cannot be used: ";
    EXPECT_EQ(messages[4].rfind(busy, 0), 0u) << messages[4];
    messages[4] = busy;  // its words (the lock or the device's exclusivity) vary
    const std::vector<std::string> expected = {
        "03  Data acquisition thread started.",
        "09  PortOpenMSWin32 error on COM5...No 8250 UART at the requested location.",
        "42  COM5 (" + Path("no-such-device") + ") cannot be used: No such file or directory.",
        "08  PortOpenMSWin32 error on COM6...Port already in use.",
        busy,
        "18  Dynamic memory reallocation: COM1 total size: 1024",
        "20  Disk I/O: Write to " + Path("2406110.P01") + ".",
        "21  No data received from COM5 during the period 10:07:30 to 10:15:00",
        "21  No data received from COM6 during the period 10:07:30 to 10:15:00",
    };
    EXPECT_EQ(messages, expected);
    // The same words go to the status file and the service's status text.
    const std::vector<std::string> failures = PortFailures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0], messages[2].substr(4, messages[2].size() - 5));
    EXPECT_EQ(failures[1].rfind(busy.substr(4), 0), 0u) << failures[1];
}

// A port refused for its line settings keeps its device open (it is closed
// at the stop) but yields no data: what its instrument sends is not read at
// whatever speed the device had before.
TEST_F(Engine, APortRefusedForItsLineSettingsYieldsNoData) {
    sim::PtyPair& refused = AddPty();
    sim::PtyPair& good = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(
        dir_.path(), 15,
        {Port(1).WithDevice(refused.path()).WithBaud(100000), Port(2).WithDevice(good.path())}));
    ASSERT_TRUE(refused.Write("not to be archived\n"));
    Send(good, 1, "kept\n");
    EndPeriodAt(10, 15);
    Stop();
    EXPECT_FALSE(std::filesystem::exists(Path("2406110.P01")));
    EXPECT_TRUE(std::filesystem::exists(Path("2406110.P02")));
    const std::vector<std::string> messages = LogMessages(Log());
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[1],
              "14  PortOpenMSWin32 error on COM1...Baud rate specified is not leagal for this "
              "driver.");
    EXPECT_EQ(messages[2],
              "42  COM1 (" + refused.path() +
                  ") cannot be used: Baud=100000 is not a rate the port open takes (1 to 57600, "
                  "115200, 128000, 230400, 256000, 460800, 921600; a Baud that is not a number "
                  "reads as 0).");
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "21  No data received from COM1 during the period 10:07:30 to 10:15:00"),
              messages.end());
}

TEST_F(Engine, WithNoPortOpenAcquisitionStillRunsItsPeriods) {
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 15, {Port(2).WithDevice(Path("missing"))}));
    EndPeriodAt(10, 15);
    const auto open = view_.DrawsOf(kStatusPortsOpen);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].text, "None");
    EXPECT_EQ(open[0].colour, kRed);
    const auto received = view_.DrawsOf(kStatusReceivedData);
    EXPECT_EQ(received.back().text, "None" + std::string(57, ' '));
    EXPECT_EQ(received.back().colour, kRed);
    EXPECT_NE(Log().find("  21  No data received from COM2 during the period 10:07:30 to 10:15:00"),
              std::string::npos);
}

TEST_F(Engine, AConfigurationWithoutPortsAcquiresNothingAndEndsCleanly) {
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 15, {}));
    EndPeriodAt(10, 15);
    Stop();
    const std::vector<std::string> expected = {"03  Data acquisition thread started.",
                                               "04  Data acquisition thread stopped."};
    EXPECT_EQ(LogMessages(Log()), expected);
}

TEST_F(Engine, RestartWithinTheHourAppendsANewStartBlockToTheReadOnlyFile) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Thermo").WithDevice(pty.path())}));
    Send(pty, 0, "one\n");
    SetTime(10, 10);
    Stop();
    EXPECT_TRUE(platform::IsReadOnly(Path("2406110.P01").c_str()));

    SetTime(10, 20);
    StartRun();
    Send(pty, 0, "two\n");
    SetTime(10, 25);
    Stop();
    EXPECT_EQ(File("2406110.P01"),
              "Thermo\n"
              "03/01/24 10:07:30:250 StartTime\none\n03/01/24 10:10:00:000 EndTime\n"
              "03/01/24 10:20:00:000 StartTime\ntwo\n03/01/24 10:25:00:000 EndTime\n");
    EXPECT_TRUE(platform::IsReadOnly(Path("2406110.P01").c_str()));
}

TEST_F(Engine, AnOutputDirectoryThatDisappearsAndComesBackLosesNothing) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Thermo").WithDevice(pty.path())}));
    Send(pty, 0, "one\n");
    const std::filesystem::path away = dir_.path() + "-away";
    std::filesystem::rename(dir_.path(), away);
    EndPeriodAt(10, 15);
    std::filesystem::rename(away, dir_.path());
    Send(pty, 0, "two\n");
    EndPeriodAt(10, 30);
    Send(pty, 0, "three\n");
    SetTime(10, 31);
    Stop();
    EXPECT_EQ(File("2406110.P01"),
              "Thermo\n03/01/24 10:07:30:250 StartTime\none\ntwo\nthree\n"
              "03/01/24 10:31:00:000 EndTime\n");
}

void* FailingRealloc(void*, size_t) {
    return nullptr;
}

TEST_F(Engine, AFailedGrowthLeavesTheBytesQueuedForTheNextPeriod) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(3, "Thermo").WithDevice(pty.path())}));
    SetPortBufferReallocator(FailingRealloc);
    const std::string text = Records(0, 60);
    ASSERT_GT(text.size(), 1024u);
    Send(pty, 0, text);
    EndPeriodAt(10, 15);
    const std::string log = Log();
    SetPortBufferReallocator(nullptr);
    const std::string first = File("2406110.P03");
    EXPECT_EQ(first, "Thermo\n03/01/24 10:07:30:250 StartTime\n" + text.substr(0, 512));
    EXPECT_NE(
        log.find("  17  Realloc error: NULL returned while allocating memory for PortBuffer[0]."),
        std::string::npos);
    EXPECT_EQ(log.find("  18  "), std::string::npos);  // the size never changed

    EndPeriodAt(10, 30);  // memory is back: the rest arrives with the next period
    Send(pty, 0, "tail\n");
    SetTime(10, 31);
    Stop();
    EXPECT_EQ(File("2406110.P03"), "Thermo\n03/01/24 10:07:30:250 StartTime\n" + text +
                                       "tail\n03/01/24 10:31:00:000 EndTime\n");
}

}  // namespace
}  // namespace engine_testing

namespace engine_testing {
namespace {

int g_allocations = 0;
void* FailFromTheFifth(size_t count, size_t size) {
    return ++g_allocations >= 5 ? nullptr : std::calloc(count, size);
}

// The fifth array the thread allocates is the PortBuffer table.
TEST(EngineDeathTest, APerPortArrayThatCannotBeAllocatedEndsTheProcessWithItsMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing_support::TempDir dir;
    EXPECT_EXIT(
        {
            com = testing_support::MakeTestConfig(
                dir.path(), 15, {testing_support::Port(1).WithDevice(dir.File("none"))});
            SetDynamicArrayAllocator(FailFromTheFifth, nullptr);
            StartAcquisitionThread(nullptr);
            StopAcquisitionThread();  // the thread ends the process first
        },
        ::testing::ExitedWithCode(255),
        "^Memory allocation error for array PortBuffer "
        "inCDataAcquisitionThread::CDataAcquisitionThread\\(\\)\\.\n");
}

}  // namespace
}  // namespace engine_testing
