#include "support/station.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace testing_support {
namespace fs = std::filesystem;

namespace {

// "MM/DD/YY HH:MM:SS:MMM  " in front of every entry's message.
constexpr std::size_t kStampLength = 23;

std::string PortSection(const StationPort& port) {
    std::string text = "[COM" + std::to_string(port.number) + "]\n";
    text += "InstrumentType=Test instrument\n";
    text += "StartupInitializationFunction=NONE\n";
    text += "AcquisitionInitializationFunction=NONE\n";
    text += "Baud=" + port.baud + "\n";
    text += "Parity=" + port.parity + "\n";
    text += "DataBits=" + port.data_bits + "\n";
    text += "StopBits=" + port.stop_bits + "\n";
    text += "DoStats=NO\n";
    text += "StringTerminationCharacter=10\n";
    text += "LeadingTokenCharactersToStrip=0\n";
    text += "TokenIndicesForStatistics=NONE\n";
    text += "TokenLabelsForStatistics=NONE\n";
    text += "ErrorCheckingTokenIndices=NONE\n";
    text += "ErrorValuesPerTokenIndex=NONE\n";
    if (!port.device.empty()) {
        text += "Device=" + port.device + "\n";
    }
    return text;
}

}  // namespace

Station::Station() {
    fs::create_directory(Output());
    previous_directory_ = fs::current_path().string();
    fs::current_path(root_.path());
}

Station::~Station() {
    std::error_code ec;
    fs::current_path(previous_directory_, ec);
}

std::string Station::Output() const {
    return root_.File("data");
}

std::string Station::ValidIni(const std::vector<StationPort>& ports) const {
    std::string text = "; test station\n[QUORVANE]\n";
    text += "OutputDriveAndPath=" + Output() + "\n";
    text += "WatchDogTimerAddressInHex=NONE\n";
    text += "DiskWriteAndStatsFrequencyInMinutes=60\n";
    for (const StationPort& port : ports) {
        text += PortSection(port);
    }
    return text;
}

void Station::WriteIni(const std::string& text) const {
    WriteFile(root_.File("Quorvane.ini"), text);
}

void Station::WriteIniWithUnevenPeriod() const {
    std::string ini = ValidIni();
    ini.replace(ini.find("Minutes=60"), 10, "Minutes=7");
    WriteIni(ini);
}

std::vector<std::string> Station::LogMessagesIn(const std::string& directory) const {
    std::vector<fs::path> logs;
    std::error_code ec;
    for (auto it = fs::directory_iterator(directory, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        if (it->path().extension() == ".LOG") {
            logs.push_back(it->path());
        }
    }
    std::sort(logs.begin(), logs.end());
    std::vector<std::string> messages;
    for (const fs::path& log : logs) {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            // Entry lines begin with a date; the header lines do not.
            if (line.size() > kStampLength && std::isdigit(static_cast<unsigned char>(line[0])) &&
                line[2] == '/' && line[5] == '/') {
                messages.push_back(line.substr(kStampLength));
            }
        }
    }
    return messages;
}

std::vector<std::string> Station::LogCodes() const {
    std::vector<std::string> codes;
    for (const std::string& message : LogMessages()) {
        codes.push_back(message.substr(0, 2));
    }
    return codes;
}

}  // namespace testing_support
