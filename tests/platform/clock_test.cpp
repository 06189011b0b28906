#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"
#include "platform/fake_clock.h"

namespace {

using platform::BreakDownUtc;
using platform::FakeClock;

TEST(BreakDownUtc, CalendarEdges) {
    struct Case {
        int64_t seconds;
        int year, month, day, hour, minute, second, yday, wday;
    };
    const Case cases[] = {
        {0, 1970, 1, 1, 0, 0, 0, 0, 4},                   // Thursday
        {951782400, 2000, 2, 29, 0, 0, 0, 59, 2},         // leap day of a century leap year
        {978307199, 2000, 12, 31, 23, 59, 59, 365, 0},    // day 366
        {978652800, 2001, 1, 5, 0, 0, 0, 4, 5},           // day 5 of 2001
        {4107542399, 2100, 2, 28, 23, 59, 59, 58, 0},     // 2100 is not a leap year
        {4107542400, 2100, 3, 1, 0, 0, 0, 59, 1},
    };
    for (const Case& c : cases) {
        const std::tm tm = BreakDownUtc(c.seconds);
        EXPECT_EQ(tm.tm_year + 1900, c.year) << c.seconds;
        EXPECT_EQ(tm.tm_mon + 1, c.month) << c.seconds;
        EXPECT_EQ(tm.tm_mday, c.day) << c.seconds;
        EXPECT_EQ(tm.tm_hour, c.hour) << c.seconds;
        EXPECT_EQ(tm.tm_min, c.minute) << c.seconds;
        EXPECT_EQ(tm.tm_sec, c.second) << c.seconds;
        EXPECT_EQ(tm.tm_yday, c.yday) << c.seconds;
        EXPECT_EQ(tm.tm_wday, c.wday) << c.seconds;
    }
}

TEST(BreakDownUtc, RoundTripsThroughSystemTimeForEveryDayOfFourCenturies) {
    for (int64_t s = -86400LL * 365 * 70; s < 86400LL * 365 * 330; s += 86400 + 3607) {
        const platform::SystemTime st = platform::ToSystemTime(s, 123);
        ASSERT_EQ(platform::ToCalendarSeconds(st), s);
        ASSERT_EQ(st.wMilliseconds, 123);
    }
}

TEST(FakeClock, ReadingsAgreeAndMoveOnlyWhenTold) {
    FakeClock clock(FakeClock::EpochMs(1997, 5, 3, 23, 59, 59, 999));
    platform::ClockScope scope(clock);
    EXPECT_EQ(platform::Now(), FakeClock::EpochMs(1997, 5, 3, 23, 59, 59) / 1000);
    platform::SystemTime st = platform::UtcNow();
    EXPECT_EQ(st.wYear, 1997);
    EXPECT_EQ(st.wMonth, 5);
    EXPECT_EQ(st.wDay, 3);
    EXPECT_EQ(st.wMilliseconds, 999);
    EXPECT_EQ(st.wDayOfWeek, 6);  // a Saturday
    const uint32_t tick = platform::TickCount();
    EXPECT_EQ(platform::TickCount(), tick);

    clock.AdvanceMs(1);
    st = platform::UtcNow();
    EXPECT_EQ(st.wDay, 4);
    EXPECT_EQ(st.wHour, 0);
    EXPECT_EQ(st.wMilliseconds, 0);
    EXPECT_EQ(platform::TickCount(), tick + 1);
}

TEST(FakeClock, AutoAdvanceMovesEveryTickReading) {
    FakeClock clock(FakeClock::EpochMs(2024, 1, 1));
    clock.SetAutoAdvanceMs(10);
    const uint32_t first = clock.TickCount();
    EXPECT_EQ(clock.TickCount(), first + 10);
    EXPECT_EQ(clock.EpochMsNow(), FakeClock::EpochMs(2024, 1, 1) + 20);
}

TEST(FakeClock, InstallingIsSeenByOtherThreads) {
    FakeClock clock(FakeClock::EpochMs(2030, 6, 1, 12));
    int64_t seen = 0;
    {
        platform::ClockScope scope(clock);
        std::thread reader([&] { seen = platform::Now(); });
        reader.join();
    }
    EXPECT_EQ(seen, FakeClock::EpochMs(2030, 6, 1, 12) / 1000);
    EXPECT_NE(platform::Now(), seen);  // the system clock is back
}

}  // namespace
