// quorvane-cli report [DIR] [--day YYYY-MM-DD] [--days N] [--out FILE]: a
// station's day (or days) at a glance, from the files the logger leaves in
// its output directory: availability per port and hour, the log's entries by
// code and hour, and every statistic's hourly mean. Writes one HTML page with
// its plots inside, and the numbers behind them as CSV files beside it. It
// reads only, so a copy of the directory does as well as the station.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace CLI {
class App;
}

struct ReportOptions {
    // The output directory, or a station directory whose Quorvane.ini names
    // it (as for status); nothing: the current directory.
    std::optional<std::string> directory;
    std::optional<std::string> day;  // the last day, "YYYY-MM-DD"; nothing: yesterday (UTC)
    int days = 1;                    // how many days, ending with `day`
    std::optional<std::string> out;  // the page; nothing: quorvane-report-DAY.html here
    std::string plotter = "gnuplot";
};

// Writes the report; the exit status: 0, or 1 when it could not be written,
// 64 for a day that is none, 66 for a directory that is not there.
int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err);

void AddReportCommand(CLI::App& app, int& exit_status);
