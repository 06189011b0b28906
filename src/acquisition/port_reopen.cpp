#include "acquisition/port_reopen.h"

#include <algorithm>

#include "serial/port.h"

bool OpenFailureIsRetried(int status) {
    return status == PORT_ERR_BAD_PORT || status == PORT_ERR_IN_USE || status == PORT_ERR_NO_UART ||
           status == PORT_ERR_GENERAL;
}

void ReopenSchedule::Lost(int64_t now_ms) {
    waiting_ = true;
    lost_at_ms_ = now_ms;
    interval_ms_ = kFirstTryMs;
    next_try_ms_ = now_ms + interval_ms_;
    ++losses_;
}

void ReopenSchedule::Failed(int64_t now_ms) {
    interval_ms_ = std::min(interval_ms_ * 2, kLongestIntervalMs);
    next_try_ms_ = now_ms + interval_ms_;
}

int64_t ReopenSchedule::Reopened(int64_t now_ms) {
    waiting_ = false;
    return std::max<int64_t>(0, (now_ms - lost_at_ms_) / 1000);
}

int64_t ReopenSchedule::TakeUnloggedLosses() {
    const int64_t unlogged = std::max(0, losses_ - kLoggedLossesPerPeriod);
    losses_ = 0;
    return unlogged;
}
