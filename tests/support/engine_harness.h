// Runs the real acquisition thread against pty instruments under a fake clock:
// the test sends bytes, waits until the thread has them, moves the clock to a
// period end and waits for that flush. Nothing sleeps.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition_thread.h"
#include "acquisition/status.h"
#include "log/log_file.h"
#include "platform/fake_clock.h"
#include "platform/ioport.h"
#include "pty_pair.h"
#include "support/engine_probe.h"
#include "support/temp_dir.h"
#include "support/test_config.h"

namespace engine_testing {

// A hygrometer on a pty: answers '5' and '0' like the real one; every
// exchange's replies carry its number, and answering '0' moves the clock on
// by 1.5 s, so the time an exchange ends differs from the time it began.
class PtyHygrometer {
public:
    // `name` begins every reply, so two hygrometers can be told apart.
    explicit PtyHygrometer(platform::FakeClock& clock, std::string name = "")
        : clock_(clock), name_(std::move(name)) {
        thread_ = std::thread([this] { Serve(); });
    }
    ~PtyHygrometer() {
        stop_ = true;
        thread_.join();
    }
    const std::string& path() const { return pty_.path(); }
    sim::PtyPair& pty() { return pty_; }
    // The replies are appended piece by piece: GCC 12 at -O3 reports a false
    // -Wrestrict for a literal followed by a temporary string ("H" + to_string).
    static std::string HumidityReply(int exchange) {
        std::string reply = "H";
        reply += std::to_string(exchange);
        reply += " 2 3 4 5 6 7";
        return reply;
    }
    static std::string EngineeringReply(int exchange) {
        std::string reply = "E";
        reply += std::to_string(exchange);
        for (int i = 2; i <= 18; ++i) {
            reply += ' ';
            reply += std::to_string(i);
        }
        return reply;
    }
    int exchanges() const { return exchanges_.load(); }

private:
    void Serve() {
        while (!stop_) {
            for (char command : pty_.Read(20)) {
                if (command == '9') {
                    ++exchanges_;
                } else if (command == '5') {
                    pty_.Write(name_ + HumidityReply(exchanges_) + "\r");
                } else if (command == '0') {
                    clock_.AdvanceMs(1500);
                    pty_.Write(name_ + EngineeringReply(exchanges_) + "\r");
                }
            }
        }
    }

    platform::FakeClock& clock_;
    const std::string name_;
    sim::PtyPair pty_;
    std::atomic<bool> stop_{false};
    std::atomic<int> exchanges_{0};
    std::thread thread_;
};

// The usual frame of an engine test: a temporary output directory, the fake
// clock, a recording watchdog sink, the probe, and the instruments.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() : clock_(0), clock_scope_(clock_), io_scope_(io_ports_) {
        SetAcquisitionProbe(&probe_);
        ResetStatusTexts();
    }
    ~EngineTest() override {
        StopAcquisitionThread();
        SetAcquisitionProbe(nullptr);
        if (configured_) {
            FreeComConfig(com);
            com = ComConfig{};
        }
    }

    // A new pty instrument; returns its index in ptys_.
    sim::PtyPair& AddPty() {
        ptys_.push_back(std::make_unique<sim::PtyPair>());
        EXPECT_TRUE(ptys_.back()->ok());
        return *ptys_.back();
    }

    // Installs the configuration and starts acquisition; returns once the
    // thread has made its first pass (its start-up, with the drain of old
    // input, is over).
    void Start(const ComConfig& config) {
        if (configured_) {
            FreeComConfig(com);
        }
        com = config;
        configured_ = true;
        StartRun();
    }
    void StartRun() {
        const int64_t passes = probe_.passes();
        base_flushes_ = 0;  // a new thread counts its flushes from 1
        probe_.ForgetReceived();
        probe_.ForgetFlushes();
        for (int64_t& count : sent_) {
            count = 0;
        }
        ASSERT_TRUE(StartAcquisitionThread(&view_));
        ASSERT_TRUE(probe_.WaitForPasses(passes + 1));
    }
    void Stop() { StopAcquisitionThread(); }

    // Sends bytes from instrument `pty` (at port position `port`) and waits
    // until the thread holds all of them.
    void Send(sim::PtyPair& pty, int port, const std::string& bytes) {
        ASSERT_TRUE(pty.Write(bytes));
        sent_[port] += static_cast<int64_t>(bytes.size());
        ASSERT_TRUE(probe_.WaitForReceived(port, sent_[port])) << "port " << port;
    }

    // Moves the clock to a period end and waits for that flush.
    void EndPeriodAt(int hour, int minute, int second = 0, int ms = 0) {
        clock_.Set(2024, 3, 1, hour, minute, second, ms);
        ASSERT_TRUE(probe_.WaitForFlushes(++base_flushes_));
    }

    void SetTime(int hour, int minute, int second = 0, int ms = 0) {
        clock_.Set(2024, 3, 1, hour, minute, second, ms);
    }

    std::string Log() {
        return testing_support::ReadFile(LogFilePath(dir_.path().c_str(), clock_.Now()));
    }
    std::string File(const std::string& name) { return testing_support::ReadFile(dir_.File(name)); }

    testing_support::TempDir dir_;
    platform::FakeClock clock_;
    platform::ClockScope clock_scope_;
    platform::RecordingIoPorts io_ports_;
    platform::IoPortsScope io_scope_;
    Probe probe_;
    RecordingView view_;
    std::vector<std::unique_ptr<sim::PtyPair>> ptys_;
    int64_t sent_[MAX_COM_PORTS] = {};
    int base_flushes_ = 0;
    bool configured_ = false;
};

}  // namespace engine_testing
