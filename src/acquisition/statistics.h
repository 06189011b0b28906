// Diagnostic statistics of one period: each port with DoStats has its text cut
// into records and tokens, and the configured token positions summarised as
// rows of the hour's statistics file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>

#include "acquisition/statistics_analysis.h"
#include "config/com_config.h"
#include "platform/files.h"

// What the period flush hands over.
struct StatisticsPeriod {
    std::tm file_name_time;  // UTC time at which the period's polling began (names the file)
    int64_t period_start;    // PeriodStartTime, UTC seconds
    int64_t period_end;      // NextWriteTime (the moment of the stop after a stop request)
};

// Runs the statistics of one period into the statistics file of the hour in
// config.OutputDriveAndPath: log entry 24, the header block, the rows of every
// port with DoStats (in port position order). buffers[p] holds lengths[p]
// received bytes of port position p followed by a zero byte; the buffers may
// be changed (cut after their last record). Returns 0, or -1 when the
// statistics file could not be opened or written (logged as code 19; the
// file is then as it was): the block is kept, and appended before anything
// newer at the next statistics run that can write its file.
// With `sources`, a port whose entry is not null has its text read from
// there, in pieces, instead of its buffer (a long period kept in the journal).
int CalculateDiagnosticStatistics(const ComConfig& config, const StatisticsPeriod& period,
                                  const char* const* buffers, const int32_t* lengths,
                                  platform::AppendSource* const* sources = nullptr);

// Told of every statistics row as it is made, on the thread that runs the
// statistics: the port, its period and the row's numbers. One observer at a
// time (null: none).
struct StatisticsRowReport {
    int port_number = 0;
    const char* instrument = "";
    const char* label = "";
    int64_t period_start = 0;  // calendar seconds
    int64_t period_end = 0;
    StatisticsRow row;
};
class StatisticsRowObserver {
public:
    virtual ~StatisticsRowObserver() = default;
    virtual void OnStatisticsRow(const StatisticsRowReport& row) = 0;
};
void SetStatisticsRowObserver(std::shared_ptr<StatisticsRowObserver> observer);

// Statistics blocks kept because their file could not be written.
size_t KeptStatisticsBlocks();
// Drops them all, and the undos owed to statistics files, as the end of the
// process does (tests that play a crash).
void ForgetKeptStatisticsBlocks();
