// Figures of publishing (Linux: pty instruments, a real Mosquitto broker on
// loopback, mosquitto_sub as the consumer).
//
//   publish_bench cost [SECONDS]     nine ports at 25,600 bytes/s each, in real
//                                    time, once without publishing and once with
//                                    it: the process's CPU per MB both ways, and
//                                    the delay from reception (the record's time)
//                                    to the consumer (median, 99th percentile)
//   publish_bench catchup [MINUTES]  the broker away while nine ports deliver
//                                    MINUTES (default 10) of 25,600 bytes/s each
//                                    (sent ten times faster, the clock moved on
//                                    as far); then the broker returns: the time
//                                    until the publisher is connected again, and
//                                    until the consumer has every record
//
// The process's CPU includes the pty writers that play the instruments; they
// are the same in both runs of `cost`, so the difference is publishing's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "acquisition/acquisition_thread.h"
#include "instruments.h"
#include "platform/fake_clock.h"
#include "publish/publisher.h"
#include "pty_pair.h"
#include "support/engine_probe.h"
#include "support/mqtt_broker.h"
#include "support/temp_dir.h"
#include "support/test_config.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr int kPorts = 9;
constexpr int64_t kBytesPerSecond = 25600;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int64_t RealEpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// mosquitto_sub writing "receive-time topic payload" lines to a file.
class Consumer {
public:
    Consumer(int port, const std::string& file) : file_(file) {
        std::fflush(stdout);  // the child would write what waits in the buffer again
        pid_ = ::fork();
        if (pid_ == 0) {
            const std::string port_text = std::to_string(port);
            std::FILE* out = std::freopen(file.c_str(), "w", stdout);
            (void)out;
            // A session the broker keeps (also across its restart), so that
            // nothing published while the consumer is away passes it by.
            ::execlp("mosquitto_sub", "mosquitto_sub", "-h", "127.0.0.1", "-p", port_text.c_str(),
                     "-q", "1", "-c", "-i", "publish-bench", "-t", "bench/station/+/text", "-F",
                     "%U %t %p", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Consumer() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    // Lines written so far (read on from where the last call stopped).
    int64_t Lines() {
        if (!in_.is_open()) {
            in_.open(file_, std::ios::binary);
        }
        in_.clear();
        char buffer[1 << 16];
        while (in_.read(buffer, sizeof buffer) || in_.gcount() > 0) {
            lines_ += std::count(buffer, buffer + in_.gcount(), '\n');
        }
        return lines_;
    }

private:
    std::string file_;
    std::ifstream in_;
    int64_t lines_ = 0;
    pid_t pid_ = -1;
};

// Whether the broker's log shows the consumer's subscription.
bool Subscribed(const std::string& broker_directory) {
    std::ifstream log(broker_directory + "/mosquitto.log");
    std::string line;
    while (std::getline(log, line)) {
        if (line.find("publish-bench") != std::string::npos &&
            line.find("New client connected") != std::string::npos) {
            return true;
        }
    }
    return false;
}

struct BenchStation {
    testing_support::TempDir dir;
    platform::FakeClock clock{RealEpochMs()};
    std::vector<std::unique_ptr<sim::PtyPair>> ptys;
    engine_testing::Probe probe;
    std::unique_ptr<publish::Publisher> publisher;

    BenchStation(const std::string& publish_to) {
        platform::SetClock(&clock);
        std::vector<testing_support::TestPort> ports;
        for (int i = 0; i < kPorts; ++i) {
            ptys.push_back(std::make_unique<sim::PtyPair>());
            ports.push_back(testing_support::Port(i + 1, "Bench").WithDevice(ptys.back()->path()));
        }
        com = testing_support::MakeTestConfig(dir.path(), 60, ports);
        com.PublishTo = publish_to;
        if (!publish_to.empty()) {
            publisher = std::make_unique<publish::Publisher>(publish::PublisherSettingsOf(com));
            publisher->Start();
        }
        SetAcquisitionProbe(&probe);
        StartAcquisitionThread(nullptr);
        probe.WaitForPasses(1);
    }
    ~BenchStation() {
        StopAcquisitionThread();
        if (publisher != nullptr) {
            publisher->Stop();
        }
        SetAcquisitionProbe(nullptr);
        FreeComConfig(com);
        platform::SetClock(nullptr);
    }

    // Every port gets `seconds` of its byte rate, `speed` times faster than
    // the line, in 10 ms slices; the clock moves on with what was sent.
    // Returns the records sent (each ends in a line end).
    int64_t Stream(double seconds, int speed) {
        const sim::NumericInstrument instrument(sim::RecordShape{});
        std::vector<int64_t> records(kPorts);
        std::vector<std::thread> writers;
        const auto start = SteadyClock::now();
        for (int p = 0; p < kPorts; ++p) {
            writers.emplace_back([&, p] {
                const int64_t per_slice = kBytesPerSecond * speed / 100;
                const auto slices = static_cast<int64_t>(seconds * 100 / speed);
                uint64_t n = static_cast<uint64_t>(p) << 40;
                std::string pending;
                auto next = start;
                for (int64_t slice = 0; slice < slices; ++slice) {
                    while (static_cast<int64_t>(pending.size()) < per_slice) {
                        pending += instrument.Record(n++);
                        ++records[static_cast<size_t>(p)];
                    }
                    // Whole records only, so that none waits for its end.
                    const size_t cut = pending.rfind('\n', static_cast<size_t>(per_slice)) + 1;
                    ptys[static_cast<size_t>(p)]->Write(std::string_view(pending).substr(0, cut));
                    pending.erase(0, cut);
                    if (p == 0) {
                        clock.AdvanceMs(10 * speed);
                    }
                    next += std::chrono::milliseconds(10);
                    std::this_thread::sleep_until(next);
                }
                if (!pending.empty()) {
                    ptys[static_cast<size_t>(p)]->Write(pending);
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
        // The rest of a block goes to the journal once a second of the clock.
        for (int second = 0; second < 2; ++second) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            clock.AdvanceMs(1000);
        }
        int64_t total = 0;
        for (const int64_t count : records) {
            total += count;
        }
        return total;
    }
};

int Cost(double seconds) {
    testing_support::TempDir broker_dir;
    testing_support::MqttBroker broker(broker_dir.path(), {});
    if (!broker.ok()) {
        std::fprintf(stderr, "publish_bench: mosquitto does not start\n");
        return 1;
    }
    const double mb = static_cast<double>(kPorts * kBytesPerSecond) * seconds / 1e6;
    double cpu_per_mb[2] = {};
    for (const bool publishing : {false, true}) {
        const std::string lines = broker_dir.File("received");
        std::unique_ptr<Consumer> consumer;
        if (publishing) {
            consumer = std::make_unique<Consumer>(broker.port(), lines);
        }
        int64_t records = 0;
        double cpu = 0;
        {
            BenchStation station(publishing ? "mqtt://127.0.0.1:" + std::to_string(broker.port()) +
                                                  "/bench/station"
                                            : "");
            const double cpu_before = ProcessCpuSeconds();
            records = station.Stream(seconds, 1);
            cpu = ProcessCpuSeconds() - cpu_before;
        }
        cpu_per_mb[publishing ? 1 : 0] = cpu / mb;
        std::printf("cost: publishing %-3s: %d ports x %lld bytes/s for %.0f s (%.2f MB): CPU %.3f s, "
                    "%.1f ms per MB\n",
                    publishing ? "on" : "off", kPorts, static_cast<long long>(kBytesPerSecond),
                    seconds, mb, cpu, 1000.0 * cpu / mb);
        if (!publishing) {
            continue;
        }
        for (int wait = 0; wait < 300 && consumer->Lines() < records; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        consumer.reset();
        // Delay: the consumer's receive time minus the record's receive time.
        std::vector<double> delays;
        std::ifstream in(lines);
        std::string line;
        while (std::getline(in, line)) {
            const size_t first = line.find(' ');
            const size_t second = line.find(' ', first + 1);
            const double received = std::stod(line.substr(0, first));
            const std::string payload = line.substr(second + 1);
            const auto record = nlohmann::json::parse(payload, nullptr, false);
            if (record.is_discarded()) {
                continue;
            }
            std::tm parts{};
            int millis = 0;
            std::sscanf(record["time"].get<std::string>().c_str(), "%d-%d-%dT%d:%d:%d.%dZ",
                        &parts.tm_year, &parts.tm_mon, &parts.tm_mday, &parts.tm_hour,
                        &parts.tm_min, &parts.tm_sec, &millis);
            parts.tm_year -= 1900;
            parts.tm_mon -= 1;
            const double made = static_cast<double>(timegm(&parts)) + millis / 1000.0;
            delays.push_back(received - made);
        }
        std::sort(delays.begin(), delays.end());
        if (delays.empty()) {
            std::printf("cost: no record reached the consumer\n");
            return 1;
        }
        std::printf("cost: %zu of %lld records reached the consumer; delay from reception: median "
                    "%.0f ms, 99th percentile %.0f ms, most %.0f ms\n",
                    delays.size(), static_cast<long long>(records),
                    1000 * delays[delays.size() / 2], 1000 * delays[delays.size() * 99 / 100],
                    1000 * delays.back());
    }
    std::printf("cost: CPU per MB with publishing %+.0f %% of without\n",
                100.0 * (cpu_per_mb[1] / cpu_per_mb[0] - 1.0));
    return 0;
}

int CatchUp(double minutes) {
    testing_support::TempDir broker_dir;
    testing_support::MqttBroker broker(broker_dir.path(), {});
    const int port = broker.port();
    Consumer consumer(port, broker_dir.File("received"));
    while (consumer.Lines() == 0 && !Subscribed(broker_dir.path())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Its subscription follows the connection at once (a benchmark may wait).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    broker.Stop();  // away from the start; the consumer's session is kept
    BenchStation station("mqtt://127.0.0.1:" + std::to_string(port) + "/bench/station");
    const auto outage_start = SteadyClock::now();
    const int64_t records = station.Stream(minutes * 60, 10);
    std::printf("catchup: %lld records (%.1f MB) of %.0f minutes made while the broker was away "
                "(%.0f s)\n",
                static_cast<long long>(records), kPorts * kBytesPerSecond * minutes * 60 / 1e6,
                minutes, std::chrono::duration<double>(SteadyClock::now() - outage_start).count());
    if (!broker.Restart()) {
        std::fprintf(stderr, "publish_bench: mosquitto does not start again\n");
        return 1;
    }
    const auto back = SteadyClock::now();
    while (!station.publisher->Health().connected &&
           SteadyClock::now() - back < std::chrono::minutes(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double connected = std::chrono::duration<double>(SteadyClock::now() - back).count();
    int64_t lines = 0;
    while ((lines = consumer.Lines()) < records &&
           SteadyClock::now() - back < std::chrono::minutes(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const double done = std::chrono::duration<double>(SteadyClock::now() - back).count();
    std::printf("catchup: the broker back: connected again after %.1f s (the pause between "
                "attempts had grown); %lld of %lld records at the consumer after %.1f s (%.1f s "
                "of sending, %.0f records/s)\n",
                connected, static_cast<long long>(lines), static_cast<long long>(records), done,
                done - connected, static_cast<double>(lines) / (done - connected));
    return lines >= records ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const double amount = argc > 2 ? std::stod(argv[2]) : 0;
    if (mode == "cost") {
        return Cost(amount > 0 ? amount : 60);
    }
    if (mode == "catchup") {
        return CatchUp(amount > 0 ? amount : 10);
    }
    std::fprintf(stderr, "usage: publish_bench cost [SECONDS] | catchup [MINUTES]\n");
    return 64;
}
