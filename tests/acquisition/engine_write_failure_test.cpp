// Files that cannot be written while acquisition runs: the failure is told at
// once (the handler of the headless run, the status page), other files are
// written meanwhile, and once the files can be written again everything kept
// arrives in order, with the log's catch-up entry. A journal the disk refuses
// is given up: every byte sent is then in a data file or counted as lost.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/journal.h"
#include "acquisition/port_buffers.h"
#include "acquisition/statistics_analysis.h"
#include "log/write_problems.h"
#include "support/engine_harness.h"
#include "support/write_faults.h"

namespace engine_testing {
namespace {

using testing_support::Port;

std::mutex g_problems_mutex;
std::vector<std::string> g_problems;

void RecordProblem(const std::string& problem) {
    std::lock_guard<std::mutex> lock(g_problems_mutex);
    g_problems.push_back(problem);
}

class EngineWriteFailure : public EngineTest {
protected:
    EngineWriteFailure() {
        g_problems.clear();
        SetWriteProblemHandler(RecordProblem);
    }
    ~EngineWriteFailure() override { SetWriteProblemHandler(nullptr); }
    static std::vector<std::string> Problems() {
        std::lock_guard<std::mutex> lock(g_problems_mutex);
        return g_problems;
    }
    // The log's entries of one code.
    std::vector<std::string> Entries(const std::string& code) {
        std::vector<std::string> found;
        for (const std::string& m : LogMessages(Log())) {
            if (m.rfind(code + "  ", 0) == 0) {
                found.push_back(m);
            }
        }
        return found;
    }
    // The bytes the log counts as lost: entries 30 (given up unwritten), 31
    // (a full receive queue) and 41 (lost with a journal).
    int64_t BytesCountedLost() {
        int64_t lost = 0;
        for (const char* code : {"30", "31", "41"}) {
            for (const std::string& m : Entries(code)) {
                lost += std::atoll(m.c_str() + 4);
            }
        }
        return lost;
    }
};

// The hour-10 data file and the day's log cannot be written (as if an earlier
// run as another user had left them read-only): the hour-11 file is written
// all the same, and once the faults are gone hour 10 gets its text, in order,
// and the log says how many entries it missed.
TEST_F(EngineWriteFailure, ABlockedFileHoldsBackOnlyItselfAndEverythingArrivesLater) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 30);
    Start(testing_support::MakeTestConfig(
        dir_.path(), 15, {Port(1, "Thermo").WithDevice(pty.path()).WithStats('\n')}));
    testing_support::WriteFaults faults;
    faults.LimitPathsContaining("2406110.P01", 0);
    faults.LimitPathsContaining(".LOG", 0);
    faults.LimitPathsContaining("2406110.sta", 0);
    Send(pty, 0, "one 1\n");
    EndPeriodAt(10, 45);
    Send(pty, 0, "two 2\n");
    EndPeriodAt(11, 0);
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors,
                                   "COM1 not written,statistics not written,log not written"));
    Send(pty, 0, "three 3\n");
    EndPeriodAt(11, 15);  // a new hour's file: written at once
    EXPECT_EQ(File("2406111.P01"), "Thermo\n03/01/24 11:00:00:000 StartTime\nthree 3\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.File("2406110.P01")));

    faults.Clear();  // the files can be written again
    Send(pty, 0, "four 4\n");
    EndPeriodAt(11, 30);
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "None"));
    Stop();

    EXPECT_EQ(File("2406110.P01"),
              "Thermo\n03/01/24 10:30:00:000 StartTime\none 1\ntwo 2\n"
              "03/01/24 11:00:00:000 EndTime\n");
    EXPECT_EQ(File("2406111.P01"), "Thermo\n03/01/24 11:00:00:000 StartTime\nthree 3\nfour 4\n");
    // Both of hour 10's statistics blocks arrived, in order, with the first
    // write that could reach the file.
    const std::string sta = File("2406110.sta");
    const size_t first = sta.find("10:30:00 | End Time: 03/01/24 10:45:00");
    const size_t second = sta.find("10:45:00 | End Time: 03/01/24 11:00:00");
    EXPECT_NE(first, std::string::npos) << sta;
    EXPECT_NE(second, std::string::npos) << sta;
    EXPECT_LT(first, second);

    // The entries made meanwhile come first, with their own times, and one
    // entry tells they came late; a data file's code 20 comes only with a
    // write that happened, after that.
    const std::vector<std::string> messages = LogMessages(Log());
    size_t catch_up = messages.size();
    for (size_t k = 0; k < messages.size(); ++k) {
        if (messages[k].rfind("39  ", 0) == 0 && catch_up == messages.size()) {
            catch_up = k;
        }
        if (messages[k].rfind("20  ", 0) == 0 &&
            messages[k].find("2406110.P01") != std::string::npos) {
            EXPECT_GT(k, catch_up) << messages[k];
        }
    }
    ASSERT_LT(catch_up, messages.size());
    EXPECT_NE(messages[catch_up].find(" log entries above were written late: they could not be "
                                      "written between 03/01/24 10:45:00 and 03/01/24 11:15:00."),
              std::string::npos)
        << messages[catch_up];
    EXPECT_NE(Log().find("03/01/24 10:45:00:000  24  Calculating diagnostic statistics."),
              std::string::npos)
        << Log();

    const std::vector<std::string> problems = Problems();
    auto told = [&](const std::string& text) {
        for (const std::string& p : problems) {
            if (p.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(told("cannot write the data file " + dir_.File("2406110.P01")));
    EXPECT_TRUE(told("cannot write the statistics file " + dir_.File("2406110.sta")));
    EXPECT_TRUE(told("cannot write the log "));
    EXPECT_TRUE(told("can be written again"));
}

// A period longer than a buffer holds in memory goes on in its journal alone.
// When the disk refuses the journal at the period's end, the journal is given
// up and the text that only it held goes with it: the data file gets what is
// still in memory (the period's latest part), the statistics are those of
// that text, and every other byte is counted as lost.
TEST_F(EngineWriteFailure, ALongPeriodWhoseJournalIsGivenUpKeepsWhatIsInMemoryAndCountsTheRest) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30);
    ComConfig config = testing_support::MakeTestConfig(
        dir_.path(), 15, {Port(1, "Long").WithDevice(pty.path()).WithBaud(256000).WithStats('\n')});
    config.NumTokenIndices[0] = 1;  // the record's number
    config.TokenIndicesForStatistics[0][0] = 0;
    config.ErrorCheckingTokenIndices[0][0] = 1;
    config.ErrorValuesPerTokenIndex[0][0] = -1;
    std::snprintf(config.TokenLabelsForStatistics[0][0], 500, "N");
    Start(config);
    constexpr int kChunk = 4096;  // records: a quarter megabyte
    std::string sent;
    for (int first = 0; sent.size() <= size_t{kPortBufferCapBytes} + (1u << 20); first += kChunk) {
        const std::string chunk = WholeRecords(first, kChunk);
        Send(pty, 0, chunk);
        sent += chunk;
    }
    testing_support::WriteFaults faults;
    faults.LimitPathsContaining(JournalPath(dir_.path().c_str(), 1), 0);
    EndPeriodAt(10, 15);
    Stop();

    const std::vector<std::string> lost = Entries("41");
    ASSERT_EQ(lost.size(), 1u) << Log();
    const auto lost_bytes = static_cast<size_t>(std::atoll(lost[0].c_str() + 4));
    ASSERT_GT(lost_bytes, 0u);
    ASSERT_LT(lost_bytes, sent.size());
    EXPECT_EQ(lost[0], "41  " + std::to_string(lost_bytes) +
                           " bytes of COM1 received 10:07:30 to 10:15:00 were lost with its "
                           "journal (the journal could not be written).");
    EXPECT_EQ(BytesCountedLost(), static_cast<int64_t>(lost_bytes));
    const std::string in_memory = sent.substr(lost_bytes);
    const std::string expected = "Long\n03/01/24 10:07:30:000 StartTime" +
                                 std::string(in_memory.front() == '\n' ? "" : "\n") + in_memory;
    const std::string file = File("2406110.P01");
    EXPECT_EQ(file.size(), expected.size());
    EXPECT_TRUE(file == expected) << file.substr(0, 200);
    EXPECT_EQ(Entries("20").size(), 1u);

    const std::vector<StatisticsRow> rows = AnalysePortText(
        in_memory.data(), in_memory.size(), PortStatisticsSettingsOf(com, 0), nullptr);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GT(rows[0].samples, 0);
    const std::string row = FormatStatisticsRow("Long", "N", rows[0]);
    EXPECT_NE(File("2406110.sta").find(row), std::string::npos) << row;
}

// Text whose data file cannot be written is kept, in memory and in the
// journal. Once the journal has been given up, memory is its only place: a
// stop that still cannot write it counts every byte, and the next start finds
// nothing of it to recover.
TEST_F(EngineWriteFailure, KeptTextIsCountedAtStopOnceItsJournalWasGivenUp) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 30);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Thermo").WithDevice(pty.path())}));
    testing_support::WriteFaults faults;
    faults.LimitPathsContaining("2406110.P01", 0);
    const std::string first = WholeRecords(0, 8);
    Send(pty, 0, first);
    EndPeriodAt(10, 45);
    faults.LimitPathsContaining(JournalPath(dir_.path().c_str(), 1), 0);
    const std::string second = WholeRecords(8, 8);
    Send(pty, 0, second);
    EndPeriodAt(11, 0);  // the journal cannot record the write it is asked for
    SetTime(11, 5);
    Stop();
    EXPECT_EQ(BytesCountedLost(), static_cast<int64_t>(first.size() + second.size())) << Log();

    faults.Clear();
    StartRun();
    SetTime(11, 6);
    Stop();
    EXPECT_FALSE(std::filesystem::exists(dir_.File("2406110.P01")));
    EXPECT_TRUE(Entries("20").empty());
    EXPECT_TRUE(Entries("34").empty());
}

}  // namespace
}  // namespace engine_testing
