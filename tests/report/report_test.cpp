// The report over a station directory that is not as the logger leaves it:
// missing hours, half-written files, a file of another station, lines that
// are no entries, a day without files. The report says what it found and
// what not, and counts everything it can read.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "cli/report_command.h"
#include "report/station_days.h"
#include "support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const char kStatisticsHeader[] =
    "\n                                                   KOVA/BRN Quorvane Version 1.3\n"
    "                                                 Data Acquisition Statistics\n"
    "                                   Start Time: %s | End Time: %s\n\n"
    "   Instrument     Parameter      Number of Samples             Standard     Missing   "
    "Non-Printable   Non-Parsable   Non-Digit\n"
    "      Name          Name           In Statistics     Mean      Deviation    Samples      "
    "Samples        Samples       Samples\n";

std::string Block(const char* start, const char* end, const std::vector<std::string>& rows) {
    char header[1024];
    std::snprintf(header, sizeof header, kStatisticsHeader, start, end);
    std::string text = header + std::string(126, '-') + "\n";
    for (const std::string& row : rows) {
        text += row;
    }
    return text;
}

std::string Row(const char* instrument, const char* label, long n, double mean, double sd,
                long missing, long non_printable) {
    char row[256];
    std::snprintf(row, sizeof row, "%-17s%-16s%10ld%15g%14g%11ld%13ld%15ld%14ld\n", instrument,
                  label, n, mean, sd, missing, non_printable, 0L, 0L);
    return row;
}

struct ReportRun {
    int status = 0;
    std::string out;
    std::string err;
    std::string page;
    std::string availability;
    std::string problems;
    std::string statistics;
};

ReportRun Report(const TempDir& station, const TempDir& reports, const std::string& day,
                 int days = 1) {
    ReportOptions options;
    options.directory = station.path();
    options.day = day;
    options.days = days;
    options.out = reports.File("r.html");
    options.plotter = "quorvane-no-such-plotter";
    std::ostringstream out;
    std::ostringstream err;
    ReportRun run;
    run.status = RunReport(options, out, err);
    run.out = out.str();
    run.err = err.str();
    run.page = ReadFile(reports.File("r.html"));
    run.availability = ReadFile(reports.File("r-availability.csv"));
    run.problems = ReadFile(reports.File("r-problems.csv"));
    run.statistics = ReadFile(reports.File("r-statistics.csv"));
    return run;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The availability lines of the bad directory below: per hour, COM1 to COM3
// as "bytes,no_data,receive_queue_full,port_lost,write_failure".
std::string ExpectedAvailability() {
    std::string csv =
        "date,day_of_year,hour,port,bytes,no_data,receive_queue_full,port_lost,write_failure\n";
    for (int h = 0; h < 24; ++h) {
        const std::string com1 = h == 0   ? "43,0,0,0,0"
                                 : h == 1 ? "16,0,0,0,0"
                                 : h == 3 ? "14,0,0,0,0"
                                          : "0,0,0,0,0";
        const std::string com2 = h == 0 || h == 23 ? "0,1,0,0,0" : "0,0,0,0,0";
        const std::string com3 = h == 3 ? "0,0,0,0,1" : h == 4 ? "0,0,0,1,0" : "0,0,0,0,0";
        char hour[48];
        std::snprintf(hour, sizeof hour, "2026-12-08,342,%02d,", h);
        csv += hour + ("COM1," + com1) + "\n" + hour + "COM2," + com2 + "\n" + hour + "COM3," +
               com3 + "\n";
    }
    return csv;
}

// 2026-12-08 is day 342: files "26342...". One of everything that can be
// wrong, and the sound rest counted.
TEST(Report, ABadDirectoryIsToldFileByFileAndTheRestIsCounted) {
    TempDir station;
    TempDir reports;
    const std::string log =
        "Quorvane Version 1.3 LogFile 26342.LOG\n\n"
        "MM/DD/YY HH:MM:SS:MMM CODE MESSAGE\n"
        "12/08/26 00:00:01:000  03  Data acquisition thread started.\n"
        "12/08/26 01:00:00:120  21  No data received from COM2 during the period 00:00:01 to "
        "01:00:00\n"
        "12/08/26 01:00:00:130  20  Disk I/O: Write to /x/2634200.P01.\n"
        "this line is no entry\n"
        "12/08/26 03:10:00:000  19  Can't open /x/2634203.P03 for data output.\n"
        "12/08/26 04:00:00:000  32  COM3 lost (gone); it is reopened when it returns.\n"
        "11/08/25 04:00:00:000  03  Data acquisition thread started.\n"
        "12/09/26 00:00:00:000  21  No data received from COM2 during the period 23:00:00 to "
        "00:00:00\n"
        "12/08/26 23:5";  // the write was cut short
    WriteFile(station.File("26342.LOG"), log);
    WriteFile(station.File("2634200.P01"), "Thermo\n12/08/26 00:00:01:000 StartTime\nT 1\n");
    WriteFile(station.File("2634201.P01"), "Thermo\nT 2\nT 3\nT");  // half-written
    WriteFile(station.File("2634203.P01"), "Barometer\nB 1\n");     // another station's
    WriteFile(station.File("2634299.P01"), "Thermo\n");             // no such hour
    WriteFile(station.File("2634100.P01"), "Thermo\nthe day before\n");
    // Two periods in hour 00: {1, 3} and {5}; one half-written row in hour 01.
    WriteFile(station.File("2634200.sta"), Block("12/08/26 00:00:01", "12/08/26 00:30:00",
                                                 {Row("Thermo", "level", 2, 2, 1, 1, 0)}) +
                                               Block("12/08/26 00:30:00", "12/08/26 01:00:00",
                                                     {Row("Thermo", "level", 1, 5, 0, 0, 2)}));
    WriteFile(station.File("2634201.sta"),
              Block("12/08/26 01:00:00", "12/08/26 02:00:00",
                    {Row("Thermo", "level", 4, 7.5, 0.5, 0, 0), "Thermo           lev"}));

    const ReportRun run = Report(station, reports, "2026-12-08");
    ASSERT_EQ(run.status, 0) << run.err;

    // The data files of the day, each hour's bytes as the file's size.
    EXPECT_EQ(run.availability, ExpectedAvailability());
    // Every entry that is one, in its hour; the one of midnight in the last.
    EXPECT_EQ(run.problems,
              "date,day_of_year,hour,code,entries,needs_attention\n"
              "2026-12-08,342,00,03,1,0\n"
              "2026-12-08,342,01,20,1,0\n"
              "2026-12-08,342,01,21,1,1\n"
              "2026-12-08,342,03,19,1,1\n"
              "2026-12-08,342,04,32,1,1\n"
              "2026-12-08,342,23,21,1,1\n");
    // Two periods as one hour: the samples 1, 3 and 5.
    EXPECT_EQ(run.statistics,
              "date,day_of_year,hour,instrument,label,periods,samples,mean,standard_deviation,"
              "missing,non_printable,non_parsable,non_digit\n"
              "2026-12-08,342,00,Thermo,level,2,3,3,1.63299,1,2,0,0\n"
              "2026-12-08,342,01,Thermo,level,1,4,7.5,0.5,0,0,0,0\n");

    // What was not as the logger writes it, file by file, on the page and
    // on standard error.
    for (const char* told : {"26342.LOG: 2 lines are not log entries; skipped.",
                             "26342.LOG: 1 entry carries the date of another day; not counted.",
                             "2634203.P01: names the instrument \"Barometer\"",
                             "2634299.P01: not a data file name the logger makes; skipped.",
                             "2634201.sta: 1 row cannot be read; skipped."}) {
        EXPECT_TRUE(Has(run.err, told)) << told << "\n" << run.err;
        std::string escaped = told;
        for (size_t at = escaped.find('"'); at != std::string::npos; at = escaped.find('"', at)) {
            escaped.replace(at, 1, "&quot;");
        }
        EXPECT_TRUE(Has(run.page, escaped)) << told;
    }
    EXPECT_TRUE(Has(run.page, "<td>4 of 24</td>") || Has(run.page, ">3 of 24<")) << run.page;
    EXPECT_TRUE(Has(run.page,
                    "The plots could not be drawn: quorvane-no-such-plotter cannot be "
                    "started"));
    EXPECT_TRUE(Has(run.out, "Report of 2026-12-08 (day 342): " + reports.File("r.html")));
}

TEST(Report, ADayWithoutFilesIsSaidToBeOneAndBadDaysAreRefused) {
    TempDir station;
    TempDir reports;
    WriteFile(station.File("2634100.P01"), "Thermo\nthe day before\n");
    const ReportRun run = Report(station, reports, "2026-12-08");
    ASSERT_EQ(run.status, 0);
    const std::string said =
        "no log, data or statistics file of 2026-12-08 (day 342) is in " + station.path();
    EXPECT_TRUE(Has(run.err, said)) << run.err;
    EXPECT_TRUE(Has(run.page, "No log, data or statistics file of 2026-12-08 (day 342) is in"));
    EXPECT_EQ(run.availability.find('\n'), run.availability.size() - 1) << "only the header";

    // Three days across a year's end: 2024 has 366.
    const ReportRun days = Report(station, reports, "2025-01-01", 3);
    EXPECT_TRUE(Has(days.page, "2024-12-30 (day 365) to 2025-01-01 (day 1)")) << days.page;

    for (const char* bad : {"2026-02-29", "2026-13-01", "08.12.2026", "2026-12-8"}) {
        ReportOptions options;
        options.directory = station.path();
        options.day = bad;
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunReport(options, out, err), 64) << bad;
        EXPECT_TRUE(Has(err.str(), "is not a day; write it YYYY-MM-DD")) << err.str();
    }
    EXPECT_EQ(report::ParseDay("2024-02-29")->day_of_year, 60);
}

}  // namespace
