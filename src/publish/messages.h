// The payloads the station publishes, as JSON text: a port's record, a log
// entry, a statistics row. Bytes that are not UTF-8 are written as \udcXX,
// as `quorvane-cli check --json` writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "acquisition/statistics.h"

namespace publish {

// UTC milliseconds since 1970 as ISO 8601 with milliseconds:
// "2026-12-10T07:05:01.123Z".
std::string IsoTimeMs(int64_t utc_ms);

// {"seq":N,"time":"...","text":"..."}
std::string RecordPayload(int64_t seq, int64_t received_ms, std::string_view text);

// {"time":"...","code":NN,"text":"..."} from an entry as the log holds it
// ("NN  text" after the stamp); code -1 when it begins with no code.
std::string LogEntryPayload(int64_t utc_ms, std::string_view message);

// A statistics row with the fields of the statistics file's columns
// (instrument_name, parameter_name, samples_in_statistics, mean,
// standard_deviation, missing_samples, non_printable_samples,
// non_parsable_samples, non_digit_samples), its port and its period.
std::string StatisticsRowPayload(const StatisticsRowReport& report);

}  // namespace publish
