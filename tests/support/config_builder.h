// A configuration record filled by a test: every array made at its fixed
// capacity as the INI reader makes it, then the ports the test describes.
#pragma once

#include <string>
#include <vector>

#include "config/com_config.h"

namespace testing_support {

struct PortSettings {
    int number = 1;  // n of [COMn]
    std::string instrument;
    bool do_stats = true;
    char terminator = '\n';
    int strip = 0;
    std::vector<int> positions;        // TokenIndicesForStatistics
    std::vector<std::string> labels;   // TokenLabelsForStatistics
    std::vector<int> error_positions;  // ErrorCheckingTokenIndices
    std::vector<double> error_values;  // ErrorValuesPerTokenIndex
    int startup_function = INIT_NONE;
    int acquisition_function = INIT_NONE;
};

class ConfigBuilder {
public:
    explicit ConfigBuilder(const std::string& output_directory);
    ~ConfigBuilder();
    ConfigBuilder(const ConfigBuilder&) = delete;
    ConfigBuilder& operator=(const ConfigBuilder&) = delete;

    // Appends a port at the next position. The lists of `port` must be equally long.
    ConfigBuilder& AddPort(const PortSettings& port);

    const ComConfig& config() const { return config_; }
    ComConfig& config() { return config_; }

private:
    ComConfig config_;
};

}  // namespace testing_support
