// A clock that only moves when told to. Tests install it with platform::SetClock
// (or the FakeClockScope helper) and step through hours, days and years at will.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace platform {

class FakeClock final : public Clock {
public:
    // Starts at the given calendar time in milliseconds since 1970 (UTC).
    // The tick counter starts at the same count.
    explicit FakeClock(int64_t epoch_ms = 0) : epoch_ms_(epoch_ms), tick_ms_(epoch_ms) {}

    // Calendar time from a UTC date.
    static int64_t EpochMs(int year, int month, int day, int hour = 0, int minute = 0,
                           int second = 0, int millisecond = 0);

    // Moving the clock ends the waits of the comm layer, as a deadline that
    // has come would.
    //
    // The tick counter counts time passing, as a machine's steady clock does,
    // and never runs back: the calendar moved on takes it along, the calendar
    // set back leaves it where it is.
    void SetEpochMs(int64_t epoch_ms) {
        const int64_t before = epoch_ms_.exchange(epoch_ms);
        if (epoch_ms > before) {
            tick_ms_.fetch_add(epoch_ms - before);
        }
        Moved();
    }
    void Set(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
             int millisecond = 0) {
        SetEpochMs(EpochMs(year, month, day, hour, minute, second, millisecond));
    }
    void AdvanceMs(int64_t ms) {
        epoch_ms_.fetch_add(ms);
        tick_ms_.fetch_add(ms);
        Moved();
    }
    // The calendar is set, forward or back, by hand or by a time service: no
    // time passes, and the tick counter stays where it is.
    void StepCalendarMs(int64_t ms) {
        epoch_ms_.fetch_add(ms);
        Moved();
    }
    int64_t EpochMsNow() const { return epoch_ms_.load(); }

    // Every TickCount() reading moves the clock on by `ms`, so code that waits
    // for a deadline on the tick counter reaches it without real waiting.
    void SetAutoAdvanceMs(int64_t ms) { auto_advance_ms_.store(ms); }

    int64_t Now() override;
    SystemTime UtcNow() override;
    uint32_t TickCount() override;

private:
    static void Moved();

    std::atomic<int64_t> epoch_ms_;
    std::atomic<int64_t> tick_ms_;
    std::atomic<int64_t> auto_advance_ms_{0};
};

// Installs a clock for the lifetime of the scope.
class ClockScope {
public:
    explicit ClockScope(Clock& clock) { SetClock(&clock); }
    ~ClockScope() { SetClock(nullptr); }
    ClockScope(const ClockScope&) = delete;
    ClockScope& operator=(const ClockScope&) = delete;
};

}  // namespace platform
