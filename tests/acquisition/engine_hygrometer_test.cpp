// The hygrometer exchange at start and on the hour, and the header and start
// times it gives the data files.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "archived_text.h"
#include "support/engine_harness.h"

namespace engine_testing {
namespace {

using testing_support::Port;

class EngineHygrometer : public EngineTest {};

TEST_F(EngineHygrometer, ExchangesAtStartAndOnTheHourHeadTheNextFiles) {
    sim::PtyPair& thermo = AddPty();
    PtyHygrometer hygrometer(clock_);
    SetTime(10, 50, 0, 0);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Thermo").WithDevice(thermo.path()),
                                           Port(2, "Ophir")
                                               .WithDevice(hygrometer.path())
                                               .WithStartup(INIT_GETOPHIRCONSTANTS)
                                               .WithAcquisition(INIT_GETOPHIRCONSTANTS)}));
    EXPECT_EQ(hygrometer.exchanges(), 1);

    Send(thermo, 0, "t1\n");
    Send(hygrometer.pty(), 1, "h1\n");
    EndPeriodAt(11, 0);  // on the hour: a second exchange
    EXPECT_EQ(hygrometer.exchanges(), 2);
    Send(thermo, 0, "t2\n");
    Send(hygrometer.pty(), 1, "h2\n");
    EndPeriodAt(11, 15);  // not on the hour: none
    Stop();
    EXPECT_EQ(hygrometer.exchanges(), 2);

    const std::string first = PtyHygrometer::EngineeringReply(1) + PtyHygrometer::HumidityReply(1);
    const std::string second = PtyHygrometer::EngineeringReply(2) + PtyHygrometer::HumidityReply(2);
    // Start-up: the exchange ended at 10:50:01.500, and polling began then.
    EXPECT_EQ(File("2406110.P02"), "Ophir\n" + first +
                                       "03/01/24 10:50:01:500 StartTime\nh1\n"
                                       "03/01/24 11:00:00:000 EndTime\n");
    EXPECT_EQ(File("2406110.P01"),
              "Thermo\n03/01/24 10:50:01:500 StartTime\nt1\n03/01/24 11:00:00:000 EndTime\n");
    // The hour's exchange ended at 11:00:01.500: the hygrometer's next period
    // starts there, the other port's where its drain ended.
    EXPECT_EQ(File("2406111.P02"), "Ophir\n" + second + "03/01/24 11:00:01:500 StartTime\nh2\n");
    EXPECT_EQ(File("2406111.P01"), "Thermo\n03/01/24 11:00:00:000 StartTime\nt2\n");

    const std::vector<std::string> expected = {
        "10:50:00:000  03  Data acquisition thread started.",
        "10:50:00:000  26  Acquiring Ophir humidity and engineering constants.",
        "11:00:00:000  18  Dynamic memory reallocation: COM1 total size: 1024",
        "11:00:00:000  18  Dynamic memory reallocation: COM2 total size: 1024",
        "11:00:00:000  26  Acquiring Ophir humidity and engineering constants.",
        "11:00:01:500  20  Disk I/O: Write to " + dir_.File("2406110.P01") + ".",
        "11:00:01:500  20  Disk I/O: Write to " + dir_.File("2406110.P02") + ".",
        "11:15:00:000  20  Disk I/O: Write to " + dir_.File("2406111.P01") + ".",
        "11:15:00:000  20  Disk I/O: Write to " + dir_.File("2406111.P02") + ".",
        "11:15:00:000  21  No data received from COM1 during the period 11:15:00 to 11:15:00",
        "11:15:00:000  21  No data received from COM2 during the period 11:15:00 to 11:15:00",
        "11:15:00:000  04  Data acquisition thread stopped.",
    };
    std::vector<std::string> lines;
    for (const std::string& line : LogLines(Log())) {
        lines.push_back(line.substr(9));  // without the date
    }
    EXPECT_EQ(lines, expected);
}

// Two hygrometers: each port's files get its own instrument's constants, and
// each port's next period starts where its own exchange ended.
TEST_F(EngineHygrometer, EachHygrometerHeadsItsOwnFiles) {
    PtyHygrometer a(clock_, "A");
    PtyHygrometer b(clock_, "B");
    SetTime(10, 50, 0, 0);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Ophir A")
                                               .WithDevice(a.path())
                                               .WithStartup(INIT_GETOPHIRCONSTANTS)
                                               .WithAcquisition(INIT_GETOPHIRCONSTANTS),
                                           Port(2, "Ophir B")
                                               .WithDevice(b.path())
                                               .WithStartup(INIT_GETOPHIRCONSTANTS)
                                               .WithAcquisition(INIT_GETOPHIRCONSTANTS)}));
    Send(a.pty(), 0, "a1\n");
    Send(b.pty(), 1, "b1\n");
    EndPeriodAt(11, 0);  // both asked again, A first
    Send(a.pty(), 0, "a2\n");
    Send(b.pty(), 1, "b2\n");
    EndPeriodAt(11, 15);
    Stop();

    auto header = [](const std::string& name, int exchange) {
        return name + PtyHygrometer::EngineeringReply(exchange) + name +
               PtyHygrometer::HumidityReply(exchange);
    };
    // At the start A's exchange ended at 10:50:01.500 and B's at 10:50:03.
    EXPECT_EQ(File("2406110.P01"), "Ophir A\n" + header("A", 1) +
                                       "03/01/24 10:50:03:000 StartTime\na1\n"
                                       "03/01/24 11:00:00:000 EndTime\n");
    EXPECT_EQ(File("2406110.P02"), "Ophir B\n" + header("B", 1) +
                                       "03/01/24 10:50:03:000 StartTime\nb1\n"
                                       "03/01/24 11:00:00:000 EndTime\n");
    EXPECT_EQ(File("2406111.P01"),
              "Ophir A\n" + header("A", 2) + "03/01/24 11:00:01:500 StartTime\na2\n");
    EXPECT_EQ(File("2406111.P02"),
              "Ophir B\n" + header("B", 2) + "03/01/24 11:00:03:000 StartTime\nb2\n");
}

// Five hygrometers that never answer hold the flush on the hour for 75 s,
// longer than the 1-minute period. The other port is read all the while: while
// the first exchange waits, it delivers four times what its receive queue
// holds, with a writer that waits when the line is full. Everything it sent is
// in its files, nothing is reported lost, and the long flush is not taken for
// a clock step.
TEST_F(EngineHygrometer, SilentHygrometersStallNeitherReceptionNorTheSchedule) {
    sim::PtyPair& stream = AddPty();
    std::vector<testing_support::TestPort> ports{Port(1, "Stream").WithDevice(stream.path())};
    std::vector<sim::PtyPair*> hygrometers;
    for (int h = 0; h < 5; ++h) {
        hygrometers.push_back(&AddPty());
        ports.push_back(Port(2 + h, "Ophir")
                            .WithDevice(hygrometers.back()->path())
                            .WithAcquisition(INIT_GETOPHIRCONSTANTS));
    }
    SetTime(10, 59, 30);
    Start(testing_support::MakeTestConfig(dir_.path(), 1, ports));
    Send(stream, 0, "before\r");

    // The flush on the hour: the first exchange waits for an answer on a
    // clock that stands still until the burst is in.
    SetTime(11, 0);
    // The burst begins once the first exchange has asked: what a pass reads
    // before the flush begins belongs to the ending period.
    std::string query;
    for (int tries = 0; query.empty() && tries < 300; ++tries) {
        query = hygrometers.front()->Read(100);
    }
    ASSERT_FALSE(query.empty()) << "the hourly exchange did not begin";
    const std::string burst = Records(1, 4 * 65000);
    std::thread writer([&] { EXPECT_TRUE(stream.Write(burst)); });
    const bool received = probe_.WaitForReceived(0, static_cast<int64_t>(7 + burst.size()));
    clock_.SetAutoAdvanceMs(50);  // now the exchanges' time-outs pass
    writer.join();
    ASSERT_TRUE(received) << "the port was not read while an exchange waited\n" << Log();
    ASSERT_TRUE(probe_.WaitForFlushes(1));
    clock_.SetAutoAdvanceMs(0);
    Stop();

    const std::string log = Log();
    EXPECT_EQ(LinesWithCodes(log, {"27"}).size(), 5u);
    EXPECT_TRUE(LinesWithCodes(log, {"16", "31", "36"}).empty()) << log;
    EXPECT_EQ(ArchivedText(File("2406110.P01")), "before\r");
    EXPECT_TRUE(ArchivedText(File("2406111.P01")) == burst);
}

}  // namespace
}  // namespace engine_testing
