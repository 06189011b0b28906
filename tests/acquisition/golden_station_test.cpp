// Golden station scenarios: each folder under tests/data/stations is a
// station's day told as files, in the way the statistics golden files work:
//   Quorvane.ini  the configuration (@OUTPUT@ stands for the output
//                 directory, @PTYn@ for the device of [COMn]: a pty);
//   script        what happens and when: "HH:MM:SS[.mmm] action" per line,
//                 on 2024-03-01 (UTC), "#" begins a comment. The actions:
//                 start; COMn "text" (the instrument sends it; C escapes);
//                 flush (the clock reaches a period end: wait for the
//                 flush); stop;
//   expected/     every file the output directory holds afterwards (data,
//                 statistics, log), byte for byte; in the log the output
//                 directory reads @OUTPUT@ and the version line @VERSION@.
// The real engine runs the script against pty instruments under the fake
// clock. With QUORVANE_UPDATE_GOLDEN=1 the run writes expected/ instead, for
// a new scenario or a deliberate change: review the difference before
// committing it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/ini_reader.h"
#include "support/engine_harness.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

fs::path ScenariosFolder() {
    return fs::path(QUORVANE_STATION_SCENARIOS);
}

std::vector<std::string> ScenarioNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ScenariosFolder(), ec)) {
        if (entry.is_directory()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// "a\tb\r\n" as the instrument sends it.
std::string Unescape(const std::string& quoted) {
    std::string text;
    for (size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] != '\\' || i + 1 == quoted.size()) {
            text += quoted[i];
            continue;
        }
        const char c = quoted[++i];
        if (c == 'x' && i + 2 < quoted.size()) {
            text += static_cast<char>(std::stoi(quoted.substr(i + 1, 2), nullptr, 16));
            i += 2;
            continue;
        }
        switch (c) {
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            case 't': text += '\t'; break;
            default: text += c; break;
        }
    }
    return text;
}

struct Step {
    int line = 0;
    int hour = 0, minute = 0, second = 0, ms = 0;
    std::string action;  // start, send, flush, stop
    int port_number = 0;
    std::string text;
};

std::vector<Step> ReadScript(const std::string& content) {
    std::vector<Step> steps;
    std::istringstream in(content);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        Step step;
        step.line = number;
        char rest[16] = {};
        const int fields = std::sscanf(line.c_str(), "%d:%d:%d%15s", &step.hour, &step.minute,
                                       &step.second, rest);
        if (fields >= 4 && rest[0] == '.') {
            step.ms = std::atoi(rest + 1);
        }
        const size_t space = line.find(' ');
        std::string action = space == std::string::npos ? "" : line.substr(space + 1);
        if (action.rfind("COM", 0) == 0) {
            step.action = "send";
            step.port_number = std::atoi(action.c_str() + 3);
            const size_t open = action.find('"');
            const size_t close = action.rfind('"');
            step.text = Unescape(action.substr(open + 1, close - open - 1));
        } else {
            step.action = action;
        }
        steps.push_back(step);
    }
    return steps;
}

// The output directory's files as the expected folder holds them.
std::map<std::string, std::string> OutputFiles(const std::string& directory) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (!entry.is_regular_file()) {
            continue;  // the journal folder: the engine's own
        }
        std::string content = ReadFile(entry.path().string());
        ReplaceAll(content, directory, "@OUTPUT@");
        if (content.rfind("Quorvane Version ", 0) == 0) {
            content.replace(0, content.find('\n'), "@VERSION@");
        }
        files[entry.path().filename().string()] = content;
    }
    return files;
}

class GoldenStation : public engine_testing::EngineTest,
                      public ::testing::WithParamInterface<std::string> {
protected:
    fs::path Folder() const { return ScenariosFolder() / GetParam(); }

    // The scenario's configuration, with its placeholders filled in.
    ComConfig Configure() {
        std::string ini = ReadFile((Folder() / "Quorvane.ini").string());
        ReplaceAll(ini, "@OUTPUT@", dir_.path());
        for (int n = 1; n <= 99; ++n) {
            const std::string placeholder = "@PTY" + std::to_string(n) + "@";
            if (ini.find(placeholder) != std::string::npos) {
                ReplaceAll(ini, placeholder, AddPty().path());
                pty_of_[n] = ptys_.back().get();
            }
        }
        const std::string path = ini_dir_.File("Quorvane.ini");
        WriteFile(path, ini);
        return ReadQuorInitializationFile(path.c_str());
    }

    int PositionOf(const ComConfig& config, int port_number) const {
        for (int p = 0; p < config.NumPorts; ++p) {
            if (config.PortNumber[p] == port_number) {
                return p;
            }
        }
        return -1;
    }

    testing_support::TempDir ini_dir_;
    std::map<int, sim::PtyPair*> pty_of_;
};

TEST_P(GoldenStation, TheRunLeavesExactlyTheExpectedFiles) {
    ComConfig config = Configure();
    ASSERT_EQ(config.ErrorCode, 0) << (config.ErrorString != nullptr ? config.ErrorString : "");
    const int number_of_ports = config.NumPorts;
    bool started = false;
    for (const Step& step : ReadScript(ReadFile((Folder() / "script").string()))) {
        SCOPED_TRACE("script line " + std::to_string(step.line));
        if (step.action == "flush") {
            EndPeriodAt(step.hour, step.minute, step.second, step.ms);
            continue;
        }
        SetTime(step.hour, step.minute, step.second, step.ms);
        if (step.action == "start") {
            Start(config);
            started = true;
        } else if (step.action == "send") {
            const int position = PositionOf(com, step.port_number);
            ASSERT_GE(position, 0) << "COM" << step.port_number << " is not configured";
            Send(*pty_of_.at(step.port_number), position, step.text);
        } else if (step.action == "stop") {
            Stop();
        } else {
            FAIL() << "unknown action \"" << step.action << "\"";
        }
    }
    ASSERT_TRUE(started);
    ASSERT_GT(number_of_ports, 0);

    const std::map<std::string, std::string> found = OutputFiles(dir_.path());
    const fs::path expected_folder = Folder() / "expected";
    if (std::getenv("QUORVANE_UPDATE_GOLDEN") != nullptr) {
        fs::remove_all(expected_folder);
        fs::create_directories(expected_folder);
        for (const auto& [name, content] : found) {
            WriteFile((expected_folder / name).string(), content);
        }
        return;
    }
    std::map<std::string, std::string> expected;
    for (const auto& entry : fs::directory_iterator(expected_folder)) {
        expected[entry.path().filename().string()] = ReadFile(entry.path().string());
    }
    for (const auto& [name, content] : expected) {
        const auto it = found.find(name);
        if (it == found.end()) {
            ADD_FAILURE() << name << " was not written";
            continue;
        }
        EXPECT_EQ(it->second, content) << name << " differs from " << (expected_folder / name);
    }
    for (const auto& [name, content] : found) {
        EXPECT_TRUE(expected.count(name) != 0) << name << " was written but is not expected";
    }
}

INSTANTIATE_TEST_SUITE_P(Stations, GoldenStation, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& scenario) {
                             std::string name = scenario.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
