// The report as files: one HTML page that holds its images (a person opens it
// anywhere, without the station), and beside it the numbers behind every plot
// as CSV: FILE.html, FILE-availability.csv, FILE-problems.csv and
// FILE-statistics.csv.
#pragma once

#include <string>

#include "report/plots.h"
#include "report/station_days.h"

namespace report {

// The CSV texts. Days are named as people read them (2026-12-08) with the
// day of the year beside; one line per port and hour, per code and hour with
// entries, per statistic and hour with a row.
std::string AvailabilityCsv(const StationReport& report);
std::string ProblemsCsv(const StationReport& report);
std::string StatisticsCsv(const StationReport& report);

struct ReportFileNames {
    std::string page;
    std::string availability;
    std::string problems;
    std::string statistics;
};
// The names beside `page` ("x.html" or "x": x-availability.csv, ...).
ReportFileNames FileNamesFor(const std::string& page);

// The page. `made_by` names the program and the time it was made.
std::string ReportPage(const StationReport& report, const Plots& plots,
                       const ReportFileNames& names, const std::string& made_by);

// "2026-12-08 (day 342)", or "2026-12-01 (day 335) to 2026-12-08 (day 342)".
std::string DaysName(const StationReport& report);

// Writes the page and the CSV files; empty, or what could not be written.
std::string WriteReportFiles(const StationReport& report, const Plots& plots,
                             const ReportFileNames& names, const std::string& made_by);

}  // namespace report
