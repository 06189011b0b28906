// Where a period's text leaves the engine: at each period end the engine
// hands the period (its times, and each port's text) to an ordered list of
// sinks. The data files come first, then the summary of the ports' losses,
// then the statistics. A new consumer is a sink of its own: a class with
// TakePeriod, and one line where the engine lists its sinks
// (AcquisitionRun's constructor), or AcquisitionRun::AddPeriodSink.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "acquisition/data_files.h"
#include "platform/files.h"

// One ended period, valid while the sinks take it. What arrives at the ports
// meanwhile is held for the next period.
struct EndedPeriod {
    std::tm file_name_time{};   // names the files: when the period's polling began
    int64_t start = 0;          // calendar seconds
    int64_t end = 0;            // the scheduled end (the stop, after a stop request)
    bool first_flush = false;   // the first period end since acquisition started
    bool end_marker_due = false;  // stopping, or the scheduled end is minute 0 of an hour
    // Each port's text, by position: what memory holds of it, and for a
    // period too long for memory its whole length and first and last bytes.
    std::vector<PortPeriodText> ports;
    std::vector<LongPeriod> long_periods;
    // The whole text of port `position`, however long, in pieces (the part
    // in the journal, then memory's); null when memory holds all of it. The
    // journal part can be read once the data-file sink has taken the period.
    std::function<std::unique_ptr<platform::AppendSource>(int position)> whole_text;

    // The text of port `position` as one view: what memory holds.
    std::string_view InMemory(int position) const {
        const PortPeriodText& port = ports[static_cast<size_t>(position)];
        return {port.text, static_cast<size_t>(port.length)};
    }
};

class PeriodSink {
public:
    virtual ~PeriodSink() = default;
    // Takes the period; must not keep references into it.
    virtual void TakePeriod(const EndedPeriod& period) = 0;
};
