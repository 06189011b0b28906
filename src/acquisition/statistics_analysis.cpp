#include "acquisition/statistics_analysis.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>
#include <utility>

#include "log/log_codes.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "version/version.h"

namespace {

// How the splitter sees each byte of a record. Letters are blanked before the
// split and the blank is a delimiter, so a letter separates tokens exactly as a
// delimiter does; what is left inside a token of a printable record is digits,
// '+', '-' and '.'.
enum ByteClass : uint8_t {
    kDelimiter = 0,  // blank, punctuation other than "+-.", letters, CR, LF
    kTokenByte = 1,  // 0-9 + - .
    kUnprintable = 2,
};

constexpr std::array<uint8_t, 256> MakeByteClasses() {
    std::array<uint8_t, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        if (c == '\n' || c == '\r') {
            classes[c] = kDelimiter;
        } else if (c < 32 || c > 126) {
            classes[c] = kUnprintable;
        } else if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') {
            classes[c] = kTokenByte;
        } else {
            classes[c] = kDelimiter;
        }
    }
    return classes;
}
constexpr std::array<uint8_t, 256> kByteClass = MakeByteClasses();

constexpr bool IsTablePosition(int32_t position) {
    return position >= 0 && position < MAX_TOKENS;
}

// A token of digits, '.', '+' and '-' is numeric when it holds at most one of
// each of the three marks, wherever they stand.
bool HasAtMostOneOfEachMark(const char* token, std::size_t length) {
    int points = 0;
    int minuses = 0;
    int pluses = 0;
    for (std::size_t i = 0; i < length; ++i) {
        points += token[i] == '.';
        minuses += token[i] == '-';
        pluses += token[i] == '+';
    }
    return points <= 1 && minuses <= 1 && pluses <= 1;
}

// The per-position tables of one port and the state of the record at hand.
// Everything is sized once; records are analysed without allocating.
class PortAnalysis {
public:
    PortAnalysis(const PortStatisticsSettings& settings, StatisticsEvents* events);

    void AnalyseText(const char* text, std::size_t length);
    // One record, as AnalyseText finds them.
    void AnalyseRecord(const char* record, std::size_t length);
    std::vector<StatisticsRow> Rows() const;

private:
    void CountForEveryListedPosition(std::array<long, MAX_TOKENS>& table);
    void EvaluateToken(int position, const char* token, std::size_t length);
    void AccumulateRecord();
    void AddSample(int position, double value);
    void ForgetRecord();
    void Report(int code) {
        if (events_ != nullptr) {
            events_->OnRecordEvent(code);
        }
    }

    const PortStatisticsSettings& settings_;
    StatisticsEvents* events_;
    int32_t listed_count_ = 0;

    // Positions whose value some row reads (listed or error-checking), and how
    // often each position is listed (a position listed twice counts twice).
    std::array<bool, MAX_TOKENS> needed_{};
    std::array<int, MAX_TOKENS> listed_times_{};

    std::array<long, MAX_TOKENS> samples_{};
    std::array<double, MAX_TOKENS> sum_{};
    // The spread, accumulated as Welford's running mean and sum of squared
    // differences of the samples less the position's first sample. The sum of
    // squares less n times the squared mean would cancel to rounding noise for
    // readings far from zero (a constant 45.2 gave 6.8e-06, not 0).
    std::array<double, MAX_TOKENS> shift_{};
    std::array<double, MAX_TOKENS> shifted_mean_{};
    std::array<double, MAX_TOKENS> squared_differences_{};
    std::array<long, MAX_TOKENS> missing_{};
    std::array<long, MAX_TOKENS> non_printable_{};
    std::array<long, MAX_TOKENS> non_parsable_{};
    std::array<long, MAX_TOKENS> non_digit_{};

    // The current record: values (kNoStatisticsValue where it gave none), and
    // the positions it touched, so that only those are reset afterwards.
    std::array<double, MAX_TOKENS> value_{};
    std::array<int, MAX_TOKENS> valued_positions_{};
    int valued_count_ = 0;
    std::array<int, MAX_TOKENS> non_digit_positions_{};
    int non_digit_count_ = 0;
};

PortAnalysis::PortAnalysis(const PortStatisticsSettings& settings, StatisticsEvents* events)
    : settings_(settings), events_(events) {
    listed_count_ =
        settings.count < 0 ? 0 : (settings.count > MAX_TOKENS ? MAX_TOKENS : settings.count);
    if (settings.positions == nullptr || settings.error_positions == nullptr ||
        settings.error_values == nullptr) {
        listed_count_ = 0;
    }
    value_.fill(kNoStatisticsValue);
    for (int j = 0; j < listed_count_; ++j) {
        // Positions outside the tables are never present in a record: such an
        // entry gets an empty row and makes every record incomplete.
        const int32_t position = settings.positions[j];
        const int32_t error_position = settings.error_positions[j];
        if (IsTablePosition(position)) {
            needed_[position] = true;
            ++listed_times_[position];
        }
        if (IsTablePosition(error_position)) {
            needed_[error_position] = true;
        }
    }
}

void PortAnalysis::AnalyseText(const char* text, std::size_t length) {
    const char terminator = settings_.terminator;
    const char* const end = text + length;
    const char* first = static_cast<const char*>(std::memchr(text, terminator, length));
    if (first == nullptr) {
        // No record end at all: the whole text is one record.
        if (length > 0) {
            AnalyseRecord(text, length);
        }
        return;
    }
    // What stands before the first terminator began before the period did, and
    // what follows the last one is still incomplete: both are left out.
    const char* start = first + 1;
    while (start < end) {
        const char* stop = static_cast<const char*>(std::memchr(start, terminator, end - start));
        if (stop == nullptr) {
            break;
        }
        if (stop > start) {
            AnalyseRecord(start, stop - start);
        }
        start = stop + 1;
    }
}

void PortAnalysis::CountForEveryListedPosition(std::array<long, MAX_TOKENS>& table) {
    for (int j = 0; j < listed_count_; ++j) {
        if (IsTablePosition(settings_.positions[j])) {
            ++table[settings_.positions[j]];
        }
    }
}

void PortAnalysis::AnalyseRecord(const char* record, std::size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(record);
    if (length > static_cast<std::size_t>(MAX_WORKING_STRING_LEN)) {
        for (std::size_t i = 0; i < length; ++i) {
            if (kByteClass[bytes[i]] == kUnprintable) {
                CountForEveryListedPosition(non_printable_);
                return;
            }
        }
        CountForEveryListedPosition(non_parsable_);
        Report(22);
        return;
    }

    // One pass splits the record and checks that it is printable; nothing is
    // counted until the whole record has passed.
    int tokens = 0;
    int listed_present = 0;
    bool cut = false;
    std::size_t i = 0;
    while (i < length) {
        const uint8_t byte_class = kByteClass[bytes[i]];
        if (byte_class == kDelimiter) {
            ++i;
            continue;
        }
        if (byte_class == kUnprintable) {
            ForgetRecord();
            CountForEveryListedPosition(non_printable_);
            return;
        }
        const std::size_t token_start = i;
        while (i < length && kByteClass[bytes[i]] == kTokenByte) {
            ++i;
        }
        if (cut) {
            continue;  // past the token limit only printability still matters
        }
        const int position = tokens++;
        if (position >= MAX_TOKENS) {
            cut = true;
            continue;
        }
        listed_present += listed_times_[position];
        if (needed_[position]) {
            EvaluateToken(position, record + token_start, i - token_start);
        }
    }

    for (int k = 0; k < non_digit_count_; ++k) {
        ++non_digit_[non_digit_positions_[k]];
    }
    if (cut) {
        CountForEveryListedPosition(non_parsable_);
        Report(23);
    }
    if (listed_present == listed_count_) {
        AccumulateRecord();
    } else {
        Report(28);
    }
    ForgetRecord();
}

void PortAnalysis::EvaluateToken(int position, const char* token, std::size_t length) {
    // Only a token at least as long as the strip count loses its leading
    // characters; one exactly as long becomes empty (and converts to 0).
    const std::size_t strip = settings_.strip > 0 ? static_cast<std::size_t>(settings_.strip) : 0;
    if (length >= strip) {
        token += strip;
        length -= strip;
    }
    if (HasAtMostOneOfEachMark(token, length)) {
        value_[position] = ConvertStatisticsToken(token, length);
        valued_positions_[valued_count_++] = position;
    } else {
        non_digit_positions_[non_digit_count_++] = position;
    }
}

void PortAnalysis::AccumulateRecord() {
    for (int j = 0; j < listed_count_; ++j) {
        const int32_t position = settings_.positions[j];
        if (!IsTablePosition(position)) {
            continue;
        }
        const int32_t error_position = settings_.error_positions[j];
        const double error_value = settings_.error_values[j];
        const double checked =
            IsTablePosition(error_position) ? value_[error_position] : kNoStatisticsValue;
        const double value = value_[position];
        // Exact comparisons, as the marker and the error values are meant.
        if (value != kNoStatisticsValue && checked != error_value) {
            AddSample(position, value);
        } else if (checked == error_value) {
            ++missing_[position];
        }
    }
}

void PortAnalysis::AddSample(int position, double value) {
    if (samples_[position] == 0) {
        shift_[position] = value;
    }
    const long n = ++samples_[position];
    sum_[position] += value;
    // Near the first sample the subtraction is exact, so the differences keep
    // every digit that the readings have.
    const double shifted = value - shift_[position];
    const double delta = shifted - shifted_mean_[position];
    shifted_mean_[position] += delta / static_cast<double>(n);
    squared_differences_[position] += delta * (shifted - shifted_mean_[position]);
}

void PortAnalysis::ForgetRecord() {
    for (int k = 0; k < valued_count_; ++k) {
        value_[valued_positions_[k]] = kNoStatisticsValue;
    }
    valued_count_ = 0;
    non_digit_count_ = 0;
}

std::vector<StatisticsRow> PortAnalysis::Rows() const {
    std::vector<StatisticsRow> rows(listed_count_);
    for (int j = 0; j < listed_count_; ++j) {
        const int32_t position = settings_.positions[j];
        if (!IsTablePosition(position)) {
            continue;
        }
        StatisticsRow& row = rows[j];
        row.samples = samples_[position];
        row.missing = missing_[position];
        row.non_printable = non_printable_[position];
        row.non_parsable = non_parsable_[position];
        row.non_digit = non_digit_[position];
        if (row.samples > 0) {
            const double n = static_cast<double>(row.samples);
            row.mean = sum_[position] / n;
            // The population variance: divided by n, not n - 1. Each term of
            // the sum is a product of two numbers of one sign, so it is never
            // negative.
            row.deviation = std::sqrt(squared_differences_[position] / n);
        }
    }
    return rows;
}

// Without an exponent a fixed-point text overflows only when its integer part
// is not zero; otherwise it was too small and, like strtod, gives zero.
double OutOfRangeValue(const char* digits, const char* end) {
    for (const char* p = digits; p < end && *p != '.'; ++p) {
        if (*p >= '1' && *p <= '9') {
            return std::numeric_limits<double>::infinity();
        }
    }
    return 0.0;
}

// Instruments send short readings such as "1013.25". With at most 15 digits
// the digits make an integer below 2^53 and the scale is a power of ten up to
// 10^15, both exact doubles, so one correctly rounded division gives exactly
// the correctly rounded value that strtod gives. Where the compiler evaluates
// doubles in wider registers (x87) the division could round twice, so there
// the general conversion does all the work.
#if FLT_EVAL_METHOD == 0
constexpr int kShortDecimalDigits = 15;
constexpr double kPowersOfTen[kShortDecimalDigits + 1] = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Reads digits with at most one point from `p`. Returns false when the text
// is longer than the exact range; `digits` is then not meaningful.
bool ReadShortDecimal(const char* p, const char* end, double& value, int& digits) {
    uint64_t mantissa = 0;
    int fraction_digits = 0;
    bool point = false;
    digits = 0;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            if (++digits > kShortDecimalDigits) {
                return false;
            }
            mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
            fraction_digits += point ? 1 : 0;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;  // the longest valid prefix ends here
        }
    }
    value = static_cast<double>(mantissa) / kPowersOfTen[fraction_digits];
    return true;
}
#endif

}  // namespace

double ConvertStatisticsToken(const char* token, std::size_t length) {
    const char* p = token;
    const char* const end = token + length;
    bool negative = false;
    // strtod takes one leading sign, '+' included; from_chars takes only '-',
    // so the sign is read here and the rest must start with a digit or '.'.
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end || *p == '+' || *p == '-') {
        return 0.0;  // no digits: strtod converts nothing
    }
    double value = 0.0;
#if FLT_EVAL_METHOD == 0
    int digits = 0;
    if (ReadShortDecimal(p, end, value, digits)) {
        if (digits == 0) {
            return 0.0;  // "." or ".-": nothing to convert
        }
        return negative ? -value : value;
    }
#endif
    const std::from_chars_result result = std::from_chars(p, end, value, std::chars_format::fixed);
    if (result.ec == std::errc::invalid_argument) {
        return 0.0;
    }
    if (result.ec == std::errc::result_out_of_range) {
        value = OutOfRangeValue(p, result.ptr);
    }
    return negative ? -value : value;
}

RecordEntryLimit::RecordEntryLimit(int com_number, Writer write)
    : com_number_(com_number),
      write_(std::move(write)),
      counts_{{{22, logmsg::k22RecordTooLong, 0},
               {23, logmsg::k23TooManyTokens, 0},
               {28, logmsg::k28IncompleteTokens, 0}}} {}

RecordEntryLimit::CodeCount* RecordEntryLimit::Find(int code) {
    for (CodeCount& count : counts_) {
        if (count.code == code) {
            return &count;
        }
    }
    return nullptr;
}

void RecordEntryLimit::OnRecordEvent(int code) {
    CodeCount* count = Find(code);
    if (count != nullptr && ++count->seen <= kRecordEntriesPerCode) {
        Write(count->format, com_number_);
    }
}

void RecordEntryLimit::WriteSummaries() {
    for (const CodeCount& count : counts_) {
        if (count.seen > kRecordEntriesPerCode) {
            Write(logmsg::k35MoreRecords, count.seen - kRecordEntriesPerCode, com_number_,
                  count.code);
        }
    }
}

long RecordEntryLimit::Count(int code) const {
    for (const CodeCount& count : counts_) {
        if (count.code == code) {
            return count.seen;
        }
    }
    return 0;
}

void RecordEntryLimit::Write(const char* format, ...) {
    if (!write_) {
        return;
    }
    char message[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    write_(message);
}

PortStatisticsSettings PortStatisticsSettingsOf(const ComConfig& config, int port) {
    PortStatisticsSettings settings;
    settings.terminator = config.StringTerminationCharacter[port];
    settings.strip = config.LeadingTokenCharactersToStrip[port];
    settings.count = config.NumTokenIndices[port];
    settings.positions = config.TokenIndicesForStatistics[port];
    settings.error_positions = config.ErrorCheckingTokenIndices[port];
    settings.error_values = config.ErrorValuesPerTokenIndex[port];
    return settings;
}

std::vector<StatisticsRow> AnalysePortText(const char* text, std::size_t length,
                                           const PortStatisticsSettings& settings,
                                           StatisticsEvents* events) {
    // The tables (about 7 kB) live on the heap once per port, not per record.
    auto analysis = std::make_unique<PortAnalysis>(settings, events);
    if (text != nullptr) {
        analysis->AnalyseText(text, length);
    }
    return analysis->Rows();
}

// The record being put together from the pieces: its bytes up to one more
// than a record may hold (a longer one is rejected whatever follows), its
// length, and whether a byte of it was unprintable.
struct StatisticsStream::State {
    State(const PortStatisticsSettings& given, StatisticsEvents* events)
        : settings(given), analysis(settings, events), terminator(given.terminator) {}

    void Add(const char* bytes, std::size_t length) {
        const auto* unsigned_bytes = reinterpret_cast<const unsigned char*>(bytes);
        for (std::size_t i = 0; i < length; ++i) {
            unprintable = unprintable || kByteClass[unsigned_bytes[i]] == kUnprintable;
        }
        const std::size_t room = kKept > record.size() ? kKept - record.size() : 0;
        record.append(bytes, length < room ? length : room);
        record_length += length;
    }

    // A whole record: to the analysis as it would see it whole.
    void EndRecord() {
        if (record_length > static_cast<std::size_t>(MAX_WORKING_STRING_LEN) && unprintable) {
            record.back() = '\x01';  // rejected as unprintable, as the whole one is
        }
        if (record_length > 0) {
            analysis.AnalyseRecord(record.data(), record.size());
        }
        record.clear();
        record_length = 0;
        unprintable = false;
    }

    static constexpr std::size_t kKept = MAX_WORKING_STRING_LEN + 1;

    const PortStatisticsSettings settings;  // the analysis keeps a reference to it
    PortAnalysis analysis;
    const char terminator;
    bool seen_terminator = false;  // what came before the first one is skipped
    std::string record;
    std::size_t record_length = 0;
    bool unprintable = false;
};

StatisticsStream::StatisticsStream(const PortStatisticsSettings& settings, StatisticsEvents* events)
    : state_(std::make_unique<State>(settings, events)) {}

StatisticsStream::~StatisticsStream() = default;

void StatisticsStream::Feed(const char* bytes, std::size_t length) {
    State& s = *state_;
    const char* const end = bytes + length;
    while (bytes < end) {
        const char* stop = static_cast<const char*>(std::memchr(bytes, s.terminator, end - bytes));
        if (stop == nullptr) {
            s.Add(bytes, static_cast<std::size_t>(end - bytes));
            return;
        }
        s.Add(bytes, static_cast<std::size_t>(stop - bytes));
        if (s.seen_terminator) {
            s.EndRecord();
        } else {
            // What stands before the first terminator began before the period.
            s.seen_terminator = true;
            s.record.clear();
            s.record_length = 0;
            s.unprintable = false;
        }
        bytes = stop + 1;
    }
}

std::vector<StatisticsRow> StatisticsStream::Finish() {
    State& s = *state_;
    if (!s.seen_terminator) {
        s.EndRecord();  // no record end at all: the whole text is one record
    }
    // Otherwise what follows the last terminator is incomplete: left out.
    return s.analysis.Rows();
}

std::string FormatStatisticsHeader(int64_t period_start, int64_t period_end) {
    static const std::string format =
        "\n" + std::string(51, ' ') + "KOVA/BRN Quorvane Version %s\n" + std::string(49, ' ') +
        "Data Acquisition Statistics\n" + std::string(35, ' ') +
        "Start Time: %02d/%02d/%02d %02d:%02d:%02d | End Time: %02d/%02d/%02d %02d:%02d:%02d\n"
        "\n" +
        std::string(3, ' ') +
        "Instrument     Parameter      Number of Samples             Standard     Missing   "
        "Non-Printable   Non-Parsable   Non-Digit\n" +
        std::string(6, ' ') +
        "Name          Name           In Statistics     Mean      Deviation    Samples      "
        "Samples        Samples       Samples\n" +
        std::string(126, '-') + "\n";
    const std::tm start = platform::BreakDownUtc(period_start);
    const std::tm end = platform::BreakDownUtc(period_end);
    char text[1024];
    std::snprintf(text, sizeof text, format.c_str(), kProgramVersion, start.tm_mon + 1,
                  start.tm_mday, (start.tm_year + 1900) % 100, start.tm_hour, start.tm_min,
                  start.tm_sec, end.tm_mon + 1, end.tm_mday, (end.tm_year + 1900) % 100,
                  end.tm_hour, end.tm_min, end.tm_sec);
    return text;
}

std::string FormatStatisticsRow(const char* instrument, const char* label,
                                const StatisticsRow& row) {
    // Instrument names and labels may hold up to 499 characters each.
    char text[1200];
    std::snprintf(text, sizeof text, "%-17s%-16s%10ld%15g%14g%11ld%13ld%15ld%14ld\n", instrument,
                  label, row.samples, row.mean, row.deviation, row.missing, row.non_printable,
                  row.non_parsable, row.non_digit);
    return text;
}

std::string StatisticsFileName(const std::tm& file_name_time) {
    return HourFileStem(file_name_time) + ".sta";
}
