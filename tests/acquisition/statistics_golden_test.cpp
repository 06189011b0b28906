// Golden rows: each case under tests/data/statistics is a port's settings
// (<name>.case), one period's received text (<name>.txt) and the rows the
// statistics file must show for it (<name>.rows), with the log codes expected.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/statistics_analysis.h"
#include "support/temp_dir.h"

namespace {

using testing_support::ReadFile;

struct GoldenCase {
    std::string instrument;
    PortStatisticsSettings settings;
    std::vector<int32_t> positions;
    std::vector<std::string> labels;
    std::vector<int32_t> error_positions;
    std::vector<double> error_values;
    std::vector<int> log_codes;
};

std::string DataPath(const std::string& file) {
    return std::string(QUORVANE_STATISTICS_DATA) + "/" + file;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

template <typename T, typename Convert>
std::vector<T> Numbers(const std::string& text, Convert convert) {
    std::vector<T> numbers;
    for (const std::string& word : Words(text)) {
        numbers.push_back(static_cast<T>(convert(word.c_str())));
    }
    return numbers;
}

// The .case file holds "Key=value" lines named after the INI keys.
GoldenCase LoadCase(const std::string& name) {
    GoldenCase golden;
    std::istringstream in(ReadFile(DataPath(name + ".case")));
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "InstrumentType") {
            golden.instrument = value;
        } else if (key == "StringTerminationCharacter") {
            golden.settings.terminator = static_cast<char>(std::atoi(value.c_str()));
        } else if (key == "LeadingTokenCharactersToStrip") {
            golden.settings.strip = std::atoi(value.c_str());
        } else if (key == "TokenIndicesForStatistics") {
            golden.positions = Numbers<int32_t>(value, std::atoi);
        } else if (key == "TokenLabelsForStatistics") {
            golden.labels = Words(value);
        } else if (key == "ErrorCheckingTokenIndices") {
            golden.error_positions = Numbers<int32_t>(value, std::atoi);
        } else if (key == "ErrorValuesPerTokenIndex") {
            golden.error_values = Numbers<double>(value, std::atof);
        } else if (key == "LogCodes") {
            golden.log_codes = Numbers<int>(value, std::atoi);
        } else {
            ADD_FAILURE() << name << ".case: unknown key " << key;
        }
    }
    golden.settings.count = static_cast<int32_t>(golden.positions.size());
    golden.settings.positions = golden.positions.data();
    golden.settings.error_positions = golden.error_positions.data();
    golden.settings.error_values = golden.error_values.data();
    return golden;
}

class EventLog final : public StatisticsEvents {
public:
    void OnRecordEvent(int code) override { codes.push_back(code); }
    std::vector<int> codes;
};

class GoldenRows : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenRows, TextGivesTheExpectedRowsAndLogCodes) {
    const std::string name = GetParam();
    const GoldenCase golden = LoadCase(name);
    ASSERT_FALSE(golden.positions.empty()) << "no settings read for " << name;
    ASSERT_EQ(golden.labels.size(), golden.positions.size());
    ASSERT_EQ(golden.error_positions.size(), golden.positions.size());
    ASSERT_EQ(golden.error_values.size(), golden.positions.size());
    const std::string text = ReadFile(DataPath(name + ".txt"));
    const std::string expected = ReadFile(DataPath(name + ".rows"));
    ASSERT_FALSE(expected.empty()) << "no rows read for " << name;

    EventLog events;
    const std::vector<StatisticsRow> rows =
        AnalysePortText(text.data(), text.size(), golden.settings, &events);
    std::string actual;
    for (std::size_t j = 0; j < rows.size(); ++j) {
        actual += FormatStatisticsRow(golden.instrument.c_str(), golden.labels[j].c_str(), rows[j]);
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(events.codes, golden.log_codes);
}

INSTANTIATE_TEST_SUITE_P(Instruments, GoldenRows,
                         ::testing::Values("weather_station", "hygrometer", "gps_sentence"));
INSTANTIATE_TEST_SUITE_P(EdgeCases, GoldenRows,
                         ::testing::Values("no_terminator", "one_terminator", "missing_position",
                                           "numeric_tokens", "no_value_marker", "strip",
                                           "token_limit", "record_length", "non_printable",
                                           "listed_twice", "empty_records"));

}  // namespace
