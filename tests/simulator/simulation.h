// One schedule played against the real acquisition engine: pty instruments
// behind stable names, the fake clock, the simulated disk under every file
// operation, and the engine started, crashed and restarted on the same
// output directory as the schedule says. Every wait is on a condition (a
// pass or a flush of the engine, a command of the hygrometer), never on
// time; the engine is woken where it would otherwise sit out its longest
// wait. At the end one more life without faults lets the engine recover
// what the earlier ones left, and the checker judges the directory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "checker.h"
#include "schedule.h"

namespace simulation {

struct Outcome {
    std::vector<std::string> findings;  // of the checker, or why the run could not go on
    std::vector<std::string> trace;     // what happened, step by step
};

// `inspect` (if any) sees the accounts once they are judged, while the
// output directory still exists.
Outcome RunSchedule(const Schedule& schedule,
                    const std::function<void(const Accounts&)>& inspect = {});

// The directory the simulations work in: tmpfs where there is one.
std::string WorkDirectory();

}  // namespace simulation
