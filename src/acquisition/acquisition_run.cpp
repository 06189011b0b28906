#include "acquisition/acquisition_run.h"

#include <cstdio>
#include <string>

#include "acquisition/log_codes.h"
#include "acquisition/log_file.h"
#include "acquisition/statistics.h"
#include "acquisition/watchdog.h"
#include "instruments/ophir.h"
#include "platform/comm.h"

namespace {

std::string PortName(int portNumber) {
    return "COM" + std::to_string(portNumber);
}

std::string Blanks(size_t count) {
    return std::string(count, ' ');
}

// Appends "COMn" to a list of ports, after a comma unless it is the first.
void AppendPortName(std::string& list, bool hasEntry, int portNumber) {
    if (hasEntry) {
        list += ',';
    }
    list += PortName(portNumber);
}

// Adds a port to "Ports currently open:" or "Port errors:": a comma once the
// list has an entry; a text still saying "None" is replaced by the name.
void AddToPortList(std::string& list, bool hasEntry, int portNumber) {
    if (hasEntry) {
        list += ',';
    }
    if (list.find("None") != std::string::npos) {
        list = PortName(portNumber);
    } else {
        list += PortName(portNumber);
    }
}

// The log entry of a failed open, by the port's Status; null for codes that
// have none.
const char* OpenFailureMessage(int status) {
    switch (status) {
        case PORT_ERR_NO_MEMORY:
            return logmsg::k05OpenNoMemory;
        case PORT_ERR_BAD_ARGUMENT:
            return logmsg::k06OpenBadArguments;
        case PORT_ERR_BAD_PORT:
            return logmsg::k07OpenBadPort;
        case PORT_ERR_IN_USE:
            return logmsg::k08OpenInUse;
        case PORT_ERR_NO_UART:
            return logmsg::k09OpenNoUart;
        case PORT_ERR_NOT_OPEN:
            return logmsg::k10OpenNotOpen;
        case PORT_ERR_BAD_PARITY:
            return logmsg::k11OpenBadParity;
        case PORT_ERR_BAD_DATA_BITS:
            return logmsg::k12OpenBadDataBits;
        case PORT_ERR_BAD_STOP_BITS:
            return logmsg::k13OpenBadStopBits;
        case PORT_ERR_BAD_BAUD:
            return logmsg::k14OpenBadBaud;
        case PORT_ERR_GENERAL:
            return logmsg::k15OpenGeneral;
        default:
            return nullptr;
    }
}

// "MM-DD-YY HH:MM UTC" of the status page's update times.
std::string UpdateTimeText(int64_t seconds) {
    const std::tm t = platform::BreakDownUtc(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d UTC         ", t.tm_mon + 1,
                  t.tm_mday, (t.tm_year + 1900) % 100, t.tm_hour, t.tm_min);
    return text;
}

}  // namespace

AcquisitionRun::AcquisitionRun(const ComConfig& config, StatusObserver* view,
                               ManualResetEvent& stopEvent, AcquisitionProbe* probe)
    : com_(config),
      view_(view),
      stop_event_(stopEvent),
      probe_(probe),
      journal_(config),
      writer_(config) {}

AcquisitionRun::~AcquisitionRun() {
    FreePerPortArrays(arrays_);
}

void AcquisitionRun::Run() {
    const int n = com_.NumPorts;
    for (int i = 0; i < n; ++i) {
        stats_ports_ += com_.DoStats[i] != 0 ? 1 : 0;
    }
    const int64_t start_time = platform::Now();
    WriteLogMessage(Directory(), logmsg::k03ThreadStarted);
    ResetWatchDogTimerAccess(Directory());
    ShowAcquisitionEnabled(start_time);
    journal_.Start(writer_);  // what an earlier run left reaches its data files first
    PortSetQueueSizes(kReceiveQueueSize, kTransmitQueueSize);
    OpenPorts();
    arrays_ = AllocatePerPortArrays(n);
    growth_failed_.assign(static_cast<size_t>(n), false);
    total_read_.assign(static_cast<size_t>(n), 0);
    received_.assign(static_cast<size_t>(n), 0);
    PeriodSeconds = int64_t{com_.DiskWriteAndStatsFrequencyInMinutes} * 60;
    NextWriteTime = FirstPeriodEnd(static_cast<int>(PeriodSeconds));
    ScheduledEnd = platform::BreakDownUtc(NextWriteTime);
    RunStartupInitialisation();
    for (PortRecord* port : ports_) {
        PortDrainInput(port);  // what arrived before acquisition is not kept
    }
    for (int i = 0; i < n; ++i) {
        arrays_.StartTime[i] = platform::UtcNow();
    }
    PeriodStartTime = platform::Now();
    FileNameTime = platform::BreakDownUtc(PeriodStartTime);
    ScheduleFirstStatusUpdate();

    while (Pass()) {
    }

    if (WatchDogInUse()) {
        StopWatchDogTimer(com_.WatchDogTimerAddress);
    }
    journal_.KeepAtStop(writer_);
    ClosePorts();
    ShowAcquisitionDisabled();
    WriteLogMessage(Directory(), logmsg::k04ThreadStopped);
    FreePerPortArrays(arrays_);
}

void AcquisitionRun::ShowAcquisitionEnabled(int64_t startTime) {
    const std::tm t = platform::BreakDownUtc(startTime);
    char acquisition[96];
    std::snprintf(acquisition, sizeof acquisition,
                  "Enabled on %02d-%02d-%02d at %02d:%02d:%02d UTC", t.tm_mon + 1, t.tm_mday,
                  (t.tm_year + 1900) % 100, t.tm_hour, t.tm_min, t.tm_sec);
    char statistics[96];
    std::snprintf(statistics, sizeof statistics, "Enabled - %d minute calculations",
                  com_.DiskWriteAndStatsFrequencyInMinutes);
    StatusDrawBlock block(view_);
    block.Set(kStatusAcquisition, acquisition, kDarkGreen);
    block.Set(kStatusStatistics, statistics, kDarkGreen);
    block.Set(kStatusReceivedData, Blanks(15), kDarkGreen);
    block.Set(kStatusBufferOverflows, Blanks(15), kDarkGreen);
    block.Set(kStatusLastUpdate, Blanks(15), kDarkGreen);
    block.Set(kStatusNextUpdate, Blanks(15), kDarkGreen);
}

void AcquisitionRun::OpenPorts() {
    for (int i = 0; i < com_.NumPorts; ++i) {
        const int number = com_.PortNumber[i];
        platform::SetCommDevicePath(number, com_.Device != nullptr ? com_.Device[i] : nullptr);
        PortRecord* port = PortOpenMSWin32(number - 1, com_.Baud[i], com_.Parity[i],
                                           com_.DataBits[i], com_.StopBits[i]);
        ports_.push_back(port);
        const bool opened = port->Status == PORT_OK;
        if (!opened) {
            if (const char* message = OpenFailureMessage(port->Status)) {
                WriteLogMessagef(Directory(), message, number);
            }
        }
        StatusDrawBlock block(view_);
        if (opened) {
            AddToPortList(StatusText(kStatusPortsOpen), ports_opened_ > 0, number);
            ++ports_opened_;
        } else {
            AddToPortList(StatusText(kStatusPortErrors), port_failures_ > 0, number);
            ++port_failures_;
        }
        block.Draw(kStatusPortsOpen, ports_opened_ > 0 ? kDarkGreen : kRed);
        block.Draw(kStatusPortErrors, port_failures_ > 0 ? kRed : kDarkGreen);
    }
}

void AcquisitionRun::RunStartupInitialisation() {
    for (int i = 0; i < com_.NumPorts; ++i) {
        if (com_.StartupInitializationFunction[i] == INIT_GETOPHIRCONSTANTS) {
            GetOphirConstants(ports_[static_cast<size_t>(i)], Directory(), com_.PortNumber[i],
                              OphirHeader.data(), &OphirTime);
        }
    }
}

void AcquisitionRun::ScheduleFirstStatusUpdate() {
    const int64_t now = platform::Now();
    NextStatusTime = now - platform::BreakDownUtc(now).tm_sec + 60;
    const std::tm t = platform::BreakDownUtc(NextStatusTime);
    char text[64];
    std::snprintf(text, sizeof text, "First update at %02d:%02d UTC", t.tm_hour, t.tm_min);
    StatusDrawBlock block(view_);
    block.Set(kStatusReceivedData, text, kPurple);
    block.Set(kStatusBufferOverflows, text, kPurple);
}

bool AcquisitionRun::Pass() {
    if (stop_flag_) {
        return false;
    }
    if (WatchDogInUse()) {
        KickWatchDogTimer(com_.WatchDogTimerAddress, kWatchDogCount);
    }
    bool read_any = false;
    quiet_ports_.clear();
    for (int i = 0; i < com_.NumPorts; ++i) {
        read_any = PollPort(i) || read_any;
    }
    journal_.SyncIfDue();
    if (probe_ != nullptr) {
        probe_->OnPass(received_.data(), com_.NumPorts);
    }
    const int64_t now = platform::Now();
    if (now >= NextStatusTime) {
        UpdateStatus();
    }
    if (now < NextWriteTime && !stop_event_.IsSet()) {
        if (!read_any) {
            // Nothing worth a read: wait briefly for new input instead of
            // spinning, still many passes (and kicks) a second. Ports that
            // hold less than a block already are left out, or the wait
            // would end at once until the period's drain.
            PortWaitForInput(quiet_ports_.data(), static_cast<int>(quiet_ports_.size()), kIdleWaitMs);
        }
        return true;
    }
    if (stop_event_.IsSet()) {
        NextWriteTime = platform::Now();
        stop_flag_ = true;
    }
    Flush();
    return true;
}

// The in-period poll of one port: whole blocks only. True when it read.
bool AcquisitionRun::PollPort(int i) {
    PortRecord* port = ports_[static_cast<size_t>(i)];
    const auto index = static_cast<size_t>(i);
    const int32_t waiting = port->RxUsed(port);
    if (waiting > kOverflowThreshold) {
        WriteLogMessagef(Directory(), logmsg::k16BufferOverflow, com_.PortNumber[i]);
        ++arrays_.GotOverflow[i];
    }
    if (waiting > 0) {
        ++arrays_.GotData[i];
    }
    received_[index] = waiting < 0 ? -1 : total_read_[index] + waiting;
    if (waiting == 0) {
        quiet_ports_.push_back(port);
    }
    if (waiting < kReadBlockSize || growth_failed_[index]) {
        return false;
    }
    while (arrays_.PortBufferIndex[i] + kReadBlockSize > arrays_.CurrentBufferSize[i]) {
        if (!GrowPortBuffer(arrays_, i, com_.PortNumber[i], Directory())) {
            // The bytes stay in the receive queue; the final drain tries again.
            growth_failed_[index] = true;
            return false;
        }
    }
    char* into = arrays_.PortBuffer[i] + arrays_.PortBufferIndex[i];
    port->ReadBlock(port, into, kReadBlockSize);
    arrays_.PortBufferIndex[i] += static_cast<int32_t>(port->Count);
    journal_.Append(i, into, static_cast<int32_t>(port->Count));
    total_read_[index] += port->Count;
    return port->Count > 0;
}

void AcquisitionRun::UpdateStatus() {
    std::string received;
    std::string overflows;
    bool any_data = false;
    bool any_overflow = false;
    for (int i = 0; i < com_.NumPorts; ++i) {
        if (arrays_.GotData[i] != 0) {
            AppendPortName(received, any_data, com_.PortNumber[i]);
            any_data = true;
        }
        if (arrays_.GotOverflow[i] != 0) {
            AppendPortName(overflows, any_overflow, com_.PortNumber[i]);
            any_overflow = true;
        }
        arrays_.GotData[i] = 0;
        arrays_.GotOverflow[i] = 0;
    }
    if (!any_data) {
        received = "None";
    }
    if (!any_overflow) {
        overflows = "None";
    }
    received += Blanks(57);
    overflows += Blanks(57);
    const std::string last = UpdateTimeText(NextStatusTime);
    NextStatusTime = platform::Now() + 60;
    const std::string next = UpdateTimeText(NextStatusTime);

    StatusDrawBlock block(view_);
    block.Set(kStatusReceivedData, received, any_data ? kDarkGreen : kRed);
    block.Set(kStatusBufferOverflows, overflows, any_overflow ? kRed : kDarkGreen);
    block.Set(kStatusLastUpdate, last, kPurple);
    block.Set(kStatusNextUpdate, next, kPurple);
}

void AcquisitionRun::Flush() {
    for (int i = 0; i < com_.NumPorts; ++i) {
        DrainPort(i);
    }
    const bool exchanged = RunHourlyInitialisation();
    WriteDataFiles();
    if (stats_ports_ > 0) {
        CalculateStatistics();
    }
    StartNextPeriod(exchanged);
    ++flushes_;
    if (probe_ != nullptr) {
        probe_->OnFlush(flushes_);
    }
}

// Reads everything waiting, whatever its amount, and ends the text with a
// zero byte (the row always has room for it).
void AcquisitionRun::DrainPort(int i) {
    PortRecord* port = ports_[static_cast<size_t>(i)];
    const auto index = static_cast<size_t>(i);
    for (;;) {
        const int32_t waiting = port->RxUsed(port);
        if (waiting < 1) {
            break;
        }
        if (waiting > kOverflowThreshold) {
            WriteLogMessagef(Directory(), logmsg::k16BufferOverflow, com_.PortNumber[i]);
            ++arrays_.GotOverflow[i];
        }
        bool room = true;
        while (room &&
               arrays_.PortBufferIndex[i] + kReadBlockSize + 1 > arrays_.CurrentBufferSize[i]) {
            room = GrowPortBuffer(arrays_, i, com_.PortNumber[i], Directory());
        }
        if (!room) {
            break;  // what is left waits in the receive queue for the next period
        }
        char* into = arrays_.PortBuffer[i] + arrays_.PortBufferIndex[i];
        port->ReadBlock(port, into, kReadBlockSize);
        if (port->Count == 0) {
            break;
        }
        arrays_.PortBufferIndex[i] += static_cast<int32_t>(port->Count);
        journal_.Append(i, into, static_cast<int32_t>(port->Count));
        total_read_[index] += port->Count;
    }
    arrays_.StopTime[i] = platform::UtcNow();
    arrays_.PortBuffer[i][arrays_.PortBufferIndex[i]] = '\0';
}

// The exchange on the hour, for ports that ask for it during acquisition.
// True when one ran.
bool AcquisitionRun::RunHourlyInitialisation() {
    if (ScheduledEnd.tm_min != 0) {
        return false;
    }
    bool exchanged = false;
    for (int i = 0; i < com_.NumPorts; ++i) {
        if (HourlyExchange(i)) {
            GetOphirConstants(ports_[static_cast<size_t>(i)], Directory(), com_.PortNumber[i],
                              NextOphirHeader.data(), &OphirTime);
            exchanged = true;
        }
    }
    return exchanged;
}

void AcquisitionRun::WriteDataFiles() {
    FlushContext context{};
    context.file_name_time = FileNameTime;
    context.first_flush = first_flush_;
    context.end_marker_due = stop_flag_ || ScheduledEnd.tm_min == 0;
    context.ophir_header = OphirHeader.data();
    for (int i = 0; i < com_.NumPorts; ++i) {
        writer_.WritePort(context, {i, arrays_.PortBuffer[i], arrays_.PortBufferIndex[i],
                                    arrays_.StartTime[i], arrays_.StopTime[i]});
    }
}

void AcquisitionRun::CalculateStatistics() {
    StatisticsPeriod period{};
    period.file_name_time = FileNameTime;
    period.period_start = PeriodStartTime;
    period.period_end = NextWriteTime;
    CalculateDiagnosticStatistics(com_, period, arrays_.PortBuffer, arrays_.PortBufferIndex);
}

void AcquisitionRun::StartNextPeriod(bool exchanged) {
    PeriodStartTime = NextWriteTime;
    NextWriteTime += PeriodSeconds;
    ScheduledEnd = platform::BreakDownUtc(NextWriteTime);
    for (int i = 0; i < com_.NumPorts; ++i) {
        arrays_.PortBufferIndex[i] = 0;
        // A period starts where the last one's drain ended, or, for a port
        // whose instrument was just asked for its constants, where that
        // exchange ended.
        arrays_.StartTime[i] = exchanged && HourlyExchange(i) ? OphirTime : arrays_.StopTime[i];
        growth_failed_[static_cast<size_t>(i)] = false;
    }
    OphirHeader = NextOphirHeader;
    FileNameTime = platform::BreakDownUtc(platform::Now());
    first_flush_ = false;
}

void AcquisitionRun::ClosePorts() {
    for (size_t i = 0; i < ports_.size(); ++i) {
        PortRecord* port = ports_[i];
        if (port->Close(port) != 0) {
            std::lock_guard<std::mutex> lock(StatusLock);
            SharedMessageText += "       Can't close " + PortName(com_.PortNumber[i]) + "\n";
        }
    }
    ports_.clear();
    quiet_ports_.clear();
}

void AcquisitionRun::ShowAcquisitionDisabled() {
    const std::string none = "None" + Blanks(126);
    const std::string disabled = "Disabled" + Blanks(128);
    StatusDrawBlock block(view_);
    block.Set(kStatusNextUpdate, none, kDarkGreen);
    block.Set(kStatusLastUpdate, none, kDarkGreen);
    block.Set(kStatusBufferOverflows, none, kDarkGreen);
    block.Set(kStatusReceivedData, none, kDarkGreen);
    block.Set(kStatusPortErrors, none, kDarkGreen);
    block.Set(kStatusPortsOpen, none, kDarkGreen);
    block.Set(kStatusStatistics, disabled, kDarkGreen);
    block.Set(kStatusAcquisition, disabled, kDarkGreen);
}
