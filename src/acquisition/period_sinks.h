// The engine's own period sinks: the data files and the statistics files,
// and a sink made of a function, for what the engine itself does at a period
// end (the summary of the ports' losses).
#pragma once

#include <functional>
#include <utility>

#include "acquisition/data_files.h"
#include "acquisition/period_sink.h"
#include "config/com_config.h"

// Each port's text into the data file of its hour (DataFileWriter::WritePort).
// It must come first: a long period's text is read back from the journal
// only once the writer has taken the period.
class DataFilesSink final : public PeriodSink {
public:
    explicit DataFilesSink(DataFileWriter& writer) : writer_(writer) {}
    void TakePeriod(const EndedPeriod& period) override;

private:
    DataFileWriter& writer_;
};

// The statistics block of the period, for the ports with DoStats.
class StatisticsSink final : public PeriodSink {
public:
    explicit StatisticsSink(const ComConfig& config) : config_(config) {}
    void TakePeriod(const EndedPeriod& period) override;

private:
    const ComConfig& config_;
};

class FunctionSink final : public PeriodSink {
public:
    explicit FunctionSink(std::function<void(const EndedPeriod&)> take) : take_(std::move(take)) {}
    void TakePeriod(const EndedPeriod& period) override { take_(period); }

private:
    std::function<void(const EndedPeriod&)> take_;
};
