// A station's days read back from the files the logger leaves in its output
// directory: the bytes archived per port and hour (data files), the log's
// entries counted by code and hour (the daily log), and every statistic as an
// hourly summary (statistics files). Reads only; a copy of the directory does
// as well as the running station's. A file that cannot be read is told in
// the findings and the rest is read all the same.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace report {

inline constexpr int kHoursPerDay = 24;

// A UTC calendar day.
struct Day {
    int year = 1970;      // four digits
    int month = 1;        // 1..12
    int day = 1;          // 1..31
    int day_of_year = 1;  // 1..366

    int64_t Start() const;         // calendar seconds of 00:00:00 UTC
    std::string IsoName() const;   // "2026-12-08"
    std::string FileStem() const;  // "26342", as the log and data files name it
    bool operator==(const Day& other) const {
        return year == other.year && day_of_year == other.day_of_year;
    }
};

// The day that holds the calendar second `seconds`.
Day DayOf(int64_t seconds);
// "YYYY-MM-DD"; nothing when it is no such day.
std::optional<Day> ParseDay(const std::string& text);
// `count` days before (negative: after) `day`.
Day DaysBefore(const Day& day, int count);

// Why the log marks a port's hour.
enum HourMark : unsigned {
    kMarkNoData = 1u << 0,        // 21: no data in a period
    kMarkOverflow = 1u << 1,      // 16, 31, 40: the receive queue was full
    kMarkPortLost = 1u << 2,      // 05 to 15, 32, 37, 42: the port was lost or could not be opened
    kMarkWriteFailure = 1u << 3,  // 19, 30, 41, 43, 44: text could not be written as it should
};

// One port: per hour of the report (day after day, 24 each), the size of its
// data file and the log's marks.
struct PortHours {
    int port = 0;            // the n of COMn
    std::string instrument;  // the first line of its data files
    std::vector<int64_t> bytes;
    std::vector<unsigned> marks;
};

// One log code: its count per hour of the report.
struct CodeCounts {
    int code = 0;
    bool routine = false;  // start, stop, writes, growth, statistics runs
    std::string meaning;   // the entry's text with its blanks named
    std::vector<int> per_hour;
    int total = 0;
};

// One hour of a statistic: the rows of the hour's periods taken together.
struct StatisticsHour {
    int periods = 0;  // rows taken together
    int64_t samples = 0;
    double mean = 0;
    double deviation = 0;  // of all the hour's samples (population)
    int64_t missing = 0;
    int64_t non_printable = 0;
    int64_t non_parsable = 0;
    int64_t non_digit = 0;
};

// One instrument's field with statistics.
struct StatisticsSeries {
    std::string instrument;
    std::string label;
    std::vector<std::optional<StatisticsHour>> hours;  // nothing: no row that hour
};

// What one day's files were.
struct DayFindings {
    Day day;
    bool log = false;          // the day's log file was there
    int data_files = 0;        // data files of the day
    int statistics_files = 0;  // statistics files of the day
    int hours_with_data = 0;   // hours with at least one data file
};

struct StationReport {
    std::string directory;
    std::vector<Day> days;
    std::vector<DayFindings> found;
    std::vector<PortHours> ports;              // by port number
    std::vector<CodeCounts> codes;             // by code
    std::vector<StatisticsSeries> statistics;  // in the order the files name them
    // Files that were not as the logger writes them, and what was done.
    std::vector<std::string> problems;

    int Hours() const { return static_cast<int>(days.size()) * kHoursPerDay; }
    // No file of any of the days was found.
    bool Empty() const;
};

// Reads `count` days from `first` on out of `directory`.
StationReport ReadStationDays(const std::string& directory, const Day& first, int count);

// A statistics row as the statistics file has it, read back; nothing when
// the line is not one.
struct StatisticsRowText {
    std::string instrument;
    std::string label;
    int64_t samples = 0;
    double mean = 0;
    double deviation = 0;
    int64_t missing = 0;
    int64_t non_printable = 0;
    int64_t non_parsable = 0;
    int64_t non_digit = 0;
};
std::optional<StatisticsRowText> ReadStatisticsRow(const std::string& line);

// The rows of several periods as one: the samples' mean and (population)
// deviation over all of them, the counts summed. One row stays as it is.
StatisticsHour CombineRows(const std::vector<StatisticsRowText>& rows);

}  // namespace report
