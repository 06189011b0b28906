#include "cli/check_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli11.h"
#include "config/dynamic_array.h"
#include "config/ini_reader.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Global(const std::string& out) {
    return "[QUORVANE]\nOutputDriveAndPath=" + out +
           "\nWatchDogTimerAddressInHex=2A0\nDiskWriteAndStatsFrequencyInMinutes=20\n";
}

std::string Lists(const std::string& indices, const std::string& labels, const std::string& checks,
                  const std::string& values) {
    return "TokenIndicesForStatistics=" + indices + "\nTokenLabelsForStatistics=" + labels +
           "\nErrorCheckingTokenIndices=" + checks + "\nErrorValuesPerTokenIndex=" + values + "\n";
}

// A complete port section; `extra` lines come first and may replace nothing
// (each key once).
std::string Port(int n, const std::string& extra = "", const std::string& instrument = "Probe") {
    return "[COM" + std::to_string(n) + "]\n" + extra + "InstrumentType=" + instrument +
           "\nStartupInitializationFunction=NONE\nAcquisitionInitializationFunction=NONE\n"
           "Baud=9600\nParity=N\nDataBits=8\nStopBits=1\nDoStats=NO\n"
           "StringTerminationCharacter=10\nLeadingTokenCharactersToStrip=0\n" +
           Lists("NONE", "NONE", "NONE", "NONE");
}

// Nine ports that differ in every field the JSON shows.
std::string NinePorts(const std::string& out) {
    std::string text = Global(out);
    const char* parities = "NEOMSneoX";
    const char* startup[] = {"NONE", "GetOphirConstants", "LowranceGpsSetup"};
    for (int n = 1; n <= 9; ++n) {
        std::string indices, labels, checks, values;
        for (int i = 0; i < (n == 9 ? 0 : n * 3); ++i) {
            indices += std::to_string(i * 3) + " ";
            labels += "Label" + std::to_string(n) + "_" + std::to_string(i) + " ";
            checks += std::to_string(99 - i) + " ";
            values += (i % 2 == 0 ? std::to_string(i) + ".1 " : std::string("-1e300 "));
        }
        text += "[COM" + std::to_string(10 - n) + "]\n";
        if (n % 2 == 1) {
            text += "Device=/dev/ttyUSB" + std::to_string(n) + "\n";
        }
        text += "InstrumentType=Instrument \"" + std::to_string(n) + "\"\n";
        text += std::string("StartupInitializationFunction=") + startup[n % 3] + "\n";
        text += std::string("AcquisitionInitializationFunction=") +
                (n % 2 == 0 ? "NONE" : "GETOPHIRCONSTANTS") + "\n";
        text += "Baud=" + std::to_string(1200 * n) + "\nParity=" + parities[n - 1] + "\n";
        text += "DataBits=" + std::to_string(5 + n % 4) + "\nStopBits=" + std::to_string(n % 2 + 1);
        text += std::string("\nDoStats=") + (n % 2 == 0 ? "YES" : "NO") + "\n";
        text += "StringTerminationCharacter=" + std::to_string(n == 5 ? 200 : n % 2 ? 13 : 10);
        text += "\nLeadingTokenCharactersToStrip=" + std::to_string(n % 3) + "\n";
        text +=
            n == 9 ? Lists("NONE", "NONE", "NONE", "NONE") : Lists(indices, labels, checks, values);
    }
    return text;
}

class CheckCommand : public ::testing::Test {
protected:
    void SetUp() override {
        out_ = dir_.File("data");
        std::filesystem::create_directory(out_);
        ini_ = dir_.File("station.ini");
    }

    int Run(const std::string& content, bool as_json, std::string& output) const {
        WriteFile(ini_, content);
        std::ostringstream out;
        std::ostringstream warnings;
        const int status = RunCheck({ini_, as_json}, out, warnings);
        output = out.str();
        return status;
    }

    TempDir dir_;
    std::string out_;
    std::string ini_;
};

TEST_F(CheckCommand, PrintsTheMessageVerbatimAndExitsWithTheCodeWithoutItsSign) {
    struct Case {
        std::string content;
        int status;
        std::string output;
    };
    std::string ones;
    for (int i = 0; i < 101; ++i) {
        ones += "1 ";
    }
    const Case cases[] = {
        {Global(out_) + Port(2), 0, "Successful.\n"},
        {Global(out_) + "[COM2]\n", 10,
         "Missing InstrumentType definition for [COM2] in " + ini_ + ".\n"},
        // This message has no line end of its own, and none is added.
        {Global(out_) + "[COM4]\nErrorCheckingTokenIndices=" + ones + "\n", 3,
         "The number of ErrorCheckingTokenIndices exceeds MAX_TOKENS for COM4"},
        {Global(out_ + "/missing"), 12, ""},
        {Global(out_) + Port(1) + Port(1), 7, ""},
    };
    for (const Case& c : cases) {
        for (bool as_json : {false, true}) {
            if (c.status == 0 && as_json) {
                continue;
            }
            SCOPED_TRACE(c.content + (as_json ? " --json" : ""));
            std::string output;
            EXPECT_EQ(Run(c.content, as_json, output), c.status);
            if (!c.output.empty()) {
                EXPECT_EQ(output, c.output);
            }
            // Always exactly what the logger would show.
            ComConfig config = ReadQuorInitializationFile(ini_.c_str());
            EXPECT_EQ(output, config.ErrorString);
            FreeComConfig(config);
        }
    }
    std::ostringstream out;
    std::ostringstream warnings;
    EXPECT_EQ(RunCheck({dir_.File("none.ini"), false}, out, warnings), 1);
    EXPECT_EQ(warnings.str(), "") << "nothing to warn about in a file that cannot be read";
    EXPECT_EQ(out.str(), "Can't open INI file: " + dir_.File("none.ini") + "\n");
}

void* NoMemory(std::size_t, std::size_t) {
    return nullptr;
}

TEST_F(CheckCommand, OutOfMemoryWithoutAMessageExitsWith13AndPrintsNothing) {
    WriteFile(ini_, Global(out_));
    SetDynamicArrayAllocator(&NoMemory, nullptr);
    std::ostringstream out;
    ::testing::internal::CaptureStdout();  // the allocator's own diagnostic
    std::ostringstream warnings;
    const int status = RunCheck({ini_, true}, out, warnings);
    ::testing::internal::GetCapturedStdout();
    SetDynamicArrayAllocator(nullptr, nullptr);
    EXPECT_EQ(status, 13);
    EXPECT_EQ(out.str(), "");
}

TEST_F(CheckCommand, JsonOfANinePortFileHoldsEveryFieldOfTheRecord) {
    std::string output;
    ASSERT_EQ(Run(NinePorts(out_), true, output), 0) << output;
    const json doc = json::parse(output);
    ComConfig c = ReadQuorInitializationFile(ini_.c_str());
    ASSERT_EQ(c.ErrorCode, 0);

    EXPECT_EQ(doc.size(), 7u);
    EXPECT_TRUE(doc["PublishTo"].is_null());  // not given
    EXPECT_TRUE(doc["PublishCredentialsFile"].is_null());
    EXPECT_EQ(doc["WatchDogTimerAddress"], 0x2A0);
    EXPECT_EQ(doc["DiskWriteAndStatsFrequencyInMinutes"], 20);
    EXPECT_EQ(doc["NumPorts"], 9);
    EXPECT_EQ(doc["OutputDriveAndPath"], out_);
    ASSERT_EQ(doc["ports"].size(), 9u);
    for (int p = 0; p < 9; ++p) {
        SCOPED_TRACE(p);
        const json& port = doc["ports"][p];
        EXPECT_EQ(port.size(), 16u);
        EXPECT_EQ(port["PortNumber"], c.PortNumber[p]);
        if (p % 2 == 0) {
            EXPECT_EQ(port["Device"], c.Device[p]);
        } else {
            EXPECT_TRUE(port["Device"].is_null());
        }
        EXPECT_EQ(port["InstrumentType"], c.InstrumentType[p]);
        EXPECT_EQ(port["Baud"], c.Baud[p]);
        EXPECT_EQ(port["Parity"], std::string(1, c.Parity[p]));
        EXPECT_EQ(port["DataBits"], c.DataBits[p]);
        EXPECT_EQ(port["StopBits"], c.StopBits[p]);
        EXPECT_EQ(port["DoStats"], c.DoStats[p]);
        EXPECT_EQ(port["StringTerminationCharacter"],
                  static_cast<unsigned char>(c.StringTerminationCharacter[p]));
        EXPECT_EQ(port["LeadingTokenCharactersToStrip"], c.LeadingTokenCharactersToStrip[p]);
        EXPECT_EQ(port["StartupInitializationFunction"], c.StartupInitializationFunction[p]);
        EXPECT_EQ(port["AcquisitionInitializationFunction"],
                  c.AcquisitionInitializationFunction[p]);
        const int entries = c.NumTokenIndices[p];
        ASSERT_EQ(port["TokenIndicesForStatistics"].size(), static_cast<std::size_t>(entries));
        ASSERT_EQ(port["TokenLabelsForStatistics"].size(), static_cast<std::size_t>(entries));
        ASSERT_EQ(port["ErrorCheckingTokenIndices"].size(), static_cast<std::size_t>(entries));
        ASSERT_EQ(port["ErrorValuesPerTokenIndex"].size(), static_cast<std::size_t>(entries));
        for (int i = 0; i < entries; ++i) {
            EXPECT_EQ(port["TokenIndicesForStatistics"][i], c.TokenIndicesForStatistics[p][i]);
            EXPECT_EQ(port["TokenLabelsForStatistics"][i], c.TokenLabelsForStatistics[p][i]);
            EXPECT_EQ(port["ErrorCheckingTokenIndices"][i], c.ErrorCheckingTokenIndices[p][i]);
            EXPECT_EQ(port["ErrorValuesPerTokenIndex"][i].get<double>(),
                      c.ErrorValuesPerTokenIndex[p][i]);
        }
    }
    FreeComConfig(c);

    // The same values spelled out, where the mapping is not one to one.
    const json& first = doc["ports"][0];
    EXPECT_EQ(first["PortNumber"], 9);
    EXPECT_EQ(first["Device"], "/dev/ttyUSB1");
    EXPECT_EQ(first["InstrumentType"], "Instrument \"1\"");
    EXPECT_EQ(first["StartupInitializationFunction"], 2);
    EXPECT_EQ(first["StringTerminationCharacter"], 13);
    EXPECT_EQ(first["ErrorValuesPerTokenIndex"][1].get<double>(), -1e300);
    EXPECT_EQ(doc["ports"][4]["StringTerminationCharacter"], 200);
    EXPECT_EQ(doc["ports"][5]["Parity"], "N");
    EXPECT_EQ(doc["ports"][7]["TokenLabelsForStatistics"][23], "Label8_23");
    EXPECT_EQ(doc["ports"][7]["ErrorValuesPerTokenIndex"][22].get<double>(), 22.1);
    EXPECT_TRUE(doc["ports"][8]["TokenIndicesForStatistics"].empty());
}

TEST_F(CheckCommand, JsonKeepsEveryByteOfTheTexts) {
    std::string output;
    const std::string instrument = "caf\xc3\xa9 \xe9t\xe9 \xff\\";
    std::string file = Global(out_) + Port(1, "Device=/dev/\x80\n", instrument);
    file.replace(file.find("Parity=N"), 8, "Parity=\xe9");
    ASSERT_EQ(Run(file, true, output), 0) << output;
    EXPECT_NE(output.find("\"InstrumentType\": \"caf\xc3\xa9 \\udce9t\\udce9 \\udcff\\\\\""),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("\"Parity\": \"\\udce9\""), std::string::npos) << output;
    EXPECT_NE(output.find("\"Device\": \"/dev/\\udc80\""), std::string::npos) << output;
    // Apart from those escapes, which JSON parsers without surrogate support
    // refuse, the output is well-formed JSON.
    std::string plain = output;
    for (std::size_t at = plain.find("\\udc"); at != std::string::npos;
         at = plain.find("\\udc", at)) {
        plain.replace(at, 4, "\\u00");
    }
    const json doc = json::parse(plain);
    EXPECT_EQ(doc["NumPorts"], 1);
}

// Runs the command line as quorvane-cli's main does, capturing standard output.
int RunCommandLine(std::vector<std::string> args, std::string& output) {
    CLI::App app;
    app.require_subcommand(1);
    int exitStatus = -1;
    AddCheckCommand(app, exitStatus);
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    ::testing::internal::CaptureStdout();
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        exitStatus = 100 + app.exit(e);
    }
    output = ::testing::internal::GetCapturedStdout();
    return exitStatus;
}

TEST_F(CheckCommand, CommandLineReadsQuorvaneIniInTheCurrentDirectoryByDefault) {
    WriteFile(dir_.File("Quorvane.ini"), Global(out_) + Port(3));
    WriteFile(ini_, Global(out_) + "[COM3]\n");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    std::string output;
    EXPECT_EQ(RunCommandLine({"check"}, output), 0);
    EXPECT_EQ(output, "Successful.\n");
    EXPECT_EQ(RunCommandLine({"check", "--json"}, output), 0);
    EXPECT_EQ(json::parse(output)["ports"][0]["PortNumber"], 3);
    EXPECT_EQ(RunCommandLine({"check", "station.ini"}, output), 10);
    EXPECT_EQ(output, "Missing InstrumentType definition for [COM3] in station.ini.\n");
    EXPECT_EQ(RunCommandLine({"check", "--json", "station.ini"}, output), 10);
    EXPECT_EQ(output, "Missing InstrumentType definition for [COM3] in station.ini.\n");
    EXPECT_GT(RunCommandLine({"check", "a.ini", "b.ini"}, output), 100);  // refused
    std::filesystem::current_path(previous);
}

// The log's messages as log_codes.h spells them (escapes as written there).
std::vector<std::string> LogMessagesInSource(const std::string& header) {
    std::vector<std::string> messages;
    const std::string marker = "inline constexpr char k";
    for (size_t at = header.find(marker); at != std::string::npos;
         at = header.find(marker, at + 1)) {
        const size_t open = header.find('"', header.find('=', at));
        size_t close = open + 1;
        while (close < header.size() && header[close] != '"') {
            close += header[close] == '\\' ? 2 : 1;
        }
        messages.push_back(header.substr(open + 1, close - open - 1));
    }
    return messages;
}

// Every message the log can hold is told where an operator looks: in the
// README's table and in the man page, word for word.
TEST(LogCodes, EveryCodeIsInTheReadmeAndTheManPageAsTheLogWritesIt) {
    const std::string source = QUORVANE_SOURCE_DIR;
    const std::string readme = ReadFile(source + "/README.md");
    std::string man = ReadFile(source + "/docs/man/quorvane.1");
    for (size_t at = man.find("\\e"); at != std::string::npos; at = man.find("\\e", at + 1)) {
        man.erase(at + 1, 1);  // troff's backslash
    }
    const std::vector<std::string> messages =
        LogMessagesInSource(ReadFile(source + "/src/log/log_codes.h"));
    EXPECT_GE(messages.size(), 43u);
    for (const std::string& text : messages) {
        const std::string code = text.substr(0, 2);
        EXPECT_NE(readme.find("| " + code + " | `" + text + "` |"), std::string::npos) << text;
        EXPECT_NE(man.find(".B " + code + "\n" + text + "\n"), std::string::npos) << text;
    }
}

TEST_F(CheckCommand, ShippedExampleIsValidAndShownInFullInTheReadme) {
    const std::string source = QUORVANE_SOURCE_DIR;
    const std::string example = ReadFile(source + "/examples/Quorvane.ini");
    ASSERT_FALSE(example.empty());
    EXPECT_NE(ReadFile(source + "/README.md").find("```ini\n" + example + "```\n"),
              std::string::npos)
        << "README.md does not show examples/Quorvane.ini as it is";

    // As scripts/demo.sh does: the line that starts with "OutputDriveAndPath=" is replaced.
    const std::size_t start = example.find("\nOutputDriveAndPath=");
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = example.find('\n', start + 1);
    const std::string local =
        example.substr(0, start) + "\nOutputDriveAndPath=" + out_ + example.substr(end);
    std::string output;
    ASSERT_EQ(Run(local, true, output), 0) << output;
    const json doc = json::parse(output);
    ASSERT_EQ(doc["NumPorts"], 3);
    for (const json& port : doc["ports"]) {
        EXPECT_TRUE(port["Device"].is_string());
    }
    EXPECT_EQ(doc["ports"][1]["StartupInitializationFunction"], 2);
    EXPECT_EQ(doc["ports"][2]["DoStats"], 0);
}

}  // namespace
