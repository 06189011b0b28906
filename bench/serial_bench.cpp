// The serial library on pseudo-terminals: bytes per second through ReadBlock
// with an instrument writing as fast as the line takes it (CPU time per MiB is
// the CPU column of one iteration), and the cost of an idle wait on nine ports.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/comm.h"
#include "serial/port.h"

namespace {

constexpr int kFirstCom = 90;

// A pty whose terminal side the library opens as COM<com>.
struct Line {
    int master = -1;
    int terminal = -1;
    int com = 0;

    explicit Line(int com_number) : com(com_number) {
        char name[128];
        if (openpty(&master, &terminal, name, nullptr, nullptr) == 0) {
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
            platform::SetCommDevicePath(com, name);
        }
    }
    ~Line() {
        platform::SetCommDevicePath(com, nullptr);
        close(master);
        close(terminal);
    }
};

PortRecord* OpenEngineStyle(const Line& line) {
    PortSetQueueSizes(65000, 25);
    return PortOpenMSWin32(line.com - 1, 57600, 'N', 8, 1);
}

void BM_ReadBlockThroughput(benchmark::State& state) {
    Line line(kFirstCom);
    PortRecord* port = OpenEngineStyle(line);
    if (port->Status != PORT_OK) {
        state.SkipWithError("cannot open the pty");
        return;
    }
    std::atomic<bool> stop{false};
    std::thread instrument([&] {
        const std::string block(65536, 'x');
        while (!stop.load()) {
            pollfd fd{line.master, POLLOUT, 0};
            if (poll(&fd, 1, 50) > 0) {
                const ssize_t put = write(line.master, block.data(), block.size());
                (void)put;
            }
        }
    });
    const uint32_t blockSize = static_cast<uint32_t>(state.range(0));
    std::vector<char> buffer(blockSize);
    constexpr int64_t kPerIteration = 1 << 20;
    for (auto _ : state) {
        int64_t got = 0;
        while (got < kPerIteration) {
            // As the logger polls: read whole blocks while they wait, else wait.
            if (port->RxUsed(port) < static_cast<int32_t>(blockSize)) {
                PortWaitForInput(&port, 1, 1);
                continue;
            }
            if (port->ReadBlock(port, buffer.data(), blockSize) == PORT_OK) {
                got += port->Count;
            }
        }
    }
    stop.store(true);
    instrument.join();
    port->Close(port);
    state.SetBytesProcessed(state.iterations() * kPerIteration);
}
BENCHMARK(BM_ReadBlockThroughput)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);

// An idle logger: nine open ports, nothing arriving. Each pass waits up to
// 1 ms for input; with `range(0)` it also looks at every queue (RxUsed) as a
// polling loop that does not trust the wait would. CPU over wall time is the
// share of a core the idle logger takes.
void BM_IdlePassNinePorts(benchmark::State& state) {
    std::vector<std::unique_ptr<Line>> lines;
    std::vector<PortRecord*> ports;
    for (int i = 0; i < 9; ++i) {
        lines.push_back(std::make_unique<Line>(kFirstCom + 1 + i));
        ports.push_back(OpenEngineStyle(*lines.back()));
    }
    const bool lookAtQueues = state.range(0) != 0;
    for (auto _ : state) {
        PortWaitForInput(ports.data(), 9, 1);
        if (lookAtQueues) {
            for (PortRecord* port : ports) {
                benchmark::DoNotOptimize(port->RxUsed(port));
            }
        }
    }
    for (PortRecord* port : ports) {
        port->Close(port);
    }
}
BENCHMARK(BM_IdlePassNinePorts)
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->MinTime(2.0)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
