// Files that cannot be written while acquisition runs: the failure is told at
// once (the handler of the headless run, the status page), other files are
// written meanwhile, and once the files can be written again everything kept
// arrives in order, with the log's catch-up entry.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/write_problems.h"
#include "engine_harness.h"
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

}  // namespace
}  // namespace engine_testing
