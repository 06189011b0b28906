// A small streaming JSON writer for the command line's reports and the
// published messages. Objects are written one member per line; arrays of
// plain values stay on one line.
//
// Text from configuration files is not necessarily UTF-8. String() keeps every
// byte: valid UTF-8 is written as it is, and every byte that is not part of a
// valid UTF-8 sequence becomes the escape \udcXX ("surrogateescape": Python
// gives the bytes back with json.loads(s).encode('utf-8', 'surrogateescape')).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace json_text {

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    void BeginObject();
    void EndObject();
    // `multiline`: one element per line (for arrays of objects).
    void BeginArray(bool multiline = false);
    void EndArray();
    void Key(std::string_view key);

    void Int(int64_t value);
    // Shortest text that reads back as the same number; NaN and infinities,
    // which JSON cannot hold, become null.
    void Double(double value);
    void String(std::string_view bytes);
    void Null();

private:
    struct Level {
        bool object;
        bool multiline;
        int count;
    };
    void BeforeValue();
    void NewLine();

    std::ostream& out_;
    std::vector<Level> levels_;
    bool after_key_ = false;
};

// `bytes` as a JSON string literal, quotes included (see JsonWriter::String).
std::string JsonStringLiteral(std::string_view bytes);

}  // namespace json_text
