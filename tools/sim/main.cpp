// quorvane-sim: plays a serial instrument on a pseudo-terminal (or on a given
// device) for the logger to read.
//
//   quorvane-sim numeric [--rate R] [--fields N] [--terminator crlf|cr|lf]
//                        [--garble-every N] [--short-every N] [--count N]
//   quorvane-sim hygrometer [--mode normal|silent|garbled] [--delay-ms MS] [--rate R]
//   common: [--device PATH | --link PATH]
//
// Without --device it creates a pseudo-terminal and prints the path of its
// terminal side on the first line of standard output; --link also makes a
// symbolic link with a stable name to it (refused when the name is taken by
// another live link or a file). SIGINT or SIGTERM end it, also while the
// terminal's queue is full because nobody reads it.
#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "cli/command_line.h"
#include "instruments.h"
#include "pty_link.h"
#include "pty_pair.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

struct Options {
    std::string device;
    std::string link;
    double rate = 1.0;  // records a second (hygrometer: 0 = none)
    sim::RecordShape shape;
    std::string terminator = "crlf";
    uint64_t count = 0;  // 0: endless
    std::string mode = "normal";
    int delay_ms = 0;
};

bool TerminatorFromName(const std::string& name, std::string& terminator) {
    if (name == "crlf") {
        terminator = "\r\n";
    } else if (name == "cr") {
        terminator = "\r";
    } else if (name == "lf") {
        terminator = "\n";
    } else {
        return false;
    }
    return true;
}

// The line the instrument is attached to: a new pty or the given device.
class Line {
public:
    bool Open(const Options& options) {
        if (!options.device.empty()) {
            device_ = std::make_unique<sim::DeviceWriter>(options.device);
            if (!device_->ok()) {
                std::fprintf(stderr, "quorvane-sim: cannot open %s\n", options.device.c_str());
                return false;
            }
            fd_ = device_->fd();
            std::printf("%s\n", options.device.c_str());
        } else {
            pty_ = std::make_unique<sim::PtyPair>();
            if (!pty_->ok()) {
                std::fprintf(stderr, "quorvane-sim: cannot create a pseudo-terminal\n");
                return false;
            }
            fd_ = pty_->master_fd();
            std::string shown = pty_->path();
            std::string error;
            if (!options.link.empty() && !link_.Make(options.link, pty_->path(), error)) {
                std::fprintf(stderr, "quorvane-sim: %s; not replaced.\n", error.c_str());
                return false;
            }
            std::printf("%s\n", shown.c_str());
        }
        std::fflush(stdout);
        return true;
    }
    int fd() const { return fd_; }

private:
    std::unique_ptr<sim::PtyPair> pty_;
    std::unique_ptr<sim::DeviceWriter> device_;
    sim::PtyLink link_;  // after the pty: removed before it closes
    int fd_ = -1;
};

using Clock = std::chrono::steady_clock;

// Sends records at the rate until stopped; a hygrometer also answers the
// command characters it reads in between.
int Play(const Options& options, const sim::Hygrometer* hygrometer) {
    Line line;
    if (!line.Open(options)) {
        return 1;
    }
    const sim::NumericInstrument instrument(options.shape);
    const auto interval = options.rate > 0 ? std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(1.0 / options.rate))
                                           : Clock::duration::max();
    auto next = Clock::now();
    uint64_t sent = 0;
    while (g_stop == 0 && (options.count == 0 || sent < options.count || hygrometer != nullptr)) {
        if (options.rate > 0 && (options.count == 0 || sent < options.count) &&
            Clock::now() >= next) {
            if (!sim::WriteAll(line.fd(), instrument.Record(sent++), &g_stop)) {
                return g_stop != 0 ? 0 : 1;
            }
            next += interval;
            continue;
        }
        int wait_ms = 200;
        if (options.rate > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
            wait_ms = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(left.count(), 200)));
        }
        const std::string commands = sim::ReadSome(line.fd(), wait_ms);
        if (hygrometer == nullptr) {
            continue;  // a plain instrument ignores what it is sent
        }
        for (char command : commands) {
            const std::string reply = hygrometer->Reply(command);
            if (reply.empty()) {
                continue;
            }
            if (options.delay_ms > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(options.delay_ms));
            }
            sim::WriteAll(line.fd(), reply, &g_stop);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App app{"A simulated serial instrument on a pseudo-terminal", "quorvane-sim"};
    app.require_subcommand(1);
    AddVersionFlag(app, "quorvane-sim");
    Options options;
    auto common = [&options](CLI::App* command) {
        auto* device = command->add_option("--device", options.device,
                                           "write to this existing device instead of a new pty");
        command->add_option("--link", options.link, "symbolic link to the new pty's path")
            ->excludes(device);
    };

    CLI::App* numeric = app.add_subcommand("numeric", "a line-oriented numeric instrument");
    common(numeric);
    numeric->add_option("--rate", options.rate, "records a second")->capture_default_str();
    numeric->add_option("--fields", options.shape.fields, "numbers per record")
        ->capture_default_str();
    numeric->add_option("--terminator", options.terminator, "record end: crlf, cr or lf")
        ->capture_default_str();
    numeric->add_option("--garble-every", options.shape.garble_every,
                        "every n-th record carries a control byte");
    numeric->add_option("--short-every", options.shape.short_every,
                        "every n-th record lacks half its fields");
    numeric->add_option("--seed", options.shape.seed, "varies the numbers");
    numeric->add_option("--count", options.count, "records to send, then stop (0: endless)");

    CLI::App* hygrometer = app.add_subcommand("hygrometer", "an infrared hygrometer");
    common(hygrometer);
    hygrometer->add_option("--mode", options.mode, "normal, silent or garbled")
        ->capture_default_str();
    hygrometer->add_option("--delay-ms", options.delay_ms, "wait this long before each reply");
    hygrometer->add_option("--rate", options.rate, "data records a second between exchanges")
        ->capture_default_str();
    hygrometer->add_option("--fields", options.shape.fields, "numbers per data record");
    hygrometer->add_option("--seed", options.shape.seed, "varies the numbers");

    if (const auto status = ParseCommandLine(app, "quorvane-sim", argc, argv, std::cerr)) {
        return *status;
    }
    if (!TerminatorFromName(options.terminator, options.shape.terminator)) {
        std::fprintf(stderr, "quorvane-sim: --terminator: '%s' is not crlf, cr or lf\n",
                     options.terminator.c_str());
        return kExitUsage;
    }
    if (numeric->parsed()) {
        return Play(options, nullptr);
    }
    sim::HygrometerMode mode = sim::HygrometerMode::kNormal;
    if (options.mode == "silent") {
        mode = sim::HygrometerMode::kSilent;
    } else if (options.mode == "garbled") {
        mode = sim::HygrometerMode::kGarbled;
    } else if (options.mode != "normal") {
        std::fprintf(stderr, "quorvane-sim: --mode: '%s' is not normal, silent or garbled\n",
                     options.mode.c_str());
        return kExitUsage;
    }
    const sim::Hygrometer instrument(mode);
    return Play(options, &instrument);
}
