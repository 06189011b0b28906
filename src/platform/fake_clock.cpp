#include "platform/fake_clock.h"

#include "platform/comm.h"

namespace platform {
namespace {
int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
}  // namespace

int64_t FakeClock::EpochMs(int year, int month, int day, int hour, int minute, int second,
                           int millisecond) {
    SystemTime st{};
    st.wYear = static_cast<uint16_t>(year);
    st.wMonth = static_cast<uint16_t>(month);
    st.wDay = static_cast<uint16_t>(day);
    st.wHour = static_cast<uint16_t>(hour);
    st.wMinute = static_cast<uint16_t>(minute);
    st.wSecond = static_cast<uint16_t>(second);
    return ToCalendarSeconds(st) * 1000 + millisecond;
}

void FakeClock::Moved() {
    WakeCommWaiters();
}

int64_t FakeClock::Now() {
    return FloorDiv(epoch_ms_.load(), 1000);
}

SystemTime FakeClock::UtcNow() {
    const int64_t ms = epoch_ms_.load();
    return ToSystemTime(FloorDiv(ms, 1000), static_cast<int>(ms - FloorDiv(ms, 1000) * 1000));
}

uint32_t FakeClock::TickCount() {
    const int64_t step = auto_advance_ms_.load();
    if (step == 0) {
        return static_cast<uint32_t>(tick_ms_.load());
    }
    epoch_ms_.fetch_add(step);
    return static_cast<uint32_t>(tick_ms_.fetch_add(step) + step);
}

}  // namespace platform
