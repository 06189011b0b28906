// Figures of quorvane-cli report over a station directory of many days.
//
//   report_bench make DIR [DAYS] [PORTS]   writes DAYS (default 30) days ending
//                                          2026-12-08 of PORTS (default 9) ports
//                                          in the logger's formats: 15-minute
//                                          periods, data files (sparse, of a
//                                          1 Hz instrument's size), the daily
//                                          logs, the statistics files with
//                                          three fields a port; a few gaps, a
//                                          lost port and garbled records
//   report_bench time DIR [DAYS]           the report of the DAYS days: the time
//                                          of reading, plotting and writing,
//                                          and the process's peak memory
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "report/plots.h"
#include "report/report_page.h"
#include "report/station_days.h"

namespace {

constexpr int kPeriodsPerHour = 4;
const char* const kFields[] = {"temperature", "humidity", "pressure"};

// The same numbers every time: a small linear congruential generator.
struct Random {
    uint64_t state = 20261208;
    double Next() {  // 0..1
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / static_cast<double>(1ull << 53);
    }
};

std::string Stamp(const report::Day& day, int hour, int minute, int second) {
    char text[96];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", day.month, day.day,
                  day.year % 100, hour, minute, second);
    return text;
}

std::string Clock(int hour, int minute) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:00", hour % 24, minute);
    return text;
}

// Port `port` has no data in this hour: COM2 from 03 to 05 h every fifth
// day, COM5 for two hours after it was lost on the 10th day.
bool Silent(int day_index, int port, int hour) {
    return (port == 2 && day_index % 5 == 0 && hour >= 3 && hour <= 5) ||
           (port == 5 && day_index == 9 && (hour == 14 || hour == 15));
}

void MakeDay(const std::string& dir, const report::Day& day, int day_index, int ports,
             Random& random) {
    std::string log = "Quorvane Version 1.3 LogFile " + day.FileStem() +
                      ".LOG\n\nMM/DD/YY HH:MM:SS:MMM CODE MESSAGE\n";
    const auto entry = [&](int hour, int minute, int second, const std::string& text) {
        log += Stamp(day, hour, minute, second) + ":" + "017  " + text + "\n";
    };
    if (day_index == 0) {
        entry(0, 0, 0, "03  Data acquisition thread started.");
    }
    for (int hour = 0; hour < 24; ++hour) {
        char stem[64];
        std::snprintf(stem, sizeof stem, "%s%02d", day.FileStem().c_str(), hour);
        std::string statistics;
        for (int period = 0; period < kPeriodsPerHour; ++period) {
            const int minute = period * 15;
            const int end_hour = minute == 45 ? hour + 1 : hour;
            const int end_minute = (minute + 15) % 60;
            if (day_index == 9 && hour == 14 && period == 0) {
                entry(14, 0, 3, "32  COM5 lost (the device is gone); it is reopened when it returns.");
            }
            if (day_index == 9 && hour == 16 && period == 0) {
                entry(16, 0, 1, "33  COM5 reopened after 7198 s.");
            }
            statistics += "\n" + std::string(51, ' ') + "KOVA/BRN Quorvane Version 1.3\n" +
                          std::string(49, ' ') + "Data Acquisition Statistics\n" +
                          std::string(35, ' ') + "Start Time: " + Stamp(day, hour, minute, 0) +
                          " | End Time: " + Stamp(day, end_hour % 24, end_minute, 0) + "\n\n";
            statistics +=
                "   Instrument     Parameter      Number of Samples             Standard     "
                "Missing   Non-Printable   Non-Parsable   Non-Digit\n      Name          Name  "
                "         In Statistics     Mean      Deviation    Samples      Samples        "
                "Samples       Samples\n" +
                std::string(126, '-') + "\n";
            for (int port = 1; port <= ports; ++port) {
                const bool silent = Silent(day_index, port, hour);
                const int at_hour = end_minute == 0 ? end_hour : hour;
                const int at_minute = end_minute;
                if (silent) {
                    entry(at_hour % 24, at_minute, 0,
                          "21  No data received from COM" + std::to_string(port) +
                              " during the period " + Clock(hour, minute) + " to " +
                              Clock(end_hour, end_minute));
                } else {
                    char path[96];
                    std::snprintf(path, sizeof path, "%s.P%02d", stem, port);
                    entry(at_hour % 24, at_minute, 0,
                          "20  Disk I/O: Write to " + dir + "/" + path + ".");
                }
                const bool garbled = port == 3 && random.Next() < 0.05;
                if (garbled) {
                    entry(at_hour % 24, at_minute, 0,
                          "28  Incomplete number of tokens acquired from COM3 data string.");
                }
                for (int f = 0; f < 3; ++f) {
                    const double t = (day_index * 24 + hour + period / 4.0) / 24.0;
                    const double base[] = {12.0, 65.0, 1013.0};
                    const double swing[] = {6.0, -20.0, 3.0};
                    const double mean = base[f] + port * 0.3 +
                                        swing[f] * std::sin(2 * M_PI * (t - 0.375)) +
                                        (random.Next() - 0.5) * 0.4 +
                                        (port == 7 && f == 0 ? day_index * 0.05 : 0);  // drifts
                    const long samples = silent ? 0 : 900 - (garbled ? 3 : 0);
                    char row[256];
                    std::snprintf(row, sizeof row, "%-17s%-16s%10ld%15g%14g%11ld%13ld%15ld%14ld\n",
                                  ("Station-" + std::to_string(port)).c_str(), kFields[f], samples,
                                  silent ? 0.0 : mean, silent ? 0.0 : 0.2 + random.Next() * 0.3,
                                  0L, garbled ? 3L : 0L, 0L, 0L);
                    statistics += row;
                }
            }
            entry(end_hour % 24, end_minute, 0, "24  Calculating diagnostic statistics.");
        }
        std::ofstream(dir + "/" + stem + ".sta", std::ios::binary) << statistics;
        for (int port = 1; port <= ports; ++port) {
            if (Silent(day_index, port, hour) && Silent(day_index, port, (hour + 23) % 24)) {
                continue;
            }
            char name[96];
            std::snprintf(name, sizeof name, "%s.P%02d", stem, port);
            const std::string path = dir + "/" + name;
            std::ofstream(path, std::ios::binary)
                << "Station-" << port << "\n"
                << Stamp(day, hour, 0, 0) << ":000 StartTime\n";
            // A 1 Hz instrument's 40-byte records: sparse, only the size counts.
            const auto size = static_cast<uintmax_t>(144000 * (0.97 + 0.06 * random.Next()));
            std::filesystem::resize_file(path, Silent(day_index, port, hour) ? size / 4 : size);
        }
    }
    std::ofstream(dir + "/" + day.FileStem() + ".LOG", std::ios::binary) << log;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

const report::Day kLastDay = *report::ParseDay("2026-12-08");

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: report_bench make DIR [DAYS] [PORTS] | time DIR [DAYS]\n");
        return 64;
    }
    const std::string what = argv[1];
    const std::string dir = argv[2];
    const int days = argc > 3 ? std::atoi(argv[3]) : 30;
    if (what == "make") {
        const int ports = argc > 4 ? std::atoi(argv[4]) : 9;
        std::filesystem::create_directories(dir);
        Random random;
        for (int i = 0; i < days; ++i) {
            MakeDay(dir, report::DaysBefore(kLastDay, days - 1 - i), i, ports, random);
        }
        std::printf("%d days of %d ports in %s\n", days, ports, dir.c_str());
        return 0;
    }
    const report::Day first = report::DaysBefore(kLastDay, days - 1);
    auto start = std::chrono::steady_clock::now();
    const report::StationReport station = report::ReadStationDays(dir, first, days);
    const double read = Seconds(start);
    start = std::chrono::steady_clock::now();
    const report::Plots plots = report::DrawPlots(station);
    const double plotted = Seconds(start);
    start = std::chrono::steady_clock::now();
    const auto names = report::FileNamesFor(dir + "-report.html");
    const std::string error = report::WriteReportFiles(station, plots, names, "report_bench");
    const double written = Seconds(start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d days, %zu ports, %zu statistics, %zu findings%s%s\n", days,
                station.ports.size(), station.statistics.size(), station.problems.size(),
                plots.why_missing.empty() ? "" : "; plots: ", plots.why_missing.c_str());
    std::printf("read %.2f s, plots %.2f s, written %.2f s; page %.1f MB; peak memory %.1f MB%s\n",
                read, plotted, written,
                static_cast<double>(std::filesystem::file_size(names.page)) / 1e6,
                static_cast<double>(usage.ru_maxrss) / 1024.0, error.empty() ? "" : error.c_str());
    return error.empty() ? 0 : 1;
}
