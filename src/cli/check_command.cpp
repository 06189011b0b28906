#include "cli/check_command.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "cli/cli11.h"
#include "json/json_writer.h"
#include "cli/lint.h"
#include "config/ini_reader.h"

namespace {

void WriteIntegers(json_text::JsonWriter& json, const int32_t* values, int32_t count) {
    json.BeginArray();
    for (int32_t i = 0; i < count; ++i) {
        json.Int(values[i]);
    }
    json.EndArray();
}

void WritePort(json_text::JsonWriter& json, const ComConfig& c, int p) {
    const int32_t entries = c.NumTokenIndices[p];
    json.BeginObject();
    json.Key("PortNumber");
    json.Int(c.PortNumber[p]);
    json.Key("Device");
    if (c.Device[p][0] != '\0') {
        json.String(c.Device[p]);
    } else {
        json.Null();
    }
    json.Key("InstrumentType");
    json.String(c.InstrumentType[p]);
    json.Key("Baud");
    json.Int(c.Baud[p]);
    json.Key("Parity");
    json.String(std::string_view(&c.Parity[p], 1));
    json.Key("DataBits");
    json.Int(c.DataBits[p]);
    json.Key("StopBits");
    json.Int(c.StopBits[p]);
    json.Key("DoStats");
    json.Int(c.DoStats[p]);
    json.Key("StringTerminationCharacter");
    json.Int(static_cast<unsigned char>(c.StringTerminationCharacter[p]));
    json.Key("LeadingTokenCharactersToStrip");
    json.Int(c.LeadingTokenCharactersToStrip[p]);
    json.Key("StartupInitializationFunction");
    json.Int(c.StartupInitializationFunction[p]);
    json.Key("AcquisitionInitializationFunction");
    json.Int(c.AcquisitionInitializationFunction[p]);
    json.Key("TokenIndicesForStatistics");
    WriteIntegers(json, c.TokenIndicesForStatistics[p], entries);
    json.Key("TokenLabelsForStatistics");
    json.BeginArray();
    for (int32_t i = 0; i < entries; ++i) {
        json.String(c.TokenLabelsForStatistics[p][i]);
    }
    json.EndArray();
    json.Key("ErrorCheckingTokenIndices");
    WriteIntegers(json, c.ErrorCheckingTokenIndices[p], entries);
    json.Key("ErrorValuesPerTokenIndex");
    json.BeginArray();
    for (int32_t i = 0; i < entries; ++i) {
        json.Double(c.ErrorValuesPerTokenIndex[p][i]);
    }
    json.EndArray();
    json.EndObject();
}

}  // namespace

void WriteConfigJson(const ComConfig& config, std::ostream& out) {
    json_text::JsonWriter json(out);
    json.BeginObject();
    json.Key("WatchDogTimerAddress");
    json.Int(config.WatchDogTimerAddress);
    json.Key("DiskWriteAndStatsFrequencyInMinutes");
    json.Int(config.DiskWriteAndStatsFrequencyInMinutes);
    json.Key("NumPorts");
    json.Int(config.NumPorts);
    json.Key("OutputDriveAndPath");
    json.String(config.OutputDriveAndPath);
    for (const auto& [key, value] : {std::pair{"PublishTo", &config.PublishTo},
                                     {"PublishCredentialsFile", &config.PublishCredentialsFile}}) {
        json.Key(key);
        if (value->empty()) {
            json.Null();
        } else {
            json.String(*value);
        }
    }
    json.Key("ports");
    json.BeginArray(/*multiline=*/true);
    for (int p = 0; p < config.NumPorts; ++p) {
        WritePort(json, config, p);
    }
    json.EndArray();
    json.EndObject();
    out << '\n';
}

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
    ComConfig config = ReadQuorInitializationFile(options.file.c_str());
    int status = -config.ErrorCode;
    if (status == 0 && options.json) {
        WriteConfigJson(config, out);
    } else if (config.ErrorString != nullptr) {
        out.write(config.ErrorString,
                  static_cast<std::streamsize>(std::strlen(config.ErrorString)));
    }
    out.flush();
    FreeComConfig(config);

    const std::vector<LintWarning> warnings = LintConfigurationFile(options.file);
    for (const LintWarning& warning : warnings) {
        err << options.file << ':' << warning.line << ": " << warning.text << '\n';
    }
    if (status == 0 && options.strict && !warnings.empty()) {
        err << "quorvane-cli check: --strict: " << warnings.size()
            << (warnings.size() == 1 ? " warning" : " warnings") << '\n';
        status = kCheckExitWarnings;
    }
    err.flush();
    return status;
}

void AddCheckCommand(CLI::App& app, int& exit_status) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* check = app.add_subcommand(
        "check", "Read and check a configuration file as the logger does at start-up");
    check->add_flag("--json", options->json,
                    "Print the configuration as one JSON object when the file is valid");
    check->add_flag("--strict", options->strict, "Fail (status 65) when a valid file has warnings");
    check->add_option("FILE", options->file, "The configuration file")->capture_default_str();
    check->callback(
        [options, &exit_status] { exit_status = RunCheck(*options, std::cout, std::cerr); });
}
