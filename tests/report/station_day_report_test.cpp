// A station's simulated day (the real engine, pty instruments, the fake
// clock) and the report of it: every number of the report's CSV files is the
// one the station's own files hold, and the plots are made.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/report_command.h"
#include "support/engine_harness.h"

namespace engine_testing {
namespace {

namespace fs = std::filesystem;
using testing_support::Port;

constexpr int kStreaming = 0;  // COM1: every hour
constexpr int kGappy = 1;      // COM2: silent 05 and 06 h, garbled at 09 h
constexpr int kUnplugged = 2;  // COM4: unplugged from 12 to 14 h

std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, ',')) {
            fields.push_back(field);
        }
        rows.push_back(fields);
    }
    return rows;
}

// Statistics of the fields 0 and 1 of a port, named "level" and "rate".
void SummariseTwoFields(ComConfig& config, int position) {
    config.NumTokenIndices[position] = 2;
    const char* const labels[] = {"level", "rate"};
    for (int j = 0; j < 2; ++j) {
        config.TokenIndicesForStatistics[position][j] = j;
        config.ErrorCheckingTokenIndices[position][j] = 0;
        config.ErrorValuesPerTokenIndex[position][j] = -1;
        std::snprintf(config.TokenLabelsForStatistics[position][j], 500, "%s", labels[j]);
    }
}

class StationDayReport : public EngineTest {
protected:
    ~StationDayReport() override { fs::remove(Link()); }
    std::string Link() { return dir_.path() + "-wind"; }
    sim::PtyPair& Plug() {
        sim::PtyPair& pty = AddPty();
        fs::create_symlink(pty.path(), Link() + ".new");
        fs::rename(Link() + ".new", Link());
        return pty;
    }

    // Runs the day: each hour the instruments send, then the period ends.
    void RunTheDay() {
        sim::PtyPair& streaming = AddPty();
        sim::PtyPair& gappy = AddPty();
        sim::PtyPair* wind = &Plug();
        ComConfig config = testing_support::MakeTestConfig(
            dir_.path(), 60,
            {Port(1, "Thermo").WithDevice(streaming.path()).WithStats('\n'),
             Port(2, "Hygro").WithDevice(gappy.path()).WithStats('\n'),
             Port(4, "Wind").WithDevice(Link())});
        SummariseTwoFields(config, kStreaming);
        SummariseTwoFields(config, kGappy);
        SetTime(0, 0, 30);
        Start(config);
        for (int hour = 0; hour < 24; ++hour) {
            std::string lines;
            for (int line = 0; line < 3 + hour % 4; ++line) {
                lines += "T " + std::to_string(20 + hour) + "." + std::to_string(line) + " " +
                         std::to_string(1000 + line * 7) + "\n";
            }
            Send(streaming, kStreaming, lines);
            if (hour == 9) {
                Send(gappy, kGappy, "H 51.0 3\n\x01\x02garbled\x7f\x03 stretch\nH 52");
                Send(gappy, kGappy, ".5 4\n");
            } else if (hour != 5 && hour != 6) {
                Send(gappy, kGappy, "H " + std::to_string(40 + hour) + ".25 2\n");
            }
            if (hour == 12) {
                // The wind sensor's cable is pulled: its name goes, as a udev
                // link does, and its terminal hangs up. A link left pointing
                // at the closed terminal could name another program's new
                // one (pty numbers are reused), which the logger would open.
                fs::remove(Link());
                ptys_.pop_back();
                ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "COM4"));
            } else if (hour == 14) {
                wind = &Plug();
                SetTime(14, 0, 20);  // the next try to open it
                ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "None"));
            }
            if (hour < 12 || hour >= 14) {
                Send(*wind, kUnplugged, "W 3.5 270\n");
            }
            if (hour < 23) {
                EndPeriodAt(hour + 1, 0);
            } else {
                clock_.Set(2024, 3, 2, 0, 0, 0, 0);
                ASSERT_TRUE(probe_.WaitForFlushes(++base_flushes_));
            }
        }
        Stop();
    }

    // Runs the report over the output directory into a folder of its own.
    std::string Report(const std::string& day, std::string& errors) {
        const fs::path folder = fs::path(dir_.path() + "-report");
        fs::create_directories(folder);
        ReportOptions options;
        options.directory = dir_.path();
        options.day = day;
        options.out = (folder / "day.html").string();
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunReport(options, out, err), 0) << err.str();
        errors = err.str();
        return folder.string();
    }
};

TEST_F(StationDayReport, TheNumbersAreTheStationsFilesAndThePlotsAreMade) {
    RunTheDay();
    std::string errors;
    const std::string folder = Report("2024-03-01", errors);
    EXPECT_EQ(errors, "");

    // Availability: one line per port and hour, the bytes the data file has.
    const auto availability = ReadCsv(testing_support::ReadFile(folder + "/day-availability.csv"));
    ASSERT_EQ(availability.size(), 24u * 3);
    std::map<std::string, std::vector<std::string>> marks;  // "COM2 05" -> marks
    for (const auto& row : availability) {
        ASSERT_EQ(row.size(), 9u);
        EXPECT_EQ(row[0], "2024-03-01");
        EXPECT_EQ(row[1], "61");
        char name[48];
        std::snprintf(name, sizeof name, "24061%s.P0%s", row[2].c_str(), row[3].c_str() + 3);
        std::error_code ec;
        const auto size = fs::file_size(dir_.File(name), ec);
        EXPECT_EQ(row[4], ec ? "0" : std::to_string(size)) << name;
        marks[row[3] + " " + row[2]] = {row[5], row[6], row[7], row[8]};
    }
    const std::vector<std::string> nothing = {"0", "0", "0", "0"};
    const std::vector<std::string> no_data = {"1", "0", "0", "0"};
    EXPECT_EQ(marks["COM2 05"], no_data);
    EXPECT_EQ(marks["COM2 06"], no_data);
    EXPECT_EQ(marks["COM2 07"], nothing);
    EXPECT_EQ(marks["COM4 12"][2], "1") << "the port was lost at 12 h";
    EXPECT_EQ(marks["COM4 13"][0], "1") << "no data while it was away";
    EXPECT_EQ(marks["COM4 14"], nothing);
    EXPECT_EQ(marks["COM1 12"], nothing);

    // Problems: the log's entries by code and hour, as the log has them.
    std::map<std::string, int> logged;  // "HH CC" -> entries
    {
        std::istringstream log(File("24061.LOG"));
        std::string line;
        while (std::getline(log, line)) {
            if (line.size() > 25 && line[2] == '/' &&
                std::isdigit(static_cast<unsigned char>(line[23]))) {
                logged[line.substr(9, 2) + " " + line.substr(23, 2)] += 1;
            }
        }
    }
    std::map<std::string, int> reported;
    for (const auto& row : ReadCsv(testing_support::ReadFile(folder + "/day-problems.csv"))) {
        ASSERT_EQ(row.size(), 6u);
        reported[row[2] + " " + row[3]] = std::stoi(row[4]);
        if (row[3] == "21" || row[3] == "32") {
            EXPECT_EQ(row[5], "1") << "needs attention";
        } else if (row[3] == "20" || row[3] == "24") {
            EXPECT_EQ(row[5], "0") << "routine";
        }
    }
    for (const auto& [key, count] : logged) {
        EXPECT_EQ(reported[key], count) << key;
    }
    EXPECT_EQ(reported, logged);
    EXPECT_GE(reported["12 32"], 1);

    // Statistics: with one period an hour, each hour's line is the file's row.
    std::map<std::string, std::string> rows;  // "HH instrument label" -> numbers
    for (int hour = 0; hour < 24; ++hour) {
        char name[48];
        std::snprintf(name, sizeof name, "24061%02d.sta", hour);
        std::istringstream file(testing_support::ReadFile(dir_.File(name)));
        std::string line;
        while (std::getline(file, line)) {
            std::istringstream fields(line);
            std::string instrument;
            std::string label;
            std::string numbers;
            std::string number;
            if (!(fields >> instrument >> label) ||
                (instrument != "Thermo" && instrument != "Hygro")) {
                continue;
            }
            while (fields >> number) {
                numbers += (numbers.empty() ? "" : ",") + number;
            }
            char key[160];
            std::snprintf(key, sizeof key, "%02d %s %s", hour, instrument.c_str(), label.c_str());
            rows[key] = numbers;
        }
    }
    std::map<std::string, std::string> statistics;
    for (const auto& row : ReadCsv(testing_support::ReadFile(folder + "/day-statistics.csv"))) {
        ASSERT_EQ(row.size(), 13u);
        EXPECT_EQ(row[5], "1") << "one period an hour";
        std::string numbers;
        for (size_t i = 6; i < row.size(); ++i) {
            numbers += (i > 6 ? "," : "") + row[i];
        }
        statistics[row[2] + " " + row[3] + " " + row[4]] = numbers;
    }
    EXPECT_EQ(statistics.size(), 24u * 4);
    EXPECT_EQ(statistics, rows);
    EXPECT_NE(statistics["09 Hygro level"].find(",0,1,0,0"), std::string::npos)
        << "the garbled record is counted non-printable: " << statistics["09 Hygro level"];

    // The page holds its images: the grid, the problems, four statistics.
    const std::string page = testing_support::ReadFile(folder + "/day.html");
    size_t images = 0;
    for (size_t at = page.find("<img src=\"data:image/svg+xml;base64,"); at != std::string::npos;
         at = page.find("<img src=\"data:image/svg+xml;base64,", at + 1)) {
        const size_t end = page.find('"', at + 10);
        EXPECT_GT(end - at, 1000u) << "an image of some size";
        ++images;
    }
    EXPECT_EQ(images, 2u + 4u);
    EXPECT_NE(page.find("2024-03-01 (day 61)"), std::string::npos);
    EXPECT_EQ(page.find("could not be drawn"), std::string::npos);
}

}  // namespace
}  // namespace engine_testing
