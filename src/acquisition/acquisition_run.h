// One run of the acquisition thread, from its start-up to its close-down:
// the state the thread keeps and the steps it takes. Used by
// CDataAcquisitionThread; kept apart so that the thread object stays small.
//
// Where a received byte is, and what moves it on (only forward):
//   in the device      until the driver's receive thread has room for it
//                      (a full queue makes a device that can wait, wait);
//   in the queue       the port's receive queue, filled by the driver;
//   in the period      Keep: the port's buffer and, at once, its journal;
//                      while a flush runs, `held` for the next period and,
//                      the period being closed in the journal (EndPeriod
//                      right after the drain), journaled at once as well;
//   kept               DataFileWriter: its file could not be written; the
//                      journal (and memory, within a cap) keeps it;
//   in its data file   on disk; only then does the journal forget it.
// A byte leaves this road only counted in the log: 16/31 (the kernel's
// overruns), 30 (given up) or 41 (lost with a failed journal).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "acquisition/acquisition_thread.h"
#include "acquisition/data_files.h"
#include "acquisition/journal.h"
#include "acquisition/period_sinks.h"
#include "acquisition/port_buffers.h"
#include "acquisition/port_reopen.h"
#include "acquisition/status.h"
#include "config/com_config.h"
#include "instruments/exchanges.h"
#include "platform/clock.h"
#include "serial/port.h"

// Why port `i` of `config` cannot be used after its open ended in `status`:
// the setting the port open refused, else `system_reason` (the system's words),
// else the status.
std::string OpenFailureReason(const ComConfig& config, int i, int status,
                              const std::string& system_reason);

class AcquisitionRun {
public:
    AcquisitionRun(const ComConfig& config, StatusObserver* view, ManualResetEvent& stop_event,
                   AcquisitionProbe* probe);
    ~AcquisitionRun();
    AcquisitionRun(const AcquisitionRun&) = delete;
    AcquisitionRun& operator=(const AcquisitionRun&) = delete;

    // Start-up, polling until the stop request, final flush, close-down.
    void Run();

    // One more consumer of every period, after the engine's own (data files,
    // losses, statistics); it must outlive the run.
    void AddPeriodSink(PeriodSink& sink) { sinks_.push_back(&sink); }

private:
    static constexpr int kWatchDogCount = 30000;
    static constexpr uint32_t kTransmitQueueSize = 25;
    // The longest wait of a pass for input: the watchdog is kicked at least
    // this often. The wait also ends when a port has a whole block, at a stop
    // request and at the next status update or period end.
    static constexpr int kLongestWaitMs = 100;
    // How long less than a block may wait in a port's receive queue before
    // it is read all the same (and so reaches the journal).
    static constexpr int64_t kTailReadMs = 1000;

    // What the run keeps of one configured port besides the per-port arrays.
    struct PortLine {
        PortRecord* record = nullptr;  // null while a lost device is away
        bool open = false;             // opened with its line settings: only then is it read
        ReopenSchedule reopen;         // waiting(): away, and tried again now and then
        bool loss_logged = false;      // its loss has its entry 32, so its return gets 33
        bool growth_failed = false;    // no more in-period reads until the flush
        int64_t total_read = 0;        // bytes read into its buffers since the start
        uint32_t queue_size = 0;       // its receive queue, as asked of the driver
        int64_t waited_ms = 0;         // its device was made to wait, not yet logged
        int waited_logged_at = -1;     // the flush count when that was last logged
        int64_t tail_read_ms = 0;      // when less than a block was last read (steady_)
        LongPeriod long_period;        // what went on in the journal alone
        // Received while a period's end was busy (an instrument exchange, a
        // long period read back), for the next period; its first
        // `held_journaled` bytes are in the journal already.
        std::string held;
        size_t held_journaled = 0;
        bool period_ended = false;  // this flush has ended its period in the journal
        // The instrument exchange's results: the header of this period's new
        // files, the one the exchange on the hour fills for the next period,
        // and when the last exchange ended (exchanged: in this flush).
        std::array<char, kExchangeHeaderSize> header{};
        std::array<char, kExchangeHeaderSize> next_header{};
        platform::SystemTime exchange_end{};
        bool exchanged = false;
    };

    // Start-up.
    void ShowAcquisitionEnabled(int64_t start_time);
    void OpenPorts();
    PortRecord* OpenPort(int i);
    void ExplainOpenFailure(int i, int status);
    void RunStartupInitialisation();
    void ScheduleFirstStatusUpdate();

    // The loop.
    bool Pass();
    void PollPort(int i);
    void ReadWholeBlocks(int i, int32_t waiting);
    bool MakeRoom(int i, int32_t bytes);
    void Keep(int i, int32_t count, bool to_journal = true);
    void MoveToJournal(int i);
    void CheckOverflow(int i);
    void WaitForWork(uint64_t wake_mark);
    void KickWatchdogs();
    // Ports that come and go.
    bool CheckDevice(int i);
    void LoseDevice(int i, const std::string& reason);
    void TryReopen(int i);
    void LogUnloggedLosses();
    void ShowPortLists();
    void UpdateStatus();
    // A clock that was set by more than a period: one flush, a new schedule.
    bool ClockStepped(int64_t now, int64_t steady_ms) const;
    void FollowClockStep(int64_t now);

    // The flush at the end of a period.
    void Flush();
    void DrainPort(int i);
    void ReadEverything(int i);
    void RunHourlyInitialisation();
    EndedPeriod PeriodEnded();
    void StartNextPeriod();
    void KeepReceiving();
    static void KeepReceivingWhileWaiting(void* run);
    void HoldReceived(int i);
    bool TakeHeld(int i);

    // Close-down.
    void ClosePorts();
    void ShowAcquisitionDisabled();

    PortRecord* Record(int i) const { return ports_[static_cast<size_t>(i)].record; }
    PortLine& Line(int i) { return ports_[static_cast<size_t>(i)]; }
    bool WatchDogInUse() const { return com_.WatchDogTimerAddress > 0; }
    bool HourlyExchange(int i) const {
        return RunsOnTheHour(com_.AcquisitionInitializationFunction[i]);
    }
    const char* Directory() const { return com_.OutputDriveAndPath; }

    const ComConfig& com_;
    StatusObserver* view_;
    ManualResetEvent& stop_event_;
    AcquisitionProbe* probe_;

    std::vector<PortLine> ports_;
    std::vector<PortRecord*> waited_on_;  // the ports a pass's wait watches
    std::vector<int64_t> received_;       // what the probe is shown
    PerPortArrays arrays_;

    // The loop's times keep the names the station's documents give them.
    int64_t PeriodSeconds = 0;
    int64_t NextStatusTime = 0;
    int64_t NextWriteTime = 0;
    std::tm scheduled_end_{};  // broken-down NextWriteTime as scheduled when the period began
    int64_t PeriodStartTime = 0;
    std::tm file_name_time_{};
    bool first_flush_ = true;
    bool cut_short_ = false;           // this flush ends a period the clock jumped out of
    bool start_marker_due_ = false;    // the next flush opens a new block of its files
    int64_t last_pass_time_ = 0;       // the clock at the previous pass
    int64_t last_pass_steady_ms_ = 0;  // and the tick counter then
    bool stop_flag_ = false;
    bool keep_receiving_ = false;  // a period's end is busy: what arrives is held
    int exchanging_ = -1;          // the port an instrument exchange is using
    std::chrono::steady_clock::time_point kept_receiving_at_{};
    int flushes_ = 0;
    // Time passing, for what is timed in milliseconds (tail reads, reopening
    // tries, clock steps): the calendar may be set at any moment.
    platform::SteadyMs steady_;

    ReceivedTextJournal journal_;  // before writer_, which points into it
    DataFileWriter writer_;
    // Where each period goes, in this order (see period_sink.h).
    DataFilesSink data_files_{writer_};
    FunctionSink loss_summary_{[this](const EndedPeriod&) { LogUnloggedLosses(); }};
    StatisticsSink statistics_{com_};
    std::vector<PeriodSink*> sinks_{&data_files_, &loss_summary_, &statistics_};
};
