// When a port whose device has gone away, or was missing or busy at the
// start, is opened again: a second after, then at doubling intervals of at
// most ten seconds, for as long as it takes. And how often a port came and
// went in a period, so that a flapping device does not flood the log.
// Its times are milliseconds of time passing (platform::SteadyMs), never the
// calendar: a clock set back would put the next try off by as much.
#pragma once

#include <cstdint>

// Whether a port that failed to open at the start is tried again: a missing
// or busy device (or a general failure) may come back; a port refused for
// its line settings would be refused again.
bool OpenFailureIsRetried(int status);

class ReopenSchedule {
public:
    static constexpr int64_t kFirstTryMs = 1000;
    static constexpr int64_t kLongestIntervalMs = 10000;
    // Losses a period logs one by one; the rest are summed up at its end.
    static constexpr int kLoggedLossesPerPeriod = 10;

    // The device went away (or was not there) at `now_ms`.
    void Lost(int64_t now_ms);
    // Whether a try is due at `now_ms`.
    bool Due(int64_t now_ms) const { return waiting_ && now_ms >= next_try_ms_; }
    // A try that failed: the next one comes later.
    void Failed(int64_t now_ms);
    // The port is open again; returns how long it was gone, in seconds.
    int64_t Reopened(int64_t now_ms);
    bool waiting() const { return waiting_; }
    int64_t next_try_ms() const { return next_try_ms_; }

    // Losses of this period: whether this one is logged, and how many were
    // not; the period's end takes that count and starts again.
    bool LossIsLogged() const { return losses_ <= kLoggedLossesPerPeriod; }
    int64_t TakeUnloggedLosses();

private:
    bool waiting_ = false;
    int64_t lost_at_ms_ = 0;
    int64_t next_try_ms_ = 0;
    int64_t interval_ms_ = kFirstTryMs;
    int losses_ = 0;  // in this period
};
