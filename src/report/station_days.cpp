#include "report/station_days.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "log/log_codes.h"
#include "platform/clock.h"

namespace report {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// "MM/DD/YY HH:MM:SS:mmm", the time stamp in front of every log entry.
constexpr size_t kStampLength = 21;
// Entries whose date lies further than this from their file's day do not
// belong to it (the last instant of a day may carry the next day's date).
constexpr int kMostDaysAway = 1;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int Digits(const std::string& text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        value = value * 10 + (text[at + i] - '0');
    }
    return value;
}

// True when `text` at `at` has the shape of `shape`, where '0' stands for a digit.
bool HasShape(const std::string& text, size_t at, const char* shape) {
    for (size_t i = 0; shape[i] != '\0'; ++i) {
        if (at + i >= text.size()) {
            return false;
        }
        if (shape[i] == '0' ? !IsDigit(text[at + i]) : text[at + i] != shape[i]) {
            return false;
        }
    }
    return true;
}

std::string ReadWholeFile(const std::filesystem::path& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "it cannot be opened";
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = "it cannot be read";
    }
    return text.str();
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string Plural(long long count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// What the log says an entry's code means: its text with the blanks named.
std::string MeaningOf(int code) {
    if (code < 0 || code >= logmsg::kCodeCount) {
        return "(a code this version does not know)";
    }
    std::string text = logmsg::kFormatsByCode[code] + 4;
    const std::pair<const char*, const char*> blanks[] = {{"%02d:%02d:%02d", "hh:mm:ss"},
                                                          {"%02d/%02d/%02d", "MM/DD/YY"},
                                                          {"%ld", "n"},
                                                          {"%02d", "nn"},
                                                          {"%d", "n"},
                                                          {"%Xh", "…h"},
                                                          {"%s", "…"}};
    for (const auto& [blank, name] : blanks) {
        for (size_t at = text.find(blank); at != std::string::npos;
             at = text.find(blank, at + std::char_traits<char>::length(name))) {
            text.replace(at, std::char_traits<char>::length(blank), name);
        }
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

bool IsRoutine(int code) {
    static constexpr int kRoutine[] = {0, 2, 3, 4, 18, 20, 24, 26, 33, 47};
    return std::find(std::begin(kRoutine), std::end(kRoutine), code) != std::end(kRoutine);
}

unsigned MarkOf(int code) {
    switch (code) {
        case 21:
            return kMarkNoData;
        case 16:
        case 31:
        case 40:
            return kMarkOverflow;
        case 32:
        case 37:
        case 42:
            return kMarkPortLost;
        case 19:
        case 30:
        case 41:
        case 43:
        case 44:
            return kMarkWriteFailure;
        default:
            return code >= 5 && code <= 15 ? kMarkPortLost : 0u;
    }
}

// The port an entry is about: its "COMn", or the ".Pnn" of a data file it
// names; 0 when it names none.
int PortNamedIn(const std::string& message) {
    const size_t com = message.find("COM");
    if (com != std::string::npos && com + 3 < message.size() && IsDigit(message[com + 3])) {
        return std::atoi(message.c_str() + com + 3);
    }
    for (size_t at = message.find(".P"); at != std::string::npos; at = message.find(".P", at + 1)) {
        const bool two_digits = HasShape(message, at + 2, "00");
        const bool ends = at + 4 >= message.size() || message[at + 4] == ' ';
        if (two_digits && ends) {
            return Digits(message, at + 2, 2);
        }
    }
    return 0;
}

// A period told in an entry, "hh:mm:ss to hh:mm:ss": its first and last hour
// (the end is the period's end, so an end on the hour is not in it).
bool PeriodNamedIn(const std::string& message, int& first_hour, int& last_hour) {
    const size_t to = message.find(" to ");
    if (to == std::string::npos || to < 8 || !HasShape(message, to - 8, "00:00:00") ||
        !HasShape(message, to + 4, "00:00:00")) {
        return false;
    }
    first_hour = Digits(message, to - 8, 2);
    last_hour = Digits(message, to + 4, 2);
    const bool on_the_hour = Digits(message, to + 7, 2) == 0 && Digits(message, to + 10, 2) == 0;
    const bool same_instant = message.compare(to - 8, 8, message, to + 4, 8) == 0;
    if (on_the_hour && !same_instant) {
        last_hour -= 1;
    }
    if (last_hour < first_hour) {
        last_hour += kHoursPerDay;  // across midnight
    }
    return true;
}

class Reader {
public:
    Reader(const std::string& directory, const Day& first, int count) {
        report_.directory = directory;
        for (int i = 0; i < count; ++i) {
            report_.days.push_back(DaysBefore(first, -i));
            report_.found.push_back(DayFindings{report_.days.back()});
        }
    }

    StationReport Read() {
        std::vector<std::filesystem::path> data_files;
        std::vector<std::filesystem::path> statistics_files;
        ListDirectory(data_files, statistics_files);
        for (size_t d = 0; d < report_.days.size(); ++d) {
            ReadLog(static_cast<int>(d));
        }
        for (const auto& path : data_files) {
            ReadDataFile(path);
        }
        for (const auto& path : statistics_files) {
            ReadStatisticsFile(path);
        }
        Finish();
        return std::move(report_);
    }

private:
    // The day index of a file stem "yyddd", or -1.
    int DayIndexOf(const std::string& stem) const {
        for (size_t d = 0; d < report_.days.size(); ++d) {
            if (report_.days[d].FileStem() == stem) {
                return static_cast<int>(d);
            }
        }
        return -1;
    }

    void ListDirectory(std::vector<std::filesystem::path>& data_files,
                       std::vector<std::filesystem::path>& statistics_files) {
        std::error_code ec;
        std::filesystem::directory_iterator it(report_.directory, ec);
        if (ec) {
            report_.problems.push_back("The directory " + report_.directory +
                                       " cannot be read: " + ec.message() + ".");
            return;
        }
        for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            // "yydddhh.Pnn" and "yydddhh.sta"
            if (name.size() != 11 || !HasShape(name, 0, "0000000.")) {
                continue;
            }
            if (DayIndexOf(name.substr(0, 5)) < 0) {
                continue;
            }
            const std::string extension = name.substr(8);
            if (std::toupper(static_cast<unsigned char>(extension[0])) == 'P' &&
                HasShape(extension, 1, "00")) {
                data_files.push_back(it->path());
            } else if (extension == "sta" || extension == "STA") {
                statistics_files.push_back(it->path());
            }
        }
        std::sort(data_files.begin(), data_files.end());
        std::sort(statistics_files.begin(), statistics_files.end());
    }

    PortHours& Port(int number) {
        auto it = std::find_if(report_.ports.begin(), report_.ports.end(),
                               [&](const PortHours& p) { return p.port == number; });
        if (it != report_.ports.end()) {
            return *it;
        }
        PortHours port;
        port.port = number;
        port.bytes.assign(static_cast<size_t>(report_.Hours()), 0);
        port.marks.assign(static_cast<size_t>(report_.Hours()), 0u);
        report_.ports.push_back(std::move(port));
        return report_.ports.back();
    }

    // A finding about one file, said as "NAME: what".
    void Tell(const std::string& name, const std::string& what) {
        report_.problems.push_back(name + ": " + what);
    }

    // The file's text; false, and the finding told, when it cannot be read.
    bool ReadOrTell(const std::filesystem::path& path, const std::string& name,
                    const char* consequence, std::string& text) {
        std::string error;
        text = ReadWholeFile(path, error);
        if (!error.empty()) {
            Tell(name, error + "; " + consequence);
            return false;
        }
        return true;
    }

    CodeCounts& Code(int code) {
        auto& counts = codes_[code];
        if (counts.per_hour.empty()) {
            counts.code = code;
            counts.routine = IsRoutine(code);
            counts.meaning = MeaningOf(code);
            counts.per_hour.assign(static_cast<size_t>(report_.Hours()), 0);
        }
        return counts;
    }

    void ReadLog(int d) {
        const Day& day = report_.days[static_cast<size_t>(d)];
        const std::string name = day.FileStem() + ".LOG";
        const std::filesystem::path path = std::filesystem::path(report_.directory) / name;
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            return;
        }
        std::string text;
        if (!ReadOrTell(path, name, "its entries are not counted.", text)) {
            return;
        }
        report_.found[static_cast<size_t>(d)].log = true;
        int unreadable = 0;
        int other_days = 0;
        for (const std::string& line : LinesOf(text)) {
            if (line.empty() || line.rfind("Quorvane Version ", 0) == 0 ||
                line.rfind("MM/DD/YY HH:MM:SS:MMM", 0) == 0) {
                continue;
            }
            if (!HasShape(line, 0, "00/00/00 00:00:00:000  00")) {
                ++unreadable;
                continue;
            }
            const int hour = EntryHourIndex(line, d);
            if (hour < 0) {
                ++other_days;
                continue;
            }
            CountEntry(hour, Digits(line, kStampLength + 2, 2), line.substr(kStampLength + 2));
        }
        if (unreadable > 0) {
            Tell(name, Plural(unreadable, "line is", "lines are") + " not log entries; skipped.");
        }
        if (other_days > 0) {
            Tell(name, Plural(other_days, "entry carries", "entries carry") +
                           " the date of another day; not counted.");
        }
    }

    // The hour of the report an entry of day `d`'s log counts in: that of its
    // time stamp. Entries written late may carry an earlier day's time (into
    // the report's days when that day is one of them), and the last instant
    // of a day may carry the next day's date: those outside the report's
    // days count in their file's first or last hour. -1: the entry is dated
    // further away than that, and belongs to no day of the report.
    int EntryHourIndex(const std::string& line, int d) const {
        const Day& day = report_.days[static_cast<size_t>(d)];
        Day stamped;
        stamped.year = day.year - day.year % 100 + Digits(line, 6, 2);
        stamped.month = Digits(line, 0, 2);
        stamped.day = Digits(line, 3, 2);
        const int hour = Digits(line, 9, 2);
        const int64_t days_from_first =
            (stamped.Start() - report_.days.front().Start()) / kSecondsPerDay;
        if (days_from_first >= 0 && days_from_first < static_cast<int64_t>(report_.days.size()) &&
            hour < kHoursPerDay) {
            return static_cast<int>(days_from_first) * kHoursPerDay + hour;
        }
        const int64_t days_away = (stamped.Start() - day.Start()) / kSecondsPerDay;
        if (days_away > kMostDaysAway || days_away < -kMostDaysAway) {
            return -1;
        }
        return d * kHoursPerDay + (days_away > 0 ? kHoursPerDay - 1 : 0);
    }

    void CountEntry(int hour_index, int code, const std::string& message) {
        CodeCounts& counts = Code(code);
        counts.per_hour[static_cast<size_t>(hour_index)] += 1;
        counts.total += 1;
        const unsigned mark = MarkOf(code);
        const int port = PortNamedIn(message);
        if (mark == 0 || port <= 0) {
            return;
        }
        int first = hour_index;
        int last = hour_index;
        int first_hour = 0;
        int last_hour = 0;
        if (PeriodNamedIn(message, first_hour, last_hour)) {
            const int entry_hour = hour_index % kHoursPerDay;
            const int day_start = hour_index - entry_hour;
            first = day_start + first_hour - (first_hour > entry_hour ? kHoursPerDay : 0);
            last = first + (last_hour - first_hour);
        }
        PortHours& hours = Port(port);
        for (int h = std::max(first, 0); h <= std::min(last, report_.Hours() - 1); ++h) {
            hours.marks[static_cast<size_t>(h)] |= mark;
        }
    }

    void ReadDataFile(const std::filesystem::path& path) {
        const std::string name = path.filename().string();
        const int d = DayIndexOf(name.substr(0, 5));
        const int hour = Digits(name, 5, 2);
        const int number = Digits(name, 9, 2);
        if (hour >= kHoursPerDay || number == 0) {
            Tell(name, "not a data file name the logger makes; skipped.");
            return;
        }
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        std::ifstream in(path, std::ios::binary);
        std::string instrument;
        if (ec || !in || !std::getline(in, instrument)) {
            std::string why = "cannot be read";
            if (ec) {
                why += " (";
                why += ec.message();
                why += ")";
            }
            Tell(name, why + "; its hour shows no bytes.");
            return;
        }
        if (!instrument.empty() && instrument.back() == '\r') {
            instrument.pop_back();
        }
        PortHours& port = Port(number);
        if (port.instrument.empty()) {
            port.instrument = instrument;
        } else if (port.instrument != instrument) {
            Tell(name, "names the instrument \"" + instrument +
                           "\", the data files before it of COM" + std::to_string(number) + " \"" +
                           port.instrument +
                           "\" (files of another station?); counted all the same.");
        }
        port.bytes[static_cast<size_t>(d * kHoursPerDay + hour)] = static_cast<int64_t>(size);
        report_.found[static_cast<size_t>(d)].data_files += 1;
        hours_with_data_[d * kHoursPerDay + hour] = true;
    }

    void ReadStatisticsFile(const std::filesystem::path& path) {
        const std::string name = path.filename().string();
        const int d = DayIndexOf(name.substr(0, 5));
        const int hour = Digits(name, 5, 2);
        if (hour >= kHoursPerDay) {
            Tell(name, "not a statistics file name the logger makes; skipped.");
            return;
        }
        std::string text;
        if (!ReadOrTell(path, name, "its rows are not shown.", text)) {
            return;
        }
        report_.found[static_cast<size_t>(d)].statistics_files += 1;
        const int hour_index = d * kHoursPerDay + hour;
        bool in_rows = false;
        int unreadable = 0;
        for (const std::string& line : LinesOf(text)) {
            if (line.empty()) {
                in_rows = false;
            } else if (line.find_first_not_of('-') == std::string::npos) {
                in_rows = true;
            } else if (in_rows) {
                if (auto row = ReadStatisticsRow(line)) {
                    rows_[{row->instrument, row->label}][hour_index].push_back(*row);
                    if (std::find(series_order_.begin(), series_order_.end(),
                                  std::make_pair(row->instrument, row->label)) ==
                        series_order_.end()) {
                        series_order_.emplace_back(row->instrument, row->label);
                    }
                } else {
                    ++unreadable;
                }
            }
        }
        if (unreadable > 0) {
            Tell(name, Plural(unreadable, "row cannot", "rows cannot") + " be read; skipped.");
        }
    }

    void Finish() {
        std::sort(report_.ports.begin(), report_.ports.end(),
                  [](const PortHours& a, const PortHours& b) { return a.port < b.port; });
        for (auto& [code, counts] : codes_) {
            report_.codes.push_back(std::move(counts));
        }
        for (const auto& key : series_order_) {
            StatisticsSeries series;
            series.instrument = key.first;
            series.label = key.second;
            series.hours.resize(static_cast<size_t>(report_.Hours()));
            for (const auto& [hour_index, rows] : rows_[key]) {
                series.hours[static_cast<size_t>(hour_index)] = CombineRows(rows);
            }
            report_.statistics.push_back(std::move(series));
        }
        for (const auto& [hour_index, present] : hours_with_data_) {
            report_.found[static_cast<size_t>(hour_index / kHoursPerDay)].hours_with_data +=
                present ? 1 : 0;
        }
    }

    StationReport report_;
    std::map<int, CodeCounts> codes_;
    std::map<int, bool> hours_with_data_;
    using SeriesKey = std::pair<std::string, std::string>;
    std::vector<SeriesKey> series_order_;
    std::map<SeriesKey, std::map<int, std::vector<StatisticsRowText>>> rows_;
};

bool ReadInteger(const std::string& token, int64_t& value) {
    char* end = nullptr;
    value = std::strtoll(token.c_str(), &end, 10);
    return !token.empty() && *end == '\0';
}

bool ReadNumber(const std::string& token, double& value) {
    char* end = nullptr;
    value = std::strtod(token.c_str(), &end);
    return !token.empty() && *end == '\0';
}

}  // namespace

int64_t Day::Start() const {
    platform::SystemTime time{};
    time.wYear = static_cast<uint16_t>(year);
    time.wMonth = static_cast<uint16_t>(month);
    time.wDay = static_cast<uint16_t>(day);
    return platform::ToCalendarSeconds(time);
}

std::string Day::IsoName() const {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

std::string Day::FileStem() const {
    char text[48];
    std::snprintf(text, sizeof text, "%02d%03d", year % 100, day_of_year);
    return text;
}

Day DayOf(int64_t seconds) {
    const std::tm t = platform::BreakDownUtc(seconds);
    Day day;
    day.year = t.tm_year + 1900;
    day.month = t.tm_mon + 1;
    day.day = t.tm_mday;
    day.day_of_year = t.tm_yday + 1;
    return day;
}

std::optional<Day> ParseDay(const std::string& text) {
    if (text.size() != 10 || !HasShape(text, 0, "0000-00-00")) {
        return std::nullopt;
    }
    Day day;
    day.year = Digits(text, 0, 4);
    day.month = Digits(text, 5, 2);
    day.day = Digits(text, 8, 2);
    if (day.year < 1970 || day.month < 1 || day.month > 12 || day.day < 1 || day.day > 31) {
        return std::nullopt;
    }
    const Day real = DayOf(day.Start());
    if (real.month != day.month || real.day != day.day) {
        return std::nullopt;  // 2026-02-30
    }
    return real;
}

Day DaysBefore(const Day& day, int count) {
    return DayOf(day.Start() - int64_t{count} * kSecondsPerDay);
}

bool StationReport::Empty() const {
    return std::all_of(found.begin(), found.end(), [](const DayFindings& f) {
        return !f.log && f.data_files == 0 && f.statistics_files == 0;
    });
}

StationReport ReadStationDays(const std::string& directory, const Day& first, int count) {
    return Reader(directory, first, count).Read();
}

std::optional<StatisticsRowText> ReadStatisticsRow(const std::string& line) {
    // The seven numbers from the right; what stands before them is the
    // instrument (17 columns, as the row is written) and the label.
    std::vector<std::string> numbers;
    size_t end = line.find_last_not_of(' ');
    size_t prefix_end = 0;
    while (numbers.size() < 7 && end != std::string::npos) {
        const size_t blank = line.find_last_of(' ', end);
        const size_t begin = blank == std::string::npos ? 0 : blank + 1;
        numbers.push_back(line.substr(begin, end + 1 - begin));
        prefix_end = begin;
        end = blank == std::string::npos ? std::string::npos : line.find_last_not_of(' ', blank);
    }
    if (numbers.size() < 7 || end == std::string::npos) {
        return std::nullopt;  // no instrument in front
    }
    StatisticsRowText row;
    const bool read =
        ReadInteger(numbers[6], row.samples) && ReadNumber(numbers[5], row.mean) &&
        ReadNumber(numbers[4], row.deviation) && ReadInteger(numbers[3], row.missing) &&
        ReadInteger(numbers[2], row.non_printable) && ReadInteger(numbers[1], row.non_parsable) &&
        ReadInteger(numbers[0], row.non_digit);
    if (!read) {
        return std::nullopt;
    }
    constexpr size_t kInstrumentColumns = 17;
    const std::string prefix = line.substr(0, prefix_end);
    const auto trimmed = [](std::string text) {
        text.erase(0, std::min(text.find_first_not_of(' '), text.size()));
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    };
    row.instrument = trimmed(prefix.substr(0, std::min(kInstrumentColumns, prefix.size())));
    row.label =
        prefix.size() > kInstrumentColumns ? trimmed(prefix.substr(kInstrumentColumns)) : "";
    return row;
}

StatisticsHour CombineRows(const std::vector<StatisticsRowText>& rows) {
    StatisticsHour hour;
    hour.periods = static_cast<int>(rows.size());
    double sum = 0;
    double sum_of_squares = 0;
    for (const StatisticsRowText& row : rows) {
        const auto n = static_cast<double>(row.samples);
        hour.samples += row.samples;
        sum += n * row.mean;
        sum_of_squares += n * (row.deviation * row.deviation + row.mean * row.mean);
        hour.missing += row.missing;
        hour.non_printable += row.non_printable;
        hour.non_parsable += row.non_parsable;
        hour.non_digit += row.non_digit;
    }
    if (rows.size() == 1) {
        // One period: its own figures, not recomputed from their rounding.
        hour.mean = rows.front().mean;
        hour.deviation = rows.front().deviation;
    } else if (hour.samples > 0) {
        const auto n = static_cast<double>(hour.samples);
        hour.mean = sum / n;
        hour.deviation = std::sqrt(std::max(0.0, sum_of_squares / n - hour.mean * hour.mean));
    }
    return hour;
}

}  // namespace report
