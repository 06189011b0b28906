#include "cli/stats_command.h"

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>
#include <system_error>

#include "acquisition/statistics_analysis.h"
#include "cli/cli11.h"
#include "config/ini_reader.h"
#include "log/log_codes.h"
#include "platform/clock.h"

namespace {

// "MM/DD/YY HH:MM:SS:mmm", the time stamp in front of a marker word.
constexpr std::size_t kStampLength = 21;
constexpr std::string_view kStartWord = " StartTime";
constexpr std::string_view kEndWord = " EndTime";

struct Marker {
    std::size_t begin = 0;  // first byte of the time stamp
    std::size_t end = 0;    // just after the marker word
    bool start = false;
    int64_t time = 0;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int TwoDigits(const char* p) {
    return (p[0] - '0') * 10 + (p[1] - '0');
}

// Reads "MM/DD/YY HH:MM:SS:mmm" at `p` into calendar seconds.
bool ReadStamp(const char* p, int64_t& seconds) {
    static constexpr char kShape[] = "00/00/00 00:00:00:000";
    for (std::size_t i = 0; i < kStampLength; ++i) {
        if (kShape[i] == '0' ? !IsDigit(p[i]) : p[i] != kShape[i]) {
            return false;
        }
    }
    const int year = TwoDigits(p + 6);
    platform::SystemTime time{};
    time.wYear = static_cast<uint16_t>(year < 70 ? 2000 + year : 1900 + year);
    time.wMonth = static_cast<uint16_t>(TwoDigits(p));
    time.wDay = static_cast<uint16_t>(TwoDigits(p + 3));
    time.wHour = static_cast<uint16_t>(TwoDigits(p + 9));
    time.wMinute = static_cast<uint16_t>(TwoDigits(p + 12));
    time.wSecond = static_cast<uint16_t>(TwoDigits(p + 15));
    seconds = platform::ToCalendarSeconds(time);
    return true;
}

// The next marker at or after `from`: a marker word with a time stamp in front.
bool FindMarker(std::string_view content, std::size_t from, Marker& marker) {
    std::size_t next_start = content.find(kStartWord, from + kStampLength);
    std::size_t next_end = content.find(kEndWord, from + kStampLength);
    while (next_start != std::string_view::npos || next_end != std::string_view::npos) {
        const bool start = next_start < next_end;
        const std::size_t word = start ? next_start : next_end;
        const std::size_t begin = word - kStampLength;
        if (ReadStamp(content.data() + begin, marker.time)) {
            marker.begin = begin;
            marker.end = word + (start ? kStartWord.size() : kEndWord.size());
            marker.start = start;
            return true;
        }
        if (start) {
            next_start = content.find(kStartWord, word + 1);
        } else {
            next_end = content.find(kEndWord, word + 1);
        }
    }
    return false;
}

// Whether the line end in front of an end marker at `line_end` is the text's
// own. The logger adds one only when the period's text did not end with a line
// end, and the file does not tell the two apart. When the text's lines end in
// CR LF a lone LF must have been added after a cut-off line; otherwise the
// line end is taken as the text's (a slow instrument's period usually ends at
// a line end).
bool IsTextsOwnLineEnd(std::string_view content, std::size_t text_begin, std::size_t line_end) {
    if (line_end == text_begin || content[line_end - 1] == '\r') {
        return true;
    }
    const std::size_t previous = content.rfind('\n', line_end - 1);
    const bool previous_in_text = previous != std::string_view::npos && previous > text_begin;
    return !(previous_in_text && content[previous - 1] == '\r');
}

// On `err`, how many records the logger would have logged for this file, by
// code (counted by the logger's own limit on those entries).
void ReportEvents(const RecordEntryLimit& events, const std::string& file, int com_number,
                  std::ostream& err) {
    const std::array<std::pair<int, const char*>, 3> codes = {{
        {22, logmsg::k22RecordTooLong},
        {23, logmsg::k23TooManyTokens},
        {28, logmsg::k28IncompleteTokens},
    }};
    for (const auto& [code, format] : codes) {
        const long count = events.Count(code);
        if (count > 0) {
            char message[256];
            std::snprintf(message, sizeof message, format, com_number);
            err << file << ": " << count << (count == 1 ? " record: " : " records: ") << message
                << '\n';
        }
    }
}

// The whole file in one allocation (an hour of a fast port is some 330 MB).
bool ReadWholeFile(const std::string& path, std::string& content) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    std::FILE* file = error ? nullptr : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    content.resize(static_cast<std::size_t>(size));
    const std::size_t got = std::fread(content.data(), 1, content.size(), file);
    // A file that grows meanwhile is read as far as its size said.
    const bool ok = got == content.size() && std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool LastWriteTime(const std::string& path, int64_t& seconds) {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    if (error) {
        return false;
    }
    const auto system = std::chrono::file_clock::to_sys(written);
    seconds = std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
    return true;
}

// One file's block on `out`; false (reported on `err`) when the file is unusable.
bool WriteFileStatistics(const ComConfig& config, int port, const std::string& path, bool raw,
                         std::ostream& out, std::ostream& err) {
    std::string content;
    if (!ReadWholeFile(path, content)) {
        err << "Can't read " << path << ".\n";
        return false;
    }
    int64_t start = 0;
    int64_t end = 0;
    if (raw) {
        // A capture carries no times of its own: its last change stands for both.
        if (!LastWriteTime(path, start)) {
            err << "Can't read the time of " << path << ".\n";
            return false;
        }
        end = start;
    } else {
        ArchivedText times;
        if (!ExtractArchivedText(content, times)) {
            err << path
                << " holds no StartTime marker: not an archived data file (use --raw for a raw "
                   "capture).\n";
            return false;
        }
        start = times.first_marker;
        end = times.last_marker;
    }

    RecordEntryLimit events(config.PortNumber[port], {});
    const std::vector<StatisticsRow> rows = AnalysePortText(
        content.data(), content.size(), PortStatisticsSettingsOf(config, port), &events);
    std::string block = FormatStatisticsHeader(start, end);
    for (std::size_t j = 0; j < rows.size(); ++j) {
        block += FormatStatisticsRow(config.InstrumentType[port],
                                     config.TokenLabelsForStatistics[port][j], rows[j]);
    }
    out << block;
    ReportEvents(events, path, config.PortNumber[port], err);
    return true;
}

}  // namespace

bool ExtractArchivedText(std::string& content, ArchivedText& times) {
    const std::string_view view(content);
    Marker marker;
    std::size_t from = 0;
    // The first start marker ends the file's head: the instrument line and,
    // for a hygrometer, its constants (which may hold line ends of their own).
    do {
        if (!FindMarker(view, from, marker)) {
            return false;
        }
        from = marker.end;
    } while (!marker.start);
    times.first_marker = marker.time;
    times.last_marker = marker.time;

    auto skip_line_end = [&view](std::size_t at) {
        return at < view.size() && view[at] == '\n' ? at + 1 : at;
    };
    std::size_t read = skip_line_end(marker.end);
    std::size_t write = 0;
    while (FindMarker(view, read, marker)) {
        std::size_t keep_end = marker.begin;
        if (!marker.start && keep_end > read && view[keep_end - 1] == '\n' &&
            !IsTextsOwnLineEnd(view, read, keep_end - 1)) {
            --keep_end;
        }
        std::memmove(content.data() + write, content.data() + read, keep_end - read);
        write += keep_end - read;
        times.last_marker = marker.time;
        read = skip_line_end(marker.end);
    }
    const std::size_t rest = view.size() - read;
    std::memmove(content.data() + write, content.data() + read, rest);
    content.resize(write + rest);
    return true;
}

int FindPortPosition(const ComConfig& config, const std::string& port) {
    if (port.size() < 4 || port.size() > 6) {
        return -1;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i]) {
            return -1;
        }
    }
    for (std::size_t i = 3; i < port.size(); ++i) {
        if (!IsDigit(port[i])) {
            return -1;
        }
    }
    const int number = std::atoi(port.c_str() + 3);
    for (int p = 0; p < config.NumPorts; ++p) {
        if (config.PortNumber[p] == number) {
            return p;
        }
    }
    return -1;
}

int RunStatsForPort(const ComConfig& config, const StatsCommandOptions& options, std::ostream& out,
                    std::ostream& err) {
    const int port = FindPortPosition(config, options.port);
    if (port < 0) {
        err << options.port << " is not a port of " << options.ini << ".\n";
        return 1;
    }
    int status = 0;
    for (const std::string& path : options.files) {
        if (!WriteFileStatistics(config, port, path, options.raw, out, err)) {
            status = 1;
        }
    }
    out.flush();
    return status;
}

int RunStatsCommand(const StatsCommandOptions& options, std::ostream& out, std::ostream& err) {
    ComConfig config = ReadQuorInitializationFile(options.ini.c_str());
    int status = 1;
    if (config.ErrorCode != INI_OK) {
        err << options.ini << ": ";
        if (config.ErrorString != nullptr) {
            // One reader message has no line end of its own; the next line
            // must not run on from it.
            const std::string message = config.ErrorString;
            err << message << (message.empty() || message.back() != '\n' ? "\n" : "");
        } else {
            err << "error " << config.ErrorCode << '\n';
        }
    } else {
        status = RunStatsForPort(config, options, out, err);
    }
    FreeComConfig(config);
    return status;
}

void AddStatsCommand(CLI::App& app, int& exit_status) {
    auto options = std::make_shared<StatsCommandOptions>();
    CLI::App* stats = app.add_subcommand(
        "stats",
        "Compute a port's diagnostic statistics over archived data files (or, with --raw, raw "
        "captures) and print them as the statistics file's block, one block per file");
    stats->add_option("--ini", options->ini, "The configuration file")->capture_default_str();
    stats->add_flag("--raw", options->raw,
                    "The files are raw captures, analysed as they are; the block's start and end "
                    "times are then the file's last write time");
    stats->add_option("COMn", options->port, "The port whose settings apply, e.g. COM3")
        ->required();
    stats
        ->add_option("FILE", options->files,
                     "Archived data files (their instrument line, hygrometer header and "
                     "StartTime/EndTime markers are left out; the block's times come from the "
                     "first and last markers)")
        ->required();
    stats->callback(
        [options, &exit_status] { exit_status = RunStatsCommand(*options, std::cout, std::cerr); });
}
