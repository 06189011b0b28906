#include "acquisition/watchdog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log_file.h"
#include "platform/fake_clock.h"
#include "platform/ioport.h"
#include "support/temp_dir.h"

namespace {

using platform::RecordingIoPorts;
using Writes = std::vector<RecordingIoPorts::Written>;

class WatchDog : public ::testing::Test {
protected:
    WatchDog() : clock_(platform::FakeClock::EpochMs(2024, 3, 1, 12)), clock_scope_(clock_) {
        ResetWatchDogTimerAccess(dir_.path().c_str());
    }
    std::string Log() {
        return testing_support::ReadFile(LogFilePath(dir_.path().c_str(), clock_.Now()));
    }

    testing_support::TempDir dir_;
    platform::FakeClock clock_;
    platform::ClockScope clock_scope_;
};

TEST_F(WatchDog, KickArmsBothCountersAndStopHaltsCounterTwo) {
    RecordingIoPorts ports;
    platform::IoPortsScope scope(ports);
    KickWatchDogTimer(0x370, 30000);
    StopWatchDogTimer(0x370);
    const Writes expected = {{0x373, 0xB6}, {0x372, 0x20}, {0x372, 0x4E}, {0x373, 0x70},
                             {0x371, 0x30}, {0x371, 0x75}, {0x373, 0xB6}};
    EXPECT_EQ(ports.Writes(), expected);
    EXPECT_EQ(ports.AccessRequests(), 1);  // asked once, for the whole run
    EXPECT_EQ(Log(), "");
}

TEST_F(WatchDog, CountBytesComeLowThenHigh) {
    RecordingIoPorts ports;
    platform::IoPortsScope scope(ports);
    KickWatchDogTimer(0x200, 0x1234);
    const Writes writes = ports.Writes();
    ASSERT_EQ(writes.size(), 6u);
    EXPECT_EQ(writes[4], (RecordingIoPorts::Written{0x201, 0x34}));
    EXPECT_EQ(writes[5], (RecordingIoPorts::Written{0x201, 0x12}));
}

TEST_F(WatchDog, NoAddressMeansNoWriteAndNoAccessRequest) {
    RecordingIoPorts ports;
    platform::IoPortsScope scope(ports);
    for (int base : {0, -5}) {
        KickWatchDogTimer(base, 30000);
        StopWatchDogTimer(base);
    }
    EXPECT_TRUE(ports.Writes().empty());
    EXPECT_EQ(ports.AccessRequests(), 0);
}

TEST_F(WatchDog, RefusedAccessIsLoggedOncePerRunAndNothingIsWritten) {
    RecordingIoPorts ports(/*grant=*/false);
    platform::IoPortsScope scope(ports);
    for (int i = 0; i < 3; ++i) {
        KickWatchDogTimer(0x370, 30000);
    }
    StopWatchDogTimer(0x370);
    EXPECT_TRUE(ports.Writes().empty());
    std::string log = Log();
    const std::string entry =
        "29  Watchdog timer ports 371h-373h cannot be written (access refused by the test)"
        "...acquisition continues without the watchdog.";
    EXPECT_NE(log.find(entry), std::string::npos) << log;
    EXPECT_EQ(log.find("  29  "), log.rfind("  29  "));

    ResetWatchDogTimerAccess(dir_.path().c_str());  // a new run asks (and logs) again
    KickWatchDogTimer(0x370, 30000);
    log = Log();
    EXPECT_NE(log.find("  29  "), log.rfind("  29  "));
    EXPECT_EQ(ports.AccessRequests(), 2);
}

}  // namespace
