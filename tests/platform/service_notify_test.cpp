// The notify protocol against a real datagram socket that the test binds, as
// a service manager does.
#include "platform/service_notify.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/fake_clock.h"
#include "support/notify_listener.h"

namespace {

using testing_support::NotifyListener;

TEST(ServiceNotify, EachMessageReachesAPathOrAnAbstractSocketAsOneDatagram) {
    for (auto kind : {NotifyListener::Kind::kPath, NotifyListener::Kind::kAbstract}) {
        NotifyListener manager(kind);
        ASSERT_TRUE(manager.ok()) << manager.name();
        SCOPED_TRACE(manager.name());
        EXPECT_EQ(platform::NotifyServiceManager("READY=1"), 1);
        EXPECT_EQ(platform::NotifyServiceManager("STATUS=Data acquisition: Enabled\nX=1"), 1);
        EXPECT_EQ(manager.Pending(), "READY=1");
        EXPECT_EQ(manager.Pending(), "STATUS=Data acquisition: Enabled\nX=1");
        EXPECT_EQ(manager.Pending(), std::nullopt);
    }
}

TEST(ServiceNotify, WithoutASocketNothingIsSentAndNothingFails) {
    unsetenv("NOTIFY_SOCKET");
    EXPECT_EQ(platform::NotifyServiceManager("READY=1"), 0);
    setenv("NOTIFY_SOCKET", "", 1);
    EXPECT_EQ(platform::NotifyServiceManager("READY=1"), 0);
    // A socket kind this program does not speak, and a socket nobody bound.
    setenv("NOTIFY_SOCKET", "vsock:2:1234", 1);
    EXPECT_LT(platform::NotifyServiceManager("READY=1"), 0);
    setenv("NOTIFY_SOCKET", "/nonexistent/quorvane/notify", 1);
    EXPECT_LT(platform::NotifyServiceManager("READY=1"), 0);
    unsetenv("NOTIFY_SOCKET");
}

class ServiceWatchdog : public ::testing::Test {
protected:
    ServiceWatchdog() { platform::ResetServiceWatchdog(); }
    ~ServiceWatchdog() override { platform::ResetServiceWatchdog(); }

    platform::FakeClock clock_{platform::FakeClock::EpochMs(2024, 3, 1)};
    platform::ClockScope scope_{clock_};
    NotifyListener manager_;
};

TEST_F(ServiceWatchdog, KicksAreSentAtOnceThenAtMostEveryQuarterInterval) {
    ASSERT_TRUE(manager_.ok());
    setenv("WATCHDOG_USEC", "2000000", 1);
    EXPECT_EQ(platform::ServiceWatchdogIntervalMs(), 2000);
    platform::KickServiceWatchdog();
    EXPECT_EQ(manager_.Pending(), "WATCHDOG=1");
    for (int pass = 0; pass < 1000; ++pass) {
        platform::KickServiceWatchdog();  // passes within the same millisecond
    }
    clock_.AdvanceMs(499);
    platform::KickServiceWatchdog();
    EXPECT_EQ(manager_.Pending(), std::nullopt);
    clock_.AdvanceMs(1);
    platform::KickServiceWatchdog();
    platform::KickServiceWatchdog();
    EXPECT_EQ(manager_.Pending(), "WATCHDOG=1");
    EXPECT_EQ(manager_.Pending(), std::nullopt);
    // A stalled loop sends nothing, however long it stalls; the next pass does.
    clock_.AdvanceMs(60000);
    EXPECT_EQ(manager_.Pending(), std::nullopt);
    platform::KickServiceWatchdog();
    EXPECT_EQ(manager_.Pending(), "WATCHDOG=1");
}

TEST_F(ServiceWatchdog, NoKickWithoutAWatchdogOrWhenItWatchesAnotherProcess) {
    ASSERT_TRUE(manager_.ok());
    platform::KickServiceWatchdog();
    EXPECT_EQ(manager_.Pending(), std::nullopt) << "no WATCHDOG_USEC";

    setenv("WATCHDOG_USEC", "1000000", 1);
    setenv("WATCHDOG_PID", std::to_string(getpid() + 1).c_str(), 1);
    platform::ResetServiceWatchdog();
    platform::KickServiceWatchdog();
    EXPECT_EQ(manager_.Pending(), std::nullopt) << "another process is watched";

    setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    platform::ResetServiceWatchdog();
    platform::KickServiceWatchdog();
    EXPECT_EQ(manager_.Pending(), "WATCHDOG=1");

    for (const char* bad : {"", "0", "-5", "12x"}) {
        setenv("WATCHDOG_USEC", bad, 1);
        EXPECT_EQ(platform::ServiceWatchdogIntervalMs(), 0) << bad;
    }
}

}  // namespace
