// One run of the acquisition thread, from its start-up to its close-down:
// the state the thread keeps and the steps it takes. Used by
// CDataAcquisitionThread; kept apart so that the thread object stays small.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <vector>

#include "acquisition/acquisition_thread.h"
#include "acquisition/data_files.h"
#include "acquisition/journal.h"
#include "acquisition/port_buffers.h"
#include "acquisition/status.h"
#include "config/com_config.h"
#include "platform/clock.h"
#include "serial/port.h"

class AcquisitionRun {
public:
    AcquisitionRun(const ComConfig& config, StatusObserver* view, ManualResetEvent& stopEvent,
                   AcquisitionProbe* probe);
    ~AcquisitionRun();
    AcquisitionRun(const AcquisitionRun&) = delete;
    AcquisitionRun& operator=(const AcquisitionRun&) = delete;

    // Start-up, polling until the stop request, final flush, close-down.
    void Run();

private:
    static constexpr int kOphirHeaderSize = 1000;
    static constexpr int kWatchDogCount = 30000;
    static constexpr uint32_t kReceiveQueueSize = 65000;
    static constexpr uint32_t kTransmitQueueSize = 25;
    // How long a pass that found nothing to read waits for input. Short enough
    // that the watchdog is still kicked some two hundred times a second and a
    // stop or a period end is seen at once; long enough that nine idle ports
    // cost about one per cent of a core (bench/engine_bench idle).
    static constexpr int kIdleWaitMs = 5;

    // Start-up.
    void ShowAcquisitionEnabled(int64_t startTime);
    void OpenPorts();
    void RunStartupInitialisation();
    void ScheduleFirstStatusUpdate();

    // The loop.
    bool Pass();
    bool PollPort(int i);
    void UpdateStatus();

    // The flush at the end of a period.
    void Flush();
    void DrainPort(int i);
    bool RunHourlyInitialisation();
    void WriteDataFiles();
    void CalculateStatistics();
    void StartNextPeriod(bool exchanged);

    // Close-down.
    void ClosePorts();
    void ShowAcquisitionDisabled();

    bool WatchDogInUse() const { return com_.WatchDogTimerAddress > 0; }
    bool HourlyExchange(int i) const {
        return com_.AcquisitionInitializationFunction[i] == INIT_GETOPHIRCONSTANTS;
    }
    const char* Directory() const { return com_.OutputDriveAndPath; }

    const ComConfig& com_;
    StatusObserver* view_;
    ManualResetEvent& stop_event_;
    AcquisitionProbe* probe_;

    int stats_ports_ = 0;
    int ports_opened_ = 0;
    int port_failures_ = 0;
    std::vector<PortRecord*> ports_;
    std::vector<PortRecord*> quiet_ports_;  // open, with nothing waiting in this pass
    PerPortArrays arrays_;
    std::vector<bool> growth_failed_;  // no more in-period reads until the flush
    std::vector<int64_t> total_read_;
    std::vector<int64_t> received_;

    int64_t PeriodSeconds = 0;
    int64_t NextStatusTime = 0;
    int64_t NextWriteTime = 0;
    std::tm ScheduledEnd{};  // broken-down NextWriteTime as scheduled when the period began
    int64_t PeriodStartTime = 0;
    std::tm FileNameTime{};
    bool first_flush_ = true;
    bool stop_flag_ = false;
    int flushes_ = 0;

    std::array<char, kOphirHeaderSize> OphirHeader{};      // header of this period's new files
    std::array<char, kOphirHeaderSize> NextOphirHeader{};  // filled by the exchanges on the hour
    platform::SystemTime OphirTime{};                      // end of the last exchange

    ReceivedTextJournal journal_;  // before writer_, which points into it
    DataFileWriter writer_;
};
