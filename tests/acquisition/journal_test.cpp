// The journal of received text with the real data-file writer and real files:
// what a normal period leaves behind (nothing), a failed write, a stop, the
// recovery of what an earlier run left (also cut mid-record, in the middle of
// a data-file write, larger than it may hold in memory, and into files that
// cannot be written), a journal the disk refuses or that cannot be opened.
#include "acquisition/journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/data_files.h"
#include "acquisition/journaled_writing.h"
#include "log/log_file.h"
#include "log/write_problems.h"
#include "platform/fake_clock.h"
#include "platform/file_faults.h"
#include "platform/files.h"
#include "support/temp_dir.h"
#include "support/test_config.h"
#include "support/write_faults.h"

// The heap of this test program, counted: every allocation of operator new
// carries its size in front of it, so that the bytes in use, and their peak
// since a reset, are known.
namespace {

constexpr size_t kSizePrefix = alignof(std::max_align_t);
std::atomic<int64_t> g_heap_in_use{0};
std::atomic<int64_t> g_heap_peak{0};

}  // namespace

void* operator new(std::size_t size) {
    void* block = std::malloc(size + kSizePrefix);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    const int64_t in_use = g_heap_in_use += static_cast<int64_t>(size);
    int64_t peak = g_heap_peak.load();
    while (in_use > peak && !g_heap_peak.compare_exchange_weak(peak, in_use)) {
    }
    return static_cast<char*>(block) + kSizePrefix;
}

void operator delete(void* pointer) noexcept {
    if (pointer != nullptr) {
        void* block = static_cast<char*>(pointer) - kSizePrefix;
        g_heap_in_use -= static_cast<int64_t>(*static_cast<std::size_t*>(block));
        std::free(block);
    }
}

void operator delete(void* pointer, std::size_t) noexcept {
    operator delete(pointer);
}

namespace {

using platform::FakeClock;
using testing_support::InTextMode;
using testing_support::Port;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFaults;

// Creates `path` if need be and appends `bytes`, as another program would.
void AppendRawFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

int64_t At(int hour, int minute, int second = 0) {
    return FakeClock::EpochMs(2024, 3, 1, hour, minute, second) / 1000;
}

// One acquisition run as the engine drives the journal and the writer:
// its start, an Append per read, the period's WritePort, its stop. Letting it
// go without Stop() is a crash: every write so far is in the files, nothing
// after it happens.
class EngineRun {
public:
    EngineRun(const ComConfig& config, FakeClock& clock)
        : config_(config), clock_(clock), journal_(config), writer_(config) {
        StartJournaledWriting(journal_, writer_, config.OutputDriveAndPath);
        buffers_.resize(static_cast<size_t>(config.NumPorts));
    }
    void Receive(int position, const std::string& text, int hour, int minute, int second = 0,
                 int ms = 0) {
        clock_.Set(2024, 3, 1, hour, minute, second, ms);
        buffers_[static_cast<size_t>(position)] += text;
        journal_.Append(position, text.data(), static_cast<int32_t>(text.size()));
    }
    // The period's end: every port's period closed in its journal, the
    // journals that could not be opened tried again, every port's text to
    // its file.
    void EndPeriod(int64_t file_name_time, bool first, bool end_marker, int hour, int minute) {
        clock_.Set(2024, 3, 1, hour, minute);
        const FlushContext context{platform::BreakDownUtc(file_name_time), first, end_marker};
        for (int p = 0; p < config_.NumPorts; ++p) {
            writer_.EndPeriod(p);
        }
        ReopenJournals(journal_, writer_);
        for (int p = 0; p < config_.NumPorts; ++p) {
            std::string& text = buffers_[static_cast<size_t>(p)];
            writer_.WritePort(context,
                              {p, text.c_str(), static_cast<int32_t>(text.size()),
                               platform::ToSystemTime(file_name_time), platform::UtcNow(), ""});
            text.clear();
        }
    }
    void Stop() { StopJournaledWriting(journal_, writer_); }
    DataFileWriter& writer() { return writer_; }

private:
    const ComConfig& config_;
    FakeClock& clock_;
    ReceivedTextJournal journal_;
    DataFileWriter writer_;
    std::vector<std::string> buffers_;
};

class Journal : public ::testing::Test {
protected:
    Journal() : clock_(FakeClock::EpochMs(2024, 3, 1, 10, 0)), clock_scope_(clock_) {
        config_ = testing_support::MakeTestConfig(dir_.path(), 15, {Port(1, "Thermo")});
    }
    ~Journal() override {
        SetJournalCheckpoint(nullptr);
        FreeComConfig(config_);
    }
    std::unique_ptr<EngineRun> NewRun() { return std::make_unique<EngineRun>(config_, clock_); }
    std::string File(const char* name) { return ReadFile(dir_.File(name)); }
    std::string Log() { return ReadFile(LogFilePath(dir_.path().c_str(), clock_.Now())); }
    std::string JournalFile(int port = 1) { return JournalPath(dir_.path().c_str(), port); }
    // A journal that holds its header and nothing else.
    bool HoldsNothing(int port = 1, const std::string& instrument = "Thermo") {
        return platform::FileLength(JournalFile(port).c_str()) ==
               static_cast<int64_t>(16 + instrument.size() + 4);
    }

    TempDir dir_;
    FakeClock clock_;
    platform::ClockScope clock_scope_;
    ComConfig config_;
};

TEST_F(Journal, ANormalPeriodLeavesTheDataFileAsWithoutItAndTheJournalEmpty) {
    auto run = NewRun();
    EXPECT_TRUE(std::filesystem::is_directory(JournalFolderPath(dir_.path().c_str())));
    EXPECT_EQ(JournalFolderPath(dir_.path().c_str()).find('.'), std::string::npos);
    run->Receive(0, "a 1\n", 10, 1);
    run->Receive(0, "b 2\n", 10, 2);
    EXPECT_FALSE(HoldsNothing());
    run->EndPeriod(At(10, 0), true, false, 10, 15);
    EXPECT_TRUE(HoldsNothing());
    run->Receive(0, "c 3\n", 10, 20);
    run->EndPeriod(At(10, 15), false, true, 10, 30);
    run->Stop();
    EXPECT_EQ(File("2406110.P01"),
              InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\na 1\nb 2\nc 3\n"
                         "03/01/24 10:30:00:000 EndTime\n"));
    EXPECT_TRUE(HoldsNothing());
    EXPECT_EQ(Log().find("  34  "), std::string::npos);

    // The next start finds nothing to recover.
    NewRun()->Stop();
    EXPECT_EQ(Log().find("  34  "), std::string::npos);
}

TEST_F(Journal, TextLeftByACrashIsWrittenIntoTheFilesOfTheHoursItWasReceivedIn) {
    {
        auto run = NewRun();
        run->Receive(0, "ten 1\n", 10, 50, 1, 250);
        run->Receive(0, "ten 2\n", 10, 59, 59, 999);
        run->Receive(0, "eleven\n", 11, 0, 0, 5);
        run->Receive(0, "eleven 2", 11, 3, 7, 40);
    }  // the process dies
    clock_.Set(2024, 3, 1, 11, 20);
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"),
              InTextMode("Thermo\n03/01/24 10:50:01:250 StartTime\nten 1\nten 2\n"
                         "03/01/24 10:59:59:999 EndTime\n"));
    EXPECT_EQ(File("2406111.P01"),
              InTextMode("Thermo\n03/01/24 11:00:00:005 StartTime\neleven\neleven 2"
                         "\n03/01/24 11:03:07:040 EndTime\n"));
    const std::string log = Log();
    EXPECT_NE(log.find("  34  12 bytes of COM1 received 10:50:01 to 10:59:59 recovered."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("  34  15 bytes of COM1 received 11:00:00 to 11:03:07 recovered."),
              std::string::npos);
    EXPECT_TRUE(HoldsNothing());

    // Recovered once: a further start writes nothing more.
    NewRun()->Stop();
    EXPECT_EQ(File("2406111.P01"),
              InTextMode("Thermo\n03/01/24 11:00:00:005 StartTime\neleven\neleven 2"
                         "\n03/01/24 11:03:07:040 EndTime\n"));
}

TEST_F(Journal, AJournalCutInTheMiddleOfARecordRecoversEverythingBeforeTheCut) {
    {
        auto run = NewRun();
        run->Receive(0, "first\n", 10, 1);
        run->Receive(0, "second\n", 10, 2);
        run->Receive(0, "third\n", 10, 3);
    }
    const std::string whole = ReadFile(JournalFile());
    const size_t last_record = 20 + 6;  // header and payload of "third\n"
    ASSERT_GT(whole.size(), last_record);
    // Every length from just after the second record to just before the end
    // of the third, then the whole journal with garbage behind it.
    std::vector<std::string> journals;
    for (size_t cut = whole.size() - last_record; cut < whole.size(); ++cut) {
        journals.push_back(whole.substr(0, cut));
    }
    journals.push_back(whole + std::string(30, '\x5A'));
    for (size_t i = 0; i < journals.size(); ++i) {
        SCOPED_TRACE("journal " + std::to_string(i));
        platform::RemoveFile(dir_.File("2406110.P01").c_str());
        testing_support::WriteFile(JournalFile(), journals[i]);
        clock_.Set(2024, 3, 1, 10, 20);
        NewRun()->Stop();
        const bool complete = i + 1 == journals.size();
        EXPECT_EQ(
            File("2406110.P01"),
            InTextMode(std::string("Thermo\n03/01/24 10:01:00:000 StartTime\nfirst\nsecond\n") +
                       (complete ? "third\n03/01/24 10:03:00:000" : "03/01/24 10:02:00:000") +
                       " EndTime\n"));
        EXPECT_TRUE(HoldsNothing());
    }
}

TEST_F(Journal, AFailedDataWriteKeepsTheTextForTheNextFlushWithoutAHalfPeriod) {
    auto run = NewRun();
    run->Receive(0, "one\n", 10, 1);
    run->EndPeriod(At(10, 0), true, false, 10, 15);
    const std::string after_first = File("2406110.P01");
    {
        WriteFaults faults;
        faults.LimitPathsContaining("2406110.P01", 7);  // the disk is full after 7 bytes
        run->Receive(0, "two two two\n", 10, 16);
        run->EndPeriod(At(10, 15), false, false, 10, 30);
        EXPECT_EQ(File("2406110.P01"), after_first);  // put back: no half period
        EXPECT_EQ(run->writer().UnwrittenBytes(0), 12u);
        EXPECT_FALSE(HoldsNothing());
    }  // space is back
    run->Receive(0, "three\n", 10, 31);
    run->EndPeriod(At(10, 30), false, true, 10, 45);
    run->Stop();
    EXPECT_EQ(File("2406110.P01"),
              InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\none\ntwo two two\nthree\n"
                         "03/01/24 10:45:00:000 EndTime\n"));
    EXPECT_NE(Log().find("  19  Can't open " + dir_.File("2406110.P01") + " for data output."),
              std::string::npos);
    EXPECT_TRUE(HoldsNothing());
}

TEST_F(Journal, AStopKeepsWhatCouldNotBeWrittenAndTheNextStartWritesIt) {
    {
        auto run = NewRun();
        WriteFaults faults;
        faults.LimitPathsContaining(".P01", 0);
        run->Receive(0, "kept\n", 10, 5, 30);
        run->EndPeriod(At(10, 0), true, true, 10, 7);  // the final flush of a stop
        run->Stop();
    }
    EXPECT_FALSE(platform::PathExists(dir_.File("2406110.P01").c_str()));
    EXPECT_EQ(Log().find("  30  "), std::string::npos);  // nothing is given up

    clock_.Set(2024, 3, 1, 10, 9);
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n03/01/24 10:05:30:000 StartTime\nkept\n"
                                              "03/01/24 10:05:30:000 EndTime\n"));
    EXPECT_NE(Log().find("  34  5 bytes of COM1 received 10:05:30 to 10:05:30 recovered."),
              std::string::npos);
}

// A journal that cannot be opened at a start may hold what an earlier run
// could not write: the port's data file waits until it opens, then receives
// that text first and this run's after it, in the order received; the
// failed write's intent cuts nothing off.
TEST_F(Journal, APortWhoseJournalCannotBeOpenedWritesNothingBeforeWhatTheJournalHolds) {
    {
        auto run = NewRun();
        run->Receive(0, "one\n", 10, 1);
        run->EndPeriod(At(10, 0), true, false, 10, 15);
        WriteFaults faults;
        faults.LimitPathsContaining("2406110.P01", 0);
        run->Receive(0, "two\n", 10, 16);
        run->EndPeriod(At(10, 15), false, false, 10, 30);
        run->Stop();
    }
    const std::string after_first = File("2406110.P01");
    // A directory in its place: the journal exists and cannot be opened.
    const std::string aside = JournalFile() + ".aside";
    std::filesystem::rename(JournalFile(), aside);
    std::filesystem::create_directory(JournalFile());

    auto run = NewRun();
    run->Receive(0, "three\n", 10, 31);
    run->EndPeriod(At(10, 30), true, false, 10, 45);
    EXPECT_EQ(File("2406110.P01"), after_first);
    EXPECT_EQ(run->writer().UnwrittenBytes(0), 6u);

    std::filesystem::remove(JournalFile());
    std::filesystem::rename(aside, JournalFile());
    run->Receive(0, "four\n", 10, 46);
    run->EndPeriod(At(10, 45), false, true, 11, 0);
    run->Stop();
    EXPECT_EQ(File("2406110.P01"),
              InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\none\n"
                         "03/01/24 10:16:00:000 StartTime\ntwo\n03/01/24 10:16:00:000 EndTime\n"
                         "03/01/24 10:30:00:000 StartTime\nthree\nfour\n"
                         "03/01/24 11:00:00:000 EndTime\n"));
    EXPECT_EQ(Log().find("  30  "), std::string::npos);
    EXPECT_TRUE(HoldsNothing());
}

// A write without a journal that a crash cut off before its first byte leaves
// an empty data file behind: the next start removes it, so that the hour's
// next text makes the file anew, with its instrument line.
TEST_F(Journal, AnEmptyDataFileLeftByACrashIsMadeAnewWithItsInstrumentLine) {
    AppendRawFile(dir_.File("2406110.P01"), "");
    AppendRawFile(dir_.File("notes.txt"), "");  // not a data file: left alone
    auto run = NewRun();
    EXPECT_FALSE(platform::PathExists(dir_.File("2406110.P01").c_str()));
    EXPECT_TRUE(platform::PathExists(dir_.File("notes.txt").c_str()));
    run->Receive(0, "text\n", 10, 5);
    run->EndPeriod(At(10, 0), true, false, 10, 15);
    run->Stop();
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\ntext\n"));
}

// Lines of an instrument, `bytes` long, from line number `first` on.
std::string Lines(size_t bytes, int first) {
    std::string text;
    while (text.size() < bytes) {
        text += std::to_string(first++) + " 21.50 1013.25 48.1\n";
    }
    text.resize(bytes);
    return text;
}

// The same lines with a line end before and after them. Built by appending:
// prepending to a string of megabytes trips a false -Wrestrict in GCC 12's
// 32-bit library.
std::string LinesBetweenLineEnds(size_t bytes, int first) {
    std::string text = "\n";
    text += Lines(bytes, first);
    text += '\n';
    return text;
}

// A power cut leaves megabytes in the journal over three hours, the last
// record torn. The restart writes each hour's text into its file between its
// markers (a text that begins or ends with a line end gets none of its own),
// logs entry 34 per hour, and never holds more than a small part of the text
// in memory.
TEST_F(Journal, ALargeJournalIsRecoveredIntoTheFilesOfItsHoursInBoundedMemory) {
    constexpr size_t kRead = 4096;
    struct Hour {
        std::string text;
        int64_t first_ms;
        int64_t last_ms;
    };
    std::vector<Hour> hours = {
        {LinesBetweenLineEnds(3 << 20, 0), FakeClock::EpochMs(2024, 3, 1, 10, 40, 0, 250),
         FakeClock::EpochMs(2024, 3, 1, 10, 59, 59, 999)},
        {Lines(3 << 20, 1000000), FakeClock::EpochMs(2024, 3, 1, 11, 0, 0, 5),
         FakeClock::EpochMs(2024, 3, 1, 11, 59, 30, 10)},
        {Lines(5 * kRead, 2000000), FakeClock::EpochMs(2024, 3, 1, 12, 0, 1, 0),
         FakeClock::EpochMs(2024, 3, 1, 12, 0, 5, 0)},
    };
    {
        PortJournal journal(dir_.path().c_str(), 1, "Thermo");
        Leftovers none;
        ASSERT_TRUE(journal.Open(none));
        for (const Hour& hour : hours) {
            const size_t reads = (hour.text.size() + kRead - 1) / kRead;
            for (size_t r = 0; r < reads; ++r) {
                const std::string_view read = std::string_view(hour.text).substr(r * kRead, kRead);
                const int64_t step =
                    (hour.last_ms - hour.first_ms) / static_cast<int64_t>(reads - 1);
                const int64_t at =
                    r + 1 == reads ? hour.last_ms : hour.first_ms + step * static_cast<int64_t>(r);
                journal.Append(read.data(), read.size(), at);
            }
        }
    }
    // The last read of hour 12 is torn: its record ends half-way.
    const auto length = std::filesystem::file_size(JournalFile());
    std::filesystem::resize_file(JournalFile(), length - kRead / 2);
    hours[2].text.resize(hours[2].text.size() - kRead);
    hours[2].last_ms = FakeClock::EpochMs(2024, 3, 1, 12, 0, 4, 0);

    clock_.Set(2024, 3, 1, 12, 10);
    const int64_t in_use_before = g_heap_in_use.load();
    g_heap_peak.store(in_use_before);
    auto run = NewRun();
    const int64_t peak_growth = g_heap_peak.load() - in_use_before;
    run->Stop();
    run.reset();

    EXPECT_LT(peak_growth, int64_t{1} << 20) << "bytes held at once while recovering";
    // (Compared as a whole: megabytes are not printed when they differ.)
    EXPECT_TRUE(File("2406110.P01") ==
                InTextMode("Thermo\n03/01/24 10:40:00:250 StartTime" + hours[0].text +
                           "03/01/24 10:59:59:999 EndTime\n"));
    EXPECT_TRUE(File("2406111.P01") ==
                InTextMode("Thermo\n03/01/24 11:00:00:005 StartTime\n" + hours[1].text +
                           "\n03/01/24 11:59:30:010 EndTime\n"));
    EXPECT_TRUE(File("2406112.P01") ==
                InTextMode("Thermo\n03/01/24 12:00:01:000 StartTime\n" + hours[2].text +
                           "\n03/01/24 12:00:04:000 EndTime\n"));
    const std::string log = Log();
    for (const std::string& entry :
         {"  34  " + std::to_string(hours[0].text.size()) +
              " bytes of COM1 received 10:40:00 to 10:59:59 recovered.",
          "  34  " + std::to_string(hours[1].text.size()) +
              " bytes of COM1 received 11:00:00 to 11:59:30 recovered.",
          "  34  " + std::to_string(hours[2].text.size()) +
              " bytes of COM1 received 12:00:01 to 12:00:04 recovered."}) {
        EXPECT_NE(log.find(entry), std::string::npos) << entry << "\n" << log;
    }
    EXPECT_TRUE(HoldsNothing());
}

// A period written into the file of an hour whose text around it could not be
// written: after a crash, that hour's recovered piece holds the text on both
// sides of the period, and not the period again.
TEST_F(Journal, APeriodWrittenInsideARecoveredHourIsNotWrittenAgain) {
    {
        auto run = NewRun();
        WriteFaults faults;
        faults.LimitPathsContaining("2406110.P01", 0);
        run->Receive(0, "a1\n", 10, 50);
        run->Receive(0, "a2\n", 11, 0, 0, 100);  // the period's last read, in the next hour
        run->EndPeriod(At(10, 45), true, true, 11, 0);
        run->Receive(0, "b\n", 11, 5);
        run->EndPeriod(At(11, 0), false, false, 11, 15);  // the file of hour 11 takes it
        faults.LimitPathsContaining(".P01", 0);
        run->Receive(0, "c\n", 11, 20);
        run->EndPeriod(At(11, 15), false, false, 11, 30);
    }  // the process dies
    clock_.Set(2024, 3, 1, 11, 40);
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n03/01/24 10:50:00:000 StartTime\na1\n"
                                              "03/01/24 10:50:00:000 EndTime\n"));
    EXPECT_EQ(
        File("2406111.P01"),
        InTextMode("Thermo\n03/01/24 11:00:00:000 StartTime\nb\n"
                   "03/01/24 11:00:00:100 StartTime\na2\nc\n03/01/24 11:20:00:000 EndTime\n"));
    EXPECT_NE(Log().find("  34  5 bytes of COM1 received 11:00:00 to 11:20:00 recovered."),
              std::string::npos)
        << Log();
    EXPECT_TRUE(HoldsNothing());
}

// Text recovered at a start whose data file cannot be written, or whose
// journal cannot record the write, stays in the journal, not in memory, and
// the next start writes it, once. (More than the journal reads at a time.)
TEST_F(Journal, ARecoveryThatCannotBeWrittenLeavesItsTextForTheNextStart) {
    const std::string text = Lines(160000, 0) + "end";
    for (const bool journal_refused : {false, true}) {
        SCOPED_TRACE(journal_refused ? "the journal refuses" : "the data file refuses");
        platform::RemoveFile(dir_.File("2406110.P01").c_str());
        platform::RemoveFile(LogFilePath(dir_.path().c_str(), clock_.Now()).c_str());
        {
            auto run = NewRun();
            run->Receive(0, text.substr(0, 100000), 10, 5, 30);
            run->Receive(0, text.substr(100000), 10, 6);
        }  // the process dies
        clock_.Set(2024, 3, 1, 10, 8);
        {
            WriteFaults faults;
            faults.LimitPathsContaining(journal_refused ? JournalFile() : std::string(".P01"), 0);
            auto run = NewRun();
            EXPECT_FALSE(platform::PathExists(dir_.File("2406110.P01").c_str()));
            EXPECT_EQ(run->writer().UnwrittenBytes(0), 0u);
            run->Stop();
        }
        EXPECT_FALSE(HoldsNothing());
        clock_.Set(2024, 3, 1, 10, 9);
        NewRun()->Stop();
        EXPECT_TRUE(File("2406110.P01") == InTextMode("Thermo\n03/01/24 10:05:30:000 StartTime\n" +
                                                      text + "\n03/01/24 10:06:00:000 EndTime\n"));
        const std::string log = Log();
        const std::string recovered =
            "  34  " + std::to_string(text.size()) + " bytes of COM1 received 10:05:30 to 10:06:00";
        EXPECT_NE(log.find(recovered), std::string::npos) << log;
        EXPECT_EQ(log.find(recovered), log.rfind(recovered)) << log;
        EXPECT_EQ(log.find("  30  "), std::string::npos) << log;
        EXPECT_TRUE(HoldsNothing());
    }
}

// Builds the state a crash leaves in the middle of a data-file write: the
// period's text and the intent in the journal, and the data file as
// `damage` leaves it. Returns the bytes the write was to add.
class InterruptedWrite : public Journal {
protected:
    std::string Interrupt(
        const std::function<void(const std::string& path, const std::string& bytes)>& damage) {
        const std::string path = dir_.File("2406110.P01");
        platform::TextPieces earlier;
        earlier.Add(
            "Thermo\n03/01/24 09:58:00:000 StartTime\nold\n03/01/24 09:59:00:000 EndTime\n");
        EXPECT_EQ(platform::AppendToFile(path.c_str(), earlier), platform::kAppendOk);
        const uint64_t before = static_cast<uint64_t>(platform::FileLength(path.c_str()));
        PortJournal journal(dir_.path().c_str(), 1, "Thermo");
        Leftovers none;
        EXPECT_TRUE(journal.Open(none));
        journal.Append("new 1\n", 6, FakeClock::EpochMs(2024, 3, 1, 10, 1));
        journal.Append("new 2\n", 6, FakeClock::EpochMs(2024, 3, 1, 10, 2));
        const journal::Span span = journal.EndPeriod().span;
        const std::string text = "03/01/24 10:00:00:000 StartTime\nnew 1\nnew 2\n";
        platform::TextPieces bytes;
        bytes.Add(text);
        EXPECT_TRUE(journal.RecordIntent(span, "2406110.P01", before, false, bytes));
        std::string on_disk;
        bytes.Rewind();
        for (std::string_view piece = bytes.Next(); !piece.empty(); piece = bytes.Next()) {
            on_disk.append(piece);
        }
        damage(path, on_disk);
        return on_disk;
    }
    static void AppendRaw(const std::string& path, const std::string& bytes) {
        platform::SetReadOnly(path.c_str(), false);
        std::FILE* file = std::fopen(path.c_str(), "ab");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        platform::SetReadOnly(path.c_str(), true);
    }
    const std::string earlier_ =
        InTextMode("Thermo\n03/01/24 09:58:00:000 StartTime\nold\n03/01/24 09:59:00:000 EndTime\n");
    const std::string recovered_ = InTextMode(
        "03/01/24 10:01:00:000 StartTime\nnew 1\nnew 2\n03/01/24 10:02:00:000 EndTime\n");
};

TEST_F(InterruptedWrite, NotBegunIsWrittenOnce) {
    Interrupt([](const std::string&, const std::string&) {});
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), earlier_ + recovered_);
    EXPECT_TRUE(HoldsNothing());
}

TEST_F(InterruptedWrite, CompletedIsNotWrittenAgain) {
    const std::string bytes = Interrupt(AppendRaw);
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), earlier_ + bytes);
    EXPECT_EQ(Log().find("  34  "), std::string::npos);
    EXPECT_TRUE(HoldsNothing());
}

TEST_F(InterruptedWrite, CutShortIsPutBackAndWrittenAgain) {
    Interrupt([](const std::string& path, const std::string& bytes) {
        AppendRaw(path, bytes.substr(0, 20));
    });
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), earlier_ + recovered_);
    EXPECT_TRUE(platform::IsReadOnly(dir_.File("2406110.P01").c_str()));
}

TEST_F(InterruptedWrite, FullLengthButNotItsBytesIsPutBackAndWrittenAgain) {
    // A power cut can leave the length without the bytes (zeros instead).
    Interrupt([](const std::string& path, const std::string& bytes) {
        AppendRaw(path, std::string(bytes.size(), '\0'));
    });
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), earlier_ + recovered_);
}

// The file operations that took effect, in order.
class OperationsSeen final : public platform::FileFaults {
public:
    OperationsSeen() { platform::SetFileFaults(this); }
    ~OperationsSeen() override { platform::SetFileFaults(nullptr); }
    OperationsSeen(const OperationsSeen&) = delete;
    OperationsSeen& operator=(const OperationsSeen&) = delete;
    platform::FileVerdict Before(const platform::FileAccess&) override { return {}; }
    void After(const platform::FileAccess& access) override {
        seen_.push_back({access.operation, access.path});
    }
    // Where the first `operation` on `path` comes; -1: none.
    std::ptrdiff_t First(platform::FileOperation operation, const std::string& path) const {
        for (size_t i = 0; i < seen_.size(); ++i) {
            if (seen_[i].first == operation && seen_[i].second == path) {
                return static_cast<std::ptrdiff_t>(i);
            }
        }
        return -1;
    }

private:
    std::vector<std::pair<platform::FileOperation, std::string>> seen_;
};

// A crash can leave the write it interrupted complete but not yet on the
// disk: the restart makes it durable before the journal lets its text go,
// or a power cut afterwards would take the text away with nothing left of it.
TEST_F(InterruptedWrite, CompletedIsMadeDurableBeforeTheJournalLetsItGo) {
    Interrupt(AppendRaw);
    OperationsSeen seen;
    NewRun()->Stop();
    const std::ptrdiff_t synced =
        seen.First(platform::FileOperation::kSync, dir_.File("2406110.P01"));
    const std::ptrdiff_t cut = seen.First(platform::FileOperation::kTruncate, JournalFile());
    ASSERT_GE(synced, 0);
    ASSERT_GE(cut, 0);
    EXPECT_LT(synced, cut);
    EXPECT_TRUE(HoldsNothing());
}

// A write that failed and left its file as it was settles nothing: text the
// file received later without an intent (the journal could not record one)
// is not taken for what that write left, and its text is written once.
TEST_F(InterruptedWrite, AFailedWritePutBackCutsOffNothingWrittenAfterIt) {
    const std::string path = dir_.File("2406110.P01");
    AppendRaw(path, earlier_);
    PortJournal journal(dir_.path().c_str(), 1, "Thermo");
    Leftovers none;
    ASSERT_TRUE(journal.Open(none));
    journal.Append("new 1\n", 6, FakeClock::EpochMs(2024, 3, 1, 10, 1));
    const journal::Span span = journal.EndPeriod().span;
    platform::TextPieces bytes({"03/01/24 10:00:00:000 StartTime\n", "new 1\n"});
    ASSERT_TRUE(journal.RecordIntent(span, "2406110.P01", earlier_.size(), false, bytes));
    journal.WriteFailed(span);  // the file is as it was
    journal.Close();
    const std::string later = "03/01/24 10:03:00:000 StartTime\nlate\n";  // shorter
    AppendRaw(path, later);
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), earlier_ + later +
                                       InTextMode("03/01/24 10:01:00:000 StartTime\nnew 1\n"
                                                  "03/01/24 10:01:00:000 EndTime\n"));
    EXPECT_TRUE(HoldsNothing());
}

TEST_F(InterruptedWrite, AFileTheWriteWasCreatingIsMadeAnewWithItsInstrumentLine) {
    const std::string path = dir_.File("2406110.P01");
    PortJournal journal(dir_.path().c_str(), 1, "Thermo");
    Leftovers none;
    ASSERT_TRUE(journal.Open(none));
    journal.Append("fresh\n", 6, FakeClock::EpochMs(2024, 3, 1, 10, 4));
    const journal::Span span = journal.EndPeriod().span;
    platform::TextPieces bytes({"Thermo\n", "03/01/24 10:00:00:000 StartTime\nfresh\n"});
    ASSERT_TRUE(journal.RecordIntent(span, "2406110.P01", 0, true, bytes));
    journal.Close();
    AppendRaw(path, "Thermo\n03/0");  // the crash came early in the write
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n03/01/24 10:04:00:000 StartTime\nfresh\n"
                                              "03/01/24 10:04:00:000 EndTime\n"));
}

// A write that never reached the file was followed by one of the same block
// with more text, and a crash cut that one off exactly where the first would
// have ended: the first is not taken for done, so nothing of its text goes
// when the second is taken back.
TEST_F(InterruptedWrite, AWriteTakenBackIsNotTakenForTheStartOfALaterOne) {
    PortJournal journal(dir_.path().c_str(), 1, "Thermo");
    Leftovers none;
    ASSERT_TRUE(journal.Open(none));
    journal.Append("kept 1\n", 7, FakeClock::EpochMs(2024, 3, 1, 10, 1));
    const journal::Span first = journal.EndPeriod().span;
    const std::string start = "Thermo\n03/01/24 10:01:00:000 StartTime\nkept 1\n";
    platform::TextPieces first_bytes({start});
    ASSERT_TRUE(journal.RecordIntent(first, "2406110.P01", 0, true, first_bytes));
    journal.Append("more 2\n", 7, FakeClock::EpochMs(2024, 3, 1, 10, 4));
    const journal::Span both{first.begin, journal.EndPeriod().span.end};
    platform::TextPieces both_bytes({start, "more 2\n"});
    ASSERT_TRUE(journal.RecordIntent(both, "2406110.P01", 0, true, both_bytes));
    journal.Close();
    AppendRaw(dir_.File("2406110.P01"), start);  // the crash
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n03/01/24 10:01:00:000 StartTime\nkept 1\n"
                                              "more 2\n03/01/24 10:04:00:000 EndTime\n"));
    EXPECT_TRUE(HoldsNothing());
}

TEST_F(Journal, AJournalOfAPortNoLongerConfiguredIsRecoveredUnderItsOwnInstrument) {
    {
        PortJournal gone(dir_.path().c_str(), 7, "Anemometer");
        Leftovers none;
        ASSERT_TRUE(gone.Open(none));
        gone.Append("wind 3\n", 7, FakeClock::EpochMs(2024, 3, 1, 9, 30, 15));
    }
    NewRun()->Stop();
    EXPECT_EQ(File("2406109.P07"),
              InTextMode("Anemometer\n03/01/24 09:30:15:000 StartTime\nwind 3\n"
                         "03/01/24 09:30:15:000 EndTime\n"));
    EXPECT_NE(Log().find("  34  7 bytes of COM7 received 09:30:15 to 09:30:15 recovered."),
              std::string::npos);
    EXPECT_FALSE(platform::PathExists(JournalFile(7).c_str()));
}

std::vector<std::string> g_told;
void RecordTold(const std::string& problem) {
    g_told.push_back(problem);
}

TEST_F(Journal, AJournalTheDiskRefusesIsLoggedOnceAndWhatItLacksIsGivenUpAtStop) {
    g_told.clear();
    SetWriteProblemHandler(RecordTold);
    auto run = NewRun();
    WriteFaults faults;
    faults.LimitPathsContaining(JournalFile(), 0);
    faults.LimitPathsContaining(".P01", 0);
    run->Receive(0, "lost 1\n", 10, 1);
    run->Receive(0, "lost 2\n", 10, 2);
    run->EndPeriod(At(10, 0), true, true, 10, 3);
    run->Stop();
    const std::string log = Log();
    const std::string refused = "  19  Can't open " + JournalFile() + " for data output.";
    ASSERT_NE(log.find(refused), std::string::npos) << log;
    EXPECT_EQ(log.find(refused), log.rfind(refused));
    EXPECT_NE(log.find("  30  14 bytes of COM1 received 10:00:00 to 10:03:00 could not be "
                       "written and are discarded (acquisition stopped; the journal could not "
                       "take them)."),
              std::string::npos)
        << log;
    SetWriteProblemHandler(nullptr);
    const std::string told = "cannot write the journal " + JournalFile() +
                             "; until it can be, received text is only in memory";
    EXPECT_EQ(std::count(g_told.begin(), g_told.end(), told), 1) << testing::PrintToString(g_told);
}

TEST_F(Journal, AJournalThatCannotRecordAnIntentIsGivenUpAndTheTextWrittenOnce) {
    auto run = NewRun();
    run->Receive(0, "once\n", 10, 1);
    {
        WriteFaults faults;
        faults.LimitPathsContaining(JournalFile(), 0);  // from now on the journal takes nothing
        run->EndPeriod(At(10, 0), true, false, 10, 15);
    }
    run->Receive(0, "later\n", 10, 16);
    run->EndPeriod(At(10, 15), false, true, 10, 30);
    run->Stop();
    NewRun()->Stop();  // a journal given up leaves nothing to recover
    EXPECT_EQ(File("2406110.P01"),
              InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\nonce\nlater\n"
                         "03/01/24 10:30:00:000 EndTime\n"));
    EXPECT_NE(Log().find("  19  Can't open " + JournalFile() + " for data output."),
              std::string::npos);
    EXPECT_EQ(Log().find("  34  "), std::string::npos);
}

std::vector<std::string> g_points;
void RecordPoint(const char* point, int /*portNumber*/, int64_t /*value*/) {
    g_points.emplace_back(point);
}

// Given up because one intent could not be recorded, the journal starts anew
// at once: the write still goes under an intent, so that a crash in it cannot
// leave half a block that no restart could tell.
TEST_F(Journal, AJournalGivenUpOverOneIntentStartsAnewAndTheWriteStillHasOne) {
    auto run = NewRun();
    run->Receive(0, "once\n", 10, 1);
    g_points.clear();
    SetJournalCheckpoint(RecordPoint);
    {
        WriteFaults faults;
        faults.ShortenWrite(JournalFile(), 1, 0);  // the intent's record
        run->EndPeriod(At(10, 0), true, true, 10, 15);
    }
    SetJournalCheckpoint(nullptr);
    EXPECT_NE(std::find(g_points.begin(), g_points.end(), "intent-recorded"), g_points.end())
        << testing::PrintToString(g_points);
    run->Stop();
    NewRun()->Stop();
    EXPECT_EQ(File("2406110.P01"), InTextMode("Thermo\n03/01/24 10:00:00:000 StartTime\nonce\n"
                                              "03/01/24 10:15:00:000 EndTime\n"));
}

TEST_F(Journal, ReachesTheDiskWithinASecondOfNewTextAndAtEveryPeriodEnd) {
    PortJournal journal(dir_.path().c_str(), 1, "Thermo");
    Leftovers none;
    ASSERT_TRUE(journal.Open(none));
    const uint32_t start = platform::TickCount();
    const int64_t syncs = ReadJournalActivity().syncs;
    journal.Append("a", 1, 0);
    journal.SyncIfDue(start + kJournalSyncIntervalMs - 1);
    EXPECT_EQ(ReadJournalActivity().syncs, syncs);
    EXPECT_TRUE(journal.dirty());
    journal.SyncIfDue(start + kJournalSyncIntervalMs);
    EXPECT_EQ(ReadJournalActivity().syncs, syncs + 1);
    EXPECT_FALSE(journal.dirty());
    journal.SyncIfDue(start + 5 * kJournalSyncIntervalMs);  // nothing new: no sync
    EXPECT_EQ(ReadJournalActivity().syncs, syncs + 1);
    journal.Append("b", 1, 0);
    journal.EndPeriod();  // the period's end does not wait for the second
    EXPECT_EQ(ReadJournalActivity().syncs, syncs + 2);
    EXPECT_FALSE(journal.dirty());
}

// A long span read back calls its pacer after every kReadBackPaceBytes it
// gave, and the text comes back whole between the calls.
TEST_F(Journal, ReadingASpanBackCallsItsPacerEveryMegabyte) {
    PortJournal journal(dir_.path().c_str(), 1, "Thermo");
    Leftovers none;
    ASSERT_TRUE(journal.Open(none));
    std::string sent;
    const std::string block(100000, 'x');
    while (sent.size() < 3 * kReadBackPaceBytes + 3 * block.size()) {
        journal.Append(block.data(), block.size(), 0);
        sent += block;
    }
    const TextJournal::Period period = journal.EndPeriod();
    int paced = 0;
    const std::function<void()> pacer = [&paced] { ++paced; };
    journal.SetReadBackPacer(&pacer);
    const auto text = journal.ReadText(period.span);
    std::string read;
    std::vector<size_t> read_at_pace;
    for (std::string_view piece = text->Next(); !piece.empty(); piece = text->Next()) {
        if (static_cast<size_t>(paced) > read_at_pace.size()) {
            read_at_pace.push_back(read.size());
        }
        read += piece;
    }
    EXPECT_TRUE(read == sent);
    ASSERT_EQ(paced, 3);
    for (size_t n = 0; n < read_at_pace.size(); ++n) {
        EXPECT_GE(read_at_pace[n], (n + 1) * kReadBackPaceBytes);
        EXPECT_LT(read_at_pace[n], (n + 1) * kReadBackPaceBytes + block.size() * (n + 1));
    }
    journal.Close();
}

TEST(JournalFormat, RecordsCheckUnderTheirEpochOnly) {
    const std::string record = journal::EncodeRecord(3, journal::RecordKind::kText, 1234, "abc");
    TempDir dir;
    platform::DurableFile file;
    ASSERT_TRUE(file.Open(dir.File("Port1")));
    const std::string header = journal::EncodeHeader({3, 1, "X"});
    ASSERT_TRUE(file.WriteAt(0, header.data(), header.size()));
    ASSERT_TRUE(file.WriteAt(header.size(), record.data(), record.size()));
    journal::Reader reader(file);
    journal::Header read;
    ASSERT_TRUE(reader.ReadHeader(read));
    EXPECT_EQ(read.epoch, 3u);
    EXPECT_EQ(read.port_number, 1);
    EXPECT_EQ(read.instrument, "X");
    journal::Record found;
    ASSERT_TRUE(reader.Next(found));
    EXPECT_EQ(found.payload, "abc");
    EXPECT_EQ(found.time_ms, 1234);
    EXPECT_FALSE(reader.Next(found));
    reader.Seek(4, header.size());  // a later epoch: the record is a leftover of an earlier one
    EXPECT_FALSE(reader.Next(found));
    EXPECT_EQ(journal::Crc32(0, "123456789", 9), 0xCBF43926u);  // the standard check value
}

}  // namespace
