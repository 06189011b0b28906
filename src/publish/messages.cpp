#include "publish/messages.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <utility>
#include <sstream>

#include "json/json_writer.h"
#include "platform/clock.h"

namespace publish {
namespace {

std::string OneLine(std::ostringstream& text) {
    std::string line = text.str();
    // The writer puts object members on lines of their own; a payload is one line.
    std::string compact;
    compact.reserve(line.size());
    bool in_string = false;
    bool escaped = false;
    for (const char c : line) {
        if (in_string) {
            compact += c;
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
            compact += c;
        } else if (c != '\n' && c != ' ') {
            compact += c;
        }
    }
    return compact;
}

}  // namespace

std::string IsoTimeMs(int64_t utc_ms) {
    int64_t seconds = utc_ms / 1000;
    int64_t millis = utc_ms % 1000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const std::tm parts = platform::BreakDownUtc(seconds);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string RecordPayload(int64_t seq, int64_t received_ms, std::string_view text) {
    std::string payload = "{\"seq\":" + std::to_string(seq) + ",\"time\":\"" +
                          IsoTimeMs(received_ms) + "\",\"text\":";
    payload += json_text::JsonStringLiteral(text);
    payload += '}';
    return payload;
}

std::string LogEntryPayload(int64_t utc_ms, std::string_view message) {
    int code = -1;
    if (message.size() >= 2 && std::isdigit(static_cast<unsigned char>(message[0])) &&
        std::isdigit(static_cast<unsigned char>(message[1]))) {
        code = (message[0] - '0') * 10 + (message[1] - '0');
    }
    std::string payload = "{\"time\":\"" + IsoTimeMs(utc_ms) + "\",\"code\":" +
                          std::to_string(code) + ",\"text\":";
    payload += json_text::JsonStringLiteral(message);
    payload += '}';
    return payload;
}

std::string StatisticsRowPayload(const StatisticsRowReport& report) {
    const StatisticsRow& row = report.row;
    std::ostringstream text;
    json_text::JsonWriter json(text);
    json.BeginObject();
    json.Key("port");
    json.String("COM" + std::to_string(report.port_number));
    json.Key("instrument_name");
    json.String(report.instrument);
    json.Key("parameter_name");
    json.String(report.label);
    json.Key("period_start");
    json.String(IsoTimeMs(report.period_start * 1000));
    json.Key("period_end");
    json.String(IsoTimeMs(report.period_end * 1000));
    json.Key("samples_in_statistics");
    json.Int(row.samples);
    json.Key("mean");
    json.Double(row.mean);
    json.Key("standard_deviation");
    json.Double(row.deviation);
    for (const auto& [key, count] : {std::pair{"missing_samples", row.missing},
                                     {"non_printable_samples", row.non_printable},
                                     {"non_parsable_samples", row.non_parsable},
                                     {"non_digit_samples", row.non_digit}}) {
        json.Key(key);
        json.Int(count);
    }
    json.EndObject();
    return OneLine(text);
}

}  // namespace publish
