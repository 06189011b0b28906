#include "acquisition/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/log_codes.h"
#include "platform/fake_clock.h"
#include "platform/files.h"
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
    // The entry that could not be written is told before the next that can.
    EXPECT_EQ(ReadFile(path), before +
                                  "05/03/97 14:05:09:042  38  1 log entries could not be written "
                                  "between 05/03/97 14:05:09 and 05/03/97 14:05:09." +
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
