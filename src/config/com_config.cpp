#include "config/com_config.h"

#include "config/dynamic_array.h"

ComConfig com;

namespace {

template <typename T>
void Release(T*& array, uint32_t d1, uint32_t d2 = 0, uint32_t d3 = 0) {
    free_dynamic_array(d1, d2, d3, 0, array);
    array = nullptr;
}

}  // namespace

void FreeComConfig(ComConfig& config) {
    constexpr uint32_t ports = MAX_COM_PORTS;
    Release(config.NumTokenIndices, ports);
    Release(config.InstrumentType, ports, CONFIG_STRING_LEN);
    Release(config.PortNumber, ports);
    Release(config.Baud, ports);
    Release(config.Parity, ports);
    Release(config.DataBits, ports);
    Release(config.StopBits, ports);
    Release(config.DoStats, ports);
    Release(config.StringTerminationCharacter, ports);
    Release(config.LeadingTokenCharactersToStrip, ports);
    Release(config.StartupInitializationFunction, ports);
    Release(config.AcquisitionInitializationFunction, ports);
    Release(config.TokenIndicesForStatistics, ports, MAX_TOKENS);
    Release(config.ErrorCheckingTokenIndices, ports, MAX_TOKENS);
    Release(config.ErrorValuesPerTokenIndex, ports, MAX_TOKENS);
    Release(config.TokenLabelsForStatistics, ports, MAX_TOKENS, CONFIG_STRING_LEN);
    Release(config.OutputDriveAndPath, CONFIG_STRING_LEN);
    Release(config.ErrorString, CONFIG_STRING_LEN);
    Release(config.Device, ports, CONFIG_STRING_LEN);
}
