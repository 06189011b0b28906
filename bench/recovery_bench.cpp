// Recovery at start of what a power cut left in the journals: a journal of
// MB megabytes for each of PORTS ports (text received over three hours, in
// 4 KiB reads), then the start as the logger does it: every port's journal
// opened, settled and written into the data files of its hours.
//
//   recovery_bench [MB] [PORTS]     default 1024 MB, one port
//
// Reports the peak resident memory before and after the recovery (VmHWM),
// the recovery's time, and the bytes that reached the data files.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "acquisition/data_files.h"
#include "acquisition/journal.h"
#include "acquisition/journaled_writing.h"
#include "config/com_config.h"
#include "platform/fake_clock.h"
#include "support/temp_dir.h"
#include "support/test_config.h"

namespace {

using platform::FakeClock;

// The process's peak resident memory so far, in MB (VmHWM).
double PeakResidentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return -1;
}

// Lines of about 40 bytes, as an instrument sends them.
std::string Reading(size_t bytes, uint64_t& line) {
    std::string text;
    while (text.size() < bytes) {
        text += std::to_string(line++) + " 21.50 1013.25 48.1 0.004\r\n";
    }
    text.resize(bytes);
    return text;
}

// A journal that a power cut left: `bytes` of text received from 10:20 to
// 12:40, nothing of it written yet.
void LeaveJournal(const std::string& directory, int port_number, int64_t bytes) {
    constexpr size_t kRead = 4096;
    PortJournal journal(directory.c_str(), port_number, "Bench");
    Leftovers none;
    if (!journal.Open(none)) {
        std::fprintf(stderr, "cannot make the journal of COM%d\n", port_number);
        std::exit(1);
    }
    const int64_t from = FakeClock::EpochMs(2024, 3, 1, 10, 20);
    const int64_t span_ms = 140LL * 60 * 1000;
    const int64_t reads = (bytes + static_cast<int64_t>(kRead) - 1) / static_cast<int64_t>(kRead);
    uint64_t line = 0;
    std::string text = Reading(kRead, line);
    for (int64_t r = 0; r < reads; ++r) {
        if (r % 256 == 0) {
            text = Reading(kRead, line);  // not all the same, not made anew for every read
        }
        journal.Append(text.data(), text.size(), from + span_ms * r / reads);
    }
    journal.Close();
}

int64_t DataFileBytes(const std::string& directory) {
    int64_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().extension().string().rfind(".P", 0) == 0) {
            total += static_cast<int64_t>(entry.file_size());
        }
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 1024;
    const int ports = argc > 2 ? std::atoi(argv[2]) : 1;
    if (megabytes <= 0 || ports < 1 || ports > 99) {
        std::fprintf(stderr, "usage: recovery_bench [MB] [PORTS]\n");
        return 2;
    }
    testing_support::TempDir dir;
    FakeClock clock(FakeClock::EpochMs(2024, 3, 1, 13, 0));
    platform::ClockScope clock_scope(clock);
    std::vector<testing_support::TestPort> list;
    for (int p = 1; p <= ports; ++p) {
        list.push_back(testing_support::Port(p, "Bench"));
    }
    ComConfig config = testing_support::MakeTestConfig(dir.path(), 15, list);

    const auto bytes = static_cast<int64_t>(megabytes * 1024 * 1024);
    const auto write_start = std::chrono::steady_clock::now();
    for (int p = 1; p <= ports; ++p) {
        LeaveJournal(dir.path(), p, bytes);
    }
    const std::chrono::duration<double> writing = std::chrono::steady_clock::now() - write_start;
    const double peak_before = PeakResidentMb();

    const auto start = std::chrono::steady_clock::now();
    {
        ReceivedTextJournal journal(config);
        DataFileWriter writer(config);
        StartJournaledWriting(journal, writer, config.OutputDriveAndPath);
        StopJournaledWriting(journal, writer);
    }
    const std::chrono::duration<double> recovery = std::chrono::steady_clock::now() - start;
    const double peak_after = PeakResidentMb();

    const int64_t archived = DataFileBytes(dir.path());
    int64_t left = 0;
    for (int p = 1; p <= ports; ++p) {
        left +=
            static_cast<int64_t>(std::filesystem::file_size(JournalPath(dir.path().c_str(), p)));
    }
    std::printf(
        "recovery: %d port(s) x %.0f MB of journal (written in %.1f s); recovery %.1f s "
        "(%.0f MB/s); peak resident memory %.1f MB before it, %.1f MB after; %lld bytes in the "
        "data files (%lld of text), %lld bytes left in the journals\n",
        ports, megabytes, writing.count(), recovery.count(), megabytes * ports / recovery.count(),
        peak_before, peak_after, static_cast<long long>(archived),
        static_cast<long long>(bytes * ports), static_cast<long long>(left));
    FreeComConfig(config);
    return archived >= bytes * ports ? 0 : 1;
}
