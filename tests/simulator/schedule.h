// A schedule of the fault simulator: the station (its period, its ports) and,
// for each life of the engine on the same directory, the file faults it meets
// and the steps the simulated world takes. Everything follows from the seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simulation {

// The kinds of trouble a schedule may contain; a set of them is a bit mask.
enum Trouble : uint32_t {
    kCrash = 1u << 0,             // the process dies at a file operation
    kPowerCut = 1u << 1,          // and writes not yet synced are lost, kept or torn
    kDataFileFaults = 1u << 2,    // operations on data files fail or come out short
    kJournalFaults = 1u << 3,     // the same on the journals
    kLogFaults = 1u << 4,         // the same on the log
    kStatisticsFaults = 1u << 5,  // the same on statistics files
    kDiskFull = 1u << 6,          // for a while no write and no new file fits
    kClockSteps = 1u << 7,        // the clock is set forward or back by more than a period
    kVanish = 1u << 8,            // a device goes away and comes back
    kStall = 1u << 9,             // a silent hygrometer holds the hourly flush
    kBurst = 1u << 10,            // a device delivers more than the receive queue holds
    kUnsyncedLogCut = 1u << 11,   // a power cut also undoes log and statistics writes
    kUndoFaults = 1u << 12,       // the truncation or removal that undoes a failed write fails too
    kLatePowerCut = 1u << 13,     // a power cut also loses what an earlier crash left unsynced
    kLongPeriods = 1u << 14,      // a device sends more than a megabyte in a period
    kCrashInRecovery = 1u << 15,  // the process may die while recovering what a life left
    kEveryTrouble = (1u << 16) - 1,
};

// "crash,power-cut,..." for a set, and back; false for an unknown name.
std::string TroubleNames(uint32_t troubles);
bool ParseTroubles(const std::string& names, uint32_t& troubles);

// Which files a life's sporadic faults hit (a bit mask).
enum FileKind : uint32_t {
    kLogFile = 1u << 0,
    kDataFile = 1u << 1,
    kJournalFile = 1u << 2,
    kStatisticsFile = 1u << 3,
    kOtherFile = 1u << 4,
};

struct FilePlan {
    int64_t crash_at = 0;      // the operation (from 1) at which the process dies; 0: never
    bool power_cut = false;    // the crash is a power cut
    int per_mille = 0;         // the chance of a fault at each operation on a target
    uint32_t targets = 0;      // FileKind mask
    bool undo_faults = false;  // truncations and removals may fail as well
    int64_t full_from = 0;     // operations [full_from, full_to): the disk is full
    int64_t full_to = 0;
    uint64_t seed = 0;  // of the per-operation decisions
};

enum class StepKind {
    kDeliver,    // a device sends `amount` bytes, then time moves on two seconds
    kBurst,      // a device sends `amount` bytes while the engine stands still
    kIdle,       // time moves on `amount` ms inside the period
    kEndPeriod,  // time moves to the period's end
    kClockStep,  // the clock is set by `amount` ms (either way, more than a period)
    kVanish,     // the device goes away
    kReturn,     // the device comes back
};

struct Step {
    StepKind kind = StepKind::kIdle;
    int port = 0;  // position among the data ports
    int64_t amount = 0;
};

struct PortPlan {
    int number = 1;           // n of [COMn]
    bool statistics = false;  // DoStats
    bool hygrometer = false;  // a silent hygrometer, asked on the hour; sends no data
    bool asked_at_start = false;
};

struct Life {
    FilePlan files;
    std::vector<Step> steps;
};

struct Schedule {
    uint64_t seed = 0;
    uint32_t troubles = 0;
    int period_minutes = 15;
    int64_t start_ms = 0;         // the clock at the first start
    std::vector<PortPlan> ports;  // data ports first, then any hygrometer
    std::vector<Life> lives;

    int DataPorts() const;
    std::string Describe() const;
};

Schedule GenerateSchedule(uint64_t seed, uint32_t troubles);

// "MM/DD/YY HH:MM:SS.mmm" of a fake-clock time.
std::string TimeText(int64_t ms);

}  // namespace simulation
