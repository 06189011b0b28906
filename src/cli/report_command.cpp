#include "cli/report_command.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "cli/cli11.h"
#include "cli/command_line.h"
#include "cli/status_command.h"
#include "platform/clock.h"
#include "report/plots.h"
#include "report/report_page.h"
#include "report/station_days.h"
#include "version/build_info.h"

namespace {

constexpr int kMostDays = 366;

std::string MadeBy() {
    const platform::SystemTime now = platform::CurrentClock().UtcNow();
    char when[96];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d UTC", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute);
    return VersionLine("quorvane-cli") + " on " + when;
}

}  // namespace

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err) {
    const std::string directory = StatusDirectoryOf(options.directory);
    if (std::error_code ec; !std::filesystem::is_directory(directory, ec)) {
        err << "quorvane-cli report: there is no directory " << directory << "\n";
        return 66;  // EX_NOINPUT
    }
    report::Day last = report::DaysBefore(report::DayOf(platform::CurrentClock().Now()), 1);
    if (options.day) {
        const auto day = report::ParseDay(*options.day);
        if (!day) {
            err << "quorvane-cli report: \"" << *options.day
                << "\" is not a day; write it YYYY-MM-DD, as 2026-12-08\n";
            return kExitUsage;
        }
        last = *day;
    }
    if (options.days < 1 || options.days > kMostDays) {
        err << "quorvane-cli report: --days takes 1 to " << kMostDays << "\n";
        return kExitUsage;
    }
    const report::Day first = report::DaysBefore(last, options.days - 1);
    const report::StationReport station = report::ReadStationDays(directory, first, options.days);
    std::string page = options.out.value_or(
        "quorvane-report-" + first.IsoName() +
        (options.days > 1 ? "-to-" + last.IsoName() : std::string()) + ".html");
    const report::ReportFileNames names = report::FileNamesFor(page);
    report::PlotSettings settings;
    settings.program = options.plotter;
    const report::Plots plots = report::DrawPlots(station, settings);
    if (const std::string error = report::WriteReportFiles(station, plots, names, MadeBy());
        !error.empty()) {
        err << "quorvane-cli report: " << error << "\n";
        return 1;
    }
    if (station.Empty()) {
        err << "quorvane-cli report: no log, data or statistics file of "
            << report::DaysName(station) << " is in " << directory << "\n";
    }
    if (!plots.why_missing.empty()) {
        err << "quorvane-cli report: the plots could not be drawn: " << plots.why_missing << "\n";
    }
    for (const std::string& problem : station.problems) {
        err << "quorvane-cli report: " << problem << "\n";
    }
    out << "Report of " << report::DaysName(station) << ": " << names.page << "\n"
        << "Its numbers: " << names.availability << ", " << names.problems << ", "
        << names.statistics << "\n";
    return 0;
}

void AddReportCommand(CLI::App& app, int& exit_status) {
    auto options = std::make_shared<ReportOptions>();
    auto directory = std::make_shared<std::string>();
    auto day = std::make_shared<std::string>();
    auto page = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "report",
        "Write a station's day at a glance: availability, problems and statistics "
        "as an HTML page with plots, and their numbers as CSV");
    command->add_option("DIR", *directory,
                        "The output directory, or a directory with the Quorvane.ini that names "
                        "it (default: the current directory)");
    command->add_option("--day", *day, "The (last) day, YYYY-MM-DD (default: yesterday, UTC)");
    command->add_option("--days", options->days, "How many days, ending with --day")
        ->check(CLI::Range(1, kMostDays));
    command->add_option("--out", *page,
                        "The page to write (default: quorvane-report-DAY.html here); the "
                        "CSV files go beside it");
    command->callback([options, directory, day, page, &exit_status] {
        ReportOptions given = *options;
        if (!directory->empty()) {
            given.directory = *directory;
        }
        if (!day->empty()) {
            given.day = *day;
        }
        if (!page->empty()) {
            given.out = *page;
        }
        exit_status = RunReport(given, std::cout, std::cerr);
    });
}
