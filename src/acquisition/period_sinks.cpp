#include "acquisition/period_sinks.h"

#include <memory>
#include <vector>

#include "acquisition/statistics.h"

void DataFilesSink::TakePeriod(const EndedPeriod& period) {
    const FlushContext context{period.file_name_time, period.first_flush, period.end_marker_due};
    for (size_t p = 0; p < period.ports.size(); ++p) {
        writer_.WritePort(context, period.ports[p], period.long_periods[p]);
    }
}

void StatisticsSink::TakePeriod(const EndedPeriod& period) {
    const size_t ports = period.ports.size();
    bool any = false;
    for (size_t p = 0; p < ports; ++p) {
        any = any || config_.DoStats[p] != 0;
    }
    if (!any) {
        return;
    }
    std::vector<const char*> buffers(ports);
    std::vector<int32_t> lengths(ports);
    // A long period's text is read back from its journal, up to the part
    // still in memory.
    std::vector<std::unique_ptr<platform::AppendSource>> whole(ports);
    std::vector<platform::AppendSource*> sources(ports, nullptr);
    for (size_t p = 0; p < ports; ++p) {
        buffers[p] = period.ports[p].text;
        lengths[p] = period.ports[p].length;
        whole[p] = period.whole_text(static_cast<int>(p));
        sources[p] = whole[p].get();
    }
    CalculateDiagnosticStatistics(config_, {period.file_name_time, period.start, period.end},
                                  buffers.data(), lengths.data(), sources.data());
}
