#include "acquisition/acquisition_thread.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "config/com_config.h"
#include "log/log_file.h"
#include "platform/thread_priority.h"
#include "serial/port.h"

CDataAcquisitionThread* ActiveAcquisitionThread = nullptr;

namespace {
std::atomic<AcquisitionProbe*> g_probe{nullptr};
std::mutex g_sinks_mutex;
std::vector<PeriodSink*> g_sinks;
}

void SetAcquisitionProbe(AcquisitionProbe* probe) {
    g_probe.store(probe);
}

void AddPeriodSink(PeriodSink* sink) {
    const std::lock_guard lock(g_sinks_mutex);
    g_sinks.push_back(sink);
}

void RemovePeriodSink(PeriodSink* sink) {
    const std::lock_guard lock(g_sinks_mutex);
    g_sinks.erase(std::remove(g_sinks.begin(), g_sinks.end(), sink), g_sinks.end());
}

void ManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
    }
    changed_.notify_all();
}

bool ManualResetEvent::IsSet() {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
}

void ManualResetEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
}

CDataAcquisitionThread::CDataAcquisitionThread(StatusObserver* view) : view_(view) {}

CDataAcquisitionThread::~CDataAcquisitionThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool CDataAcquisitionThread::CreateThread() {
    try {
        thread_ = std::thread([this] {
            while (RunAcquisition()) {
            }
            NotifyStopped();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CDataAcquisitionThread::RunAcquisition() {
    AcquisitionRun run(com, view_, StopEvent, g_probe.load());
    {
        const std::lock_guard lock(g_sinks_mutex);
        for (PeriodSink* sink : g_sinks) {
            run.AddPeriodSink(*sink);
        }
    }
    run.Run();
    // Log entries that could not be written outlive the run, and a restart.
    KeepLogEntriesAtStop(com.OutputDriveAndPath);
    return false;
}

void CDataAcquisitionThread::NotifyStopped() {
    StoppedEvent.Set();
}

void CDataAcquisitionThread::RequestStop() {
    StopEvent.Set();
    PortWakeWaiters();  // the thread may be waiting for input
    // The final flush runs while the caller waits: let it have the processor.
    platform::RaiseThreadPriority(thread_);
    StoppedEvent.Wait();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool StartAcquisitionThread(StatusObserver* view) {
    if (ActiveAcquisitionThread != nullptr) {
        return false;
    }
    auto* thread = new CDataAcquisitionThread(view);
    if (!thread->CreateThread()) {
        delete thread;
        return false;
    }
    ActiveAcquisitionThread = thread;
    return true;
}

void StopAcquisitionThread() {
    if (ActiveAcquisitionThread == nullptr) {
        return;
    }
    ActiveAcquisitionThread->RequestStop();
    delete ActiveAcquisitionThread;
    ActiveAcquisitionThread = nullptr;
}
