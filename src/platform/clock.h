// The one clock of the program. Everything that needs the time reads it here,
// so tests can install a FakeClock and run hours and days without waiting.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Broken-down UTC time with milliseconds, laid out like the Windows SYSTEMTIME
// record: eight 16-bit fields, 16 bytes.
struct SystemTime {
    uint16_t wYear;
    uint16_t wMonth;      // 1..12
    uint16_t wDayOfWeek;  // 0 = Sunday
    uint16_t wDay;        // 1..31
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(SystemTime) == 16, "SystemTime must keep the 16-byte layout");

class Clock {
public:
    virtual ~Clock() = default;
    // Calendar time: whole seconds since 1970-01-01 00:00:00 UTC.
    virtual int64_t Now() = 0;
    // Current UTC time with milliseconds.
    virtual SystemTime UtcNow() = 0;
    // Milliseconds since an arbitrary start; wraps at 2^32 like GetTickCount.
    virtual uint32_t TickCount() = 0;
};

// The clock in force: the system clock unless a test installed another one.
Clock& CurrentClock();
// Installs `clock` for the whole process; nullptr restores the system clock.
// The caller keeps ownership and must keep the clock alive while installed.
void SetClock(Clock* clock);

// Shorthands for CurrentClock().Now() and friends.
inline int64_t Now() { return CurrentClock().Now(); }
inline SystemTime UtcNow() { return CurrentClock().UtcNow(); }
inline uint32_t TickCount() { return CurrentClock().TickCount(); }

// The tick counter widened to 64 bits: milliseconds of time passing, which
// setting the calendar does not move, without the wrap every 49 days. Each
// user keeps its own and reads it at least once in that time.
class SteadyMs {
public:
    int64_t Now();

private:
    bool started_ = false;
    uint32_t last_tick_ = 0;
    int64_t ms_ = 0;
};

// Calendar seconds to broken-down UTC (tm_yday counts from 0).
std::tm BreakDownUtc(int64_t seconds);
// Calendar seconds (plus milliseconds) to a SystemTime.
SystemTime ToSystemTime(int64_t seconds, int milliseconds = 0);
// A SystemTime back to calendar seconds (milliseconds dropped).
int64_t ToCalendarSeconds(const SystemTime& time);

}  // namespace platform
