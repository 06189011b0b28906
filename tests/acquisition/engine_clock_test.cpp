// A clock that is set while acquisition runs: a jump of more than a period,
// forward or back, ends the period once where the clock left it and starts
// the schedule again from the new time; no storm of flushes, no hour without
// any.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/journal.h"
#include "support/engine_harness.h"

namespace engine_testing {
namespace {

using testing_support::Port;

std::vector<std::string> WithCode(const std::vector<std::string>& messages, const char* code) {
    std::vector<std::string> found;
    for (const std::string& m : messages) {
        if (m.rfind(std::string(code) + "  ", 0) == 0) {
            found.push_back(m);
        }
    }
    return found;
}

class EngineClock : public EngineTest {
protected:
    void SetDay(int day, int hour, int minute, int second = 0) {
        clock_.Set(2024, 3, day, hour, minute, second);
    }
    std::string LogOfDay(int day) {
        return testing_support::ReadFile(
            LogFilePath(dir_.path().c_str(), platform::FakeClock::EpochMs(2024, 3, day) / 1000));
    }
};

// A day forward with one-minute periods: one flush, not 1440, and one entry
// 36; the text before the jump is in its own hour's file, closed by its end
// marker; the next period starts a new day's file.
TEST_F(EngineClock, ADayForwardFlushesOnceAndStartsAgain) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 0, 20);
    Start(testing_support::MakeTestConfig(
        dir_.path(), 1, {Port(1, "Thermo").WithDevice(pty.path()).WithStats('\n')}));
    Send(pty, 0, "before\n");
    clock_.StepCalendarMs(platform::FakeClock::EpochMs(2024, 3, 2, 10, 0, 40) -
                          clock_.EpochMsNow());
    ASSERT_TRUE(probe_.WaitForFlushes(1));
    Send(pty, 0, "after\n");
    SetDay(2, 10, 1);  // the period after the jump ends at its own minute
    ASSERT_TRUE(probe_.WaitForFlushes(2));
    Stop();

    EXPECT_EQ(File("2406110.P01"),
              "Thermo\n03/01/24 10:00:20:000 StartTime\nbefore\n03/01/24 10:00:20:000 EndTime\n");
    EXPECT_EQ(File("2406210.P01"), "Thermo\n03/02/24 10:00:40:000 StartTime\nafter\n");
    // Written after the jump, the entries are in the new day's log.
    const auto day2 = LogMessages(LogOfDay(2));
    const auto steps = WithCode(day2, "36");
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0],
              "36  The clock moved from 03/01/24 10:00:20 to 03/02/24 10:00:40; the period is cut "
              "short and the schedule set anew.");
    // Three flushes: the period cut short, the next one, and the stop's,
    // which found nothing.
    EXPECT_EQ(WithCode(day2, "24").size(), 3u);
    EXPECT_EQ(WithCode(day2, "21").size(), 1u);
    // The old period's statistics carry its own times.
    EXPECT_NE(
        File("2406110.sta").find("Start Time: 03/01/24 10:00:20 | End Time: 03/01/24 10:00:20"),
        std::string::npos)
        << File("2406110.sta");
}

// An hour back with quarter-hour periods: the flushes go on at once on the
// new schedule instead of waiting an hour for the old one.
TEST_F(EngineClock, AnHourBackKeepsTheFlushesGoing) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 20);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Thermo").WithDevice(pty.path())}));
    Send(pty, 0, "one\n");
    SetTime(9, 20);
    ASSERT_TRUE(probe_.WaitForFlushes(++base_flushes_));
    Send(pty, 0, "two\n");
    EndPeriodAt(9, 30);  // flush 2: the new schedule's first period end
    Send(pty, 0, "three\n");
    EndPeriodAt(9, 45);
    Stop();

    EXPECT_EQ(File("2406110.P01"),
              "Thermo\n03/01/24 10:20:00:000 StartTime\none\n03/01/24 10:20:00:000 EndTime\n");
    // (09:45 is not on the hour, and the stop's flush had nothing.)
    EXPECT_EQ(File("2406109.P01"), "Thermo\n03/01/24 09:20:00:000 StartTime\ntwo\nthree\n");
    EXPECT_EQ(WithCode(LogMessages(Log()), "36").size(), 1u);
    // The status updates go on too.
    const auto last = view_.DrawsOf(kStatusLastUpdate);
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back().text.rfind("None", 0), 0u);  // the stop
    EXPECT_EQ(last[last.size() - 2].text.rfind("03-01-24 09:", 0), 0u)
        << last[last.size() - 2].text;
}

// Back across midnight: hour 23 of the day before gets the new files, and
// the entries written after the jump go to that day's log.
TEST_F(EngineClock, BackAcrossMidnightNamesTheFilesOfTheDayBefore) {
    sim::PtyPair& pty = AddPty();
    SetDay(2, 0, 10);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(2, "Thermo").WithDevice(pty.path())}));
    Send(pty, 0, "after midnight\n");
    SetDay(1, 23, 40);
    ASSERT_TRUE(probe_.WaitForFlushes(1));
    Send(pty, 0, "before midnight\n");
    SetDay(1, 23, 45);
    ASSERT_TRUE(probe_.WaitForFlushes(2));
    Stop();

    EXPECT_EQ(File("2406200.P02"),
              "Thermo\n03/02/24 00:10:00:000 StartTime\nafter midnight\n"
              "03/02/24 00:10:00:000 EndTime\n");
    EXPECT_EQ(File("2406123.P02"), "Thermo\n03/01/24 23:40:00:000 StartTime\nbefore midnight\n");
    EXPECT_EQ(WithCode(LogMessages(LogOfDay(1)), "36").size(), 1u);
}

// Set back an hour while one port's device is away and the other has less
// than a block waiting: a second of time passing later, on the tick counter
// and not the calendar, that text is in the journal (a crash would not lose
// it) and the returned device's port is open again, as without the step.
TEST_F(EngineClock, ASetBackClockPutsOffNeitherTheTailReadNorTheReopening) {
    sim::PtyPair& stay = AddPty();
    const std::string link = dir_.path() + "-instrument";
    std::filesystem::create_symlink(AddPty().path(), link);
    SetTime(10, 20);
    Start(testing_support::MakeTestConfig(
        dir_.path(), 15,
        {Port(1, "Thermo").WithDevice(stay.path()), Port(2, "Baro").WithDevice(link)}));
    ptys_.pop_back();  // the barometer is unplugged: its terminal hangs up
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "COM2"));

    clock_.StepCalendarMs(-3600 * 1000);
    ASSERT_TRUE(probe_.WaitForFlushes(++base_flushes_));
    Send(stay, 0, "tail\n");
    sim::PtyPair& back = AddPty();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(back.path(), link);
    clock_.AdvanceMs(1000);
    ASSERT_TRUE(view_.WaitForDrawn(kStatusPortErrors, "None")) << Log();
    ASSERT_TRUE(probe_.WaitForPasses(probe_.passes() + 2));
    const std::string journal = testing_support::ReadFile(JournalPath(dir_.path().c_str(), 1));
    EXPECT_NE(journal.find("tail"), std::string::npos) << "the tail was not read within a second";
    Send(back, 1, "back\n");
    EndPeriodAt(9, 30);
    Stop();
    std::filesystem::remove(link);

    EXPECT_EQ(File("2406109.P01"), "Thermo\n03/01/24 09:20:00:000 StartTime\ntail\n");
    EXPECT_EQ(File("2406109.P02"), "Baro\n03/01/24 09:20:00:000 StartTime\nback\n");
    const auto entries = LinesWithCodes(Log(), {"32", "33", "36"});
    ASSERT_EQ(entries.size(), 3u) << Log();
    EXPECT_EQ(entries[2], "33  COM2 reopened after 1 s.");
}

}  // namespace
}  // namespace engine_testing
