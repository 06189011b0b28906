// Configuration records for tests, built the way the INI reader builds them
// (every array from dynamic_array at its fixed capacity), so FreeComConfig
// releases them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "config/com_config.h"

namespace testing_support {

struct TestPort {
    int number = 1;  // n of [COMn]
    std::string instrument = "Test instrument";
    std::string device;  // Device key; empty: none
    int baud = 9600;
    char parity = 'N';
    int data_bits = 8;
    int stop_bits = 1;
    bool stats = false;
    char terminator = '\n';
    int startup = INIT_NONE;
    int acquisition = INIT_NONE;

    TestPort& WithDevice(std::string path) {
        device = std::move(path);
        return *this;
    }
    TestPort& WithStartup(int function) {
        startup = function;
        return *this;
    }
    TestPort& WithAcquisition(int function) {
        acquisition = function;
        return *this;
    }
    TestPort& WithStats(char record_end) {
        stats = true;
        terminator = record_end;
        return *this;
    }
    TestPort& WithTerminator(char record_end) {
        terminator = record_end;
        return *this;
    }
    TestPort& WithBaud(int value) {
        baud = value;
        return *this;
    }
};

inline TestPort Port(int number, std::string instrument = "Test instrument") {
    TestPort port;
    port.number = number;
    port.instrument = std::move(instrument);
    return port;
}

// A valid record without ports: every array made, the output directory set,
// 60-minute periods. The caller releases it with FreeComConfig.
ComConfig NewTestConfig(const std::string& directory);

// A record with the given ports (see TestPort for what each sets).
ComConfig MakeTestConfig(const std::string& directory, int period_minutes,
                         const std::vector<TestPort>& ports, int watchdog_address = 0);

// Installs a test configuration as the program-wide `com` and releases it at
// the end of the scope.
class ComScope {
public:
    explicit ComScope(const ComConfig& config);
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

}  // namespace testing_support
