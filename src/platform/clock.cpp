#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace platform {
namespace {

class SystemClock final : public Clock {
public:
    int64_t Now() override {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }
    SystemTime UtcNow() override {
        using namespace std::chrono;
        const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
        return ToSystemTime(ms / 1000, static_cast<int>(ms % 1000));
    }
    uint32_t TickCount() override {
        using namespace std::chrono;
        const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        return static_cast<uint32_t>(ms);
    }
};

SystemClock system_clock_instance;
std::atomic<Clock*> installed_clock{nullptr};

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

Clock& CurrentClock() {
    Clock* clock = installed_clock.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : system_clock_instance;
}

void SetClock(Clock* clock) { installed_clock.store(clock, std::memory_order_release); }

int64_t SteadyMs::Now() {
    const uint32_t tick = TickCount();
    ms_ = started_ ? ms_ + static_cast<uint32_t>(tick - last_tick_) : tick;
    started_ = true;
    last_tick_ = tick;
    return ms_;
}

std::tm BreakDownUtc(int64_t seconds) {
    // Computed by hand: gmtime is not thread-safe and gmtime_r is not everywhere.
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2);

    std::tm tm{};
    tm.tm_year = static_cast<int>(year - 1900);
    tm.tm_mon = static_cast<int>(month - 1);
    tm.tm_mday = static_cast<int>(day);
    tm.tm_hour = static_cast<int>(rest / 3600);
    tm.tm_min = static_cast<int>(rest % 3600 / 60);
    tm.tm_sec = static_cast<int>(rest % 60);
    tm.tm_yday = static_cast<int>(days - DaysFromCivil(year, 1, 1));
    tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return tm;
}

SystemTime ToSystemTime(int64_t seconds, int milliseconds) {
    const std::tm tm = BreakDownUtc(seconds);
    SystemTime st{};
    st.wYear = static_cast<uint16_t>(tm.tm_year + 1900);
    st.wMonth = static_cast<uint16_t>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    st.wDay = static_cast<uint16_t>(tm.tm_mday);
    st.wHour = static_cast<uint16_t>(tm.tm_hour);
    st.wMinute = static_cast<uint16_t>(tm.tm_min);
    st.wSecond = static_cast<uint16_t>(tm.tm_sec);
    st.wMilliseconds = static_cast<uint16_t>(milliseconds);
    return st;
}

int64_t ToCalendarSeconds(const SystemTime& time) {
    return DaysFromCivil(time.wYear, time.wMonth, time.wDay) * 86400 + time.wHour * 3600 +
           time.wMinute * 60 + time.wSecond;
}

}  // namespace platform
