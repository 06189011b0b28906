// The statistics file as the period flush writes it: name, header block, rows,
// read-only state, the log entries, and the failure to open the file.
#include "acquisition/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/statistics_analysis.h"
#include "platform/clock.h"
#include "platform/fake_clock.h"
#include "platform/files.h"
#include "support/config_builder.h"
#include "support/temp_dir.h"
#include "support/write_faults.h"

namespace {

using platform::FakeClock;
using testing_support::ConfigBuilder;
using testing_support::PortSettings;
using testing_support::ReadFile;
using testing_support::TempDir;

#ifdef _WIN32
const std::string kEol = "\r\n";  // the statistics and log files are text files
#else
const std::string kEol = "\n";
#endif

std::string Blanks(int n) {
    return std::string(n, ' ');
}

std::string ExpectedHeader(const std::string& times) {
    return kEol + Blanks(51) + "KOVA/BRN Quorvane Version 1.3" + kEol + Blanks(49) +
           "Data Acquisition Statistics" + kEol + Blanks(35) + times + kEol + kEol + Blanks(3) +
           "Instrument     Parameter      Number of Samples             Standard     Missing   "
           "Non-Printable   Non-Parsable   Non-Digit" +
           kEol + Blanks(6) +
           "Name          Name           In Statistics     Mean      Deviation    Samples      "
           "Samples        Samples       Samples" +
           kEol + std::string(126, '-') + kEol;
}

// Lines of the log after its three header lines, without their time stamps.
std::vector<std::string> LogMessages(const std::string& log) {
    std::vector<std::string> messages;
    std::size_t start = 0;
    int line = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        std::string text = log.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        if (++line > 3 && text.size() > 23) {
            messages.push_back(text.substr(23));  // "MM/DD/YY HH:MM:SS:MMM  "
        }
        start = end + 1;
    }
    return messages;
}

PortSettings WeatherPort(int number) {
    PortSettings port;
    port.number = number;
    port.instrument = "WXT";
    port.positions = {1, 2};
    port.labels = {"Temp", "RH"};
    port.error_positions = {0, 0};
    port.error_values = {9, 9};
    return port;
}

class StatisticsFile : public ::testing::Test {
protected:
    int Run(std::vector<std::string> texts, int64_t start, int64_t end) {
        std::vector<char*> buffers;
        std::vector<int32_t> lengths;
        for (std::string& text : texts) {
            buffers.push_back(text.data());
            lengths.push_back(static_cast<int32_t>(text.size()));
        }
        const StatisticsPeriod period{platform::BreakDownUtc(start), start, end};
        return CalculateDiagnosticStatistics(builder_.config(), period, buffers.data(),
                                             lengths.data());
    }
    std::vector<std::string> Log() const { return LogMessages(ReadFile(dir_.File("97123.LOG"))); }

    // 1997-05-03 is day 123; the period runs from 14:00 to 15:00.
    const int64_t start_ = FakeClock::EpochMs(1997, 5, 3, 14, 0, 0) / 1000;
    const int64_t half_ = FakeClock::EpochMs(1997, 5, 3, 14, 30, 0) / 1000;
    const int64_t end_ = FakeClock::EpochMs(1997, 5, 3, 15, 0, 0) / 1000;
    FakeClock clock_{FakeClock::EpochMs(1997, 5, 3, 15, 0, 1)};
    platform::ClockScope scope_{clock_};
    TempDir dir_;
    ConfigBuilder builder_{dir_.path()};
};

TEST_F(StatisticsFile, HeaderBlockAndRowsAreAppendedAndTheFileIsLeftReadOnly) {
    builder_.AddPort(WeatherPort(3));
    // The text before the first line end began before the period, the text
    // after the last one is incomplete; the third record carries the error flag.
    EXPECT_EQ(Run({"12.0 0 99 99\n0 10.0 50\n0 12.0 70\n9 11 60\n0 13"}, start_, half_), 0);

    const std::string path = dir_.File("9712314.sta");
    const std::string rows =
        "WXT              Temp                     2             11             1          1  "
        "          0              0             0" +
        kEol +
        "WXT              RH                       2             60            10          1  "
        "          0              0             0" +
        kEol;
    const std::string block =
        ExpectedHeader("Start Time: 05/03/97 14:00:00 | End Time: 05/03/97 14:30:00") + rows;
    EXPECT_EQ(ReadFile(path), block);
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
    EXPECT_EQ(Log(), std::vector<std::string>{"24  Calculating diagnostic statistics."});

    // The next period of the hour (cut short by a stop at 14:41:07) appends a
    // block of its own to the read-only file; an empty buffer gives zero rows.
    EXPECT_EQ(Run({""}, half_, half_ + 11 * 60 + 7), 0);
    const std::string empty_rows =
        "WXT              Temp                     0              0             0          0  "
        "          0              0             0" +
        kEol +
        "WXT              RH                       0              0             0          0  "
        "          0              0             0" +
        kEol;
    EXPECT_EQ(ReadFile(path),
              block +
                  ExpectedHeader("Start Time: 05/03/97 14:30:00 | End Time: 05/03/97 14:41:07") +
                  empty_rows);
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
}

TEST_F(StatisticsFile, OnlyPortsWithDoStatsGetRowsInPortOrderUnderOneHeader) {
    PortSettings quiet = WeatherPort(7);
    quiet.instrument = "NOSTATS";
    quiet.do_stats = false;
    PortSettings hygrometer = WeatherPort(2);
    hygrometer.instrument = "HYGRO";
    hygrometer.positions = {0};
    hygrometer.labels = {"H2O"};
    hygrometer.error_positions = {5};
    hygrometer.error_values = {0};
    builder_.AddPort(WeatherPort(4)).AddPort(quiet).AddPort(hygrometer);

    // The port without DoStats holds records that would be logged as
    // incomplete if it were analysed.
    EXPECT_EQ(Run({"\n0 1 2\n", "\nx\ny\nz\n", "\n5\n7\n"}, start_, end_), 0);
    const std::string content = ReadFile(dir_.File("9712314.sta"));
    const std::string header =
        ExpectedHeader("Start Time: 05/03/97 14:00:00 | End Time: 05/03/97 15:00:00");
    ASSERT_EQ(content.substr(0, header.size()), header);
    EXPECT_EQ(
        content.substr(header.size()),
        "WXT              Temp                     1              1             0          0  "
        "          0              0             0" +
            kEol +
            "WXT              RH                       1              2             0          "
            "0            0              0             0" +
            kEol +
            "HYGRO            H2O                      2              6             1          "
            "0            0              0             0" +
            kEol);
    EXPECT_EQ(Log(), std::vector<std::string>{"24  Calculating diagnostic statistics."});
}

TEST_F(StatisticsFile, RejectedRecordsAreLoggedOnceEachWithTheComNumber) {
    builder_.AddPort(WeatherPort(5));
    std::string text = "\n";
    text += std::string(1001, '1') + "\n";  // too long: 22
    for (int i = 0; i < 150; ++i) {         // 150 tokens: 23, yet its samples count
        text += std::to_string(i % 10) + " ";
    }
    text += "\n0 1\n";   // position 2 missing: 28
    text += "0\t1 2\n";  // not printable: counted, not logged
    EXPECT_EQ(Run({text}, start_, end_), 0);
    EXPECT_EQ(
        Log(),
        (std::vector<std::string>{
            "24  Calculating diagnostic statistics.",
            "22  The number of characters in SampleTok exceeds MAX_WORKING_STRING_LEN for COM5",
            "23  The number of detected field tokens exceeds MAX_TOKENS for COM5",
            "28  Incomplete number of tokens acquired from COM5 data string."}));
    const std::string content = ReadFile(dir_.File("9712314.sta"));
    EXPECT_NE(
        content.find("WXT              Temp                     1              1             0"
                     "          0            1              2             0"),
        std::string::npos)
        << content;
}

TEST_F(StatisticsFile, ABlockThatDoesNotFitLeavesTheFileAsItWasAndLogs19) {
    builder_.AddPort(WeatherPort(1));
    ASSERT_EQ(Run({"\n0 1 2\n"}, start_, half_), 0);
    const std::string path = dir_.File("9712314.sta");
    const std::string before = ReadFile(path);
    testing_support::WriteFaults faults;
    faults.LimitPathsContaining("9712314.sta", 100);  // the disk is full after 100 bytes
    EXPECT_EQ(Run({"\n0 3 4\n"}, half_, end_), -1);
    EXPECT_EQ(ReadFile(path), before);  // no half block
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
    const std::vector<std::string> log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "19  Can't open " + path + " for data output.");
}

// A port sending nothing but bad records must not write an entry per record:
// ten of each code per port and period, then one entry with the count of the rest.
TEST_F(StatisticsFile, RejectedRecordsBeyondTenOfACodeAreCountedInOneEntry) {
    builder_.AddPort(WeatherPort(5)).AddPort(WeatherPort(6));
    std::string five = "\n";
    for (int i = 0; i < 25; ++i) {
        five += "0 1\n";  // position 2 missing: 28
        if (i < 12) {
            five += std::string(1001, '1') + "\n";  // too long: 22
        }
    }
    for (int i = 0; i < 10; ++i) {
        for (int t = 0; t < 101; ++t) {  // 101 tokens: 23, yet complete
            five += "1 ";
        }
        five += "\n";
    }
    std::string six = "\n";
    for (int i = 0; i < 11; ++i) {
        six += "0\n";
    }
    EXPECT_EQ(Run({five, six}, start_, end_), 0);

    const std::string k22 =
        "22  The number of characters in SampleTok exceeds MAX_WORKING_STRING_LEN for COM5";
    const std::string k23 = "23  The number of detected field tokens exceeds MAX_TOKENS for COM5";
    const std::string k28 = "28  Incomplete number of tokens acquired from COM5 data string.";
    std::vector<std::string> expected = {"24  Calculating diagnostic statistics."};
    // As the records come: 28 and 22 in turn, ten of each; the 23s (only ten:
    // no summary for them); the summaries at the end of the port's analysis.
    for (int i = 0; i < 10; ++i) {
        expected.push_back(k28);
        expected.push_back(k22);
    }
    for (int i = 0; i < 10; ++i) {
        expected.push_back(k23);
    }
    expected.push_back("35  2 more records of COM5 like the entries 22 above in this period.");
    expected.push_back("35  15 more records of COM5 like the entries 28 above in this period.");
    for (int i = 0; i < 10; ++i) {
        expected.push_back("28  Incomplete number of tokens acquired from COM6 data string.");
    }
    expected.push_back("35  1 more records of COM6 like the entries 28 above in this period.");
    EXPECT_EQ(Log(), expected);

    // The rows count every record all the same.
    const std::string content = ReadFile(dir_.File("9712314.sta"));
    EXPECT_NE(
        content.find("WXT              Temp                    10              1             0"
                     "          0            0             22             0"),
        std::string::npos)
        << content;
}

TEST_F(StatisticsFile, FileThatCannotBeOpenedLogs19AndSkipsThePeriod) {
    builder_.AddPort(WeatherPort(1));
    // A directory where the file should be: no open can succeed.
    const std::string path = dir_.File("9712314.sta");
    std::filesystem::create_directory(path);
    EXPECT_EQ(Run({"\n0 1 2\n"}, start_, end_), -1);
    EXPECT_EQ(Log(), (std::vector<std::string>{"24  Calculating diagnostic statistics.",
                                               "19  Can't open " + path + " for data output."}));

    // The next hour's file opens as usual.
    std::filesystem::remove(path);
    EXPECT_EQ(Run({"\n0 1 2\n"}, end_, end_ + 3600), 0);
    EXPECT_FALSE(ReadFile(dir_.File("9712315.sta")).empty());
}

// Values the reader lets through or refuses, handled safely all the same: a
// negative strip count strips nothing, a listed position beyond the tables
// gets an empty row and makes every record incomplete, an error position
// beyond them never holds a value.
TEST(StatisticsSettings, OutOfRangeSettingsStaySafe) {
    class Codes final : public StatisticsEvents {
    public:
        void OnRecordEvent(int code) override { seen.push_back(code); }
        std::vector<int> seen;
    } codes;
    const std::string text = "\n12 34\n56 78\n";
    const int32_t positions[] = {0, 1};
    const int32_t error_positions[] = {-1, 250};
    const double error_values[] = {-99.99, 0};
    PortStatisticsSettings settings;
    settings.strip = -2;
    settings.count = 2;
    settings.positions = positions;
    settings.error_positions = error_positions;
    settings.error_values = error_values;
    // An error position outside the tables counts as "no value", which the
    // error value -99.99 matches: every sample of position 0 is missing.
    std::vector<StatisticsRow> rows = AnalysePortText(text.data(), text.size(), settings, &codes);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].missing, 2);
    EXPECT_EQ(rows[1].samples, 2);
    EXPECT_EQ(rows[1].mean, 56.0);  // 34 and 78, unstripped
    EXPECT_TRUE(codes.seen.empty());

    const int32_t far_positions[] = {0, 150};
    settings.positions = far_positions;
    rows = AnalysePortText(text.data(), text.size(), settings, &codes);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].samples + rows[0].missing + rows[1].samples + rows[1].missing, 0);
    EXPECT_EQ(codes.seen, (std::vector<int>{28, 28}));
}

// One position summarised, no error flag: every record "v" is one sample.
std::vector<StatisticsRow> RowsOfSeries(const std::vector<std::string>& readings) {
    std::string text = "\n";
    for (const std::string& reading : readings) {
        text += reading + "\n";
    }
    const int32_t positions[] = {0};
    const int32_t error_positions[] = {0};
    const double error_values[] = {-1e300};
    PortStatisticsSettings settings;
    settings.count = 1;
    settings.positions = positions;
    settings.error_positions = error_positions;
    settings.error_values = error_values;
    return AnalysePortText(text.data(), text.size(), settings, nullptr);
}

TEST(StatisticsDeviation, AConstantSeriesHasNoSpreadAtAll) {
    const std::vector<StatisticsRow> rows = RowsOfSeries(std::vector<std::string>(930, "45.2"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].samples, 930);
    EXPECT_EQ(rows[0].deviation, 0.0);
    EXPECT_EQ(FormatStatisticsRow("Baro", "T", rows[0]),
              "Baro             T                      930           45.2             0          0"
              "            0              0             0\n");
}

// Pressure readings around 101325 Pa that vary by about 0.01: the spread is
// a ten-millionth of the values, where a sum of squares keeps no digit of it.
TEST(StatisticsDeviation, ASmallSpreadFarFromZeroIsRightToNineDigits) {
    std::vector<std::string> readings;
    std::vector<double> values;
    uint32_t state = 12345;
    for (int i = 0; i < 3600; ++i) {
        state = state * 1103515245u + 12345u;
        const int hundredths_of_a_step = static_cast<int>((state >> 16) % 401) - 200;
        char reading[32];
        std::snprintf(reading, sizeof reading, "%.4f", 101325.0 + hundredths_of_a_step * 0.0001);
        readings.push_back(reading);
        values.push_back(std::strtod(reading, nullptr));
    }
    // The figure of the same doubles, by two passes in long double.
    long double sum = 0;
    for (double v : values) {
        sum += v;
    }
    const long double mean = sum / values.size();
    long double squares = 0;
    for (double v : values) {
        squares += (v - mean) * (v - mean);
    }
    const double expected = static_cast<double>(std::sqrt(squares / values.size()));
    ASSERT_GT(expected, 0.01);
    ASSERT_LT(expected, 0.013);

    const std::vector<StatisticsRow> rows = RowsOfSeries(readings);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NEAR(rows[0].deviation, expected, expected * 1e-9);
    EXPECT_NEAR(rows[0].mean, static_cast<double>(mean), 1e-9);
}

TEST(StatisticsFileName, TwoDigitYearDayOfYearFromOneAndHour) {
    EXPECT_EQ(
        StatisticsFileName(platform::BreakDownUtc(FakeClock::EpochMs(1997, 2, 14, 14) / 1000)),
        "9704514.sta");
    EXPECT_EQ(
        StatisticsFileName(platform::BreakDownUtc(FakeClock::EpochMs(2000, 12, 31, 23) / 1000)),
        "0036623.sta");
    EXPECT_EQ(StatisticsFileName(platform::BreakDownUtc(FakeClock::EpochMs(2001, 1, 1, 0) / 1000)),
              "0100100.sta");
}

// The conversion must give what strtod gives for every token the numeric test
// lets through, bit for bit. Where nothing converts the sign of the zero is
// left aside: C runtimes differ there (MinGW's gives -0 for "-+1"), and a zero
// adds the same to the sums either way.
TEST(ConvertStatisticsToken, MatchesStrtodOnTheLongestValidPrefix) {
    const std::vector<std::string> tokens = {"",
                                             ".",
                                             "-",
                                             "+",
                                             "+-1",
                                             "-+1",
                                             "12.5-",
                                             "12.5+",
                                             "1-2",
                                             "+3",
                                             "-.5",
                                             ".5+",
                                             "5.",
                                             "-0",
                                             "+0.",
                                             "-0.0",
                                             "0.1",
                                             "007",
                                             "-99.99",
                                             "123456789012345678901234567890",
                                             "0.30000000000000004",
                                             "9007199254740993",
                                             "2.2250738585072011",
                                             "1" + std::string(400, '0'),
                                             "-1" + std::string(400, '0') + ".5",
                                             "0." + std::string(400, '0') + "1",
                                             "-0." + std::string(330, '0') + "3",
                                             "0." + std::string(320, '0') + "3",
                                             "." + std::string(20, '9')};
    for (const std::string& token : tokens) {
        const double expected = std::strtod(token.c_str(), nullptr);
        const double actual = ConvertStatisticsToken(token.data(), token.size());
        const bool nothing_converted = token.find_first_of("0123456789") == std::string::npos ||
                                       token.rfind("+-", 0) == 0 || token.rfind("-+", 0) == 0;
        if (nothing_converted) {
            EXPECT_EQ(actual, 0.0) << "token '" << token << "'";
        } else {
            EXPECT_EQ(std::memcmp(&expected, &actual, sizeof(double)), 0)
                << "token '" << token << "': strtod " << expected << ", got " << actual;
        }
    }
    EXPECT_EQ(ConvertStatisticsToken("12.5-", 5), 12.5);
    EXPECT_EQ(ConvertStatisticsToken("+-1", 3), 0.0);
    EXPECT_TRUE(std::signbit(ConvertStatisticsToken("-0", 2)));
    EXPECT_TRUE(std::isinf(ConvertStatisticsToken(tokens[23].data(), tokens[23].size())));
}

}  // namespace
