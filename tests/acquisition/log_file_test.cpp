#include "log/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/journal.h"
#include "log/log_codes.h"
#include "log/write_problems.h"
#include "platform/fake_clock.h"
#include "platform/files.h"
#include "support/child_test.h"
#include "support/temp_dir.h"
#include "support/write_faults.h"

namespace {

using platform::FakeClock;
using testing_support::ReadFile;
using testing_support::TempDir;

#ifdef _WIN32
const std::string kEol = "\r\n";  // the log is a text file
#else
const std::string kEol = "\n";
#endif

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + kEol;
    }
    return text;
}

std::string HeaderOf(const std::string& file) {
    return Lines(
        {"Quorvane Version 1.3 LogFile " + file, "", "MM/DD/YY HH:MM:SS:MMM CODE MESSAGE"});
}

std::mutex g_problems_mutex;
std::vector<std::string> g_problems;

void RecordProblem(const std::string& problem) {
    std::lock_guard<std::mutex> lock(g_problems_mutex);
    g_problems.push_back(problem);
}

// The write problems told while it lives.
class ToldProblems {
public:
    ToldProblems() {
        std::lock_guard<std::mutex> lock(g_problems_mutex);
        g_problems.clear();
        SetWriteProblemHandler(RecordProblem);
    }
    ~ToldProblems() { SetWriteProblemHandler(nullptr); }
    ToldProblems(const ToldProblems&) = delete;
    ToldProblems& operator=(const ToldProblems&) = delete;

    bool Told(const std::string& problem) const {
        std::lock_guard<std::mutex> lock(g_problems_mutex);
        for (const std::string& told : g_problems) {
            if (told == problem) {
                return true;
            }
        }
        return false;
    }
};

class LogFile : public ::testing::Test {
protected:
    FakeClock clock_{FakeClock::EpochMs(1997, 5, 3, 14, 5, 9, 42)};  // day 123 of 1997
    platform::ClockScope scope_{clock_};
    TempDir dir_;
};

TEST_F(LogFile, FirstEntryOfADayCreatesTheFileWithItsHeader) {
    EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), logmsg::k03ThreadStarted), 1);
    clock_.AdvanceMs(1000);
    EXPECT_EQ(
        WriteLogMessage(dir_.path().c_str(), "25  Memory Allocation Error in GetOphirConstants.\n"),
        1);
    const std::string path = dir_.File("97123.LOG");
    EXPECT_EQ(
        ReadFile(path),
        Lines({"Quorvane Version 1.3 LogFile 97123.LOG", "", "MM/DD/YY HH:MM:SS:MMM CODE MESSAGE",
               "05/03/97 14:05:09:042  03  Data acquisition thread started.",
               "05/03/97 14:05:10:042  25  Memory Allocation Error in GetOphirConstants.", ""}));
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
}

TEST_F(LogFile, ExistingReadOnlyFileIsAppendedToAndLeftReadOnly) {
    const std::string path = dir_.File("97123.LOG");
    testing_support::WriteFile(path, "earlier" + kEol);
    platform::SetReadOnly(path.c_str(), true);
    EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), logmsg::k02Shutdown), 1);
    EXPECT_EQ(ReadFile(path), Lines({"earlier", "05/03/97 14:05:09:042  02  Quorvane Shutdown."}));
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
}

TEST_F(LogFile, DayAndYearBoundariesNameNewFilesWithTwoDigitYears) {
    clock_.Set(2000, 12, 31, 23, 59, 59, 999);  // day 366 of a leap year
    WriteLogMessage(dir_.path().c_str(), "A");
    clock_.AdvanceMs(1);
    WriteLogMessage(dir_.path().c_str(), "B");
    clock_.Set(2001, 1, 5);
    WriteLogMessage(dir_.path().c_str(), "C");
    EXPECT_NE(ReadFile(dir_.File("00366.LOG")).find("12/31/00 23:59:59:999  A"), std::string::npos);
    EXPECT_NE(ReadFile(dir_.File("01001.LOG")).find("01/01/01 00:00:00:000  B"), std::string::npos);
    EXPECT_NE(ReadFile(dir_.File("01005.LOG")).find("01/05/01 00:00:00:000  C"), std::string::npos);
}

TEST_F(LogFile, MissingDirectoryLosesTheEntryAndSaysSo) {
    EXPECT_EQ(WriteLogMessage(dir_.File("gone").c_str(), "00  x"), 0);
    EXPECT_FALSE(platform::PathExists(dir_.File("gone").c_str()));
}

TEST_F(LogFile, FileHeldByAnotherWriterLosesTheEntry) {
    const std::string path = dir_.File("97123.LOG");
    std::FILE* other = platform::OpenAppendDenyWrite(path.c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), "03  x"), 0);
    platform::CloseLocked(other);
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(LogFile, AnEntryThatDoesNotFitIsNotLeftHalfWritten) {
    ASSERT_EQ(WriteLogMessage(dir_.path().c_str(), "03  first"), 1);
    const std::string path = dir_.File("97123.LOG");
    const std::string before = ReadFile(path);
    {
        testing_support::WriteFaults faults;
        faults.ShortenWrite("97123.LOG", 1, 10);  // the disk takes 10 bytes of it
        EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), "04  second"), 0);
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
    EXPECT_TRUE(LogWritesFailing(dir_.path().c_str()));
    EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), "04  third"), 1);
    EXPECT_FALSE(LogWritesFailing(dir_.path().c_str()));
    // The entry that could not be written comes whole before the next that can.
    EXPECT_EQ(ReadFile(path), before + "05/03/97 14:05:09:042  04  second" + kEol +
                                  "05/03/97 14:05:09:042  39  1 log entries above were written "
                                  "late: they could not be written between 05/03/97 14:05:09 and "
                                  "05/03/97 14:05:09." +
                                  kEol + "05/03/97 14:05:09:042  04  third" + kEol);

    // A new day's file that cannot be written whole is not left behind, so
    // its header comes with the next entry that fits.
    clock_.Set(1997, 5, 4, 0, 0, 1);
    {
        testing_support::WriteFaults faults;
        faults.LimitPathsContaining("97124.LOG", 20);
        EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), "03  x"), 0);
    }
    EXPECT_FALSE(platform::PathExists(dir_.File("97124.LOG").c_str()));
    EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), "03  y"), 1);
    EXPECT_EQ(ReadFile(dir_.File("97124.LOG")).rfind("Quorvane Version 1.3 LogFile 97124.LOG", 0),
              0u);
}

// Entries made while the log cannot be written arrive whole, in order and with
// their own times, before the next entry that can be written: across a
// midnight into the file of their own day. A day's file that stays refused
// holds nothing back: its entries go into today's.
TEST_F(LogFile, EntriesThatCannotBeWrittenArriveLaterInOrderInTheirOwnDaysFile) {
    const char* dir = dir_.path().c_str();
    clock_.Set(1997, 5, 3, 23, 59, 58, 0);
    ASSERT_EQ(WriteLogMessage(dir, "03  before"), 1);
    testing_support::WriteFaults faults;
    faults.LimitPathsContaining(".LOG", 0);
    clock_.AdvanceMs(500);
    EXPECT_EQ(WriteLogMessage(dir, "24  a"), 0);
    clock_.Set(1997, 5, 3, 23, 59, 59, 999);
    EXPECT_EQ(WriteLogMessage(dir, "25  b\n"), 0);
    clock_.Set(1997, 5, 4, 0, 0, 0, 250);
    EXPECT_EQ(WriteLogMessage(dir, "20  c"), 0);
    EXPECT_TRUE(LogWritesFailing(dir));
    {
        // Where not even the journal folder takes them, they are told one by one.
        const ToldProblems problems;
        faults.LimitPathsContaining("log-entries", 0);
        EXPECT_FALSE(KeepLogEntriesAtStop(dir));
        EXPECT_TRUE(problems.Told("97123.LOG 05/03/97 23:59:58:500  24  a"));
        EXPECT_TRUE(problems.Told("97123.LOG 05/03/97 23:59:59:999  25  b\n"));
        EXPECT_TRUE(problems.Told("97124.LOG 05/04/97 00:00:00:250  20  c"));
        EXPECT_TRUE(std::filesystem::is_empty(JournalFolderPath(dir)));
    }

    faults.Clear();
    clock_.AdvanceMs(750);
    EXPECT_EQ(WriteLogMessage(dir, "04  d"), 1);
    EXPECT_FALSE(LogWritesFailing(dir));
    EXPECT_EQ(ReadFile(dir_.File("97123.LOG")),
              HeaderOf("97123.LOG") +
                  Lines({"05/03/97 23:59:58:000  03  before", "05/03/97 23:59:58:500  24  a",
                         "05/03/97 23:59:59:999  25  b", ""}));
    EXPECT_EQ(ReadFile(dir_.File("97124.LOG")),
              HeaderOf("97124.LOG") +
                  Lines({"05/04/97 00:00:00:250  20  c",
                         "05/04/97 00:00:01:000  39  3 log entries above were written late: they "
                         "could not be written between 05/03/97 23:59:58 and 05/04/97 00:00:00.",
                         "05/04/97 00:00:01:000  04  d"}));

    faults.LimitPathsContaining("97124.LOG", 0);
    clock_.AdvanceMs(1000);
    EXPECT_EQ(WriteLogMessage(dir, "21  e"), 0);
    clock_.Set(1997, 5, 5, 6, 0, 0);
    EXPECT_EQ(WriteLogMessage(dir, "03  f"), 1);
    EXPECT_EQ(ReadFile(dir_.File("97125.LOG")),
              HeaderOf("97125.LOG") +
                  Lines({"05/04/97 00:00:02:000  21  e",
                         "05/05/97 06:00:00:000  39  1 log entries above were written late: they "
                         "could not be written between 05/04/97 00:00:02 and 05/04/97 00:00:02.",
                         "05/05/97 06:00:00:000  03  f"}));
}

// A process that ends (or stops acquisition) while its log cannot be written:
// run in a child process from the output directory.
TEST(LogFileChild, DISABLED_EndsWithEntriesItCannotWrite) {
    const std::string dir = std::filesystem::current_path().string();
    FakeClock clock(FakeClock::EpochMs(1997, 5, 3, 14, 5, 9, 42));
    const platform::ClockScope scope(clock);
    testing_support::WriteFaults faults;
    faults.LimitPathsContaining(".LOG", 0);
    EXPECT_EQ(WriteLogMessage(dir.c_str(), logmsg::k03ThreadStarted), 0);
    clock.AdvanceMs(1000);
    EXPECT_EQ(WriteLogMessage(dir.c_str(), logmsg::k25OphirMemory), 0);
    clock.AdvanceMs(1000);
    EXPECT_EQ(WriteLogMessage(dir.c_str(), "19  Can't open C:\\data\\97123.P01 for data output."),
              0);
    EXPECT_TRUE(KeepLogEntriesAtStop(dir.c_str()));  // as acquisition stops
    clock.AdvanceMs(1000);
    EXPECT_EQ(WriteLogMessage(dir.c_str(), logmsg::k02Shutdown), 0);
    // ... and the process ends with the last one kept in memory only.
}

// The usual repair: the log is given back to the logger's user and the logger
// restarted. The next process writes what the last one could not, first.
TEST_F(LogFile, EntriesKeptAtTheEndOfAProcessAreWrittenFirstByTheNext) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    EXPECT_EQ(testing_support::RunTestInChildProcess(
                  "LogFileChild.DISABLED_EndsWithEntriesItCannotWrite"),
              0);
    std::filesystem::current_path(previous);
    EXPECT_FALSE(platform::PathExists(dir_.File("97123.LOG").c_str()));
    const std::string kept =
        platform::JoinPath(JournalFolderPath(dir_.path().c_str()), "log-entries");
    EXPECT_TRUE(platform::PathExists(kept.c_str()));

    const std::string left = ReadFile(kept);
    clock_.Set(1997, 5, 4, 8, 0, 0);
    EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), logmsg::k00StartupOk), 1);
    EXPECT_EQ(
        ReadFile(dir_.File("97123.LOG")),
        HeaderOf("97123.LOG") +
            Lines({"05/03/97 14:05:09:042  03  Data acquisition thread started.",
                   "05/03/97 14:05:10:042  25  Memory Allocation Error in GetOphirConstants.", "",
                   "05/03/97 14:05:11:042  19  Can't open C:\\data\\97123.P01 for data "
                   "output.",
                   "05/03/97 14:05:12:042  02  Quorvane Shutdown."}));
    EXPECT_EQ(ReadFile(dir_.File("97124.LOG")),
              HeaderOf("97124.LOG") +
                  Lines({"05/04/97 08:00:00:000  39  4 log entries above were written late: they "
                         "could not be written between 05/03/97 14:05:09 and 05/03/97 14:05:12.",
                         std::string("05/04/97 08:00:00:000  ") + logmsg::k00StartupOk}));
    EXPECT_FALSE(platform::PathExists(kept.c_str())) << "written once only";

    // A power cut undid the file's removal, not the synced entries: the next
    // process writes none of them, nor entry 39, again.
    const std::string day_before = ReadFile(dir_.File("97123.LOG"));
    const std::string day = ReadFile(dir_.File("97124.LOG"));
    testing_support::WriteFile(kept, left);
    ForgetUnwrittenLogEntries();
    clock_.AdvanceMs(1000);
    EXPECT_EQ(WriteLogMessage(dir_.path().c_str(), logmsg::k02Shutdown), 1);
    EXPECT_EQ(ReadFile(dir_.File("97123.LOG")), day_before);
    EXPECT_EQ(ReadFile(dir_.File("97124.LOG")),
              day + Lines({std::string("05/04/97 08:00:01:000  ") + logmsg::k02Shutdown}));
    EXPECT_FALSE(platform::PathExists(kept.c_str()));
}

// Memory keeps a bounded number of entries: the oldest are given up, and
// entry 38 counts them.
TEST_F(LogFile, BeyondItsCapTheOldestKeptEntriesAreGivenUpAndCounted) {
    const char* dir = dir_.path().c_str();
    const std::string filler(16000, 'x');
    constexpr long kMade = 1300;  // some 20 MB
    {
        testing_support::WriteFaults faults;
        faults.LimitPathsContaining(".LOG", 0);
        for (long i = 0; i < kMade; ++i) {
            clock_.AdvanceMs(1000);
            WriteLogMessage(dir, ("21  " + std::to_string(i) + " " + filler).c_str());
        }
    }
    clock_.AdvanceMs(1000);
    ASSERT_EQ(WriteLogMessage(dir, "04  end"), 1);

    std::istringstream log(ReadFile(dir_.File("97123.LOG")));
    std::vector<std::string> kept;
    long lost = 0;
    long late = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.size() > 23 && line.compare(23, 4, "21  ") == 0) {
            kept.push_back(line.substr(0, 17) + " " + line.substr(27, line.find(' ', 27) - 27));
        }
        std::sscanf(line.c_str(), "%*s %*s  38  %ld log entries", &lost);
        std::sscanf(line.c_str(), "%*s %*s  39  %ld log entries", &late);
    }
    EXPECT_GT(lost, 0);
    EXPECT_EQ(lost + late, kMade);
    ASSERT_EQ(static_cast<long>(kept.size()), late);
    ASSERT_FALSE(kept.empty());
    // The newest, in order.
    for (size_t k = 0; k < kept.size(); ++k) {
        ASSERT_EQ(kept[k].substr(18), std::to_string(lost + static_cast<long>(k))) << kept[k];
    }
    const std::string text = ReadFile(dir_.File("97123.LOG"));
    EXPECT_NE(text.find("  38  " + std::to_string(lost) +
                        " log entries could not be written between 05/03/97 14:05:10 and "),
              std::string::npos);
    EXPECT_NE(text.find("  39  " + std::to_string(late) +
                        " log entries above were written late: they could not be written "
                        "between " +
                        kept.front().substr(0, 17) + " and " + kept.back().substr(0, 17) + "."),
              std::string::npos);
}

TEST_F(LogFile, ConcurrentWritersFromTwoThreadsAreAllKept) {
    constexpr int kPerThread = 200;
    auto writer = [&](const char* who) {
        for (int i = 0; i < kPerThread; ++i) {
            ASSERT_EQ(WriteLogMessagef(dir_.path().c_str(), "%s  entry %d", who, i), 1);
        }
    };
    std::thread a(writer, "03");
    std::thread b(writer, "04");
    a.join();
    b.join();
    const std::string text = ReadFile(dir_.File("97123.LOG"));
    for (const char* who : {"03", "04"}) {
        for (int i = 0; i < kPerThread; ++i) {
            const std::string entry = "05/03/97 14:05:09:042  " + std::string(who) + "  entry " +
                                      std::to_string(i) + kEol;
            EXPECT_NE(text.find(entry), std::string::npos) << entry;
        }
    }
    // exactly one header
    EXPECT_EQ(text.find("Quorvane Version"), text.rfind("Quorvane Version"));
}

TEST(LogFilePath, NamesTheDayOfTheYear) {
    EXPECT_EQ(LogFilePath("D", FakeClock::EpochMs(1997, 5, 3) / 1000),
              std::string("D") + platform::kPathSeparator + "97123.LOG");
}

}  // namespace
