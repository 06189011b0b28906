#include "json/json_writer.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace json_text {
namespace {

// Length of the valid UTF-8 sequence at the start of `bytes`; 0 when its first
// byte does not begin one (stray continuation bytes, overlong forms, encoded
// surrogates, code points above U+10FFFF, cut-off sequences).
std::size_t Utf8SequenceLength(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    uint32_t code_point = 0;
    uint32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1Fu;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0Fu;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[i]);
        if ((next & 0xC0u) != 0x80u) {
            return 0;
        }
        code_point = (code_point << 6) | (next & 0x3Fu);
    }
    const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    if (code_point < smallest || surrogate || code_point > 0x10FFFF) {
        return 0;
    }
    return length;
}

void AppendEscape(std::string& out, const char* format, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

}  // namespace

std::string JsonStringLiteral(std::string_view bytes) {
    std::string out = "\"";
    while (!bytes.empty()) {
        const std::size_t length = Utf8SequenceLength(bytes);
        const auto byte = static_cast<unsigned char>(bytes[0]);
        if (length == 0) {
            AppendEscape(out, "\\udc%02x", byte);
            bytes.remove_prefix(1);
            continue;
        }
        switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    AppendEscape(out, "\\u%04x", byte);
                } else {
                    out.append(bytes.substr(0, length));
                }
        }
        bytes.remove_prefix(length);
    }
    out += '"';
    return out;
}

void JsonWriter::NewLine() {
    out_ << '\n' << std::string(2 * levels_.size(), ' ');
}

void JsonWriter::BeforeValue() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (levels_.empty()) {
        return;
    }
    Level& level = levels_.back();
    if (level.count++ > 0) {
        out_ << (level.multiline ? "," : ", ");
    }
    if (level.multiline) {
        NewLine();
    }
}

void JsonWriter::BeginObject() {
    BeforeValue();
    out_ << '{';
    levels_.push_back({true, true, 0});
}

void JsonWriter::EndObject() {
    const bool empty = levels_.back().count == 0;
    levels_.pop_back();
    if (!empty) {
        NewLine();
    }
    out_ << '}';
}

void JsonWriter::BeginArray(bool multiline) {
    BeforeValue();
    out_ << '[';
    levels_.push_back({false, multiline, 0});
}

void JsonWriter::EndArray() {
    const Level level = levels_.back();
    levels_.pop_back();
    if (level.multiline && level.count > 0) {
        NewLine();
    }
    out_ << ']';
}

void JsonWriter::Key(std::string_view key) {
    BeforeValue();
    out_ << JsonStringLiteral(key) << ": ";
    after_key_ = true;
}

void JsonWriter::Int(int64_t value) {
    BeforeValue();
    out_ << value;
}

void JsonWriter::Double(double value) {
    BeforeValue();
    out_ << nlohmann::json(value).dump();
}

void JsonWriter::String(std::string_view bytes) {
    BeforeValue();
    out_ << JsonStringLiteral(bytes);
}

void JsonWriter::Null() {
    BeforeValue();
    out_ << "null";
}

}  // namespace json_text
