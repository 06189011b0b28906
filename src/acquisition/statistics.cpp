#include "acquisition/statistics.h"

#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "acquisition/statistics_analysis.h"
#include "log/log_codes.h"
#include "log/log_file.h"
#include "log/write_problems.h"
#include "platform/files.h"

namespace {

std::mutex g_observer_mutex;
std::shared_ptr<StatisticsRowObserver> g_observer;

std::shared_ptr<StatisticsRowObserver> RowObserver() {
    const std::lock_guard<std::mutex> lock(g_observer_mutex);
    return g_observer;
}

void TellRows(const ComConfig& config, int port, const StatisticsPeriod& period,
              const std::vector<StatisticsRow>& rows) {
    const std::shared_ptr<StatisticsRowObserver> observer = RowObserver();
    if (observer == nullptr) {
        return;
    }
    for (std::size_t j = 0; j < rows.size(); ++j) {
        const StatisticsRow& row = rows[j];
        observer->OnStatisticsRow({config.PortNumber[port], config.InstrumentType[port],
                                   config.TokenLabelsForStatistics[port][j], period.period_start,
                                   period.period_end, row});
    }
}

void WritePortRows(std::string& block, const ComConfig& config, int port,
                   const StatisticsPeriod& period, const char* text, int32_t length,
                   platform::AppendSource* source) {
    // The records the analysis rejects go to the day's log with the port's COM
    // number, at most ten of each code, and a count of the rest.
    const char* directory = config.OutputDriveAndPath;
    RecordEntryLimit entries(config.PortNumber[port], [directory](const char* message) {
        WriteLogMessage(directory, message);
    });
    std::vector<StatisticsRow> rows;
    if (source != nullptr) {
        StatisticsStream stream(PortStatisticsSettingsOf(config, port), &entries);
        source->Rewind();
        for (std::string_view piece = source->Next(); !piece.empty(); piece = source->Next()) {
            stream.Feed(piece.data(), piece.size());
        }
        rows = stream.Finish();
    } else {
        rows = AnalysePortText(text, length > 0 ? static_cast<std::size_t>(length) : 0,
                               PortStatisticsSettingsOf(config, port), &entries);
    }
    entries.WriteSummaries();
    for (std::size_t j = 0; j < rows.size(); ++j) {
        const std::string line = FormatStatisticsRow(
            config.InstrumentType[port], config.TokenLabelsForStatistics[port][j], rows[j]);
        block += line;
    }
    TellRows(config, port, period, rows);
}

// Statistics blocks whose file could not be written, in the order they were
// made: each is appended at the next write that can reach its file, before
// that file's newer blocks. They outlive an acquisition run (not the process).
struct KeptBlock {
    std::string path;
    std::string block;
};
std::mutex g_kept_mutex;
std::deque<KeptBlock> g_kept;
// Statistics files holding part of a block whose failed write could not be
// undone: the next append to one puts it back first, or waits.
platform::UnfinishedAppends g_unfinished;
// A day of hourly blocks of nine ports many times over; beyond it the oldest goes.
constexpr size_t kMostKeptBlocks = 1000;

bool AppendBlock(const char* directory, const std::string& path, const std::string& block) {
    platform::TextPieces bytes;
    bytes.Add(block);
    // Synced, and never after a row a power cut tore: the rows are read by
    // programs that expect whole lines.
    platform::AppendOptions options;
    options.sync = true;
    options.unfinished = &g_unfinished;
    if (platform::CutTornLastLine(path.c_str()) &&
        platform::AppendToFile(path.c_str(), bytes, options) == platform::kAppendOk) {
        return true;
    }
    WriteLogMessagef(directory, logmsg::k19CantOpen, path.c_str());
    ReportWriteProblem("cannot write the statistics file " + path);
    return false;
}

// Appends the kept blocks of the output directory that can be written now;
// returns the files that still cannot be.
std::set<std::string> WriteKeptBlocks(const char* directory) {
    std::set<std::string> blocked;
    const std::string folder = platform::JoinPath(directory, "");
    for (auto it = g_kept.begin(); it != g_kept.end();) {
        if (it->path.rfind(folder, 0) != 0) {
            ++it;  // another station's (a configuration read again)
        } else if (blocked.count(it->path) == 0 && AppendBlock(directory, it->path, it->block)) {
            it = g_kept.erase(it);
        } else {
            blocked.insert(it->path);
            ++it;
        }
    }
    return blocked;
}

void Keep(std::string path, std::string block) {
    g_kept.push_back(KeptBlock{std::move(path), std::move(block)});
    if (g_kept.size() > kMostKeptBlocks) {
        ReportWriteProblem("a statistics block for " + g_kept.front().path + " is given up");
        g_kept.pop_front();
    }
}

}  // namespace

void SetStatisticsRowObserver(std::shared_ptr<StatisticsRowObserver> observer) {
    const std::lock_guard<std::mutex> lock(g_observer_mutex);
    g_observer = std::move(observer);
}

size_t KeptStatisticsBlocks() {
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    return g_kept.size();
}

void ForgetKeptStatisticsBlocks() {
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    g_kept.clear();
    g_unfinished.Clear();
}

int CalculateDiagnosticStatistics(const ComConfig& config, const StatisticsPeriod& period,
                                  const char* const* buffers, const int32_t* lengths,
                                  platform::AppendSource* const* sources) {
    const char* directory = config.OutputDriveAndPath;
    WriteLogMessage(directory, logmsg::k24Statistics);

    const std::string path =
        platform::JoinPath(directory, StatisticsFileName(period.file_name_time));
    std::string block = FormatStatisticsHeader(period.period_start, period.period_end);
    for (int port = 0; port < config.NumPorts && port < MAX_COM_PORTS; ++port) {
        if (config.DoStats[port] != 0) {
            WritePortRows(block, config, port, period, buffers[port], lengths[port],
                          sources != nullptr ? sources[port] : nullptr);
        }
    }
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    const std::set<std::string> blocked = WriteKeptBlocks(directory);
    if (blocked.count(path) == 0 && AppendBlock(directory, path, block)) {
        return 0;
    }
    Keep(path, std::move(block));
    return -1;
}
