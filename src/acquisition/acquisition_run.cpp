#include "acquisition/acquisition_run.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "acquisition/journaled_writing.h"
#include "acquisition/statistics.h"
#include "acquisition/watchdog.h"
#include "instruments/exchanges.h"
#include "log/log_codes.h"
#include "log/log_file.h"
#include "log/write_problems.h"
#include "platform/comm.h"
#include "platform/service_notify.h"

namespace {

std::string PortName(int port_number) {
    return "COM" + std::to_string(port_number);
}

std::string Blanks(size_t count) {
    return std::string(count, ' ');
}

std::string Trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// Appends "COMn" to a list of ports, after a comma unless it is the first.
void AppendPortName(std::string& list, bool has_entry, int port_number) {
    if (has_entry) {
        list += ',';
    }
    list += PortName(port_number);
}

// Adds a port to "Ports currently open:" or "Port errors:": a comma once the
// list has an entry; a text still saying "None" is replaced by the name.
void AddToPortList(std::string& list, bool has_entry, int port_number) {
    if (has_entry) {
        list += ',';
    }
    if (list.find("None") != std::string::npos) {
        list = PortName(port_number);
    } else {
        list += PortName(port_number);
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

}  // namespace

std::string OpenFailureReason(const ComConfig& config, int i, int status,
                              const std::string& system_reason) {
    char text[200];
    if (status == PORT_ERR_BAD_BAUD || config.Baud[i] <= 0) {
        std::snprintf(text, sizeof text,
                      "Baud=%ld is not a rate the port open takes (1 to 57600, 115200, 128000, "
                      "230400, 256000, 460800, 921600; a Baud that is not a number reads as 0)",
                      static_cast<long>(config.Baud[i]));
        return text;
    }
    if (status == PORT_ERR_BAD_PARITY) {
        std::snprintf(text, sizeof text, "Parity=%c is none of N, E, O, M and S", config.Parity[i]);
        return text;
    }
    if (status == PORT_ERR_BAD_STOP_BITS) {
        std::snprintf(text, sizeof text, "StopBits=%d is neither 1 nor 2 (nor 2 with 5 data bits)",
                      static_cast<int>(config.StopBits[i]));
        return text;
    }
    if (!system_reason.empty()) {
        std::string reason = system_reason;
        while (!reason.empty() && reason.back() == '.') {
            reason.pop_back();  // the entry ends in its own full stop
        }
        return reason;
    }
    return "status " + std::to_string(status);
}

namespace {

// The calendar in milliseconds.
int64_t NowMs() {
    const platform::SystemTime utc = platform::UtcNow();
    return platform::ToCalendarSeconds(utc) * 1000 + utc.wMilliseconds;
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
                               ManualResetEvent& stop_event, AcquisitionProbe* probe)
    : com_(config),
      view_(view),
      stop_event_(stop_event),
      probe_(probe),
      journal_(config),
      writer_(config) {
    journal_.SetReadBackPacer([this] { KeepReceiving(); });
}

AcquisitionRun::~AcquisitionRun() {
    FreePerPortArrays(arrays_);
}

void AcquisitionRun::Run() {
    const int n = com_.NumPorts;
    const int64_t start_time = platform::Now();
    WriteLogMessage(Directory(), logmsg::k03ThreadStarted);
    platform::NotifyServiceManager("READY=1");
    ResetWatchDogTimerAccess(Directory());
    ShowAcquisitionEnabled(start_time);
    // What earlier runs left reaches its data files first.
    StartJournaledWriting(journal_, writer_, Directory());
    OpenPorts();
    arrays_ = AllocatePerPortArrays(n);
    received_.assign(static_cast<size_t>(n), 0);
    PeriodSeconds = int64_t{com_.DiskWriteAndStatsFrequencyInMinutes} * 60;
    NextWriteTime = FirstPeriodEnd(static_cast<int>(PeriodSeconds));
    scheduled_end_ = platform::BreakDownUtc(NextWriteTime);
    RunStartupInitialisation();
    for (const PortLine& line : ports_) {
        PortDrainInput(line.record);  // what arrived before acquisition is not kept
    }
    for (int i = 0; i < n; ++i) {
        arrays_.StartTime[i] = platform::UtcNow();
        Line(i).tail_read_ms = steady_.Now();
    }
    PeriodStartTime = platform::Now();
    file_name_time_ = platform::BreakDownUtc(PeriodStartTime);
    last_pass_time_ = PeriodStartTime;
    last_pass_steady_ms_ = steady_.Now();
    ScheduleFirstStatusUpdate();

    while (Pass()) {
    }

    if (WatchDogInUse()) {
        StopWatchDogTimer(com_.WatchDogTimerAddress);
    }
    StopJournaledWriting(journal_, writer_);
    ClosePorts();
    ShowAcquisitionDisabled();
    WriteLogMessage(Directory(), logmsg::k04ThreadStopped);
    FreePerPortArrays(arrays_);
}

void AcquisitionRun::ShowAcquisitionEnabled(int64_t start_time) {
    const std::tm t = platform::BreakDownUtc(start_time);
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
    int opened = 0;
    int failed = 0;
    ClearPortFailures();
    for (int i = 0; i < com_.NumPorts; ++i) {
        const int number = com_.PortNumber[i];
        ports_.emplace_back();
        PortLine& line = ports_.back();
        line.queue_size = ReceiveQueueSizeFor(com_.Baud[i]);
        line.record = OpenPort(i);
        line.open = line.record->Status == PORT_OK;
        if (!line.open) {
            if (const char* message = OpenFailureMessage(line.record->Status)) {
                WriteLogMessagef(Directory(), message, number);
            }
            ExplainOpenFailure(i, line.record->Status);
            if (OpenFailureIsRetried(line.record->Status)) {
                line.reopen.Lost(steady_.Now());
                line.loss_logged = true;  // its entry is the failed open's
            }
        }
        StatusDrawBlock block(view_);
        if (line.open) {
            AddToPortList(StatusText(kStatusPortsOpen), opened > 0, number);
            ++opened;
        } else {
            AddToPortList(StatusText(kStatusPortErrors), failed > 0, number);
            ++failed;
        }
        block.Draw(kStatusPortsOpen, opened > 0 ? kDarkGreen : kRed);
        block.Draw(kStatusPortErrors, failed > 0 ? kRed : kDarkGreen);
    }
}

// Opens port i with its line settings and its receive queue; the `Device`
// path is looked up afresh each time (a by-id link may name a new node).
PortRecord* AcquisitionRun::OpenPort(int i) {
    const int number = com_.PortNumber[i];
    platform::SetCommDevicePath(number, com_.Device != nullptr ? com_.Device[i] : nullptr);
    PortSetQueueSizes(Line(i).queue_size, kTransmitQueueSize);
    return PortOpenMSWin32(number - 1, com_.Baud[i], com_.Parity[i], com_.DataBits[i],
                           com_.StopBits[i]);
}

// The specified entry names the failure in another platform's words and no
// device: entry 42 says which device and why, in the log and to the operator
// at once (standard error of the headless run).
void AcquisitionRun::ExplainOpenFailure(int i, int status) {
    const std::string reason = OpenFailureReason(com_, i, status, platform::LastCommFailure());
    const std::string device = platform::CommDevicePath(com_.PortNumber[i]);
    WriteLogMessagef(Directory(), logmsg::k42PortCannotBeUsed, com_.PortNumber[i], device.c_str(),
                     reason.c_str());
    const std::string text =
        PortName(com_.PortNumber[i]) + " (" + device + ") cannot be used: " + reason;
    SetPortFailure(com_.PortNumber[i], text);
    ReportWriteProblem(text);
}

// Each port's exchange at the start fills that port's own header and time.
void AcquisitionRun::RunStartupInitialisation() {
    for (int i = 0; i < com_.NumPorts; ++i) {
        const InstrumentExchange* exchange = FindExchange(com_.StartupInitializationFunction[i]);
        if (exchange != nullptr && exchange->run != nullptr) {
            PortLine& line = Line(i);
            exchange->run(line.record, Directory(), com_.PortNumber[i], line.header.data(),
                          &line.exchange_end);
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
    // Taken before anything is looked at: a stop request or a moved clock
    // after this point ends the wait below at once.
    const uint64_t wake_mark = PortWakeMark();
    KickWatchdogs();
    for (int i = 0; i < com_.NumPorts; ++i) {
        PollPort(i);
    }
    journal_.SyncIfDue();
    if (probe_ != nullptr) {
        probe_->OnPass(received_.data(), com_.NumPorts);
    }
    const int64_t now = platform::Now();
    const int64_t steady_ms = steady_.Now();
    if (ClockStepped(now, steady_ms)) {
        FollowClockStep(now);
        return true;
    }
    last_pass_time_ = now;
    last_pass_steady_ms_ = steady_ms;
    if (now >= NextStatusTime) {
        UpdateStatus();
    }
    if (now < NextWriteTime && !stop_event_.IsSet()) {
        WaitForWork(wake_mark);
        return true;
    }
    if (stop_event_.IsSet()) {
        NextWriteTime = platform::Now();
        stop_flag_ = true;
    }
    Flush();
    return true;
}

void AcquisitionRun::KickWatchdogs() {
    if (WatchDogInUse()) {
        KickWatchDogTimer(com_.WatchDogTimerAddress, kWatchDogCount);
    }
    platform::KickServiceWatchdog();
}

// Between two passes the calendar moves as the tick counter does: by
// milliseconds, or by the length of a flush, however long an exchange with
// silent instruments or a long period read back makes it. A calendar that
// moved more than a whole period away from the tick counter, either way, was
// set (by hand, or by a time service catching up), whenever that happened:
// in the pass, or in the flush before it.
bool AcquisitionRun::ClockStepped(int64_t now, int64_t steady_ms) const {
    const int64_t drift_ms = (now - last_pass_time_) * 1000 - (steady_ms - last_pass_steady_ms_);
    const int64_t period_ms = PeriodSeconds * 1000;
    return drift_ms > period_ms || -drift_ms > period_ms;
}

// The period ends where the clock left it, as a stop would end it: one flush
// into the files of its hour, closed by their end markers. Then the schedule
// starts again from the clock as it is now, as at the start: the first
// period ends at the next multiple of the period after the hour, its files
// get new start markers, and the next status update is at the next minute.
void AcquisitionRun::FollowClockStep(int64_t now) {
    const std::tm from = platform::BreakDownUtc(last_pass_time_);
    const std::tm to = platform::BreakDownUtc(now);
    WriteLogMessagef(Directory(), logmsg::k36ClockStep, from.tm_mon + 1, from.tm_mday,
                     (from.tm_year + 1900) % 100, from.tm_hour, from.tm_min, from.tm_sec,
                     to.tm_mon + 1, to.tm_mday, (to.tm_year + 1900) % 100, to.tm_hour, to.tm_min,
                     to.tm_sec);
    NextWriteTime = last_pass_time_;
    cut_short_ = true;
    Flush();
    cut_short_ = false;
    PeriodStartTime = platform::Now();
    NextWriteTime = FirstPeriodEnd(static_cast<int>(PeriodSeconds));
    scheduled_end_ = platform::BreakDownUtc(NextWriteTime);
    start_marker_due_ = true;
    last_pass_time_ = PeriodStartTime;
    last_pass_steady_ms_ = steady_.Now();
    for (int i = 0; i < com_.NumPorts; ++i) {
        arrays_.StartTime[i] = platform::UtcNow();
    }
    ScheduleFirstStatusUpdate();
}

// The in-period poll of one port: whole blocks only, all that are waiting.
void AcquisitionRun::PollPort(int i) {
    PortLine& line = Line(i);
    if (line.reopen.Due(steady_.Now())) {
        TryReopen(i);
    }
    if (!line.open || !CheckDevice(i)) {
        received_[static_cast<size_t>(i)] = -1;
        return;  // a port whose open failed, or whose device is away, yields no data
    }
    if (!line.held.empty()) {
        TakeHeld(i);
    }
    CheckOverflow(i);
    const int32_t waiting = line.record->RxUsed(line.record);
    if (waiting > 0) {
        ++arrays_.GotData[i];
    }
    received_[static_cast<size_t>(i)] = line.total_read + (waiting > 0 ? waiting : 0);
    if (waiting >= kReadBlockSize && !line.growth_failed) {
        ReadWholeBlocks(i, waiting);
    }
    // The rest of a block would wait in the queue until the period's end,
    // where a crash would lose it; once a second it goes to the buffer and
    // the journal as well.
    const int64_t now_ms = steady_.Now();
    if (waiting % kReadBlockSize != 0 && !line.growth_failed &&
        now_ms - line.tail_read_ms >= kTailReadMs) {
        line.tail_read_ms = now_ms;
        ReadEverything(i);
    }
}

void AcquisitionRun::ReadWholeBlocks(int i, int32_t waiting) {
    PortLine& line = Line(i);
    int32_t wanted =
        std::min(waiting, kPortBufferCapBytes - kReadBlockSize) / kReadBlockSize * kReadBlockSize;
    if (!MakeRoom(i, wanted)) {
        // The blocks that fit are read; the rest stays in the receive queue,
        // and the final drain tries again.
        line.growth_failed = true;
        const int32_t room = arrays_.CurrentBufferSize[i] - arrays_.PortBufferIndex[i];
        wanted = room / kReadBlockSize * kReadBlockSize;
    }
    if (wanted == 0) {
        return;
    }
    char* into = arrays_.PortBuffer[i] + arrays_.PortBufferIndex[i];
    line.record->ReadBlock(line.record, into, static_cast<uint32_t>(wanted));
    Keep(i, static_cast<int32_t>(line.record->Count));
}

// The `count` bytes just put at the end of port i's buffer become part of
// the period, and of its journal (unless they are there already).
void AcquisitionRun::Keep(int i, int32_t count, bool to_journal) {
    const char* added = arrays_.PortBuffer[i] + arrays_.PortBufferIndex[i];
    arrays_.PortBufferIndex[i] += count;
    if (to_journal) {
        journal_.Append(i, added, count);
    }
    Line(i).total_read += count;
}

// The driver's own report of a full receive queue: code 16, and code 31 with
// the bytes lost where the driver counts them. A device that could wait
// instead (the driver stopped reading it) lost nothing: code 40 says how
// long it waited, once a period, so a long burst does not flood the log;
// what it waited after that entry is told in the next period's.
void AcquisitionRun::CheckOverflow(int i) {
    PortLine& line = Line(i);
    line.waited_ms += PortTakePausedMs(Record(i));
    if (line.waited_ms > 0 && line.waited_logged_at != flushes_) {
        WriteLogMessagef(Directory(), logmsg::k40MadeToWait, com_.PortNumber[i],
                         static_cast<long>((line.waited_ms + 999) / 1000),
                         static_cast<long>(line.queue_size));
        line.waited_ms = 0;
        line.waited_logged_at = flushes_;
    }
    int64_t lost = 0;
    if (PortTakeOverflow(Record(i), &lost) == 0) {
        return;
    }
    WriteLogMessagef(Directory(), logmsg::k16BufferOverflow, com_.PortNumber[i]);
    ++arrays_.GotOverflow[i];
    if (lost > 0) {
        WriteLogMessagef(Directory(), logmsg::k31BytesLost, static_cast<long>(lost),
                         com_.PortNumber[i], static_cast<long>(line.queue_size));
    }
}

// Sleeps until a port has a whole block to read, a stop request, the next
// status update or period end, or the longest wait, whichever comes first.
void AcquisitionRun::WaitForWork(uint64_t wake_mark) {
    waited_on_.clear();
    for (const PortLine& line : ports_) {
        if (line.open && !line.growth_failed) {
            waited_on_.push_back(line.record);
        }
    }
    // The schedule is on the calendar, the reopening tries on the tick counter.
    int64_t until_ms = std::min(NextStatusTime, NextWriteTime) * 1000 - NowMs();
    const int64_t steady_ms = steady_.Now();
    for (const PortLine& line : ports_) {
        if (line.reopen.waiting()) {
            until_ms = std::min(until_ms, line.reopen.next_try_ms() - steady_ms);
        }
    }
    const int64_t wait_ms = std::clamp<int64_t>(until_ms, 1, kLongestWaitMs);
    PortWaitForInput(waited_on_.data(), static_cast<int>(waited_on_.size()),
                     static_cast<int>(wait_ms), kReadBlockSize, wake_mark);
}

void AcquisitionRun::UpdateStatus() {
    ShowPortLists();  // a log that cannot be written shows within the minute
    std::string received;
    std::string overflows;
    bool any_data = false;
    bool any_overflow = false;
    bool any_silent = false;  // an open port that delivered nothing: a problem
    for (int i = 0; i < com_.NumPorts; ++i) {
        if (arrays_.GotData[i] != 0) {
            AppendPortName(received, any_data, com_.PortNumber[i]);
            any_data = true;
        } else if (Line(i).open) {
            any_silent = true;
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
    block.Set(kStatusReceivedData, received, any_data && !any_silent ? kDarkGreen : kRed);
    block.Set(kStatusBufferOverflows, overflows, any_overflow ? kRed : kDarkGreen);
    block.Set(kStatusLastUpdate, last, kPurple);
    block.Set(kStatusNextUpdate, next, kPurple);
}

void AcquisitionRun::Flush() {
    for (int i = 0; i < com_.NumPorts; ++i) {
        DrainPort(i);
        // The period is complete: it is closed in the journal, and what the
        // port receives while the flush goes on is journaled for the next
        // period at once, so no crash during the flush can lose it.
        writer_.EndPeriod(i);
        Line(i).period_ended = true;
    }
    keep_receiving_ = true;  // from here on what arrives is held for the next period
    RunHourlyInitialisation();
    ReopenJournals(journal_, writer_);  // older text in a journal goes before this period's
    const EndedPeriod period = PeriodEnded();
    for (PeriodSink* sink : sinks_) {
        sink->TakePeriod(period);
    }
    keep_receiving_ = false;
    writer_.ForgetLongPeriods();
    StartNextPeriod();
    for (int i = 0; i < com_.NumPorts; ++i) {
        TakeHeld(i);
    }
    ShowPortLists();  // what could not be written shows at once
    ++flushes_;
    if (probe_ != nullptr) {
        probe_->OnFlush(flushes_);
    }
}

// Reads everything waiting, whatever its amount, and ends the text with a
// zero byte (the row always has room for it).
void AcquisitionRun::DrainPort(int i) {
    if (Line(i).open) {
        ReadEverything(i);
    }
    // A period the clock jumped out of ended where the clock left it.
    arrays_.StopTime[i] = cut_short_ ? platform::ToSystemTime(last_pass_time_) : platform::UtcNow();
    arrays_.PortBuffer[i][arrays_.PortBufferIndex[i]] = '\0';
}

// Reads everything waiting, whatever its amount; the row always keeps room
// for the terminating zero.
void AcquisitionRun::ReadEverything(int i) {
    PortLine& line = Line(i);
    if (!TakeHeld(i)) {
        return;  // what the queue holds comes after what is still held
    }
    for (;;) {
        CheckOverflow(i);
        const int32_t waiting = line.record->RxUsed(line.record);
        if (waiting < 1) {
            break;
        }
        // Room for at least a block and the terminating zero.
        const int32_t taken = std::min(waiting, kPortBufferCapBytes - kReadBlockSize - 1);
        if (!MakeRoom(i, std::max(taken, kReadBlockSize) + 1)) {
            break;  // what is left waits in the receive queue for the next period
        }
        char* into = arrays_.PortBuffer[i] + arrays_.PortBufferIndex[i];
        line.record->ReadBlock(line.record, into, static_cast<uint32_t>(taken));
        if (line.record->Count == 0) {
            break;
        }
        Keep(i, static_cast<int32_t>(line.record->Count));
    }
}

// Makes room for `bytes` more in port i's buffer: it grows, up to its cap
// while the port's journal holds the whole period; at the cap the text goes
// on in the journal alone, and the buffer starts again. False when memory
// could not be had (entry 17).
bool AcquisitionRun::MakeRoom(int i, int32_t bytes) {
    while (arrays_.PortBufferIndex[i] + bytes > arrays_.CurrentBufferSize[i]) {
        const bool journaled = journal_.HoldsCurrentPeriod(i);
        if (journaled && arrays_.CurrentBufferSize[i] >= kPortBufferCapBytes) {
            MoveToJournal(i);
            continue;
        }
        const int32_t limit = journaled ? kPortBufferCapBytes : INT32_MAX;
        if (!GrowPortBuffer(arrays_, i, com_.PortNumber[i], Directory(), limit)) {
            return false;
        }
    }
    return true;
}

// The buffer's text is in the journal already: it is dropped from memory,
// and the period's end reads the whole period back from the journal.
void AcquisitionRun::MoveToJournal(int i) {
    PortLine& line = Line(i);
    const int32_t held = arrays_.PortBufferIndex[i];
    if (held == 0) {
        return;
    }
    if (line.long_period.length == 0) {
        line.long_period.first_byte = arrays_.PortBuffer[i][0];
    }
    line.long_period.length += held;
    line.long_period.last_byte = arrays_.PortBuffer[i][held - 1];
    arrays_.PortBufferIndex[i] = 0;
}

// True while port i's device is there. A device that has gone is dealt with
// at once (see LoseDevice).
bool AcquisitionRun::CheckDevice(int i) {
    std::string reason;
    if (PortDeviceLost(Record(i), &reason) == 0) {
        return true;
    }
    LoseDevice(i, reason.empty() ? "device gone" : reason);
    return false;
}

// What the device sent before it went stays in the period's buffer; the port
// is closed, shown under "Port errors:" and opened again when it returns.
void AcquisitionRun::LoseDevice(int i, const std::string& reason) {
    PortLine& line = Line(i);
    ReadEverything(i);
    line.record->Close(line.record);
    line.record = nullptr;
    line.open = false;
    line.growth_failed = false;
    line.reopen.Lost(steady_.Now());
    line.loss_logged = line.reopen.LossIsLogged();
    if (line.loss_logged) {
        WriteLogMessagef(Directory(), logmsg::k32PortLost, com_.PortNumber[i], reason.c_str());
    }
    ShowPortLists();
}

void AcquisitionRun::TryReopen(int i) {
    PortLine& line = Line(i);
    if (line.record != nullptr) {
        line.record->Close(line.record);  // the record of the failed open
    }
    line.record = OpenPort(i);
    const int64_t now = steady_.Now();
    if (line.record->Status != PORT_OK) {
        line.reopen.Failed(now);
        return;
    }
    line.open = true;
    ClearPortFailure(com_.PortNumber[i]);
    const int64_t away = line.reopen.Reopened(now);
    if (line.loss_logged) {
        WriteLogMessagef(Directory(), logmsg::k33PortReopened, com_.PortNumber[i],
                         static_cast<long>(away));
    }
    ShowPortLists();
}

// The flapping summary of a period: the losses beyond the ones logged.
void AcquisitionRun::LogUnloggedLosses() {
    for (int i = 0; i < com_.NumPorts; ++i) {
        const int64_t unlogged = Line(i).reopen.TakeUnloggedLosses();
        if (unlogged > 0) {
            WriteLogMessagef(Directory(), logmsg::k37PortFlapping, com_.PortNumber[i],
                             static_cast<long>(unlogged));
        }
    }
}

// "Ports currently open:" and "Port errors:" as the ports stand now. The
// errors also name what the logger cannot write: a port whose data file
// holds text back, the statistics, the log. Drawn only when they change.
void AcquisitionRun::ShowPortLists() {
    std::string open;
    std::string errors;
    for (int i = 0; i < com_.NumPorts; ++i) {
        std::string& list = Line(i).open ? open : errors;
        AppendPortName(list, !list.empty(), com_.PortNumber[i]);
    }
    auto add = [&errors](const std::string& problem) {
        errors += (errors.empty() ? "" : ",") + problem;
    };
    for (int i = 0; i < com_.NumPorts; ++i) {
        if (writer_.UnwrittenBytes(i) > 0) {
            add(PortName(com_.PortNumber[i]) + " not written");
        }
    }
    if (KeptStatisticsBlocks() > 0) {
        add("statistics not written");
    }
    if (LogWritesFailing(Directory())) {
        add("log not written");
    }
    const bool any_open = !open.empty();
    const bool any_error = !errors.empty();
    const std::string open_text = any_open ? open : "None";
    const std::string error_text = any_error ? errors : "None";
    {
        std::lock_guard<std::mutex> lock(StatusLock);
        if (Trimmed(StatusText(kStatusPortsOpen)) == open_text &&
            Trimmed(StatusText(kStatusPortErrors)) == error_text) {
            return;
        }
    }
    StatusDrawBlock block(view_);
    block.Set(kStatusPortsOpen, open_text + Blanks(57), any_open ? kDarkGreen : kRed);
    block.Set(kStatusPortErrors, error_text + Blanks(57), any_error ? kRed : kDarkGreen);
}

// The exchange on the hour, for ports that ask for it during acquisition:
// each into its port's next header and time.
// An exchange waits seconds for an instrument that may never answer; the
// other ports are read meanwhile, so none of them waits for it.
void AcquisitionRun::RunHourlyInitialisation() {
    PortSetThreadIdleWork(&AcquisitionRun::KeepReceivingWhileWaiting, this);
    for (int i = 0; i < com_.NumPorts; ++i) {
        PortLine& line = Line(i);
        line.exchanged = scheduled_end_.tm_min == 0 && HourlyExchange(i) && line.record != nullptr;
        if (line.exchanged) {
            exchanging_ = i;
            FindExchange(com_.AcquisitionInitializationFunction[i])
                ->run(line.record, Directory(), com_.PortNumber[i], line.next_header.data(),
                      &line.exchange_end);
            exchanging_ = -1;
        }
    }
    PortSetThreadIdleWork(nullptr, nullptr);
}

// The period as the sinks see it. A long period's length counts what memory
// still holds after the part in the journal.
EndedPeriod AcquisitionRun::PeriodEnded() {
    EndedPeriod period;
    period.file_name_time = file_name_time_;
    period.start = PeriodStartTime;
    period.end = NextWriteTime;
    period.first_flush = first_flush_ || start_marker_due_;
    period.end_marker_due = stop_flag_ || cut_short_ || scheduled_end_.tm_min == 0;
    for (int i = 0; i < com_.NumPorts; ++i) {
        LongPeriod long_period = Line(i).long_period;
        if (long_period.length > 0) {
            const int32_t held = arrays_.PortBufferIndex[i];
            long_period.length += held;
            long_period.last_byte =
                held > 0 ? arrays_.PortBuffer[i][held - 1] : long_period.last_byte;
        }
        period.ports.push_back({i, arrays_.PortBuffer[i], arrays_.PortBufferIndex[i],
                                arrays_.StartTime[i], arrays_.StopTime[i],
                                Line(i).header.data()});
        period.long_periods.push_back(long_period);
    }
    period.whole_text = [this](int position) {
        return writer_.LongPeriodText(
            position, {arrays_.PortBuffer[position],
                       static_cast<size_t>(arrays_.PortBufferIndex[position])});
    };
    return period;
}

void AcquisitionRun::StartNextPeriod() {
    PeriodStartTime = NextWriteTime;
    NextWriteTime += PeriodSeconds;
    scheduled_end_ = platform::BreakDownUtc(NextWriteTime);
    for (int i = 0; i < com_.NumPorts; ++i) {
        arrays_.PortBufferIndex[i] = 0;
        Line(i).long_period = LongPeriod{};
        // A period starts where the last one's drain ended, or, for a port
        // whose instrument was just asked for its constants, where that
        // exchange ended. Its new files get the header of its last exchange
        // on the hour.
        PortLine& line = Line(i);
        arrays_.StartTime[i] = line.exchanged ? line.exchange_end : arrays_.StopTime[i];
        line.exchanged = false;
        line.period_ended = false;
        line.growth_failed = false;
        line.header = line.next_header;
    }
    file_name_time_ = platform::BreakDownUtc(platform::Now());
    first_flush_ = false;
    start_marker_due_ = false;
}

// A period's end can take long: an instrument exchange waits seconds for
// each silent hygrometer, a long period is read back from the journals for
// seconds. Every so often meanwhile, what the ports received is taken from
// their queues and held for the next period, which it belongs to, and the
// watchdogs are kicked, as a pass would.
void AcquisitionRun::KeepReceiving() {
    if (!keep_receiving_) {
        // Recovery at start reads journals of any size back: the service
        // manager still hears that the logger lives.
        platform::KickServiceWatchdog();
        return;
    }
    KickWatchdogs();
    for (size_t p = 0; p < ports_.size(); ++p) {
        PortLine& line = ports_[p];
        const int i = static_cast<int>(p);
        if (!line.open || line.record == nullptr || line.growth_failed || i == exchanging_) {
            continue;
        }
        CheckOverflow(i);
        const int32_t waiting = line.record->RxUsed(line.record);
        if (waiting < 1) {
            continue;
        }
        const size_t at = line.held.size();
        line.held.resize(at + static_cast<size_t>(waiting));
        line.record->ReadBlock(line.record, line.held.data() + at, static_cast<uint32_t>(waiting));
        line.held.resize(at + line.record->Count);
        HoldReceived(i);
        received_[p] = line.total_read + static_cast<int64_t>(line.held.size());
    }
    if (probe_ != nullptr) {
        probe_->OnReceivedDuringFlush(received_.data(), com_.NumPorts);
    }
}

// The serial library's waits call this while an exchange waits; a few
// times a second is often enough for queues that hold a minute.
void AcquisitionRun::KeepReceivingWhileWaiting(void* run) {
    constexpr auto kInterval = std::chrono::milliseconds(50);
    auto& self = *static_cast<AcquisitionRun*>(run);
    const auto now = std::chrono::steady_clock::now();
    if (now - self.kept_receiving_at_ >= kInterval) {
        self.kept_receiving_at_ = now;
        self.KeepReceiving();
    }
}

// Held text goes to the journal at once once the port's period is closed
// there (before, it would be taken for the ending period's text).
void AcquisitionRun::HoldReceived(int i) {
    PortLine& line = Line(i);
    if (!line.period_ended || line.held_journaled == line.held.size()) {
        return;
    }
    const size_t count = line.held.size() - line.held_journaled;
    journal_.Append(i, line.held.data() + line.held_journaled, static_cast<int32_t>(count));
    line.held_journaled = line.held.size();
}

// Moves what was held during a period's end into the period's buffer (and
// the journal, unless it is there already), as if it had been read now.
// False when some of it did not fit (entry 17): the rest stays held, and the
// queue is not read until it is in.
bool AcquisitionRun::TakeHeld(int i) {
    PortLine& line = Line(i);
    size_t at = 0;
    while (at < line.held.size()) {
        size_t piece = std::min<size_t>(line.held.size() - at,
                                        static_cast<size_t>(kPortBufferCapBytes / 2));
        const bool journaled = at < line.held_journaled;
        if (journaled) {
            piece = std::min(piece, line.held_journaled - at);
        }
        if (!MakeRoom(i, static_cast<int32_t>(piece) + 1)) {
            line.growth_failed = true;
            break;
        }
        char* into = arrays_.PortBuffer[i] + arrays_.PortBufferIndex[i];
        std::memcpy(into, line.held.data() + at, piece);
        Keep(i, static_cast<int32_t>(piece), !journaled);
        at += piece;
    }
    line.held.erase(0, at);
    line.held_journaled -= std::min(at, line.held_journaled);
    if (line.held.empty()) {
        line.held.shrink_to_fit();
        return true;
    }
    return false;
}

void AcquisitionRun::ClosePorts() {
    for (size_t i = 0; i < ports_.size(); ++i) {
        PortRecord* port = ports_[i].record;
        if (port != nullptr && port->Close(port) != 0) {
            std::lock_guard<std::mutex> lock(StatusLock);
            SharedMessageText += "       Can't close " + PortName(com_.PortNumber[i]) + "\n";
        }
    }
    ports_.clear();
    waited_on_.clear();
}

void AcquisitionRun::ShowAcquisitionDisabled() {
    ClearPortFailures();  // a stopped run has no port errors, nor their reasons
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
