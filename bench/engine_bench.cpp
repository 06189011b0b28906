// Figures of the acquisition engine (Linux: pty instruments).
//
//   engine_bench idle   [SECONDS]   nine open ports, no data: CPU of the process
//   engine_bench ingest [SECONDS]   nine ports streaming at 921600 baud (92160 bytes/s
//                                   each) through ptys: CPU of the acquisition thread
//                                   outside the flush, then the flush, then every
//                                   archived byte compared with what was sent
//   engine_bench flush  [MB]        the data files and statistics of one hour of nine
//                                   ports at 115200 baud (about 41 MB each)
//   engine_bench loss-hour [SECONDS] eight ports at the byte rate of 115200 baud and a
//                                   silent hygrometer, in real time through an hour end
//                                   (the exchange's three 5-second time-outs): bytes the
//                                   lines refused, bytes archived
//   engine_bench loss-fast [MINUTES] nine ports at 921600 baud's byte rate, one-minute
//                                   periods, in real time: bytes refused and archived
//   engine_bench memory [MB]         nine ports, MB each (default 332: an hour at
//                                   921600 baud's byte rate) in one 60-minute period,
//                                   then its end while UART-like writers go on at that
//                                   rate: peak memory, the flush's time, bytes the lines
//                                   refused, the longest time a receive queue was more
//                                   than half full
//   engine_bench reconnect [TRIES]   a device unplugged and plugged in again behind its
//                                   stable name, in real time: the time from its return
//                                   to the port being open again
//
// The loss runs write like UARTs without flow control (tests/support/uart_writer.h):
// each byte a pty refuses is lost and counted. They run on a clock whose calendar
// starts where the run needs it and then goes on in real time.
//   engine_bench journal [SECONDS]  nine ports at 115200 baud, without and with the
//                                   journal of received text: CPU of the acquisition
//                                   thread per MB, journal writes and syncs per second
//   engine_bench burst [MB] [HOLD_S] MB (default 500) through a pty as fast as it takes
//                                   them, by a writer that waits while the line is
//                                   full, while the acquisition thread is held HOLD_S
//                                   seconds (default 30): bytes lost, bytes archived
//
// The engine runs under a fake clock that stands still while data streams, so
// the whole stream is one period and its flush happens when the clock is
// moved to the period's end. An hour at 921600 baud is 332 MB a port; the
// ingest run streams SECONDS of it (default 30) and reports rates, which do
// not depend on the length.
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "acquisition/acquisition_thread.h"
#include "acquisition/data_files.h"
#include "acquisition/journal.h"
#include "acquisition/port_buffers.h"
#include "acquisition/statistics.h"
#include "acquisition/status.h"
#include "instruments.h"
#include "log/log_file.h"
#include "platform/fake_clock.h"
#include "platform/ioport.h"
#include "platform/posix/comm_device.h"
#include "pty_pair.h"
#include "support/engine_probe.h"
#include "support/temp_dir.h"
#include "support/test_config.h"
#include "support/uart_writer.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr int kPorts = 9;

double Seconds(SteadyClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto s = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec * 1e-6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

// Watches the acquisition thread from inside: its CPU time at every pass and
// around every flush, and what the ports have delivered.
class Meter final : public AcquisitionProbe {
public:
    void OnPass(const int64_t* received, int count) override {
        const double cpu = ThreadCpuSeconds();
        std::lock_guard<std::mutex> lock(mutex_);
        received_.assign(received, received + count);
        last_pass_cpu_ = cpu;
        last_pass_wall_ = SteadyClock::now();
        ++passes_;
        changed_.notify_all();
    }
    void OnFlush(int flushes) override {
        const double cpu = ThreadCpuSeconds();
        std::lock_guard<std::mutex> lock(mutex_);
        flush_cpu_ = cpu - last_pass_cpu_;
        flush_wall_ = Seconds(SteadyClock::now() - last_pass_wall_);
        flushes_ = flushes;
        changed_.notify_all();
    }
    template <typename Condition>
    void WaitFor(Condition condition) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return condition(*this); });
    }
    double last_pass_cpu() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_pass_cpu_;
    }
    int64_t passes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return passes_;
    }

    std::vector<int64_t> received_;
    int64_t passes_ = 0;
    int flushes_ = 0;
    double last_pass_cpu_ = 0;
    SteadyClock::time_point last_pass_wall_;
    double flush_cpu_ = 0;
    double flush_wall_ = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// A calendar that starts at a chosen time and goes on in real time.
class RealRateClock final : public platform::Clock {
public:
    explicit RealRateClock(int64_t start_epoch_ms)
        : start_ms_(start_epoch_ms), start_(SteadyClock::now()) {}
    int64_t EpochMs() const {
        return start_ms_ +
               std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start_)
                   .count();
    }
    int64_t Now() override { return EpochMs() / 1000; }
    platform::SystemTime UtcNow() override {
        const int64_t ms = EpochMs();
        return platform::ToSystemTime(ms / 1000, static_cast<int>(ms % 1000));
    }
    uint32_t TickCount() override { return static_cast<uint32_t>(EpochMs()); }

private:
    int64_t start_ms_;
    SteadyClock::time_point start_;
};

// Counts the watchdog's kicks: each writes 0x70 to the control port once.
class KickCounter final : public platform::IoPorts {
public:
    std::string RequestAccess(uint16_t, int) override { return ""; }
    void Write(uint16_t port, uint8_t value) override {
        if (port == 0x373 && value == 0x70) {
            ++kicks;
        }
    }
    std::atomic<int64_t> kicks{0};
};

struct Station {
    testing_support::TempDir dir;
    platform::FakeClock clock{platform::FakeClock::EpochMs(2024, 3, 1, 10, 0, 0, 0)};
    std::vector<std::unique_ptr<sim::PtyPair>> ptys;
    Meter meter;

    explicit Station(int watchdog = 0) {
        platform::SetClock(&clock);
        std::vector<testing_support::TestPort> ports;
        for (int i = 0; i < kPorts; ++i) {
            ptys.push_back(std::make_unique<sim::PtyPair>());
            ports.push_back(testing_support::Port(i + 1, "Bench").WithDevice(ptys.back()->path()));
        }
        com = testing_support::MakeTestConfig(dir.path(), 60, ports, watchdog);
        SetAcquisitionProbe(&meter);
        StartAcquisitionThread(nullptr);
        meter.WaitFor([](Meter& m) { return m.passes_ > 0; });
    }
    ~Station() {
        StopAcquisitionThread();
        SetAcquisitionProbe(nullptr);
        FreeComConfig(com);
        platform::SetClock(nullptr);
    }
};

int Idle(double seconds) {
    KickCounter board;
    platform::IoPortsScope board_scope(board);
    Station station(0x370);
    const int64_t passes_before = station.meter.passes();
    const int64_t kicks_before = board.kicks.load();
    const double cpu_before = ProcessCpuSeconds();
    const auto wall_before = SteadyClock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = ProcessCpuSeconds() - cpu_before;
    const double wall = Seconds(SteadyClock::now() - wall_before);
    const int64_t passes = station.meter.passes() - passes_before;
    const int64_t kicks = board.kicks.load() - kicks_before;
    std::printf(
        "idle: %d open ports, no data, %.1f s: CPU %.3f %% of one core, %.1f passes/s, %.1f "
        "watchdog kicks/s\n",
        kPorts, wall, 100.0 * cpu / wall, static_cast<double>(passes) / wall,
        static_cast<double>(kicks) / wall);
    return 0;
}

// What streaming into a station measured.
struct StreamRun {
    double wall = 0;          // seconds from the first byte until the thread had them all
    double cpu = 0;           // acquisition thread CPU over that time
    int64_t bytes = 0;        // sent, all ports
    int lost = 0;             // ports whose data file after the flush lacks what was sent
    JournalActivity journal;  // what the journals did over that time
};

// Streams `bytes_per_second` into every port for `seconds`, waits until the
// thread has it all, then ends the period and compares the files. With
// `clock_runs`, the fake clock moves on with real time (inside the period), so
// that what the engine does once a second happens.
StreamRun Stream(Station& station, int64_t bytes_per_second, double seconds, bool clock_runs) {
    const sim::NumericInstrument instrument(sim::RecordShape{});
    std::vector<std::string> sent(kPorts);
    const double cpu_before = station.meter.last_pass_cpu();
    const JournalActivity journal_before = ReadJournalActivity();
    const auto start = SteadyClock::now();
    std::vector<std::thread> writers;
    for (int p = 0; p < kPorts; ++p) {
        writers.emplace_back([&, p] {
            // 10 ms slices at the line rate.
            const auto slice = std::chrono::milliseconds(10);
            const int64_t total = static_cast<int64_t>(seconds * bytes_per_second);
            auto next = start;
            uint64_t record = static_cast<uint64_t>(p) << 40;
            std::string pending;
            for (int64_t done = 0; done < total;) {
                const int64_t due = std::min<int64_t>(total - done, bytes_per_second / 100);
                while (static_cast<int64_t>(pending.size()) < due) {
                    pending += instrument.Record(record++);
                }
                station.ptys[static_cast<size_t>(p)]->Write(
                    std::string_view(pending).substr(0, static_cast<size_t>(due)));
                sent[static_cast<size_t>(p)].append(pending, 0, static_cast<size_t>(due));
                pending.erase(0, static_cast<size_t>(due));
                done += due;
                next += slice;
                if (clock_runs && p == 0) {
                    station.clock.AdvanceMs(10);
                }
                std::this_thread::sleep_until(next);
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    station.meter.WaitFor([&](Meter& m) {
        for (int p = 0; p < kPorts; ++p) {
            if (m.received_.size() < kPorts ||
                m.received_[static_cast<size_t>(p)] <
                    static_cast<int64_t>(sent[static_cast<size_t>(p)].size())) {
                return false;
            }
        }
        return true;
    });
    StreamRun run;
    run.wall = Seconds(SteadyClock::now() - start);
    run.cpu = station.meter.last_pass_cpu() - cpu_before;
    const JournalActivity journal_after = ReadJournalActivity();
    run.journal = {journal_after.writes - journal_before.writes,
                   journal_after.syncs - journal_before.syncs};
    station.clock.Set(2024, 3, 1, 11, 0, 0, 0);  // the period's end: flush
    station.meter.WaitFor([](Meter& m) { return m.flushes_ >= 1; });
    for (int p = 0; p < kPorts; ++p) {
        char name[32];
        std::snprintf(name, sizeof name, "2406110.P%02d", p + 1);
        const std::string file = testing_support::ReadFile(station.dir.File(name));
        const std::string& text = sent[static_cast<size_t>(p)];
        run.bytes += static_cast<int64_t>(text.size());
        // instrument line, start marker, the text, end marker
        if (file.find(text) == std::string::npos) {
            ++run.lost;
        }
    }
    return run;
}

int Ingest(double seconds) {
    constexpr int64_t kBytesPerSecond = 921600 / 10;
    Station station;
    const StreamRun run = Stream(station, kBytesPerSecond, seconds, false);
    std::printf(
        "ingest: %d ports x %lld bytes/s for %.1f s (%.1f MB): acquisition thread CPU %.2f %% of "
        "one "
        "core outside the flush\n",
        kPorts, static_cast<long long>(kBytesPerSecond), run.wall,
        static_cast<double>(run.bytes) / 1e6, 100.0 * run.cpu / run.wall);
    std::printf(
        "ingest: flush of %.1f MB: %.3f s (CPU %.3f s); ports whose file differs from what was "
        "sent: "
        "%d of %d\n",
        static_cast<double>(run.bytes) / 1e6, station.meter.flush_wall_, station.meter.flush_cpu_,
        run.lost, kPorts);
    return run.lost == 0 ? 0 : 1;
}

// The journal's cost: nine ports at 115200 baud, once with the journal and
// once without it, the clock running with real time.
int JournalCost(double seconds) {
    constexpr int64_t kBytesPerSecond = 115200 / 10;
    int lost = 0;
    double cpu_per_mb[2] = {};
    for (const bool journal : {false, true}) {
        SetReceivedTextJournalEnabled(journal);
        StreamRun run;
        {
            Station station;
            run = Stream(station, kBytesPerSecond, seconds, true);
        }
        const double mb = static_cast<double>(run.bytes) / 1e6;
        cpu_per_mb[journal ? 1 : 0] = run.cpu / mb;
        lost += run.lost;
        std::printf(
            "journal %-3s: %d ports x %lld bytes/s for %.1f s (%.2f MB): acquisition thread CPU "
            "%.2f %% of one core, %.1f ms per MB; journal %.0f writes/s, %.1f syncs/s\n",
            journal ? "on" : "off", kPorts, static_cast<long long>(kBytesPerSecond), run.wall, mb,
            100.0 * run.cpu / run.wall, 1000.0 * run.cpu / mb,
            static_cast<double>(run.journal.writes) / run.wall,
            static_cast<double>(run.journal.syncs) / run.wall);
    }
    SetReceivedTextJournalEnabled(true);
    std::printf(
        "journal: CPU per MB with the journal %+.0f %% of without; ports that lost text: %d\n",
        100.0 * (cpu_per_mb[1] / cpu_per_mb[0] - 1.0), lost);
    return lost == 0 ? 0 : 1;
}

int Flush(double megabytes) {
    testing_support::TempDir dir;
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 3, 1, 11, 0, 0, 0));
    platform::SetClock(&clock);
    std::vector<testing_support::TestPort> ports;
    for (int i = 0; i < kPorts; ++i) {
        ports.push_back(testing_support::Port(i + 1, "Bench").WithStats('\n'));
    }
    ComConfig config = testing_support::MakeTestConfig(dir.path(), 60, ports);
    for (int p = 0; p < kPorts; ++p) {  // five numeric fields summarised per port
        config.NumTokenIndices[p] = 5;
        for (int j = 0; j < 5; ++j) {
            config.TokenIndicesForStatistics[p][j] = j;
            config.ErrorCheckingTokenIndices[p][j] = 0;
            config.ErrorValuesPerTokenIndex[p][j] = -1e9;
            std::snprintf(config.TokenLabelsForStatistics[p][j], 500, "F%d", j);
        }
    }
    const sim::NumericInstrument instrument(sim::RecordShape{5, "\r\n", 0, 0, 7});
    const auto size = static_cast<size_t>(megabytes * 1e6);
    std::vector<std::string> texts(kPorts);
    uint64_t record = 0;
    for (auto& text : texts) {
        text.reserve(size + 64);
        while (text.size() < size) {
            text += instrument.Record(record++);
        }
    }
    std::vector<char*> buffers;
    std::vector<int32_t> lengths;
    for (auto& text : texts) {
        buffers.push_back(text.data());
        lengths.push_back(static_cast<int32_t>(text.size()));
    }
    const auto start = SteadyClock::now();
    DataFileWriter writer(config);
    const FlushContext context{platform::BreakDownUtc(clock.Now() - 3600), true, true};
    for (int p = 0; p < kPorts; ++p) {
        writer.WritePort(context,
                         {p, buffers[static_cast<size_t>(p)], lengths[static_cast<size_t>(p)],
                          platform::ToSystemTime(clock.Now() - 3600), platform::UtcNow(), ""});
    }
    const double files = Seconds(SteadyClock::now() - start);
    const StatisticsPeriod period{platform::BreakDownUtc(clock.Now() - 3600), clock.Now() - 3600,
                                  clock.Now()};
    CalculateDiagnosticStatistics(config, period, buffers.data(), lengths.data());
    const double total = Seconds(SteadyClock::now() - start);
    const double all_mb = megabytes * kPorts;
    std::printf(
        "flush: %d ports x %.1f MB: data files %.3f s (%.0f MB/s), statistics %.3f s (%.0f MB/s), "
        "total %.3f s\n",
        kPorts, megabytes, files, all_mb / files, total - files, all_mb / (total - files), total);
    FreeComConfig(config);
    platform::SetClock(nullptr);
    return 0;
}

// Text for a loss run: numbered records that end in CR only, so a data file's
// lines are its instrument line, its markers and the received text.
std::string LossRecords(int port, size_t bytes) {
    std::string text;
    text.reserve(bytes + 64);
    for (uint64_t n = 0; text.size() < bytes; ++n) {
        text += std::to_string(port) + " " + std::to_string(n) + " 21.50 1013.25 48.1\r";
    }
    text.resize(bytes);
    return text;
}

// The received text of every data file of a port, in file-name order.
std::string ArchivedText(const std::string& directory, int port) {
    std::vector<std::string> names;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".P%02d", port);
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, suffix) == 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) {
        const std::string file = testing_support::ReadFile(directory + "/" + name);
        size_t at = file.find('\n') + 1;
        while (at < file.size()) {
            const size_t end = file.find('\n', at);
            const std::string line = file.substr(at, end - at);
            const bool marker =
                line.size() > 22 && (line.compare(line.size() - 9, 9, "StartTime") == 0 ||
                                     line.compare(line.size() - 7, 7, "EndTime") == 0);
            if (!marker) {
                text += line;
            }
            at = end + 1;
        }
    }
    return text;
}

// A loss run: `streams` ports written like UARTs at `rate` bytes/s for
// `seconds` of real time, on ports set to `baud`; `hygrometers` more ports,
// whose instruments never answer, ask for their constants on the hour.
int LossRun(const char* name, int streams, int baud, double rate, double seconds,
            int period_minutes, int hygrometers, int64_t start_epoch_ms) {
    testing_support::TempDir dir;
    RealRateClock clock(start_epoch_ms);
    platform::SetClock(&clock);
    std::vector<std::unique_ptr<sim::PtyPair>> ptys;
    std::vector<testing_support::TestPort> ports;
    for (int i = 0; i < streams + hygrometers; ++i) {
        ptys.push_back(std::make_unique<sim::PtyPair>());
        auto port =
            testing_support::Port(i + 1, "Bench").WithDevice(ptys.back()->path()).WithBaud(baud);
        if (i >= streams) {
            port.WithAcquisition(INIT_GETOPHIRCONSTANTS);
        }
        ports.push_back(port);
    }
    com = testing_support::MakeTestConfig(dir.path(), period_minutes, ports);
    Meter meter;
    SetAcquisitionProbe(&meter);
    StartAcquisitionThread(nullptr);
    meter.WaitFor([](Meter& m) { return m.passes_ > 0; });
    const double cpu_before = ProcessCpuSeconds();
    std::vector<std::unique_ptr<testing_support::UartWriter>> writers;
    const auto bytes = static_cast<size_t>(rate * seconds);
    for (int i = 0; i < streams; ++i) {
        writers.push_back(std::make_unique<testing_support::UartWriter>(
            ptys[static_cast<size_t>(i)]->master_fd(), LossRecords(i + 1, bytes), rate));
        writers.back()->Start();
    }
    for (auto& writer : writers) {
        writer->Finish();
    }
    meter.WaitFor([&](Meter& m) {
        for (int i = 0; i < streams; ++i) {
            if (m.received_.size() < ports.size() ||
                m.received_[static_cast<size_t>(i)] <
                    static_cast<int64_t>(writers[static_cast<size_t>(i)]->Accepted().size())) {
                return false;
            }
        }
        return true;
    });
    StopAcquisitionThread();
    const double cpu = ProcessCpuSeconds() - cpu_before;
    SetAcquisitionProbe(nullptr);
    int64_t refused = 0;
    double first_refusal = -1;
    double last_refusal = -1;
    int64_t archived = 0;
    int64_t offered = 0;
    int differ = 0;
    for (int i = 0; i < streams; ++i) {
        const auto& writer = *writers[static_cast<size_t>(i)];
        refused += writer.refused();
        if (writer.refused() > 0) {
            first_refusal = first_refusal < 0 ? writer.first_refusal()
                                              : std::min(first_refusal, writer.first_refusal());
            last_refusal = std::max(last_refusal, writer.last_refusal());
        }
        offered += static_cast<int64_t>(writer.size());
        const std::string text = ArchivedText(dir.path(), i + 1);
        archived += static_cast<int64_t>(text.size());
        differ += text == writer.Accepted() ? 0 : 1;
    }
    const std::string log = testing_support::ReadFile(LogFilePath(dir.path().c_str(), clock.Now()));
    int overflows = 0;
    for (size_t at = log.find("  16  "); at != std::string::npos; at = log.find("  16  ", at + 1)) {
        ++overflows;
    }
    int steps = 0;
    for (size_t at = log.find("  36  "); at != std::string::npos; at = log.find("  36  ", at + 1)) {
        ++steps;
    }
    std::printf(
        "%s: %d ports x %.0f bytes/s (baud %d) for %.0f s%s: offered %lld bytes, refused by "
        "the lines %lld, archived %lld, ports whose archive differs from what the line took %d, "
        "overflow entries %d, clock-step entries %d; process CPU %.2f %% of one core\n",
        name, streams, rate, baud, seconds,
        hygrometers > 0 ? (" with " + std::to_string(hygrometers) + " silent hygrometers").c_str()
                        : "",
        static_cast<long long>(offered), static_cast<long long>(refused),
        static_cast<long long>(archived), differ, overflows, steps, 100.0 * cpu / seconds);
    if (refused > 0) {
        std::printf("%s: the lines refused bytes from %.3f s to %.3f s of the run\n", name,
                    first_refusal, last_refusal);
    }
    double paused = 0;
    for (const auto& writer : writers) {
        paused = std::max(paused, writer->paused_seconds());
    }
    if (paused > 0) {
        std::printf("%s: a writer without the processor paused its instrument for %.3f s\n", name,
                    paused);
    }
    FreeComConfig(com);
    com = ComConfig{};
    platform::SetClock(nullptr);
    return refused == 0 && differ == 0 ? 0 : 1;
}

// Tells when "Ports currently open:" was last drawn with a given value.
class PortsOpenWatch final : public StatusObserver {
public:
    void OnStatusDrawn(const std::vector<StatusDraw>& block) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const StatusDraw& draw : block) {
            if (draw.index == kStatusPortsOpen) {
                shown_ = draw.text.substr(0, draw.text.find(' '));
                changed_.notify_all();
            }
        }
    }
    void WaitFor(const std::string& value) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return shown_ == value; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string shown_;
};

int Reconnect(int tries) {
    testing_support::TempDir dir;
    RealRateClock clock(platform::FakeClock::EpochMs(2024, 3, 1, 10, 0, 0));
    platform::SetClock(&clock);
    const std::string link = dir.path() + "-instrument";
    auto plug = [&link] {
        auto pty = std::make_unique<sim::PtyPair>();
        std::filesystem::remove(link + ".new");
        std::filesystem::create_symlink(pty->path(), link + ".new");
        std::filesystem::rename(link + ".new", link);
        return pty;
    };
    auto pty = plug();
    com = testing_support::MakeTestConfig(dir.path(), 60,
                                          {testing_support::Port(1, "Bench").WithDevice(link)});
    PortsOpenWatch watch;
    StartAcquisitionThread(&watch);
    watch.WaitFor("COM1");
    std::vector<double> seconds;
    for (int n = 0; n < tries; ++n) {
        pty.reset();
        watch.WaitFor("None");
        pty = plug();
        const auto back = SteadyClock::now();
        watch.WaitFor("COM1");
        seconds.push_back(Seconds(SteadyClock::now() - back));
    }
    StopAcquisitionThread();
    FreeComConfig(com);
    com = ComConfig{};
    platform::SetClock(nullptr);
    std::filesystem::remove(link);
    std::sort(seconds.begin(), seconds.end());
    std::printf(
        "reconnect: %d tries, from the device's return to the port open again: median %.3f s, "
        "fastest %.3f s, slowest %.3f s\n",
        tries, seconds[seconds.size() / 2], seconds.front(), seconds.back());
    return 0;
}

// Whole CR-ended records of about 40 bytes, `bytes` long in all.
std::string Chunk(int port, size_t bytes, uint64_t& record) {
    std::string text;
    text.reserve(bytes + 64);
    while (text.size() < bytes) {
        text += std::to_string(port) + " " + std::to_string(record++) + " 21.50 1013.25 48.1\r";
    }
    text.resize(bytes);
    return text;
}

int MemoryRun(double megabytes) {
    testing_support::TempDir dir;
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 3, 1, 10, 0, 0));
    platform::SetClock(&clock);
    std::vector<std::unique_ptr<sim::PtyPair>> ptys;
    std::vector<testing_support::TestPort> ports;
    for (int i = 0; i < kPorts; ++i) {
        ptys.push_back(std::make_unique<sim::PtyPair>());
        ports.push_back(testing_support::Port(i + 1, "Bench")
                            .WithDevice(ptys.back()->path())
                            .WithBaud(256000)
                            .WithStats('\r'));
    }
    com = testing_support::MakeTestConfig(dir.path(), 60, ports);
    for (int p = 0; p < kPorts; ++p) {  // three numeric fields summarised per port
        com.NumTokenIndices[p] = 3;
        for (int j = 0; j < 3; ++j) {
            com.TokenIndicesForStatistics[p][j] = j + 1;
            com.ErrorCheckingTokenIndices[p][j] = 0;
            com.ErrorValuesPerTokenIndex[p][j] = -1e9;
            std::snprintf(com.TokenLabelsForStatistics[p][j], 500, "F%d", j);
        }
    }
    Meter meter;
    SetAcquisitionProbe(&meter);
    StartAcquisitionThread(nullptr);
    meter.WaitFor([](Meter& m) { return m.passes_ > 0; });

    // The period's text, as fast as the ptys take it, a quarter megabyte a
    // port at a time.
    const auto fill_start = SteadyClock::now();
    const auto per_port = static_cast<int64_t>(megabytes * 1e6);
    constexpr size_t kChunk = 256 * 1024;
    std::vector<int64_t> sent(kPorts, 0);
    std::vector<uint64_t> records(kPorts, 0);
    for (int64_t done = 0; done < per_port; done += kChunk) {
        for (int p = 0; p < kPorts; ++p) {
            const std::string chunk = Chunk(p + 1, kChunk, records[static_cast<size_t>(p)]);
            ptys[static_cast<size_t>(p)]->Write(chunk);
            sent[static_cast<size_t>(p)] += static_cast<int64_t>(chunk.size());
        }
        meter.WaitFor([&](Meter& m) {
            for (int p = 0; p < kPorts; ++p) {
                if (m.received_.size() < kPorts ||
                    m.received_[static_cast<size_t>(p)] < sent[static_cast<size_t>(p)]) {
                    return false;
                }
            }
            return true;
        });
    }
    const double fill = Seconds(SteadyClock::now() - fill_start);

    // The period's end, while the instruments go on at their line rate.
    platform::posix::ResetLongestHalfFull();
    constexpr double kRate = 92160;
    constexpr double kStreamSeconds = 45;
    std::vector<std::unique_ptr<testing_support::UartWriter>> writers;
    for (int p = 0; p < kPorts; ++p) {
        writers.push_back(std::make_unique<testing_support::UartWriter>(
            ptys[static_cast<size_t>(p)]->master_fd(),
            Chunk(p + 1, static_cast<size_t>(kRate * kStreamSeconds),
                  records[static_cast<size_t>(p)]),
            kRate, false));
        writers.back()->Start();
    }
    std::this_thread::sleep_for(std::chrono::seconds(5));  // the writers in their stride
    clock.Set(2024, 3, 1, 11, 0, 0, 0);
    meter.WaitFor([](Meter& m) { return m.flushes_ >= 1; });
    const double flush_wall = meter.flush_wall_;
    int64_t refused = 0;
    for (auto& writer : writers) {
        writer->Finish();
        refused += writer->refused();
    }
    const int64_t half_full = platform::posix::LongestHalfFullMs();
    StopAcquisitionThread();
    SetAcquisitionProbe(nullptr);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const std::string log = testing_support::ReadFile(LogFilePath(dir.path().c_str(), clock.Now()));
    int overflows = 0;
    for (size_t at = log.find("  16  "); at != std::string::npos; at = log.find("  16  ", at + 1)) {
        ++overflows;
    }
    int64_t archived = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().extension().string().rfind(".P", 0) == 0) {
            archived += static_cast<int64_t>(entry.file_size());
        }
    }
    int64_t offered = 0;
    for (int p = 0; p < kPorts; ++p) {
        offered += sent[static_cast<size_t>(p)] +
                   static_cast<int64_t>(writers[static_cast<size_t>(p)]->size());
    }
    std::printf(
        "memory: %d ports x %.0f MB in one period (filled in %.1f s); its end while the lines "
        "stream at %.0f bytes/s: flush %.1f s, longest time a receive queue was more than half "
        "full %lld ms, bytes refused by the lines %lld, overflow entries %d; peak resident "
        "memory %.0f MB; %lld bytes offered, %lld in the data files (with their markers)\n",
        kPorts, megabytes, fill, kRate, flush_wall, static_cast<long long>(half_full),
        static_cast<long long>(refused), overflows, static_cast<double>(usage.ru_maxrss) / 1024.0,
        static_cast<long long>(offered), static_cast<long long>(archived));
    FreeComConfig(com);
    com = ComConfig{};
    platform::SetClock(nullptr);
    return refused == 0 && overflows == 0 ? 0 : 1;
}

// 64-bit FNV-1a, continued over pieces.
uint64_t Fnv1a(uint64_t hash, const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ static_cast<unsigned char>(data[i])) * 0x100000001b3ull;
    }
    return hash;
}
constexpr uint64_t kFnvStart = 0xcbf29ce484222325ull;

// The received text of a data file whose records end in CR only: what lies
// between its start marker's line end and the next line end. Its length and
// hash, read a piece at a time.
std::pair<int64_t, uint64_t> ArchivedTextHash(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return {0, kFnvStart};
    }
    std::vector<char> piece(1 << 22);
    int line_ends = 0;
    int64_t length = 0;
    uint64_t hash = kFnvStart;
    while (line_ends < 3) {
        const size_t got = std::fread(piece.data(), 1, piece.size(), file);
        if (got == 0) {
            break;
        }
        size_t at = 0;
        while (at < got && line_ends < 3) {
            if (line_ends < 2) {
                const char* end =
                    static_cast<const char*>(std::memchr(piece.data() + at, '\n', got - at));
                if (end == nullptr) {
                    break;
                }
                ++line_ends;
                at = static_cast<size_t>(end - piece.data()) + 1;
                continue;
            }
            const char* end =
                static_cast<const char*>(std::memchr(piece.data() + at, '\n', got - at));
            const size_t stop = end == nullptr ? got : static_cast<size_t>(end - piece.data());
            hash = Fnv1a(hash, piece.data() + at, stop - at);
            length += static_cast<int64_t>(stop - at);
            at = stop;
            if (end != nullptr) {
                ++line_ends;
            }
        }
    }
    std::fclose(file);
    return {length, hash};
}

// The log entries with a given code, without their time stamps.
std::vector<std::string> EntriesWithCode(const std::string& log, const char* code) {
    std::vector<std::string> found;
    const std::string mark = std::string("  ") + code + "  ";
    for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
        const size_t end = log.find('\n', at);
        found.push_back(log.substr(at + 2, end == std::string::npos ? end : end - at - 2));
    }
    return found;
}

// A burst through a pty, written as fast as the pty takes it by a writer that
// waits while the line is full (as a USB instrument or a network bridge
// does), while the acquisition thread stands still for `hold_seconds`: the
// bytes lost (the goal is none) and archived.
int BurstRun(double megabytes, double hold_seconds) {
    testing_support::TempDir dir;
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 3, 1, 10, 0, 0));
    platform::SetClock(&clock);
    sim::PtyPair pty;
    constexpr int kBaud = 256000;  // the fastest the driver accepts: a 1536000-byte queue
    com = testing_support::MakeTestConfig(
        dir.path(), 60, {testing_support::Port(1, "Bench").WithDevice(pty.path()).WithBaud(kBaud)});
    // Holds the acquisition thread still in a pass, as a logger busy elsewhere
    // (an exchange that does not end, a disk that does not answer) would stand.
    engine_testing::Probe meter;
    SetAcquisitionProbe(&meter);
    StartAcquisitionThread(nullptr);

    const auto total = static_cast<int64_t>(megabytes * 1e6);
    int64_t sent = 0;
    uint64_t sent_hash = kFnvStart;
    double write_seconds = 0;
    meter.Hold();  // after the start-up: the port is open
    if (!meter.WaitUntilHeld()) {
        std::fprintf(stderr, "the acquisition thread made no pass\n");
        return 1;
    }
    const auto start = SteadyClock::now();
    std::thread writer([&] {
        uint64_t record = 0;
        constexpr size_t kChunk = 256 * 1024;
        while (sent < total) {
            const std::string chunk =
                Chunk(1, static_cast<size_t>(std::min<int64_t>(kChunk, total - sent)), record);
            pty.Write(chunk);
            sent_hash = Fnv1a(sent_hash, chunk.data(), chunk.size());
            sent += static_cast<int64_t>(chunk.size());
        }
        write_seconds = Seconds(SteadyClock::now() - start);
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(hold_seconds));
    const int paused_at_release = platform::posix::PausedDevices();
    meter.Release();
    writer.join();
    if (!meter.WaitFor([&] { return meter.received_locked(0) >= sent; },
                       std::chrono::minutes(10))) {
        std::fprintf(stderr, "the port did not deliver what was sent\n");
    }
    const double receive_seconds = Seconds(SteadyClock::now() - start);
    clock.Set(2024, 3, 1, 11, 0, 0, 0);  // the period's end
    if (!meter.WaitForFlushes(1)) {
        std::fprintf(stderr, "the period did not end\n");
    }
    StopAcquisitionThread();
    SetAcquisitionProbe(nullptr);

    const auto [archived, archived_hash] = ArchivedTextHash(dir.File("2406110.P01"));
    const std::string log = testing_support::ReadFile(LogFilePath(dir.path().c_str(), clock.Now()));
    int64_t reported_lost = 0;
    for (const std::string& entry : EntriesWithCode(log, "31")) {
        reported_lost += std::atoll(entry.c_str() + 4);
    }
    const auto overflows = EntriesWithCode(log, "16");
    const auto waits = EntriesWithCode(log, "40");
    const bool whole = archived == sent && archived_hash == sent_hash;
    std::printf(
        "burst: %.0f MB through a pty (baud %d, receive queue %u bytes) by a writer that waits "
        "while the line is full, the acquisition thread held %.0f s from the start: written in "
        "%.1f s, all received after %.1f s; devices waiting at the release %d\n",
        megabytes, kBaud, ReceiveQueueSizeFor(kBaud), hold_seconds, write_seconds, receive_seconds,
        paused_at_release);
    std::printf(
        "burst: bytes sent %lld, archived %lld, lost %lld (entries 16: %zu, 31: %lld bytes); "
        "archive %s what was sent\n",
        static_cast<long long>(sent), static_cast<long long>(archived),
        static_cast<long long>(sent - archived), overflows.size(),
        static_cast<long long>(reported_lost), whole ? "byte for byte" : "DIFFERS from");
    for (const std::string& entry : waits) {
        std::printf("burst: log: %s\n", entry.c_str());
    }
    FreeComConfig(com);
    com = ComConfig{};
    platform::SetClock(nullptr);
    return whole && overflows.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    const double amount = argc > 2 ? std::atof(argv[2]) : 0;
    if (what == "idle") {
        return Idle(amount > 0 ? amount : 10);
    }
    if (what == "ingest") {
        return Ingest(amount > 0 ? amount : 30);
    }
    if (what == "flush") {
        return Flush(amount > 0 ? amount : 41.5);
    }
    if (what == "loss-hour") {
        // 115200 baud's byte rate on ports set to 57600 baud, whose queues
        // hold 60 s of their own line rate (30 s of this stream); starts 30 s
        // before the hour.
        const double seconds = amount > 0 ? amount : 60;
        return LossRun("loss-hour", 8, 57600, 11520, seconds, 60, 1,
                       platform::FakeClock::EpochMs(2024, 3, 1, 10, 59, 30));
    }
    if (what == "loss-fast") {
        const double minutes = amount > 0 ? amount : 10;
        return LossRun("loss-fast", kPorts, 256000, 92160, minutes * 60, 1, 0,
                       platform::FakeClock::EpochMs(2024, 3, 1, 10, 0, 30));
    }
    if (what == "loss-hygrometers") {
        // Nine ports at 256000 baud: four stream at the line's full rate, five
        // carry hygrometers that never answer, whose exchanges hold the flush
        // on the hour for 75 s, longer than a receive queue's 60 s and than
        // the 1-minute period. Starts 30 s before the hour.
        const double seconds = amount > 0 ? amount : 150;
        return LossRun("loss-hygrometers", 4, 256000, 25600, seconds, 1, 5,
                       platform::FakeClock::EpochMs(2024, 3, 1, 10, 59, 30));
    }
    if (what == "memory") {
        return MemoryRun(amount > 0 ? amount : 332);
    }
    if (what == "reconnect") {
        return Reconnect(amount > 0 ? static_cast<int>(amount) : 20);
    }
    if (what == "journal") {
        return JournalCost(amount > 0 ? amount : 30);
    }
    if (what == "burst") {
        const double hold = argc > 3 ? std::atof(argv[3]) : 30;
        return BurstRun(amount > 0 ? amount : 500, hold);
    }
    std::fprintf(stderr,
                 "usage: engine_bench idle|ingest|flush|loss-hour|loss-fast|loss-hygrometers|"
                 "reconnect|journal [amount] | burst [MB] [HOLD_SECONDS]\n");
    return 2;
}
