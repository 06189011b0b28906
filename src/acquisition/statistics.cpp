#include "acquisition/statistics.h"

#include <string>
#include <vector>

#include "acquisition/log_codes.h"
#include "acquisition/log_file.h"
#include "acquisition/statistics_analysis.h"
#include "platform/files.h"

namespace {

void WritePortRows(std::string& block, const ComConfig& config, int port, const char* text,
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
        block += line;
    }
}

}  // namespace

int CalculateDiagnosticStatistics(const ComConfig& config, const StatisticsPeriod& period,
                                  char* const* buffers, const int32_t* lengths) {
    const char* directory = config.OutputDriveAndPath;
    WriteLogMessage(directory, logmsg::k24Statistics);

    const std::string path =
        platform::JoinPath(directory, StatisticsFileName(period.file_name_time));
    std::string block = FormatStatisticsHeader(period.period_start, period.period_end);
    for (int port = 0; port < config.NumPorts && port < MAX_COM_PORTS; ++port) {
        if (config.DoStats[port] != 0) {
            WritePortRows(block, config, port, buffers[port], lengths[port]);
        }
    }
    platform::TextPieces bytes;
    bytes.Add(block);
    if (platform::AppendToFile(path.c_str(), bytes) != platform::kAppendOk) {
        WriteLogMessagef(directory, logmsg::k19CantOpen, path.c_str());
        return -1;
    }
    return 0;
}
