// The journal inside the running engine (pty instruments, real files, fake
// clock): a stop whose text cannot be written, a full disk that frees up, and
// a normal run that leaves its journal empty.
#include <gtest/gtest.h>

#include <string>

#include "acquisition/journal.h"
#include "platform/files.h"
#include "support/engine_harness.h"
#include "support/small_disk.h"
#include "support/write_faults.h"

namespace engine_testing {
namespace {

using testing_support::Port;

class EngineJournal : public EngineTest {
protected:
    std::string Path(const std::string& name) { return dir_.File(name); }
    int64_t JournalLength(const std::string& directory, int port = 1) {
        return platform::FileLength(JournalPath(directory.c_str(), port).c_str());
    }
    static constexpr int64_t kEmptyThermoJournal = 16 + 6 + 4;  // header with "Thermo"
};

TEST_F(EngineJournal, ANormalRunLeavesItsJournalEmptyAndItsFilesAsBefore) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Thermo").WithDevice(pty.path())}));
    Send(pty, 0, WholeRecords(0, 16));
    EXPECT_GT(JournalLength(dir_.path()), kEmptyThermoJournal);
    EndPeriodAt(10, 15);
    EXPECT_EQ(JournalLength(dir_.path()), kEmptyThermoJournal);
    Send(pty, 0, WholeRecords(16, 3));
    SetTime(10, 20);
    Stop();
    EXPECT_EQ(File("2406110.P01"), "Thermo\n03/01/24 10:07:30:250 StartTime\n" +
                                       WholeRecords(0, 19) + "03/01/24 10:20:00:000 EndTime\n");
    EXPECT_EQ(JournalLength(dir_.path()), kEmptyThermoJournal);
}

// Less than a block waits in the receive queue only for a second: then it is
// read, and so journaled, before the period's end.
TEST_F(EngineJournal, LessThanABlockReachesTheJournalWithinASecond) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Thermo").WithDevice(pty.path())}));
    Send(pty, 0, "a short record\n");
    EXPECT_EQ(JournalLength(dir_.path()), kEmptyThermoJournal) << "still in the queue";
    const int64_t passes = probe_.passes();
    SetTime(10, 7, 31, 250);
    ASSERT_TRUE(probe_.WaitForPasses(passes + 2));
    const std::string journal = testing_support::ReadFile(JournalPath(dir_.path().c_str(), 1));
    EXPECT_NE(journal.find("a short record\n"), std::string::npos);
    EndPeriodAt(10, 15);
    EXPECT_EQ(File("2406110.P01"), "Thermo\n03/01/24 10:07:30:250 StartTime\na short record\n");
}

TEST_F(EngineJournal, AStopThatCannotWriteKeepsTheTextAndTheNextStartWritesIt) {
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(dir_.path(), 15,
                                          {Port(1, "Thermo").WithDevice(pty.path())}));
    const std::string text = WholeRecords(0, 5);
    {
        testing_support::WriteFaults faults;
        faults.LimitPathsContaining(".P01", 0);  // no data file can be written
        Send(pty, 0, text);
        SetTime(10, 9, 12, 5);
        Stop();
    }
    EXPECT_FALSE(platform::PathExists(Path("2406110.P01").c_str()));
    EXPECT_EQ(Log().find("  30  "), std::string::npos);

    SetTime(10, 40);
    StartRun();
    SetTime(10, 41);
    Stop();
    // Read by the final drain of the stop at 10:09:12.005: one block of
    // text, so the markers both carry that time.
    EXPECT_EQ(File("2406110.P01"), "Thermo\n03/01/24 10:09:12:005 StartTime\n" + text +
                                       "03/01/24 10:09:12:005 EndTime\n");
    EXPECT_NE(Log().find("  34  320 bytes of COM1 received 10:09:12 to 10:09:12 recovered."),
              std::string::npos)
        << Log();
    EXPECT_EQ(JournalLength(dir_.path()), kEmptyThermoJournal);
}

TEST_F(EngineJournal, AFullDiskThatFreesUpLaterGetsEverythingOnceInOrder) {
    testing_support::SmallDisk disk(dir_.File("disk"), 256 * 1024);
    if (!disk.ok()) {
        GTEST_SKIP() << disk.error();
    }
    sim::PtyPair& pty = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(disk.path(), 15,
                                          {Port(1, "Thermo").WithDevice(pty.path())}));
    disk.FillLeaving(0);
    Send(pty, 0, WholeRecords(0, 40));
    EndPeriodAt(10, 15);  // nothing fits: kept
    EXPECT_FALSE(platform::PathExists((disk.path() + "/2406110.P01").c_str()));
    disk.Free();
    Send(pty, 0, WholeRecords(40, 24));
    EndPeriodAt(10, 30);
    Send(pty, 0, WholeRecords(64, 8));
    SetTime(10, 31);
    Stop();
    EXPECT_EQ(testing_support::ReadFile(disk.path() + "/2406110.P01"),
              "Thermo\n03/01/24 10:07:30:250 StartTime\n" + WholeRecords(0, 72) +
                  "03/01/24 10:31:00:000 EndTime\n");
    EXPECT_EQ(JournalLength(disk.path()), kEmptyThermoJournal);
}

}  // namespace
}  // namespace engine_testing
