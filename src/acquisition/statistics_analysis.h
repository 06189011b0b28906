// The analysis behind the statistics file, shared by the logger's period flush
// and the offline `quorvane-cli stats`: one port's period text is cut into
// records at its terminator and into tokens at blanks and punctuation, and the
// configured token positions are summarised into one row each.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/com_config.h"

// A record longer than this is not analysed (code 22).
inline constexpr int MAX_WORKING_STRING_LEN = 1000;
// What a token position holds when the current record gave it no number. A
// field whose text converts to exactly this value therefore counts as empty.
inline constexpr double kNoStatisticsValue = -99.99;

// The settings of one port that the analysis reads. The j-th entries of the
// three lists belong together; `count` entries each.
struct PortStatisticsSettings {
    char terminator = '\n';                    // StringTerminationCharacter
    int32_t strip = 0;                         // LeadingTokenCharactersToStrip
    int32_t count = 0;                         // NumTokenIndices
    const int32_t* positions = nullptr;        // TokenIndicesForStatistics
    const int32_t* error_positions = nullptr;  // ErrorCheckingTokenIndices
    const double* error_values = nullptr;      // ErrorValuesPerTokenIndex
};

// The settings of port position `port` of `config`.
PortStatisticsSettings PortStatisticsSettingsOf(const ComConfig& config, int port);

// One row of the statistics file: the figures of one listed position.
struct StatisticsRow {
    long samples = 0;
    double mean = 0.0;
    double deviation = 0.0;  // population standard deviation
    long missing = 0;
    long non_printable = 0;
    long non_parsable = 0;
    long non_digit = 0;
};

// Told about every record that the log hears of: code 22 (record too long),
// 23 (more than MAX_TOKENS tokens) and 28 (a listed position missing), in the
// order the records come. The logger writes them to its log; the command line
// counts them.
class StatisticsEvents {
public:
    virtual ~StatisticsEvents() = default;
    virtual void OnRecordEvent(int code) = 0;
};

// How many entries of each of the codes 22, 23 and 28 one port's analysis
// writes to the log in a period. A port that sends nothing but bad records
// would otherwise write one entry per record: hundreds of thousands in one
// flush, during which nothing is polled and the watchdog is not kicked.
inline constexpr long kRecordEntriesPerCode = 10;

// The log side of one port's analysis in one period, shared by the logger and
// the command line so that both count alike: the first kRecordEntriesPerCode
// records of each code are written as they come (the entry texts of codes 22,
// 23 and 28, with the port's COM number); the rest are only counted, and
// WriteSummaries writes one code 35 entry for each code that had more.
class RecordEntryLimit final : public StatisticsEvents {
public:
    using Writer = std::function<void(const char* message)>;

    // `write` gets each entry's whole message; it may be empty (count only).
    RecordEntryLimit(int com_number, Writer write);

    void OnRecordEvent(int code) override;
    // Once, after the port's analysis: the summary entries, in code order.
    void WriteSummaries();

    // Records of `code` (22, 23 or 28) seen so far, written or not.
    long Count(int code) const;

private:
    struct CodeCount {
        int code;
        const char* format;
        long seen;
    };
    CodeCount* Find(int code);
    void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));

    int com_number_;
    Writer write_;
    std::array<CodeCount, 3> counts_;
};

// Analyses `length` bytes of one port's period text (zero bytes included; a
// record that holds one is not printable). Returns one row per listed position,
// in list order. The text is not changed. `events` may be null.
std::vector<StatisticsRow> AnalysePortText(const char* text, std::size_t length,
                                           const PortStatisticsSettings& settings,
                                           StatisticsEvents* events);

// The same analysis of a text that arrives in pieces (a long period read back
// from the journal): every piece in order to Feed, then Finish. The rows and
// the events are those AnalysePortText gives for the whole text; no more than
// one record is held in memory.
class StatisticsStream {
public:
    StatisticsStream(const PortStatisticsSettings& settings, StatisticsEvents* events);
    ~StatisticsStream();
    StatisticsStream(const StatisticsStream&) = delete;
    StatisticsStream& operator=(const StatisticsStream&) = delete;

    void Feed(const char* bytes, std::size_t length);
    std::vector<StatisticsRow> Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The number the statistics take from a token of digits, '.', '+' and '-':
// the C conversion (strtod in the "C" locale) of its longest valid prefix, 0
// when it has none. Exposed for the tests.
double ConvertStatisticsToken(const char* token, std::size_t length);

// The header block that opens every period's table, from the empty first line
// to the dashed line, with the period's start and end (UTC calendar seconds).
std::string FormatStatisticsHeader(int64_t period_start, int64_t period_end);

// One row line, ending in "\n".
std::string FormatStatisticsRow(const char* instrument, const char* label,
                                const StatisticsRow& row);

// "yydddhh.sta" for the file-name time of a period (UTC).
std::string StatisticsFileName(const std::tm& file_name_time);
