// quorvane-cli stats: archived data files and raw captures analysed offline
// must give the block the logger wrote for the same period.
#include "cli/stats_command.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/statistics.h"
#include "cli/cli11.h"
#include "config/ini_reader.h"
#include "platform/clock.h"
#include "platform/fake_clock.h"
#include "support/temp_dir.h"

namespace {

using platform::FakeClock;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// 1997-05-03 (day 123) 14:00 to 15:00 UTC.
const int64_t kStart = FakeClock::EpochMs(1997, 5, 3, 14, 0, 0) / 1000;
const int64_t kEnd = FakeClock::EpochMs(1997, 5, 3, 15, 0, 0) / 1000;

std::string Marker(int64_t seconds, int milliseconds, const char* word) {
    const platform::SystemTime t = platform::ToSystemTime(seconds, milliseconds);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d:%03d %s", t.wMonth, t.wDay,
                  t.wYear % 100, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, word);
    return text;
}

// One block of a data file as the logger lays it out: start marker (with a
// line end unless the text begins with one), the text, a line end unless the
// text ends with one, the end marker.
std::string Block(const std::string& text, int64_t start, int64_t end) {
    std::string block = Marker(start, 125, "StartTime");
    if (text.empty() || text.front() != '\n') {
        block += '\n';
    }
    block += text;
    if (text.empty() || text.back() != '\n') {
        block += '\n';
    }
    return block + Marker(end, 875, "EndTime") + "\n";
}

// Without the platform's text-mode line ends, to compare with standard output.
std::string WithoutCarriageReturns(std::string text) {
#ifdef _WIN32
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            plain += text[i];
        }
    }
    return plain;
#else
    return text;
#endif
}

class StatsCommand : public ::testing::Test {
protected:
    // One port section with the statistics of a weather station: the flag
    // (position 0) marks missing samples with 1.
    void WriteIni(const std::string& acquisition_function = "NONE") {
        WriteFile(ini_, "[QUORVANE]\nOutputDriveAndPath=" + dir_.path() +
                            "\nWatchDogTimerAddressInHex=NONE\n"
                            "DiskWriteAndStatsFrequencyInMinutes=60\n"
                            "[COM3]\nInstrumentType=Station A\n"
                            "StartupInitializationFunction=NONE\n"
                            "AcquisitionInitializationFunction=" +
                            acquisition_function +
                            "\nBaud=9600\nParity=N\nDataBits=8\nStopBits=1\nDoStats=YES\n"
                            "StringTerminationCharacter=10\nLeadingTokenCharactersToStrip=0\n"
                            "TokenIndicesForStatistics=1 2 3\n"
                            "TokenLabelsForStatistics=Temp RH Wind\n"
                            "ErrorCheckingTokenIndices=0 0 0\n"
                            "ErrorValuesPerTokenIndex=1 1 1\n");
    }

    int Run(const std::vector<std::string>& files, bool raw = false,
            const std::string& port = "COM3") {
        StatsCommandOptions options;
        options.ini = ini_;
        options.port = port;
        options.raw = raw;
        options.files = files;
        out_.str("");
        err_.str("");
        return RunStatsCommand(options, out_, err_);
    }

    // What the logger writes into the statistics file for `text` as one period.
    std::string LoggerBlock(std::string text) {
        ComConfig config = ReadQuorInitializationFile(ini_.c_str());
        EXPECT_EQ(config.ErrorCode, 0) << config.ErrorString;
        char* buffers[1] = {text.data()};
        const int32_t lengths[1] = {static_cast<int32_t>(text.size())};
        const StatisticsPeriod period{platform::BreakDownUtc(kStart), kStart, kEnd};
        const std::string sta = dir_.File("9712314.sta");
        std::filesystem::permissions(sta, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored_);
        std::filesystem::remove(sta, ignored_);
        EXPECT_EQ(CalculateDiagnosticStatistics(config, period, buffers, lengths), 0);
        FreeComConfig(config);
        return WithoutCarriageReturns(ReadFile(sta));
    }

    FakeClock clock_{FakeClock::EpochMs(1997, 5, 3, 15, 0, 1)};
    platform::ClockScope scope_{clock_};
    TempDir dir_;
    std::string ini_ = dir_.File("Quorvane.ini");
    std::ostringstream out_;
    std::ostringstream err_;
    std::error_code ignored_;
};

TEST_F(StatsCommand, ArchivedHourGivesTheBlockTheLoggerWroteForThatPeriod) {
    WriteIni();
    // Texts as periods begin and end: within a record or at its end, with LF or
    // CR LF line ends, with a line that lacks a field and a flagged one.
    const std::vector<std::string> texts = {
        "21.4 35 2\n0 21.5 34 3\n0 21.7 33 2.5\n1 20.0 30 9\n0 21.9 3\n0 22.0 31 4\n",
        "4 35 2\r\n0 21.5 34 3\r\n0 21.7 33 2.5\r\n0 21.9\r\n0 22.0 31 4\r\n0 22",
        "0 21.5 34 3\n0 21.7 33 2.5\n0 22.0 31 4\n0 22.1 3",
        "0 21.5 34 3\n",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const std::string data_file = dir_.File("9712314.P03");
        WriteFile(data_file, "Station A\n" + Block(text, kStart, kEnd));
        const std::string expected = LoggerBlock(text);
        EXPECT_EQ(Run({data_file}), 0) << err_.str();
        EXPECT_EQ(out_.str(), expected);
    }
}

TEST_F(StatsCommand, HygrometerHeaderAndEveryMarkerOfSeveralBlocksAreLeftOut) {
    WriteIni("GETOPHIRCONSTANTS");
    // The constants stand between the instrument line and the first marker,
    // without a line end; a restart within the hour adds a second block.
    const std::string head =
        "Station A\n1 2 3 4 5 6 7\n8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25";
    const std::string first = "0 20.1 40 1\n0 20.3 42 1\n0 20";
    const std::string second = "\n0 20.5 44 2\n0 20.7 46 2\n";
    const int64_t restart = kStart + 1800;
    const std::string data_file = dir_.File("9712314.P03");
    WriteFile(data_file, head + Block(first, kStart, kStart + 600) + Block(second, restart, kEnd));

    ASSERT_EQ(Run({data_file}), 0) << err_.str();
    // Read as one period: the first block's cut-off line "0 20" stays a record
    // of its own (short of fields: 28), the other whole lines count.
    const std::string expected = LoggerBlock(first + second);
    EXPECT_EQ(out_.str(), expected);
    EXPECT_NE(out_.str().find("Start Time: 05/03/97 14:00:00 | End Time: 05/03/97 15:00:00"),
              std::string::npos);
    EXPECT_NE(out_.str().find("Station A        Temp                     3"), std::string::npos)
        << out_.str();
}

TEST_F(StatsCommand, RawCaptureIsAnalysedAsItIsWithTheFileTimeInTheHeader) {
    WriteIni();
    const std::string capture = dir_.File("capture.txt");
    const std::string text = "0 20.1 40 1\n0 20.3 42 1\n0 20.5 44 2\n";
    WriteFile(capture, text);
    const auto when = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(
        std::chrono::seconds(FakeClock::EpochMs(2001, 1, 5, 6, 7, 8) / 1000)));
    std::filesystem::last_write_time(capture, when);

    ASSERT_EQ(Run({capture}, /*raw=*/true), 0) << err_.str();
    EXPECT_NE(out_.str().find("Start Time: 01/05/01 06:07:08 | End Time: 01/05/01 06:07:08"),
              std::string::npos)
        << out_.str();
    // Rows as the logger's for the same bytes (the first line is before the
    // first terminator and so left out, as in a period).
    const std::string expected = LoggerBlock(text);
    const std::size_t rows = expected.find("Station A");
    EXPECT_EQ(out_.str().substr(out_.str().find("Station A")), expected.substr(rows));
    EXPECT_NE(out_.str().find("Station A        Temp                     2"), std::string::npos);
}

TEST_F(StatsCommand, EveryFileGetsItsBlockAndUnusableOnesAreReportedWithStatus1) {
    WriteIni();
    const std::string good = dir_.File("9712314.P03");
    WriteFile(good, "Station A\n" + Block("\n0 1 2 3\n0 1 2\n", kStart, kEnd));
    const std::string capture = dir_.File("capture.txt");
    WriteFile(capture, "\n0 1 2 3\n");

    EXPECT_EQ(Run({good, dir_.File("missing.P03"), capture, good}), 1);
    // Two blocks for the good file; the rest is explained on the error stream.
    const std::string& out = out_.str();
    const std::size_t first = out.find("KOVA/BRN");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(out.find("KOVA/BRN", first + 1), std::string::npos);
    EXPECT_EQ(out.find("KOVA/BRN", out.find("KOVA/BRN", first + 1) + 1), std::string::npos);
    EXPECT_NE(err_.str().find("Can't read " + dir_.File("missing.P03") + "."), std::string::npos)
        << err_.str();
    EXPECT_NE(err_.str().find(capture + " holds no StartTime marker"), std::string::npos);
    // The record without its third field is counted as the log would have it.
    EXPECT_NE(
        err_.str().find(good + ": 1 record: 28  Incomplete number of tokens acquired from COM3 "
                               "data string."),
        std::string::npos)
        << err_.str();
}

// Every count on the error stream is a line of its own, and the counts are
// those of the logger's log for the same period: ten entries of a code and one
// entry with the rest.
TEST_F(StatsCommand, RecordCountsAreWholeLinesAndAgreeWithTheLog) {
    WriteIni();
    std::string text = "\n0 20.5 40 2\n" + std::string(1001, '7') + "\n";
    for (int i = 0; i < 15; ++i) {
        text += "0 21.5\n";
    }
    const std::string data_file = dir_.File("9712314.P03");
    WriteFile(data_file, "Station A\n" + Block(text, kStart, kEnd));

    EXPECT_EQ(Run({data_file, data_file}), 0);
    const std::string counts =
        data_file +
        ": 1 record: 22  The number of characters in SampleTok exceeds MAX_WORKING_STRING_LEN "
        "for COM3\n" +
        data_file +
        ": 15 records: 28  Incomplete number of tokens acquired from COM3 data string.\n";
    EXPECT_EQ(err_.str(), counts + counts);

    LoggerBlock(text);
    const std::string log = ReadFile(dir_.File("97123.LOG"));
    std::size_t incomplete = 0;
    for (std::size_t at = log.find(" 28  "); at != std::string::npos;
         at = log.find(" 28  ", at + 1)) {
        ++incomplete;
    }
    EXPECT_EQ(incomplete, 10u) << log;
    EXPECT_NE(log.find(" 35  5 more records of COM3 like the entries 28 above in this period."),
              std::string::npos)
        << log;
}

TEST_F(StatsCommand, UnknownPortAndRefusedConfigurationPrintNoBlock) {
    WriteIni();
    const std::string good = dir_.File("9712314.P03");
    WriteFile(good, "Station A\n" + Block("\n0 1 2 3\n", kStart, kEnd));
    EXPECT_EQ(Run({good}, false, "COM4"), 1);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(err_.str(), "COM4 is not a port of " + ini_ + ".\n");
    EXPECT_EQ(Run({good}, false, "port3"), 1);
    EXPECT_EQ(Run({good}, false, "com3"), 0);  // any case

    WriteFile(ini_, "[QUORVANE]\n");
    EXPECT_EQ(Run({good}), 1);
    EXPECT_EQ(out_.str(), "");
    EXPECT_NE(err_.str().find("Missing OutputDriveAndPath definition"), std::string::npos)
        << err_.str();

    // A reader's message without a line end of its own still ends its line.
    std::string list = "0";
    for (int i = 1; i <= 100; ++i) {
        list += " 0";
    }
    WriteIni();
    std::string ini = ReadFile(ini_);
    ini.replace(ini.find("ErrorCheckingTokenIndices=0 0 0"),
                std::string("ErrorCheckingTokenIndices=0 0 0").size(),
                "ErrorCheckingTokenIndices=" + list);
    WriteFile(ini_, ini);
    EXPECT_EQ(Run({good}), 1);
    EXPECT_EQ(err_.str(),
              ini_ + ": The number of ErrorCheckingTokenIndices exceeds MAX_TOKENS for COM3\n");
}

TEST_F(StatsCommand, CommandLineTakesIniPortRawAndFilesInAnyOrder) {
    WriteIni();
    const std::string capture = dir_.File("capture.txt");
    WriteFile(capture, "\n0 1 2 3\n");
    CLI::App app;
    int status = -1;
    AddStatsCommand(app, status);
    std::ostringstream captured;
    std::streambuf* const saved = std::cout.rdbuf(captured.rdbuf());
    std::vector<std::string> args = {"quorvane-cli", "stats", "COM3", "--ini",
                                     ini_,           capture, "--raw"};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    app.parse(static_cast<int>(argv.size()), argv.data());
    std::cout.rdbuf(saved);
    EXPECT_EQ(status, 0);
    EXPECT_NE(captured.str().find("Station A        Temp                     1"), std::string::npos)
        << captured.str();
}

TEST(ExtractArchivedText, MarkersAndTheLineEndsTheLoggerAddedAreRemoved) {
    const std::string start = "05/03/97 14:00:00:125 StartTime";
    const std::string end = "05/03/97 15:00:00:875 EndTime";
    struct Case {
        std::string file;
        std::string text;
        int64_t last_marker;
    } cases[] = {
        // A text that ended at its LF line end keeps it.
        {"I\n" + start + "\na b\n1 2\n" + end + "\n", "a b\n1 2\n", kEnd},
        // CR LF lines cut off mid-line: the lone LF in front of the marker was added.
        {"I\n" + start + "\n1\r\n2\r\n3" + "\n" + end + "\n", "1\r\n2\r\n3", kEnd},
        {"I\n" + start + "\n1\r\n2\r\n" + end + "\n", "1\r\n2\r\n", kEnd},
        // A start marker after a block that has no end marker, mid-line.
        {"I\n" + start + "\n1 2\n3" + start + "\n4 5\n", "1 2\n34 5\n", kStart},
        // Instrument text that looks like a marker word without a time stamp stays.
        {"I\n" + start + "\nx EndTime y\n" + end + "\n", "x EndTime y\n", kEnd},
    };
    for (Case& c : cases) {
        ArchivedText times;
        ASSERT_TRUE(ExtractArchivedText(c.file, times));
        EXPECT_EQ(c.file, c.text);
        EXPECT_EQ(times.first_marker, kStart);
        EXPECT_EQ(times.last_marker, c.last_marker);
    }
    std::string no_marker = "I\n1 2 3\n";
    ArchivedText times;
    EXPECT_FALSE(ExtractArchivedText(no_marker, times));
    EXPECT_EQ(no_marker, "I\n1 2 3\n");
}

}  // namespace
