#include "acquisition/data_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "acquisition/journal.h"
#include "acquisition/unfinished_writes.h"
#include "log/log_file.h"
#include "platform/fake_clock.h"
#include "platform/file_faults.h"
#include "platform/files.h"
#include "support/temp_dir.h"
#include "support/test_config.h"
#include "support/write_faults.h"

namespace {

using platform::FakeClock;
using platform::SystemTime;
using testing_support::InTextMode;
using testing_support::Port;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::TestPort;

int64_t At(int hour, int minute, int second) {
    return FakeClock::EpochMs(2024, 3, 1, hour, minute, second) / 1000;
}
SystemTime Time(int hour, int minute, int second, int ms) {
    return platform::ToSystemTime(At(hour, minute, second), ms);
}

TEST(PeriodSchedule, FirstEndIsTheNextMultipleAfterTheHourStrictlyAfterNow) {
    FakeClock clock(FakeClock::EpochMs(2024, 3, 1, 10, 7, 30));
    platform::ClockScope scope(clock);
    EXPECT_EQ(FirstPeriodEnd(15 * 60), At(10, 15, 0));
    clock.Set(2024, 3, 1, 10, 15, 0);
    EXPECT_EQ(FirstPeriodEnd(15 * 60), At(10, 30, 0));
    clock.Set(2024, 3, 1, 10, 0, 0);
    EXPECT_EQ(FirstPeriodEnd(60 * 60), At(11, 0, 0));
    clock.Set(2024, 12, 31, 23, 59, 59);  // across the end of the year
    EXPECT_EQ(FirstPeriodEnd(60), FakeClock::EpochMs(2025, 1, 1) / 1000);
}

TEST(DataFilePath, NamesYearDayHourAndPort) {
    const std::tm t = platform::BreakDownUtc(FakeClock::EpochMs(1997, 2, 14, 14, 30) / 1000);
    EXPECT_EQ(DataFilePath("D", t, 3), std::string("D") + platform::kPathSeparator + "9704514.P03");
}

class DataFiles : public ::testing::Test {
protected:
    DataFiles() : clock_(FakeClock::EpochMs(2024, 3, 1, 10, 15)), clock_scope_(clock_) {}
    ~DataFiles() override { FreeComConfig(config_); }

    void Configure(const std::vector<TestPort>& ports) {
        config_ = testing_support::MakeTestConfig(dir_.path(), 15, ports);
    }
    static FlushContext Context(int64_t file_name_time, bool first, bool end) {
        return FlushContext{platform::BreakDownUtc(file_name_time), first, end};
    }
    static PortPeriodText Period(int position, const std::string& text, SystemTime start,
                                 SystemTime stop, const char* header = "") {
        return PortPeriodText{position, text.data(), static_cast<int32_t>(text.size()),
                              start,    stop,        header};
    }
    std::string File(const char* name) { return ReadFile(dir_.File(name)); }
    std::string Log() { return ReadFile(LogFilePath(dir_.path().c_str(), clock_.Now())); }

    TempDir dir_;
    FakeClock clock_;
    platform::ClockScope clock_scope_;
    ComConfig config_;
};

TEST_F(DataFiles, LayoutOverAnHourOfPeriodsAndIntoTheNext) {
    Configure({Port(1, "Thermo"), Port(3, "Ophir").WithAcquisition(INIT_GETOPHIRCONSTANTS)});
    DataFileWriter writer(config_);
    const char* header = "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 171 2 3 4 5 6 7";

    // 10:07:30 to 10:15: the first flush of the run creates both files.
    auto first = Context(At(10, 7, 30), true, false);
    writer.WritePort(first,
                     Period(0, "a 1\nb 2\n", Time(10, 7, 30, 250), Time(10, 15, 0, 10), header));
    writer.WritePort(first,
                     Period(1, "\nh 1\n", Time(10, 7, 30, 250), Time(10, 15, 0, 11), header));
    // 10:15 to 10:30 and 10:30 to 11:00 (the last one ends on the hour).
    writer.WritePort(Context(At(10, 15, 0), false, false),
                     Period(0, "c 3\n", Time(10, 15, 0, 10), Time(10, 30, 0, 5)));
    writer.WritePort(Context(At(10, 30, 0), false, true),
                     Period(0, "d 4", Time(10, 30, 0, 5), Time(11, 0, 0, 20)));
    writer.WritePort(Context(At(10, 30, 0), false, true),
                     Period(1, "h 2\n", Time(10, 30, 0, 6), Time(11, 0, 0, 21)));
    // 11:00 to 11:15: the next hour's file, with a period text beginning
    // with a line feed (no line end after the start marker).
    writer.WritePort(Context(At(11, 0, 0), false, false),
                     Period(0, "\ne 5\n", Time(11, 0, 0, 20), Time(11, 15, 0, 0), "NEW"));

    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n"
                                              "03/01/24 10:07:30:250 StartTime\n"
                                              "a 1\nb 2\n"
                                              "c 3\n"
                                              "d 4\n"
                                              "03/01/24 11:00:00:020 EndTime\n"));
    EXPECT_EQ(File("2406110.P03"), InTextMode(std::string("Ophir\n") + header +
                                              "03/01/24 10:07:30:250 StartTime"
                                              "\nh 1\n"
                                              "h 2\n"
                                              "03/01/24 11:00:00:021 EndTime\n"));
    EXPECT_EQ(File("2406111.P01"), InTextMode("Thermo\n"
                                              "03/01/24 11:00:00:020 StartTime"
                                              "\ne 5\n"));
    EXPECT_TRUE(platform::IsReadOnly(dir_.File("2406110.P01").c_str()));
    const std::string log = Log();
    EXPECT_NE(log.find("  20  Disk I/O: Write to " + dir_.File("2406111.P01") + "."),
              std::string::npos);
}

TEST_F(DataFiles, EveryByteIsWrittenAlsoAfterAZeroByte) {
    Configure({Port(2, "Raw")});
    DataFileWriter writer(config_);
    const std::string text("x\0y\n\0", 5);
    writer.WritePort(Context(At(10, 0, 0), true, true),
                     Period(0, text, Time(10, 0, 0, 0), Time(10, 15, 0, 0)));
    // The last byte received is a zero byte, not a line feed: the end marker
    // gets its own line.
    EXPECT_EQ(File("2406110.P02"), InTextMode("Raw\n03/01/24 10:00:00:000 StartTime\n" + text +
                                              "\n03/01/24 10:15:00:000 EndTime\n"));
}

TEST_F(DataFiles, RestartAppendsANewStartBlockToTheReadOnlyFile) {
    Configure({Port(1, "Thermo")});
    {
        DataFileWriter writer(config_);
        writer.WritePort(Context(At(10, 2, 0), true, true),
                         Period(0, "a\n", Time(10, 2, 0, 0), Time(10, 5, 0, 0)));
    }
    ASSERT_TRUE(platform::IsReadOnly(dir_.File("2406110.P01").c_str()));
    DataFileWriter restarted(config_);
    restarted.WritePort(Context(At(10, 6, 0), true, false),
                        Period(0, "b\n", Time(10, 6, 0, 0), Time(10, 15, 0, 0)));
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n"
                                              "03/01/24 10:02:00:000 StartTime\na\n"
                                              "03/01/24 10:05:00:000 EndTime\n"
                                              "03/01/24 10:06:00:000 StartTime\nb\n"));
    EXPECT_TRUE(platform::IsReadOnly(dir_.File("2406110.P01").c_str()));
}

TEST_F(DataFiles, NoDataIsLoggedAndTouchesNoFile) {
    Configure({Port(4)});
    DataFileWriter writer(config_);
    writer.WritePort(Context(At(10, 0, 0), true, false),
                     Period(0, "", Time(10, 0, 5, 0), Time(10, 15, 0, 30)));
    EXPECT_FALSE(platform::PathExists(dir_.File("2406110.P04").c_str()));
    EXPECT_NE(Log().find("  21  No data received from COM4 during the period 10:00:05 to 10:15:00"),
              std::string::npos);
}

TEST_F(DataFiles, TextOfAFileThatCannotBeOpenedIsWrittenLaterIntoItsOwnHour) {
    Configure({Port(1, "Thermo")});
    DataFileWriter writer(config_);
    const std::string hour10 = dir_.File("2406110.P01");
    std::FILE* other = platform::OpenAppendDenyWrite(hour10.c_str());  // another writer holds it
    ASSERT_NE(other, nullptr);
    writer.WritePort(Context(At(10, 45, 0), true, true),
                     Period(0, "late\n", Time(10, 45, 0, 0), Time(11, 0, 0, 0)));
    EXPECT_EQ(writer.UnwrittenBytes(0), 5u);
    EXPECT_NE(Log().find("  19  Can't open " + hour10 + " for data output."), std::string::npos);
    platform::CloseLocked(other);

    writer.WritePort(Context(At(11, 0, 0), false, false),
                     Period(0, "next\n", Time(11, 0, 0, 0), Time(11, 15, 0, 0)));
    EXPECT_EQ(writer.UnwrittenBytes(0), 0u);
    // The other writer left the file empty: it gets its instrument line as a
    // new file would (a file without one names no instrument).
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n03/01/24 10:45:00:000 StartTime\nlate\n"
                                              "03/01/24 11:00:00:000 EndTime\n"));
    // The hour-11 file is created by this flush: instrument line and start marker.
    EXPECT_EQ(File("2406111.P01"), InTextMode("Thermo\n03/01/24 11:00:00:000 StartTime\nnext\n"));
}

TEST_F(DataFiles, AnOutputDirectoryThatDisappearsAndComesBackLosesNothing) {
    Configure({Port(1, "Thermo")});
    DataFileWriter writer(config_);
    writer.WritePort(Context(At(10, 0, 0), true, false),
                     Period(0, "one\n", Time(10, 0, 0, 0), Time(10, 15, 0, 0)));
    const std::filesystem::path away = dir_.path() + "-away";
    std::filesystem::rename(dir_.path(), away);
    writer.WritePort(Context(At(10, 15, 0), false, false),
                     Period(0, "two\n", Time(10, 15, 0, 0), Time(10, 30, 0, 0)));
    writer.WritePort(Context(At(10, 30, 0), false, true),
                     Period(0, "three\n", Time(10, 30, 0, 0), Time(11, 0, 0, 0)));
    EXPECT_EQ(writer.UnwrittenBytes(0), 10u);
    std::filesystem::rename(away, dir_.path());
    writer.WritePort(Context(At(11, 0, 0), false, false),
                     Period(0, "four\n", Time(11, 0, 0, 0), Time(11, 15, 0, 0)));
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\n"
                                              "one\ntwo\nthree\n03/01/24 11:00:00:000 EndTime\n"));
    EXPECT_EQ(File("2406111.P01"), InTextMode("Thermo\n03/01/24 11:00:00:000 StartTime\nfour\n"));
}

TEST_F(DataFiles, KeptTextBeyondTheCapIsDiscardedOldestFirstAndLogged) {
    Configure({Port(6, "Thermo")});
    DataFileWriter writer(config_, /*unwrittenCapBytes=*/10);
    const std::string hour10 = dir_.File("2406110.P06");
    std::FILE* other = platform::OpenAppendDenyWrite(hour10.c_str());
    ASSERT_NE(other, nullptr);
    writer.WritePort(Context(At(10, 0, 0), true, false),
                     Period(0, "oldest\n", Time(10, 0, 0, 0), Time(10, 15, 0, 0)));
    writer.WritePort(Context(At(10, 15, 0), false, false),
                     Period(0, "newer\n", Time(10, 15, 0, 0), Time(10, 30, 0, 0)));
    EXPECT_EQ(writer.UnwrittenBytes(0), 6u);
    EXPECT_NE(Log().find("  30  7 bytes of COM6 received 10:00:00 to 10:15:00 could not be written "
                         "and are discarded (more than 10 bytes waiting)."),
              std::string::npos)
        << Log();
    platform::CloseLocked(other);
    writer.DiscardUnwritten("acquisition stopped");
    EXPECT_EQ(writer.UnwrittenBytes(0), 0u);
    EXPECT_NE(Log().find("  30  6 bytes of COM6 received 10:15:00 to 10:30:00 could not be written "
                         "and are discarded (acquisition stopped)."),
              std::string::npos);
}

// The cap of kept text is a cap of memory: a long period whose text is in the
// journal costs none, so it is never given up for it; what is given up is
// counted with its real length, and everything else arrives in order.
TEST_F(DataFiles, TheCapOfKeptTextSparesALongPeriodWhoseTextIsInTheJournal) {
    Configure({Port(6, "Thermo")});
    PortJournal journal(dir_.path().c_str(), 6, "Thermo");
    Leftovers none;
    ASSERT_TRUE(journal.Open(none));
    DataFileWriter writer(config_, /*unwrittenCapBytes=*/10);
    writer.AttachJournal(0, &journal);
    std::FILE* other = platform::OpenAppendDenyWrite(dir_.File("2406110.P06").c_str());
    ASSERT_NE(other, nullptr);
    auto period = [&](int64_t from, const std::string& text, const LongPeriod& long_period) {
        journal.Append(text.data(), text.size(), from * 1000);
        const std::string in_memory = text.substr(text.size() - 4);  // all, or the latest part
        writer.WritePort(Context(from, false, false),
                         Period(0, long_period.length > 0 ? in_memory : text,
                                platform::ToSystemTime(from), platform::ToSystemTime(from + 900)),
                         long_period);
    };
    const std::string long_text = "long 1\nlong 2\nlong 3\nlong 4\n";
    period(At(10, 0, 0), long_text, LongPeriod{static_cast<int64_t>(long_text.size()), 'l', '\n'});
    period(At(10, 15, 0), "b 2\n", {});
    period(At(10, 30, 0), "c 3 ccc\n", {});  // 12 bytes kept in memory: b goes
    platform::CloseLocked(other);
    period(At(10, 45, 0), "d 4\n", {});

    // The file the other writer left empty is taken for a new one.
    EXPECT_EQ(File("2406110.P06"), InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\n" +
                                              long_text + "c 3 ccc\nd 4\n"));
    const std::string log = Log();
    EXPECT_NE(log.find("  30  4 bytes of COM6 received 10:15:00 to 10:30:00 could not be written "
                       "and are discarded (more than 10 bytes waiting)."),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("  30  "), log.rfind("  30  ")) << log;
    EXPECT_EQ(writer.UnwrittenBytes(0), 0u);
    EXPECT_TRUE(journal.Empty());
}

// A long period's journal that refused a record after the period's earlier
// text left memory: the refused bytes are in memory only, and the data file
// gets them there, between the text read back and the rest.
TEST_F(DataFiles, ALongPeriodGetsFromMemoryWhatItsJournalRefused) {
    Configure({Port(1, "Thermo")});
    PortJournal journal(dir_.path().c_str(), 1, "Thermo");
    Leftovers none;
    ASSERT_TRUE(journal.Open(none));
    DataFileWriter writer(config_);
    writer.AttachJournal(0, &journal);
    const std::string moved = "a 1\nb 2\n";  // in the journal alone
    const std::string in_memory = "c 3\nd 4\n";
    journal.Append(moved.data(), moved.size(), 0);
    {
        testing_support::WriteFaults faults;
        faults.ShortenWrite(JournalPath(dir_.path().c_str(), 1), 1, 0);
        journal.Append(in_memory.data(), 4, 0);  // refused
    }
    journal.Append(in_memory.data() + 4, 4, 0);
    writer.WritePort(Context(At(10, 0, 0), true, false),
                     Period(0, in_memory, Time(10, 0, 0, 0), Time(10, 15, 0, 0)),
                     LongPeriod{static_cast<int64_t>(moved.size() + in_memory.size()), 'a', '\n'});
    EXPECT_EQ(File("2406110.P01"),
              InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\n" + moved + in_memory));
}

// A disk on which every write to a data file may come out short and the
// truncation or removal that would undo it may fail too.
class FailingUndos final : public platform::FileFaults {
public:
    FailingUndos() { platform::SetFileFaults(this); }
    ~FailingUndos() override { platform::SetFileFaults(nullptr); }
    FailingUndos(const FailingUndos&) = delete;
    FailingUndos& operator=(const FailingUndos&) = delete;

    platform::FileVerdict Before(const platform::FileAccess& access) override {
        platform::FileVerdict verdict;
        if (note_fails &&
            std::string(access.path).find(kUnfinishedWritesNote) != std::string::npos) {
            verdict.error = EIO;
            return verdict;
        }
        if (std::string(access.path).find(".P01") == std::string::npos) {
            return verdict;
        }
        const bool undoes = access.operation == platform::FileOperation::kTruncate ||
                            access.operation == platform::FileOperation::kRemove;
        if (access.operation == platform::FileOperation::kWrite && short_writes) {
            verdict.bytes = 3;
        } else if (undoes && undo_fails) {
            verdict.error = EIO;
        }
        return verdict;
    }

    bool short_writes = true;
    bool undo_fails = true;
    bool note_fails = false;
};

TEST_F(DataFiles, PartOfAFailedWriteThatCouldNotBeUndoneIsCutOffBeforeMoreTextGoesThere) {
    Configure({Port(1, "Thermo")});
    DataFileWriter writer(config_);
    writer.WritePort(Context(At(10, 0, 0), true, false),
                     Period(0, "one\n", Time(10, 0, 0, 0), Time(10, 15, 0, 0)));
    const std::string written = "Thermo\n03/01/24 10:00:00:000 StartTime\none\n";
    FailingUndos disk;
    writer.WritePort(Context(At(10, 15, 0), false, false),
                     Period(0, "two\n", Time(10, 15, 0, 0), Time(10, 30, 0, 0)));
    ASSERT_EQ(File("2406110.P01"), InTextMode(written) + "two");  // its undo failed

    // Writes go through again, the cut back still fails: nothing may follow
    // the part, so this period is kept as well.
    disk.short_writes = false;
    writer.WritePort(Context(At(10, 30, 0), false, false),
                     Period(0, "three\n", Time(10, 30, 0, 0), Time(10, 45, 0, 0)));
    EXPECT_EQ(File("2406110.P01"), InTextMode(written) + "two");
    EXPECT_EQ(writer.UnwrittenBytes(0), 10u);

    disk.undo_fails = false;
    writer.WritePort(Context(At(10, 45, 0), false, true),
                     Period(0, "four\n", Time(10, 45, 0, 0), Time(11, 0, 0, 0)));
    EXPECT_EQ(File("2406110.P01"),
              InTextMode(written + "two\nthree\nfour\n03/01/24 11:00:00:000 EndTime\n"));
    EXPECT_EQ(writer.UnwrittenBytes(0), 0u);

    // A new file whose removal failed is no old file: it is removed before
    // its block is written again, instrument line first.
    disk.short_writes = true;
    disk.undo_fails = true;
    writer.WritePort(Context(At(11, 0, 0), false, false),
                     Period(0, "five\n", Time(11, 0, 0, 0), Time(11, 15, 0, 0)));
    ASSERT_EQ(File("2406111.P01"), "The");
    disk.short_writes = false;
    disk.undo_fails = false;
    writer.WritePort(Context(At(11, 15, 0), false, false),
                     Period(0, "six\n", Time(11, 15, 0, 0), Time(11, 30, 0, 0)));
    EXPECT_EQ(File("2406111.P01"),
              InTextMode("Thermo\n03/01/24 11:00:00:000 StartTime\nfive\nsix\n"));
}

// A run that stops while the disk still refuses the cut leaves a note; the
// next start cuts the part off, but only from a file still as the note found
// it. When even the note cannot be written, entry 44 says what to remove.
TEST_F(DataFiles, PartOfAFailedWriteLeftAtAStopIsCutOffByTheNextStartWhileTheFileIsAsNoted) {
    Configure({Port(1, "Thermo")});
    const std::string written = "Thermo\n03/01/24 10:00:00:000 StartTime\none\n";
    const std::string note = JournalFolderPath(dir_.path().c_str()) + "/" + kUnfinishedWritesNote;
    // A run in the hour `hour` that stops while part of its second write is
    // left in the hour's file.
    const auto stop_with_a_part_left = [&](int hour, bool note_fails) {
        DataFileWriter writer(config_);
        writer.WritePort(Context(At(hour, 0, 0), true, false),
                         Period(0, "one\n", Time(hour, 0, 0, 0), Time(hour, 15, 0, 0)));
        FailingUndos disk;
        disk.note_fails = note_fails;
        writer.WritePort(Context(At(hour, 15, 0), false, false),
                         Period(0, "two\n", Time(hour, 15, 0, 0), Time(hour, 30, 0, 0)));
        writer.KeepUnwrittenAtStop();
    };
    stop_with_a_part_left(10, false);
    ASSERT_EQ(File("2406110.P01"), InTextMode(written) + "two");
    const std::string noted = ReadFile(note);
    ASSERT_FALSE(noted.empty());
    EXPECT_EQ(Log().find("44  "), std::string::npos);

    EXPECT_TRUE(SettleUnfinishedWrites(dir_.path().c_str()).empty());
    EXPECT_EQ(File("2406110.P01"), InTextMode(written));
    EXPECT_FALSE(std::filesystem::exists(note));

    // A note that outlived its cut finds the file grown since: it cuts nothing.
    {
        DataFileWriter writer(config_);
        writer.WritePort(Context(At(10, 30, 0), false, false),
                         Period(0, "x", Time(10, 30, 0, 0), Time(10, 45, 0, 0)));
    }
    testing_support::WriteFile(note, noted);
    EXPECT_TRUE(SettleUnfinishedWrites(dir_.path().c_str()).empty());
    EXPECT_EQ(File("2406110.P01"), InTextMode(written) + "x");

    stop_with_a_part_left(11, true);
    const std::string path = dir_.File("2406111.P01");
    const std::string written_at_11 = "Thermo\n03/01/24 11:00:00:000 StartTime\none\n";
    EXPECT_NE(Log().find("44  " + path + " holds 3 bytes of a failed write at byte " +
                         std::to_string(InTextMode(written_at_11).size()) +
                         " that could not be taken out: remove them by hand."),
              std::string::npos)
        << Log();
}

}  // namespace
