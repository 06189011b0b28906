// The report's plots, drawn by gnuplot (Debian: gnuplot-nox) as SVG images:
// the availability grid of ports by hours, the log's entries that need
// attention stacked by code and hour, and one plot per statistic (the hourly
// mean, a band of one standard deviation, and the sample counts).
#pragma once

#include <string>
#include <vector>

#include "report/station_days.h"

namespace report {

struct Plots {
    std::string availability;             // SVG text; empty: not drawn
    std::string problems;                 // empty also when no entry needs attention
    std::vector<std::string> statistics;  // one for each series of the report
    std::string why_missing;              // when plots that were asked for are missing
};

struct PlotSettings {
    std::string program = "gnuplot";  // found through the search path
    int timeout_ms = 300000;
};

// Draws every plot of `report` in one run of the plotting program.
Plots DrawPlots(const StationReport& report, const PlotSettings& settings = {});

}  // namespace report
