// The acquisition worker thread: at most one exists at a time. It opens every
// configured port, polls them, writes the period files and statistics, and
// on request makes a final flush, closes its ports and ends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "acquisition/status.h"

// An event that stays set once set (until the object goes): a mutex and a
// condition variable.
class ManualResetEvent {
public:
    void Set();
    // True when set; does not wait.
    bool IsSet();
    // Waits without time limit until the event is set.
    void Wait();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

class CDataAcquisitionThread {
public:
    // `view` receives every drawing block of the thread (may be null).
    explicit CDataAcquisitionThread(StatusObserver* view);
    // The thread must have ended (RequestStop) before the object goes.
    ~CDataAcquisitionThread();
    CDataAcquisitionThread(const CDataAcquisitionThread&) = delete;
    CDataAcquisitionThread& operator=(const CDataAcquisitionThread&) = delete;

    // Creates the thread, which runs RunAcquisition and then NotifyStopped.
    // False when the system would not create it.
    bool CreateThread();

    // The whole run: start-up, polling loop, final flush, close-down.
    // Returns false when acquisition has ended.
    bool RunAcquisition();
    // Last action of the thread: sets StoppedEvent.
    void NotifyStopped();
    // Asks the thread to finish and blocks until it has made its final
    // flush, closed its ports and ended.
    void RequestStop();

    ManualResetEvent StopEvent;     // set by the stopping thread
    ManualResetEvent StoppedEvent;  // set by this thread as its very last action

private:
    StatusObserver* view_;
    std::thread thread_;
};

// The running thread object, or null. Read and written on the user-interface
// thread only (the thread that starts and stops acquisition).
extern CDataAcquisitionThread* ActiveAcquisitionThread;

// Starts acquisition unless a thread is already running: creates the thread
// object, which reports every drawing block to `view` (may be null), starts
// it and records it in ActiveAcquisitionThread. A thread that cannot be
// created leaves acquisition stopped, silently. Returns true when a new
// thread was started.
bool StartAcquisitionThread(StatusObserver* view);

// Stops acquisition if it runs: RequestStop on the active thread (blocks until
// its final flush is written, its ports are closed and it has ended), deletes
// it and sets ActiveAcquisitionThread to null.
void StopAcquisitionThread();

// Observation points for tests and benchmarks, called on the acquisition
// thread. Nothing in the program installs one.
class AcquisitionProbe {
public:
    virtual ~AcquisitionProbe() = default;
    // After every pass of the loop. received[i]: bytes of port position i
    // read into its buffers since the start plus those waiting in its receive
    // queue (-1 for a port that is not open).
    virtual void OnPass(const int64_t* received, int count) {
        (void)received;
        (void)count;
    }
    // While a flush keeps receiving (an instrument exchange, a long
    // period's read-back), whenever it has moved queued bytes into memory;
    // `received` as for OnPass. The thread must not be held here.
    virtual void OnReceivedDuringFlush(const int64_t* received, int count) {
        (void)received;
        (void)count;
    }
    // After every flush, once the next period has started (also after the
    // final flush); `flushes` counts them from 1.
    virtual void OnFlush(int flushes) { (void)flushes; }
};
// Installs `probe` (nullptr: none) for threads started afterwards.
void SetAcquisitionProbe(AcquisitionProbe* probe);

class PeriodSink;
// Consumers of every period besides the engine's own (a publisher, a test's
// observer), given to each acquisition run that starts after the call, after
// the data files and the statistics; each must outlive those runs.
void AddPeriodSink(PeriodSink* sink);
void RemovePeriodSink(PeriodSink* sink);
