#include "support/config_builder.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/test_config.h"

namespace testing_support {

namespace {

void CopyText(char* field, const std::string& text) {
    std::strncpy(field, text.c_str(), CONFIG_STRING_LEN - 1);
}

}  // namespace

ConfigBuilder::ConfigBuilder(const std::string& output_directory)
    : config_(NewTestConfig(output_directory)) {}

ConfigBuilder::~ConfigBuilder() {
    FreeComConfig(config_);
}

ConfigBuilder& ConfigBuilder::AddPort(const PortSettings& port) {
    const std::size_t count = port.positions.size();
    if (config_.NumPorts >= MAX_COM_PORTS || count > static_cast<std::size_t>(MAX_TOKENS) ||
        port.labels.size() != count || port.error_positions.size() != count ||
        port.error_values.size() != count) {
        ADD_FAILURE() << "ConfigBuilder::AddPort: inconsistent port settings";
        return *this;
    }
    const int p = config_.NumPorts++;
    config_.PortNumber[p] = port.number;
    CopyText(config_.InstrumentType[p], port.instrument);
    config_.Baud[p] = 9600;
    config_.Parity[p] = 'N';
    config_.DataBits[p] = 8;
    config_.StopBits[p] = 1;
    config_.DoStats[p] = port.do_stats ? 1 : 0;
    config_.StringTerminationCharacter[p] = port.terminator;
    config_.LeadingTokenCharactersToStrip[p] = port.strip;
    config_.StartupInitializationFunction[p] = port.startup_function;
    config_.AcquisitionInitializationFunction[p] = port.acquisition_function;
    config_.NumTokenIndices[p] = static_cast<int32_t>(count);
    for (std::size_t j = 0; j < count; ++j) {
        config_.TokenIndicesForStatistics[p][j] = port.positions[j];
        config_.ErrorCheckingTokenIndices[p][j] = port.error_positions[j];
        config_.ErrorValuesPerTokenIndex[p][j] = port.error_values[j];
        CopyText(config_.TokenLabelsForStatistics[p][j], port.labels[j]);
    }
    return *this;
}

}  // namespace testing_support
