// The period flush's statistics step over a port whose records are all bad:
// a mis-set port or an instrument that sends short lines gives one rejected
// record per line, and each rejection may reach the day's log.
//
//   quorvane-record-log-bench [RECORDS]   default 200000
//
// The statistics run through CalculateDiagnosticStatistics into a real
// directory (statistics file and log), with the watchdog's view of it: no
// kick happens during a flush, so this time is time without a kick. Prints the
// time taken and the number of log lines written.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "acquisition/statistics.h"
#include "platform/clock.h"
#include "platform/fake_clock.h"
#include "support/temp_dir.h"
#include "support/test_config.h"

namespace {

long CountLines(const std::string& text) {
    long lines = 0;
    for (char c : text) {
        lines += c == '\n';
    }
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    const long records = argc > 1 ? std::atol(argv[1]) : 200000;
    if (records <= 0) {
        std::fprintf(stderr, "usage: quorvane-record-log-bench [RECORDS]\n");
        return 2;
    }
    testing_support::TempDir dir;
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 3, 1, 11, 0, 0, 0));
    platform::SetClock(&clock);
    ComConfig config = testing_support::MakeTestConfig(
        dir.path(), 60, {testing_support::Port(3, "Bench").WithStats('\n')});
    // Three fields are summarised; every record has only two (code 28).
    config.NumTokenIndices[0] = 3;
    for (int j = 0; j < 3; ++j) {
        config.TokenIndicesForStatistics[0][j] = j;
        config.ErrorCheckingTokenIndices[0][j] = 0;
        config.ErrorValuesPerTokenIndex[0][j] = -1e9;
        std::snprintf(config.TokenLabelsForStatistics[0][j], 500, "F%d", j);
    }
    std::string text = "\n";
    for (long i = 0; i < records; ++i) {
        text += "1 2\n";
    }
    char* buffers[1] = {text.data()};
    const int32_t lengths[1] = {static_cast<int32_t>(text.size())};
    const StatisticsPeriod period{platform::BreakDownUtc(clock.Now() - 3600), clock.Now() - 3600,
                                  clock.Now()};

    const std::clock_t cpu_start = std::clock();
    const auto wall_start = std::chrono::steady_clock::now();
    CalculateDiagnosticStatistics(config, period, buffers, lengths);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;

    const long log_lines = CountLines(testing_support::ReadFile(dir.File("24061.LOG")));
    std::printf("%ld records, each lacking a listed field: statistics %.3f s (CPU %.3f s), "
                "log lines %ld (3 of them the header)\n",
                records, wall, cpu, log_lines);
    FreeComConfig(config);
    platform::SetClock(nullptr);
    return 0;
}
