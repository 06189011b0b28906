#include "support/test_config.h"

#include <cstdio>

#include "config/dynamic_array.h"

namespace testing_support {

namespace {

void Copy(char* to, const std::string& from) {
    std::snprintf(to, CONFIG_STRING_LEN, "%s", from.c_str());
}

}  // namespace

ComConfig NewTestConfig(const std::string& directory) {
    constexpr uint32_t kPorts = MAX_COM_PORTS;
    ComConfig c;
    c.DiskWriteAndStatsFrequencyInMinutes = 60;
    c.NumTokenIndices = dynamic_array_1d<int32_t>(kPorts);
    c.InstrumentType = dynamic_array_2d<char>(kPorts, CONFIG_STRING_LEN);
    c.PortNumber = dynamic_array_1d<int32_t>(kPorts);
    c.Baud = dynamic_array_1d<int32_t>(kPorts);
    c.Parity = dynamic_array_1d<char>(kPorts);
    c.DataBits = dynamic_array_1d<int32_t>(kPorts);
    c.StopBits = dynamic_array_1d<int32_t>(kPorts);
    c.DoStats = dynamic_array_1d<int32_t>(kPorts);
    c.StringTerminationCharacter = dynamic_array_1d<char>(kPorts);
    c.LeadingTokenCharactersToStrip = dynamic_array_1d<int32_t>(kPorts);
    c.StartupInitializationFunction = dynamic_array_1d<int32_t>(kPorts);
    c.AcquisitionInitializationFunction = dynamic_array_1d<int32_t>(kPorts);
    c.TokenIndicesForStatistics = dynamic_array_2d<int32_t>(kPorts, MAX_TOKENS);
    c.ErrorCheckingTokenIndices = dynamic_array_2d<int32_t>(kPorts, MAX_TOKENS);
    c.ErrorValuesPerTokenIndex = dynamic_array_2d<double>(kPorts, MAX_TOKENS);
    c.TokenLabelsForStatistics = dynamic_array_3d<char>(kPorts, MAX_TOKENS, CONFIG_STRING_LEN);
    c.OutputDriveAndPath = dynamic_array_1d<char>(CONFIG_STRING_LEN);
    c.ErrorString = dynamic_array_1d<char>(CONFIG_STRING_LEN);
    c.Device = dynamic_array_2d<char>(kPorts, CONFIG_STRING_LEN);
    Copy(c.OutputDriveAndPath, directory);
    Copy(c.ErrorString, "Successful.\n");
    return c;
}

ComConfig MakeTestConfig(const std::string& directory, int period_minutes,
                         const std::vector<TestPort>& ports, int watchdog_address) {
    ComConfig c = NewTestConfig(directory);
    c.WatchDogTimerAddress = watchdog_address;
    c.DiskWriteAndStatsFrequencyInMinutes = period_minutes;
    c.NumPorts = static_cast<int32_t>(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        const TestPort& p = ports[i];
        c.PortNumber[i] = p.number;
        Copy(c.InstrumentType[i], p.instrument);
        Copy(c.Device[i], p.device);
        c.Baud[i] = p.baud;
        c.Parity[i] = p.parity;
        c.DataBits[i] = p.data_bits;
        c.StopBits[i] = p.stop_bits;
        c.DoStats[i] = p.stats ? 1 : 0;
        c.StringTerminationCharacter[i] = p.terminator;
        c.StartupInitializationFunction[i] = p.startup;
        c.AcquisitionInitializationFunction[i] = p.acquisition;
    }
    return c;
}

ComScope::ComScope(const ComConfig& config) {
    com = config;
}

ComScope::~ComScope() {
    FreeComConfig(com);
    com = ComConfig{};
}

}  // namespace testing_support
