#include "acquisition/statistics.h"

#include <cstdio>
#include <string>
#include <vector>

#include "acquisition/log_codes.h"
#include "acquisition/log_file.h"
#include "acquisition/statistics_analysis.h"
#include "platform/files.h"

namespace {

void WritePortRows(std::FILE* file, const ComConfig& config, int port, const char* text,
                   int32_t length) {
    // The records the analysis rejects go to the day's log with the port's COM
    // number, at most ten of each code, and a count of the rest.
    const char* directory = config.OutputDriveAndPath;
    RecordEntryLimit entries(config.PortNumber[port], [directory](const char* message) {
        WriteLogMessage(directory, message);
    });
    const std::vector<StatisticsRow> rows =
        AnalysePortText(text, length > 0 ? static_cast<std::size_t>(length) : 0,
                        PortStatisticsSettingsOf(config, port), &entries);
    entries.WriteSummaries();
    for (std::size_t j = 0; j < rows.size(); ++j) {
        const std::string line = FormatStatisticsRow(
            config.InstrumentType[port], config.TokenLabelsForStatistics[port][j], rows[j]);
        std::fputs(line.c_str(), file);
    }
}

}  // namespace

int CalculateDiagnosticStatistics(const ComConfig& config, const StatisticsPeriod& period,
                                  char* const* buffers, const int32_t* lengths) {
    const char* directory = config.OutputDriveAndPath;
    WriteLogMessage(directory, logmsg::k24Statistics);

    const std::string path =
        platform::JoinPath(directory, StatisticsFileName(period.file_name_time));
    if (platform::PathExists(path.c_str())) {
        platform::SetReadOnly(path.c_str(), false);
    }
    std::FILE* file = platform::OpenAppendDenyWrite(path.c_str());
    if (file == nullptr) {
        platform::SetReadOnly(path.c_str(), true);
        WriteLogMessagef(directory, logmsg::k19CantOpen, path.c_str());
        return -1;
    }

    std::fputs(FormatStatisticsHeader(period.period_start, period.period_end).c_str(), file);
    for (int port = 0; port < config.NumPorts && port < MAX_COM_PORTS; ++port) {
        if (config.DoStats[port] != 0) {
            WritePortRows(file, config, port, buffers[port], lengths[port]);
        }
    }

    platform::CloseLocked(file);
    platform::SetReadOnly(path.c_str(), true);
    return 0;
}
