#include "acquisition/data_files.h"

#include <cstdio>
#include <utility>

#include "acquisition/log_codes.h"
#include "acquisition/log_file.h"
#include "instruments/exchanges.h"
#include "platform/files.h"

int64_t FirstPeriodEnd(int periodSeconds) {
    const int64_t now = platform::Now();
    const std::tm t = platform::BreakDownUtc(now);
    int64_t end = now - (t.tm_min * 60 + t.tm_sec);
    while (end <= platform::Now()) {
        end += periodSeconds;
    }
    return end;
}

std::string DataFilePath(const char* directory, const std::tm& fileNameTime, int portNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "%02d%03d%02d.P%02d", (fileNameTime.tm_year + 1900) % 100,
                  fileNameTime.tm_yday + 1, fileNameTime.tm_hour, portNumber);
    return platform::JoinPath(directory, name);
}

std::string TimeMarker(const platform::SystemTime& time, const char* word) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d:%03d %s", time.wMonth,
                  time.wDay, time.wYear % 100, time.wHour, time.wMinute, time.wSecond,
                  time.wMilliseconds, word);
    return text;
}

DataFileWriter::DataFileWriter(const ComConfig& config, size_t unwrittenCapBytes)
    : config_(config),
      cap_(unwrittenCapBytes),
      unwritten_(static_cast<size_t>(config.NumPorts)),
      unwritten_bytes_(static_cast<size_t>(config.NumPorts), 0) {}

DataFileWriter::~DataFileWriter() = default;

DataFileWriter::Block DataFileWriter::MakeBlock(const FlushContext& context,
                                                const PortPeriodText& period) const {
    const int p = period.position;
    Block block;
    block.path =
        DataFilePath(config_.OutputDriveAndPath, context.file_name_time, config_.PortNumber[p]);
    block.creation_items = config_.InstrumentType[p];
    block.creation_items += '\n';
    if (WritesFileHeader(config_.AcquisitionInitializationFunction[p]) &&
        period.header != nullptr) {
        block.creation_items += period.header;
    }
    block.start_marker = TimeMarker(period.start_time, "StartTime");
    if (period.text[0] != '\n') {
        block.start_marker += '\n';
    }
    block.start_marker_due = context.first_flush;
    if (context.end_marker_due) {
        if (period.text[period.length - 1] != '\n') {
            block.end_marker.push_back('\n');
        }
        block.end_marker += TimeMarker(period.stop_time, "EndTime");
        block.end_marker += '\n';
    }
    block.start_time = period.start_time;
    block.stop_time = period.stop_time;
    return block;
}

bool DataFileWriter::WriteBlock(const Block& block, std::string_view text) {
    const char* path = block.path.c_str();
    const bool existed = platform::PathExists(path);
    if (existed) {
        platform::SetReadOnly(path, false);
    }
    std::FILE* file = platform::OpenAppendDenyWrite(path);
    if (file == nullptr) {
        platform::SetReadOnly(path, true);
        WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k19CantOpen, path);
        return false;
    }
    WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k20DiskWrite, path);
    auto put = [file](std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), file); };
    if (!existed) {
        put(block.creation_items);
    }
    if (!existed || block.start_marker_due) {
        put(block.start_marker);
    }
    put(text);
    put(block.end_marker);
    platform::CloseLocked(file);
    platform::SetReadOnly(path, true);
    return true;
}

bool DataFileWriter::WriteUnwritten(int position) {
    auto& kept = unwritten_[static_cast<size_t>(position)];
    while (!kept.empty()) {
        if (!WriteBlock(kept.front(), kept.front().text)) {
            return false;
        }
        unwritten_bytes_[static_cast<size_t>(position)] -= kept.front().text.size();
        kept.pop_front();
    }
    return true;
}

void DataFileWriter::WritePort(const FlushContext& context, const PortPeriodText& period) {
    const int p = period.position;
    const bool earlier_written = WriteUnwritten(p);
    if (period.length < 1) {
        WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k21NoData, config_.PortNumber[p],
                         period.start_time.wHour, period.start_time.wMinute,
                         period.start_time.wSecond, period.stop_time.wHour,
                         period.stop_time.wMinute, period.stop_time.wSecond);
        return;
    }
    Block block = MakeBlock(context, period);
    const std::string_view text(period.text, static_cast<size_t>(period.length));
    // Text still waiting from earlier periods goes first, so a file never
    // receives a later period before an earlier one.
    if (earlier_written && WriteBlock(block, text)) {
        return;
    }
    block.text.assign(text);
    Keep(p, std::move(block));
}

void DataFileWriter::Keep(int position, Block block) {
    const auto p = static_cast<size_t>(position);
    unwritten_bytes_[p] += block.text.size();
    unwritten_[p].push_back(std::move(block));
    while (unwritten_bytes_[p] > cap_ && !unwritten_[p].empty()) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "more than %zu bytes waiting", cap_);
        Discard(position, unwritten_[p].front(), reason);
        unwritten_bytes_[p] -= unwritten_[p].front().text.size();
        unwritten_[p].pop_front();
    }
}

void DataFileWriter::Discard(int position, const Block& block, const char* reason) {
    WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k30UnwrittenDiscarded,
                     static_cast<long>(block.text.size()), config_.PortNumber[position],
                     block.start_time.wHour, block.start_time.wMinute, block.start_time.wSecond,
                     block.stop_time.wHour, block.stop_time.wMinute, block.stop_time.wSecond,
                     reason);
}

void DataFileWriter::DiscardUnwritten(const char* reason) {
    for (size_t p = 0; p < unwritten_.size(); ++p) {
        for (const Block& block : unwritten_[p]) {
            Discard(static_cast<int>(p), block, reason);
        }
        unwritten_[p].clear();
        unwritten_bytes_[p] = 0;
    }
}

size_t DataFileWriter::UnwrittenBytes(int position) const {
    return unwritten_bytes_[static_cast<size_t>(position)];
}
