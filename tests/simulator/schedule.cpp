#include "schedule.h"

#include <cstdio>
#include <sstream>

#include "platform/clock.h"
#include "platform/fake_clock.h"
#include "random.h"

namespace simulation {
namespace {

constexpr const char* kTroubleNames[] = {
    "crash",        "power-cut",
    "data-faults",  "journal-faults",
    "log-faults",   "statistics-faults",
    "disk-full",    "clock-steps",
    "vanish",       "stall",
    "burst",        "power-cut-log",
    "undo-faults",  "power-cut-later",
    "long-periods", "crash-in-recovery",
};
constexpr int kTroubleCount = sizeof kTroubleNames / sizeof kTroubleNames[0];

constexpr int kPeriods[] = {1, 2, 3, 4, 5, 6, 10, 12, 15};

const char* StepName(StepKind kind) {
    switch (kind) {
        case StepKind::kDeliver:
            return "deliver";
        case StepKind::kBurst:
            return "burst";
        case StepKind::kIdle:
            return "idle";
        case StepKind::kEndPeriod:
            return "end-period";
        case StepKind::kClockStep:
            return "clock-step";
        case StepKind::kVanish:
            return "vanish";
        case StepKind::kReturn:
            return "return";
    }
    return "?";
}

std::vector<PortPlan> ChoosePorts(Random& random, uint32_t troubles) {
    std::vector<int> numbers = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    auto take_number = [&] {
        const size_t at = random.Below(numbers.size());
        const int number = numbers[at];
        numbers.erase(numbers.begin() + static_cast<std::ptrdiff_t>(at));
        return number;
    };
    std::vector<PortPlan> ports(static_cast<size_t>(random.Between(1, 4)));
    for (PortPlan& port : ports) {
        port.number = take_number();
        port.statistics = random.Percent(30);
    }
    if ((troubles & kStall) != 0 && random.Percent(40)) {
        PortPlan hygrometer;
        hygrometer.number = take_number();
        hygrometer.hygrometer = true;
        hygrometer.asked_at_start = random.Percent(30);
        ports.push_back(hygrometer);
    }
    return ports;
}

uint32_t FileTargets(Random& random, uint32_t troubles) {
    const std::pair<uint32_t, uint32_t> kinds[] = {
        {kDataFileFaults, kDataFile},
        {kJournalFaults, kJournalFile},
        {kLogFaults, kLogFile},
        {kStatisticsFaults, kStatisticsFile},
    };
    uint32_t targets = 0;
    for (const auto& [trouble, file] : kinds) {
        if ((troubles & trouble) != 0 && random.Percent(50)) {
            targets |= file;
        }
    }
    return targets;
}

FilePlan ChooseFilePlan(Random& random, uint32_t troubles) {
    FilePlan plan;
    plan.seed = random.Next();
    if ((troubles & kCrash) != 0 && random.Percent(50)) {
        plan.crash_at = random.Between(1, 250);
        plan.power_cut = (troubles & kPowerCut) != 0 && random.Percent(50);
    }
    plan.targets = FileTargets(random, troubles);
    plan.undo_faults = (troubles & kUndoFaults) != 0 && random.Percent(50);
    if (plan.targets != 0) {
        plan.per_mille = random.Percent(30) ? static_cast<int>(random.Between(100, 400))
                                            : static_cast<int>(random.Between(5, 100));
    }
    if ((troubles & kDiskFull) != 0 && random.Percent(25)) {
        plan.full_from = random.Between(1, 150);
        plan.full_to = plan.full_from + random.Between(1, 80);
    }
    return plan;
}

// The steps of one life. `away` follows which devices are gone, across lives.
std::vector<Step> ChooseSteps(Random& random, const Schedule& schedule, std::vector<bool>& away) {
    const int data_ports = schedule.DataPorts();
    const int64_t period_ms = int64_t{schedule.period_minutes} * 60000;
    const uint32_t troubles = schedule.troubles;
    std::vector<Step> steps(static_cast<size_t>(random.Between(3, 14)));
    for (Step& step : steps) {
        step.port = static_cast<int>(random.Below(static_cast<uint64_t>(data_ports)));
        const bool gone = away[static_cast<size_t>(step.port)];
        const int roll = static_cast<int>(random.Below(100));
        if (gone && roll < 30) {
            step.kind = StepKind::kReturn;
            away[static_cast<size_t>(step.port)] = false;
        } else if (roll < 50) {
            step.kind = StepKind::kDeliver;
            step.amount =
                random.Percent(85) ? random.Between(1, 1500) : random.Between(1500, 20000);
            if ((troubles & kLongPeriods) != 0 && random.Percent(15)) {
                // More than a buffer holds where buffers are small, and more
                // than the journal reads back between two pauses.
                step.amount = random.Between(1100000, 1600000);
            }
        } else if (roll < 72) {
            step.kind = StepKind::kEndPeriod;
        } else if (roll < 80) {
            step.kind = StepKind::kIdle;
            step.amount = random.Between(1, period_ms / 2);
        } else if (roll < 86 && (troubles & kBurst) != 0) {
            step.kind = StepKind::kBurst;
            step.amount = random.Between(66000, 150000);
        } else if (roll < 92 && (troubles & kClockSteps) != 0) {
            step.kind = StepKind::kClockStep;
            const int64_t size = period_ms + random.Between(5000, 3 * 3600 * 1000);
            step.amount = random.Percent(50) ? size : -size;
        } else if (roll < 100 && (troubles & kVanish) != 0 && !gone) {
            step.kind = StepKind::kVanish;
            away[static_cast<size_t>(step.port)] = true;
        } else {
            step.kind = StepKind::kEndPeriod;
        }
        if (away[static_cast<size_t>(step.port)] &&
            (step.kind == StepKind::kDeliver || step.kind == StepKind::kBurst)) {
            step.kind = StepKind::kIdle;  // nothing comes from a device that is away
            step.amount = random.Between(1, period_ms / 2);
        }
    }
    return steps;
}

}  // namespace

std::string TroubleNames(uint32_t troubles) {
    std::string names;
    for (int i = 0; i < kTroubleCount; ++i) {
        if ((troubles & (1u << i)) != 0) {
            names += names.empty() ? "" : ",";
            names += kTroubleNames[i];
        }
    }
    return names.empty() ? "none" : names;
}

bool ParseTroubles(const std::string& names, uint32_t& troubles) {
    troubles = 0;
    std::istringstream in(names);
    std::string name;
    while (std::getline(in, name, ',')) {
        if (name.empty() || name == "none") {
            continue;
        }
        bool known = false;
        for (int i = 0; i < kTroubleCount; ++i) {
            if (name == kTroubleNames[i]) {
                troubles |= 1u << i;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
    }
    return true;
}

int Schedule::DataPorts() const {
    int count = 0;
    for (const PortPlan& port : ports) {
        count += port.hygrometer ? 0 : 1;
    }
    return count;
}

Schedule GenerateSchedule(uint64_t seed, uint32_t troubles) {
    Random random(seed);
    Schedule schedule;
    schedule.seed = seed;
    schedule.troubles = troubles;
    schedule.period_minutes = kPeriods[random.Below(sizeof kPeriods / sizeof kPeriods[0])];
    // Near an hour's end more often than not, so that files of two hours meet.
    const int64_t period_ms = int64_t{schedule.period_minutes} * 60000;
    const int64_t hour_ms = 3600 * 1000;
    const int64_t day =
        platform::FakeClock::EpochMs(2024, 3, 1) + random.Between(0, 300) * 24 * hour_ms;
    const int64_t hour = day + random.Between(0, 23) * hour_ms;
    const int64_t before_end = random.Between(1, 3) * period_ms - random.Between(0, period_ms - 1);
    schedule.start_ms = hour + hour_ms - before_end;
    schedule.ports = ChoosePorts(random, troubles);
    std::vector<bool> away(static_cast<size_t>(schedule.DataPorts()), false);
    schedule.lives.resize(static_cast<size_t>(random.Between(1, 4)));
    for (Life& life : schedule.lives) {
        life.files = ChooseFilePlan(random, troubles);
        life.steps = ChooseSteps(random, schedule, away);
    }
    return schedule;
}

std::string TimeText(int64_t ms) {
    const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const platform::SystemTime t =
        platform::ToSystemTime(seconds, static_cast<int>(ms - seconds * 1000));
    char text[48];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d.%03d", t.wMonth, t.wDay,
                  t.wYear % 100, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

std::string Schedule::Describe() const {
    std::ostringstream out;
    out << "seed " << seed << ", troubles " << TroubleNames(troubles) << "\n";
    out << "  period " << period_minutes << " min, first start " << TimeText(start_ms) << "\n";
    out << "  ports:";
    for (size_t p = 0; p < ports.size(); ++p) {
        out << " [" << p << "] COM" << ports[p].number;
        if (ports[p].statistics) {
            out << " (statistics)";
        }
        if (ports[p].hygrometer) {
            out << (ports[p].asked_at_start ? " (silent hygrometer, also at start)"
                                            : " (silent hygrometer)");
        }
    }
    out << "\n";
    for (size_t l = 0; l < lives.size(); ++l) {
        const FilePlan& f = lives[l].files;
        out << "  life " << l + 1 << ": ";
        if (f.crash_at > 0) {
            out << (f.power_cut ? "power cut" : "crash") << " at file operation " << f.crash_at;
        } else {
            out << "no crash";
        }
        if (f.per_mille > 0) {
            out << "; faults " << f.per_mille << "/1000 on"
                << ((f.targets & kLogFile) ? " log" : "")
                << ((f.targets & kDataFile) ? " data" : "")
                << ((f.targets & kJournalFile) ? " journal" : "")
                << ((f.targets & kStatisticsFile) ? " statistics" : "");
        }
        if (f.per_mille > 0 && f.undo_faults) {
            out << ", truncations and removals too";
        }
        if (f.full_to > f.full_from) {
            out << "; disk full at operations " << f.full_from << "-" << f.full_to - 1;
        }
        out << "\n    steps:";
        for (const Step& step : lives[l].steps) {
            out << " " << StepName(step.kind);
            if (step.kind != StepKind::kEndPeriod && step.kind != StepKind::kIdle &&
                step.kind != StepKind::kClockStep) {
                out << "(" << step.port;
                if (step.amount != 0) {
                    out << "," << step.amount;
                }
                out << ")";
            } else if (step.amount != 0) {
                out << "(" << step.amount << "ms)";
            }
        }
        out << "\n";
    }
    return out.str();
}

}  // namespace simulation
