#include "instruments/ophir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "platform/fake_clock.h"
#include "serial/port.h"
#include "support/open_port.h"
#include "support/serial_peer.h"
#include "support/temp_dir.h"

namespace {

using testing_support::SerialPeer;

const std::string kHumidity = "1013.2 21.50 -3.25 0.9981 7.11 355 0";               // 7 fields
const std::string kEngineering = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18.5";  // 18 fields

// A hygrometer on the far end of the line: it notes every command character
// and answers with what the script gives for it (nothing for an empty text).
class Hygrometer {
public:
    using Script = std::function<std::string(char command, int nth)>;

    Hygrometer(SerialPeer& line, Script script)
        : line_(line), script_(std::move(script)), thread_([this] { Serve(); }) {}
    ~Hygrometer() { Stop(); }

    // Ends the conversation once `last` (if given) has arrived, or after five
    // seconds without it; returns every command character received. A command
    // that asks for no reply can still be on the line when the caller returns.
    std::string Stop(char last = '\0') {
        last_ = last;
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return commands_;
    }

private:
    void Serve() {
        std::map<char, int> counts;
        std::chrono::steady_clock::time_point giveUp{};
        while (!Finished(giveUp)) {
            if (!line_.WaitReadable(10)) {
                continue;
            }
            for (char command : line_.ReadAvailable()) {
                commands_ += command;
                const std::string reply = script_(command, counts[command]++);
                if (!reply.empty()) {
                    line_.Write(reply);
                }
            }
        }
    }

    bool Finished(std::chrono::steady_clock::time_point& give_up) const {
        if (!stop_) {
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (give_up == std::chrono::steady_clock::time_point{}) {
            give_up = now + std::chrono::seconds(5);
        }
        const char last = last_;
        return last == '\0' || (!commands_.empty() && commands_.back() == last) || now >= give_up;
    }

    SerialPeer& line_;
    Script script_;
    std::atomic<char> last_{'\0'};
    std::atomic<bool> stop_{false};
    std::string commands_;
    std::thread thread_;
};

std::string Answer(char command, const std::string& five, const std::string& zero) {
    if (command == '5') {
        return five;
    }
    return command == '0' ? zero : "";
}

class Ophir : public serial_test::OpenPort {
protected:
    void SetUp() override {
        OpenPort::SetUp();
        std::strcpy(header, "previous header");
    }
    void TearDown() override {
        if (port != nullptr) {
            port->Close(port);  // some tests leave an earlier failure in Status
            port = nullptr;
        }
        OpenPort::TearDown();
    }

    // Every log line written into the test's directory.
    std::string Log() const {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            all += testing_support::ReadFile(entry.path().string());
        }
        return all;
    }

    std::string Exchange(Hygrometer::Script script) {
        Hygrometer hygrometer(peer, std::move(script));
        GetOphirConstants(port, dir.path().c_str(), 7, header, &time);
        return hygrometer.Stop('a');  // every exchange ends by sending 'a'
    }

    testing_support::TempDir dir;
    char header[1000] = {};
    platform::SystemTime time{};
    // Waits of up to 5 s pass in simulated time; a reply ends a wait at once.
    platform::FakeClock clock{platform::FakeClock::EpochMs(2024, 3, 9, 23, 59, 58)};
};

TEST_F(Ophir, TheHeaderIsTheEngineeringLineFollowedByTheHumidityLine) {
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(1);
    Deliver("stale output of the instrument\r");  // must be drained, not taken as a reply
    const std::string commands = Exchange(
        [](char command, int) { return Answer(command, kHumidity + "\r", kEngineering + "\r"); });
    EXPECT_EQ(commands, "950a");
    EXPECT_EQ(std::string(header), kEngineering + kHumidity);
    const platform::SystemTime now = clock.UtcNow();
    EXPECT_EQ(platform::ToCalendarSeconds(time), platform::ToCalendarSeconds(now));
    EXPECT_EQ(time.wMilliseconds, now.wMilliseconds);
    const std::string log = Log();
    EXPECT_NE(log.find("  26  Acquiring Ophir humidity and engineering constants."),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("  27  "), std::string::npos) << log;
}

TEST_F(Ophir, AWrongFieldCountIsAskedThreeTimesThenLogged) {
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(1);
    const std::string commands = Exchange(
        [](char command, int) { return Answer(command, "1 2 3 4 5 6\r", kEngineering + "\r"); });
    EXPECT_EQ(commands, "9555a");
    EXPECT_STREQ(header, "previous header");
    EXPECT_EQ(platform::ToCalendarSeconds(time), clock.Now());
    EXPECT_NE(Log().find("  27  Error acquiring Ophir constants from COM7."), std::string::npos);
}

TEST_F(Ophir, AGarbledReplyCostsTwoTries) {
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(1);
    const std::string commands = Exchange([](char command, int) {
        return Answer(command, "1\t2\t3\t4\t5\t6\t7\r", kEngineering + "\r");
    });
    EXPECT_EQ(commands, "955a");
    EXPECT_STREQ(header, "previous header");
    EXPECT_NE(Log().find("  27  Error acquiring Ophir constants from COM7."), std::string::npos);
}

TEST_F(Ophir, ALaterTryThatMatchesCarriesOn) {
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(1);
    const std::string commands = Exchange([](char command, int nth) {
        if (command == '5') {
            return nth == 0 ? std::string("\x07 bell\r") : "a  b c d e f   g\r";  // blanks in runs
        }
        return Answer(command, "", kEngineering + "\r");
    });
    EXPECT_EQ(commands, "9550a");
    EXPECT_EQ(std::string(header), kEngineering + "a  b c d e f   g");
}

TEST_F(Ophir, ASilentInstrumentCostsThreeTimeOuts) {
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(250);
    const int64_t start = clock.EpochMsNow();
    const std::string commands = Exchange([](char, int) { return std::string(); });
    EXPECT_EQ(commands, "9555a");
    EXPECT_GE(clock.EpochMsNow() - start, 15000);
    EXPECT_STREQ(header, "previous header");
    EXPECT_EQ(platform::ToCalendarSeconds(time), clock.Now());
    const std::string log = Log();
    EXPECT_NE(log.find("  26  "), std::string::npos);
    EXPECT_NE(log.find("  27  Error acquiring Ophir constants from COM7."), std::string::npos);
}

TEST_F(Ophir, AReplyCutOffByTheTimeOutCountsByItsFields) {
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(20);
    char reply[300];
    {
        Hygrometer hygrometer(peer, [](char command, int) {
            return Answer(command, "1 2 3 4 5 6 7", "");  // no CR: the time-out ends it
        });
        EXPECT_EQ(OphirQuery(port, reply, sizeof reply, '5', 7, 3), 1);
        EXPECT_EQ(hygrometer.Stop(), "5");
    }
    EXPECT_STREQ(reply, "1 2 3 4 5 6 7");
    port->Status = PORT_ERR_TX_INCOMPLETE;  // an earlier failure, still in Status
    {
        Hygrometer hygrometer(
            peer, [](char command, int) { return Answer(command, "1 2 3 4 5 6 7\r", ""); });
        EXPECT_EQ(OphirQuery(port, reply, sizeof reply, '5', 7, 3), 1);
        EXPECT_EQ(hygrometer.Stop(), "5");
    }
}

}  // namespace
