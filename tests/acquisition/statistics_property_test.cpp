// Random period texts, checked against a plain reading of the statistics
// rules: strtok-style splitting of copied strings, the record tests and strtod.
// It is slow and obvious on purpose; the analysis under test is neither.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iomanip>
#include <random>
#include <string>
#include <vector>

#include "acquisition/statistics_analysis.h"
#include "instruments/record_tests.h"

namespace {

const std::string kDelimiters = [] {
    std::string set = "\n\r";
    for (int c = 32; c <= 126; ++c) {
        const bool punctuation_or_blank = (c >= 32 && c <= 42) || c == 44 || c == 47 ||
                                          (c >= 58 && c <= 64) || (c >= 91 && c <= 96) ||
                                          (c >= 123 && c <= 126);
        if (punctuation_or_blank) {
            set += static_cast<char>(c);
        }
    }
    return set;
}();

struct Reference {
    std::vector<StatisticsRow> rows;
    std::vector<int> events;
};

// Non-empty pieces of `text` between characters of `separators`.
std::vector<std::string> Pieces(const std::string& text, const std::string& separators) {
    std::vector<std::string> pieces;
    std::size_t start = text.find_first_not_of(separators);
    while (start != std::string::npos) {
        const std::size_t end = text.find_first_of(separators, start);
        pieces.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(separators, end);
    }
    return pieces;
}

// Two passes in long double: the mean first, then the squared distances
// from it. A series of one value has no spread at all.
double PopulationDeviation(const std::vector<double>& samples) {
    if (std::adjacent_find(samples.begin(), samples.end(), std::not_equal_to<>()) ==
        samples.end()) {
        return 0.0;
    }
    long double sum = 0;
    for (double x : samples) {
        sum += x;
    }
    const long double mean = sum / static_cast<long double>(samples.size());
    long double squares = 0;
    for (double x : samples) {
        squares += (x - mean) * (x - mean);
    }
    return static_cast<double>(std::sqrt(squares / static_cast<long double>(samples.size())));
}

Reference Analyse(const std::string& buffer, char terminator, int strip,
                  const std::vector<int>& positions, const std::vector<int>& error_positions,
                  const std::vector<double>& error_values) {
    const int listed = static_cast<int>(positions.size());
    std::vector<long> samples(100), missing(100), non_printable(100), non_parsable(100),
        non_digit(100);
    std::vector<double> sum(100), value(100, -99.99);
    std::vector<std::vector<double>> accepted(100);
    Reference result;

    std::string region = buffer;
    const std::size_t first = buffer.find(terminator);
    if (first != std::string::npos) {
        region = buffer.substr(first, buffer.rfind(terminator) + 1 - first);
    }
    for (const std::string& record : Pieces(region, std::string(1, terminator))) {
        const bool has_zero = record.find('\0') != std::string::npos;
        if (has_zero || IsPrintableRecord(record.c_str()) == 0) {
            for (int p : positions)
                non_printable[p]++;
            continue;
        }
        if (record.size() > 1000) {
            for (int p : positions)
                non_parsable[p]++;
            result.events.push_back(22);
            continue;
        }
        std::string work = record;
        BlankOutLetters(work.data());
        int present = 0;
        int n = 0;
        for (std::string token : Pieces(work, kDelimiters)) {
            if (static_cast<int>(token.size()) >= strip) {
                token = token.substr(strip);
            }
            if (n >= 100) {
                for (int p : positions)
                    non_parsable[p]++;
                result.events.push_back(23);
                break;
            }
            if (IsNumericToken(token.c_str()) != 0) {
                value[n] = std::strtod(token.c_str(), nullptr);
            } else {
                non_digit[n]++;
            }
            for (int p : positions)
                present += p == n;
            ++n;
        }
        if (present == listed) {
            for (int j = 0; j < listed; ++j) {
                const int p = positions[j];
                const double e = value[error_positions[j]];
                if (value[p] != -99.99 && e != error_values[j]) {
                    sum[p] += value[p];
                    accepted[p].push_back(value[p]);
                    samples[p]++;
                } else if (e == error_values[j]) {
                    missing[p]++;
                }
            }
        } else {
            result.events.push_back(28);
        }
        std::fill(value.begin(), value.end(), -99.99);
    }

    for (int p : positions) {
        StatisticsRow row;
        row.samples = samples[p];
        if (row.samples > 0) {
            row.mean = sum[p] / row.samples;
            row.deviation = PopulationDeviation(accepted[p]);
        }
        row.missing = missing[p];
        row.non_printable = non_printable[p];
        row.non_parsable = non_parsable[p];
        row.non_digit = non_digit[p];
        result.rows.push_back(row);
    }
    return result;
}

// Exactly equal, or both not a number (a field of hundreds of digits converts
// to infinity, and its deviation is then undefined).
bool SameFigure(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// A deviation as close to the two-pass figure as one pass in double can be:
// a constant series gives exactly 0, anything else agrees to thirteen digits.
bool CloseDeviation(double actual, double expected) {
    if (expected == 0.0 || std::isnan(expected)) {
        return SameFigure(actual, expected);
    }
    return std::fabs(actual - expected) <= 1e-13 * expected;
}

class EventLog final : public StatisticsEvents {
public:
    void OnRecordEvent(int code) override { codes.push_back(code); }
    std::vector<int> codes;
};

class RandomText {
public:
    explicit RandomText(unsigned seed) : random_(seed) {}

    int Between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }
    bool Chance(int percent) { return Between(1, 100) <= percent; }

    // Mostly numbers with signs and points in odd places, some words, and
    // now and then the no-value marker or an error flag value.
    std::string Token() {
        if (Chance(5)) {
            return "-99.99";
        }
        if (Chance(10)) {
            return std::to_string(Between(0, 1));
        }
        static const std::string kNumberBytes = "0123456789012345678901234567890123456789+-.";
        static const std::string kLetters = "ABCXYZabcxyzeE";
        std::string token;
        const int length = Between(0, 9);
        for (int i = 0; i < length; ++i) {
            token += Chance(8) ? kLetters[Between(0, kLetters.size() - 1)]
                               : kNumberBytes[Between(0, kNumberBytes.size() - 1)];
        }
        return token;
    }

    std::string Separator() {
        std::string separator(1, kDelimiters[Between(0, kDelimiters.size() - 1)]);
        if (Chance(20)) {
            separator += kDelimiters[Between(0, kDelimiters.size() - 1)];
        }
        return separator;
    }

    std::string Record(char terminator) {
        std::string record = Chance(30) ? Separator() : "";
        if (Chance(5)) {
            // Exactly 99 to 102 plain tokens: either side of the limit of 100.
            const int tokens = Between(99, 102);
            for (int i = 0; i < tokens; ++i) {
                record += std::to_string(Between(0, 999)) + " ";
            }
        } else {
            const int tokens = Chance(2) ? Between(103, 150) : Between(0, 14);
            for (int i = 0; i < tokens; ++i) {
                record += Token() + Separator();
            }
        }
        if (Chance(2)) {
            record += std::string(Between(990, 1010) - record.size() % 1000, '7');
        }
        if (Chance(4)) {
            static const char kUnprintable[] = {'\t', '\0', '\x7f', '\xb0', '\x01', '\xff'};
            record.insert(Between(0, record.size()), 1, kUnprintable[Between(0, 5)]);
        }
        record += terminator;
        if (Chance(5)) {
            record += terminator;  // an empty record
        }
        return record;
    }

    // A period's text: a partial record, whole records, another partial one.
    std::string Text(char terminator) {
        std::string text = Chance(70) ? Token() + Separator() + Token() : "";
        const int records = Chance(5) ? 0 : Between(1, 30);
        for (int i = 0; i < records; ++i) {
            text += Record(terminator);
        }
        if (Chance(60)) {
            text += Token() + Separator();
        }
        return text;
    }

private:
    std::mt19937 random_;
};

TEST(StatisticsProperty, RandomTextsGiveTheRowsAndLogCodesOfAPlainReading) {
    const char kTerminators[] = {'\n', '\r', '$', '*', ';', '0'};
    const double kErrorValues[] = {0.0, 1.0, -99.99, 5.0};
    int records_with_samples = 0;
    for (unsigned seed = 1; seed <= 400; ++seed) {
        RandomText random(seed);
        const char terminator = kTerminators[random.Between(0, 5)];
        const int strip = random.Chance(60) ? 0 : random.Between(1, 3);
        std::vector<int> positions, error_positions;
        std::vector<double> error_values;
        const int listed = random.Between(0, 6);
        for (int j = 0; j < listed; ++j) {
            positions.push_back(random.Between(0, random.Chance(10) ? 99 : 8));
            error_positions.push_back(random.Between(0, 8));
            error_values.push_back(kErrorValues[random.Between(0, 3)]);
        }
        const std::string text = random.Text(terminator);

        const Reference expected =
            Analyse(text, terminator, strip, positions, error_positions, error_values);
        PortStatisticsSettings settings;
        settings.terminator = terminator;
        settings.strip = strip;
        settings.count = listed;
        settings.positions = positions.data();
        settings.error_positions = error_positions.data();
        settings.error_values = error_values.data();
        EventLog events;
        const std::vector<StatisticsRow> rows =
            AnalysePortText(text.data(), text.size(), settings, &events);

        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(events.codes, expected.events);
        ASSERT_EQ(rows.size(), expected.rows.size());
        for (std::size_t j = 0; j < rows.size(); ++j) {
            SCOPED_TRACE("row " + std::to_string(j));
            EXPECT_EQ(rows[j].samples, expected.rows[j].samples);
            // Same sum in the same order: the means agree exactly.
            EXPECT_TRUE(SameFigure(rows[j].mean, expected.rows[j].mean))
                << rows[j].mean << " " << expected.rows[j].mean;
            EXPECT_TRUE(CloseDeviation(rows[j].deviation, expected.rows[j].deviation))
                << std::setprecision(17) << rows[j].deviation << " " << expected.rows[j].deviation;
            EXPECT_EQ(rows[j].missing, expected.rows[j].missing);
            EXPECT_EQ(rows[j].non_printable, expected.rows[j].non_printable);
            EXPECT_EQ(rows[j].non_parsable, expected.rows[j].non_parsable);
            EXPECT_EQ(rows[j].non_digit, expected.rows[j].non_digit);
            records_with_samples += rows[j].samples > 0;
        }
    }
    // The generator must reach the accumulating branch, not only rejections.
    EXPECT_GT(records_with_samples, 100);
}

// The analysis of a text that arrives in pieces (a long period read back from
// the journal) gives the rows and events of the whole text, wherever the
// pieces end: inside a record, on a terminator, one byte at a time.
TEST(StatisticsProperty, TextInPiecesGivesTheRowsAndLogCodesOfTheWholeText) {
    const char kTerminators[] = {'\n', '\r', '$', '0'};
    for (unsigned seed = 1; seed <= 300; ++seed) {
        RandomText random(seed);
        const char terminator = kTerminators[random.Between(0, 3)];
        std::vector<int> positions, error_positions;
        std::vector<double> error_values;
        const int listed = random.Between(0, 5);
        for (int j = 0; j < listed; ++j) {
            positions.push_back(random.Between(0, 8));
            error_positions.push_back(random.Between(0, 8));
            error_values.push_back(random.Chance(50) ? 1.0 : -99.99);
        }
        std::string text = random.Text(terminator);
        if (random.Chance(10)) {
            // A record far longer than a record may be, unprintable at its end.
            text +=
                terminator + std::string(5000, '5') + (random.Chance(50) ? "\t" : "") + terminator;
        }
        PortStatisticsSettings settings;
        settings.terminator = terminator;
        settings.strip = random.Chance(70) ? 0 : 1;
        settings.count = listed;
        settings.positions = positions.data();
        settings.error_positions = error_positions.data();
        settings.error_values = error_values.data();
        EventLog whole_events;
        const std::vector<StatisticsRow> whole =
            AnalysePortText(text.data(), text.size(), settings, &whole_events);

        EventLog piece_events;
        StatisticsStream stream(settings, &piece_events);
        const int largest = random.Chance(20) ? 1 : random.Between(1, 200);
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t length = std::min<std::size_t>(
                text.size() - at, static_cast<std::size_t>(random.Between(1, largest)));
            stream.Feed(text.data() + at, length);
            at += length;
        }
        const std::vector<StatisticsRow> pieces = stream.Finish();

        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(piece_events.codes, whole_events.codes);
        ASSERT_EQ(pieces.size(), whole.size());
        for (std::size_t j = 0; j < whole.size(); ++j) {
            EXPECT_EQ(pieces[j].samples, whole[j].samples);
            EXPECT_TRUE(SameFigure(pieces[j].mean, whole[j].mean));
            EXPECT_TRUE(SameFigure(pieces[j].deviation, whole[j].deviation));
            EXPECT_EQ(pieces[j].missing, whole[j].missing);
            EXPECT_EQ(pieces[j].non_printable, whole[j].non_printable);
            EXPECT_EQ(pieces[j].non_parsable, whole[j].non_parsable);
            EXPECT_EQ(pieces[j].non_digit, whole[j].non_digit);
        }
    }
}

}  // namespace
