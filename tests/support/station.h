// A station for start-up tests: a working directory of its own (made current
// for the test's lifetime) with Quorvane.ini and an output directory.
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

struct StationPort {
    int number;  // n of [COMn]
    std::string baud = "9600";
    std::string parity = "N";
    std::string data_bits = "8";
    std::string stop_bits = "1";
    std::string device;  // Device key; none when empty
};

// The start-up box for the file of Station::WriteIniWithUnevenPeriod.
inline constexpr char kUnevenPeriodBox[] =
    "Quorvane Initialization Error ... \n\n"
    "Invalid definition for DiskWriteAndStatsFrequencyInMinutes\n"
    "under [QUORVANE] in Quorvane.ini (60 minutes must be evenly\n"
    "divisible by DiskWriteAndStatsFrequencyInMinutes).\n\n"
    "Please make changes to Quorvane.ini and restart Quorvane.";

class Station {
public:
    Station();
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    const std::string& Root() const { return root_.path(); }
    // The output directory (exists, writable, no "." in its path).
    std::string Output() const;

    // A complete, valid file for the output directory and these ports.
    std::string ValidIni(const std::vector<StationPort>& ports = {}) const;
    void WriteIni(const std::string& text) const;
    // A valid file but for a period that does not divide the hour (7
    // minutes): the reader refuses it with kUnevenPeriodBox.
    void WriteIniWithUnevenPeriod() const;

    // The messages of every log entry in the output directory, oldest first
    // (without their time stamps).
    std::vector<std::string> LogMessages() const { return LogMessagesIn(Output()); }
    std::vector<std::string> LogMessagesIn(const std::string& directory) const;
    // Their two-digit codes.
    std::vector<std::string> LogCodes() const;

private:
    TempDir root_;
    std::string previous_directory_;
};

}  // namespace testing_support
