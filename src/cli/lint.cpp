#include "cli/lint.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <variant>

#include "config/ini_reader.h"
#include "platform/comm.h"
#include "platform/files.h"
#include "publish/publish_target.h"
#include "serial/port.h"

namespace {

// The reader's line rules.
constexpr size_t kCharactersPerRead = 498;
constexpr char kCtrlZ = 0x1A;

// The reader's own keys: what it does not know, it passes over.
const std::vector<std::string> kPortKeys = PortSectionKeys();
const std::vector<std::string> kGlobalKeys = GlobalSectionKeys();

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A text as it appears in a message: in quotes, control characters escaped.
std::string Quoted(const std::string& text) {
    std::string shown = "'";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\t') {
            shown += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown + "'";
}

// A decimal number read as atoi reads it, and what is left after it.
struct DecimalReading {
    bool found = false;  // a digit was read
    long long value = 0;
    std::string rest;  // the text after the number
};

DecimalReading ReadDecimal(const std::string& text) {
    DecimalReading reading;
    size_t at = 0;
    while (at < text.size() && IsCSpace(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        reading.found = true;
        reading.value = std::min(reading.value * 10 + (text[at] - '0'), 1LL << 40);
    }
    reading.value = negative ? -reading.value : reading.value;
    reading.rest = text.substr(at);
    return reading;
}

// The whole text is a number of the C library (blanks around it allowed).
bool IsWholeNumber(const std::string& text, bool integer) {
    const std::string trimmed = Trimmed(text);
    if (trimmed.empty()) {
        return false;
    }
    char* end = nullptr;
    if (integer) {
        std::strtoll(trimmed.c_str(), &end, 10);
    } else {
        std::strtod(trimmed.c_str(), &end);
    }
    return end != nullptr && *end == '\0';
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// One piece of a line as the reader handles it: at most 498 characters, its
// line end removed.
struct Piece {
    int line;
    std::string text;
    bool continues_line;  // a later piece of a line that was too long
};

// The file's text as text mode reads it: CR LF is LF, Ctrl-Z ends the file.
std::string AsTextMode(const std::string& content) {
    std::string text;
    text.reserve(content.size());
    for (size_t i = 0; i < content.size(); ++i) {
        if (content[i] == kCtrlZ) {
            break;
        }
        if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
            continue;
        }
        text += content[i];
    }
    return text;
}

std::vector<Piece> SplitIntoPieces(const std::string& text) {
    std::vector<Piece> pieces;
    int line = 1;
    bool continues = false;
    std::string piece;
    for (const char c : text) {
        piece += c;
        if (c == '\n' || piece.size() == kCharactersPerRead) {
            const bool ended = c == '\n';
            if (ended) {
                piece.pop_back();
            }
            pieces.push_back({line, piece, continues});
            piece.clear();
            continues = !ended;
            line += ended ? 1 : 0;
        }
    }
    if (!piece.empty()) {
        pieces.push_back({line, piece, continues});
    }
    return pieces;
}

// Key and value of a key line, as the reader finds them: the key is the first
// run of characters not in `key_ends`; the value what follows the character
// that ended it, or the last "=" in that. No value: the reader refuses the
// line itself.
struct KeyLine {
    std::string key;
    std::optional<std::string> value;
    bool several_equals = false;  // the value is not all that follows the first "="
};

KeyLine SplitKeyLine(const std::string& line, const char* key_ends) {
    KeyLine result;
    const size_t key_start = line.find_first_not_of(key_ends);
    if (key_start == std::string::npos) {
        return result;
    }
    const size_t key_end = line.find_first_of(key_ends, key_start);
    result.key = line.substr(
        key_start, key_end == std::string::npos ? std::string::npos : key_end - key_start);
    if (key_end == std::string::npos || key_end + 1 >= line.size()) {
        return result;
    }
    const std::string rest = line.substr(key_end + 1);
    const size_t last_equals = rest.rfind('=');
    result.value = last_equals == std::string::npos ? rest : rest.substr(last_equals + 1);
    const size_t first_equals = line.find('=', key_start);
    result.several_equals =
        first_equals != std::string::npos && line.find('=', first_equals + 1) != std::string::npos;
    return result;
}

// Optimal string alignment distance, ignoring case.
size_t EditDistance(const std::string& a, const std::string& b) {
    const std::string x = Upper(a);
    const std::string y = Upper(b);
    std::vector<std::vector<size_t>> d(x.size() + 1, std::vector<size_t>(y.size() + 1));
    for (size_t i = 0; i <= x.size(); ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= y.size(); ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= x.size(); ++i) {
        for (size_t j = 1; j <= y.size(); ++j) {
            const size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[x.size()][y.size()];
}

enum class Section { kNone, kPort, kGlobal };

// What one port section said, for the checks that need more than one key.
struct PortSection {
    int number = 0;
    int header_line = 0;
    bool has_device = false;
    std::optional<long long> data_bits;
    std::optional<long long> stop_bits;
    int stop_bits_line = 0;
};

class Linter {
public:
    std::vector<LintWarning> Run(const std::string& content) {
        for (const Piece& piece : SplitIntoPieces(AsTextMode(content))) {
            if (piece.continues_line && !Trimmed(piece.text).empty()) {
                Warn(piece.line,
                     "the line is longer than 497 characters: the reader takes what follows "
                     "the first 498 as a line of its own");
            }
            HandlePiece(piece);
        }
        EndPortSection();
        std::stable_sort(
            warnings_.begin(), warnings_.end(),
            [](const LintWarning& a, const LintWarning& b) { return a.line < b.line; });
        return std::move(warnings_);
    }

private:
    void Warn(int line, std::string text) { warnings_.push_back({line, std::move(text)}); }

    void HandlePiece(const Piece& piece) {
        const std::string& text = piece.text;
        if (!text.empty() && text[0] == ';') {
            return;
        }
        if (text.find(']') != std::string::npos) {
            HandleHeader(piece.line, text);
            return;
        }
        if (text.find('=') == std::string::npos) {
            if (section_ != Section::kNone && !Trimmed(text).empty()) {
                Warn(piece.line, Quoted(Trimmed(text)) + ": a line without '=' is ignored");
            }
            return;
        }
        switch (section_) {
            case Section::kNone:
                Warn(piece.line, "a line before the first section header is ignored");
                break;
            case Section::kPort:
                HandlePortKeyLine(piece.line, text);
                break;
            case Section::kGlobal:
                HandleGlobalKeyLine(piece.line, text);
                break;
        }
    }

    void HandleHeader(int line, const std::string& text) {
        const size_t start = text.find_first_not_of(']');
        if (start == std::string::npos) {
            return;
        }
        const std::string name = Upper(text.substr(start, text.find(']', start) - start));
        if (text.find('=') != std::string::npos) {
            Warn(line, "the ']' makes this line a section header, so " +
                           Quoted(Trimmed(text.substr(0, text.find('=')))) +
                           " is not set here (no value may contain ']')");
        }
        const bool port = name.find("COM") != std::string::npos;
        const bool global = name.find("QUORVANE") != std::string::npos;
        if (port) {
            EndPortSection();
            port_ = PortSection{};
            port_.number = static_cast<int>(ReadDecimal(name.substr(name.find('M') + 1)).value);
            port_.header_line = line;
            section_ = Section::kPort;
            if (port_.number <= 0) {
                Warn(line, Quoted(Trimmed(text)) +
                               " contains COM and opens a port section for COM" +
                               std::to_string(port_.number));
            }
        }
        if (global) {
            EndPortSection();
            section_ = Section::kGlobal;
        }
        if (!port && !global && text.find('=') == std::string::npos) {
            Warn(line, Quoted(Trimmed(text)) + " names neither [COMn] nor [QUORVANE]: " +
                           (section_ == Section::kNone
                                ? std::string("the lines after it are ignored")
                                : "the lines after it still belong to " + CurrentSectionName()));
        }
    }

    std::string CurrentSectionName() const {
        return section_ == Section::kGlobal ? "[QUORVANE]"
                                            : "[COM" + std::to_string(port_.number) + "]";
    }

    void WarnUnknownKey(int line, const std::string& key, const std::vector<std::string>& keys) {
        if (!key.empty() && key[0] == ';') {
            Warn(line,
                 "a comment needs its ';' in the first column: this line is read as the key " +
                     Quoted(key) + " and ignored");
            return;
        }
        const std::string nearest = NearestKey(key, keys);
        if (nearest.empty()) {
            Warn(line,
                 Quoted(key) + " is not a key of " + CurrentSectionName() + "; it is ignored");
            return;
        }
        std::string text = key + ": did you mean " + nearest + "?";
        if (Trimmed(key) == nearest) {
            text = Quoted(key) + ": did you mean " + nearest + "? The blank or tab before '=' is " +
                   "part of the key";
        } else if (Upper(key) == Upper(nearest)) {
            text += " Key names are case-sensitive";
        }
        Warn(line, text);
    }

    void HandleGlobalKeyLine(int line, const std::string& text) {
        const KeyLine key_line = SplitKeyLine(text, "=");
        if (!key_line.value) {
            return;  // the reader refuses it
        }
        if (std::find(kGlobalKeys.begin(), kGlobalKeys.end(), key_line.key) == kGlobalKeys.end()) {
            WarnUnknownKey(line, key_line.key, kGlobalKeys);
            return;
        }
        CheckSeveralEquals(line, key_line);
        const std::string& key = key_line.key;
        const std::string& value = *key_line.value;
        if (key == "OutputDriveAndPath") {
            CheckLeadingBlank(line, key, value);
            CheckNoDot(line, value);
        } else if (key == "WatchDogTimerAddressInHex") {
            CheckWatchDogAddress(line, value);
        } else if (key == "PublishTo") {
            const auto target = publish::ReadPublishTarget(value);
            if (const auto* why = std::get_if<std::string>(&target)) {
                Warn(line, "PublishTo " + Quoted(value) + " cannot be used: " + *why +
                               "; the logger logs without publishing");
            }
        } else if (key == "PublishCredentialsFile") {
            const auto credentials = publish::ReadPublishCredentials(Trimmed(value));
            if (const auto* why = std::get_if<std::string>(&credentials)) {
                Warn(line, "PublishCredentialsFile: " + *why +
                               " (as the user who checks: the service's user may differ)");
            }
        } else {
            const DecimalReading reading = ReadDecimal(value);
            if (!reading.found) {
                Warn(line,
                     key + ": " + Quoted(value) + " is not a number; the logger uses 60 minutes");
            } else {
                CheckWholeNumber(line, key, value, reading);
            }
        }
    }

    void HandlePortKeyLine(int line, const std::string& text) {
        const KeyLine key_line = SplitKeyLine(text, "= ");
        if (!key_line.value) {
            return;  // the reader refuses it
        }
        if (std::find(kPortKeys.begin(), kPortKeys.end(), key_line.key) == kPortKeys.end()) {
            WarnUnknownKey(line, key_line.key, kPortKeys);
            return;
        }
        CheckSeveralEquals(line, key_line);
        CheckPortValue(line, key_line.key, *key_line.value);
    }

    void CheckPortValue(int line, const std::string& key, const std::string& value) {
        if (key == "InstrumentType" || key == "Parity" || key == "StartupInitializationFunction" ||
            key == "AcquisitionInitializationFunction") {
            CheckLeadingBlank(line, key, value);
        }
        if (key == "Baud" || key == "DataBits" || key == "StopBits" ||
            key == "StringTerminationCharacter" || key == "LeadingTokenCharactersToStrip") {
            CheckPortNumber(line, key, value);
        } else if (key == "Parity") {
            const std::string refusal = ParityRefusal(value.empty() ? '\0' : Upper(value)[0]);
            if (!refusal.empty()) {
                Warn(line, "Parity " + Quoted(value) + ": " + refusal);
            }
        } else if (key == "DoStats") {
            const std::string upper = Upper(value);
            if (upper.find("YES") == std::string::npos && Trimmed(upper) != "NO") {
                Warn(line, "DoStats " + Quoted(value) + " is neither YES nor NO and counts as NO");
            }
        } else if (key == "TokenIndicesForStatistics" || key == "ErrorCheckingTokenIndices" ||
                   key == "ErrorValuesPerTokenIndex" || key == "TokenLabelsForStatistics") {
            CheckList(line, key, value);
        } else if (key == "Device") {
            port_.has_device = true;
            CheckDevice(line, value);
        }
    }

    void CheckPortNumber(int line, const std::string& key, const std::string& value) {
        const DecimalReading reading = ReadDecimal(value);
        if (!reading.found) {
            Warn(line, key + ": " + Quoted(value) + " is not a number; the logger reads 0" +
                           (key == "Baud" || key == "DataBits" || key == "StopBits"
                                ? ", which the port open refuses"
                                : ""));
            return;
        }
        CheckWholeNumber(line, key, value, reading);
        std::string refusal;
        if (key == "Baud") {
            refusal = BaudRefusal(reading.value);
        } else if (key == "DataBits") {
            port_.data_bits = reading.value;
            refusal = DataBitsRefusal(reading.value);
        } else if (key == "StopBits") {
            port_.stop_bits = reading.value;
            port_.stop_bits_line = line;
        } else if (key == "StringTerminationCharacter" &&
                   (reading.value < 0 || reading.value > 255)) {
            Warn(line, "StringTerminationCharacter " + std::to_string(reading.value) +
                           ": only its low 8 bits count, so records end at character " +
                           std::to_string(reading.value & 0xFF));
        }
        if (!refusal.empty()) {
            Warn(line, key + " " + std::to_string(reading.value) + ": " + refusal);
        }
    }

    void CheckWholeNumber(int line, const std::string& key, const std::string& value,
                          const DecimalReading& reading) {
        if (!Trimmed(reading.rest).empty()) {
            Warn(line, key + ": " + Quoted(value) + " reads as " + std::to_string(reading.value));
        }
    }

    void CheckLeadingBlank(int line, const std::string& key, const std::string& value) {
        if (!value.empty() && (value[0] == ' ' || value[0] == '\t')) {
            Warn(line, key + ": the blank after '=' is part of the value " + Quoted(value));
        }
    }

    // The reader refuses any output path with a dot in it, and says only
    // "Access is denied": the true reason is told here.
    void CheckNoDot(int line, const std::string& value) {
        if (value.find('.') != std::string::npos) {
            Warn(line, "OutputDriveAndPath: the logger refuses a path with a '.' in it (it says "
                       "\"Access is denied\"); name the directory without one");
        }
    }

    void CheckSeveralEquals(int line, const KeyLine& key_line) {
        if (key_line.several_equals) {
            Warn(line, key_line.key +
                           ": the value is what follows the last '=': " + Quoted(*key_line.value));
        }
    }

    void CheckList(int line, const std::string& key, const std::string& value) {
        const std::string upper = Upper(value);
        if (upper.find("NONE") != std::string::npos) {
            if (Trimmed(upper) != "NONE") {
                Warn(line,
                     key + ": " + Quoted(value) + " contains NONE, so the whole list is empty");
            }
            return;
        }
        if (key == "TokenLabelsForStatistics") {
            return;
        }
        const bool integers = key != "ErrorValuesPerTokenIndex";
        std::istringstream entries(value);
        std::string entry;
        while (std::getline(entries, entry, ' ')) {
            if (entry.empty() || IsWholeNumber(entry, integers)) {
                continue;
            }
            if (integers) {
                const DecimalReading reading = ReadDecimal(entry);
                Warn(line, key + ": the entry " + Quoted(entry) + " reads as " +
                               std::to_string(reading.found ? reading.value : 0) +
                               " (entries are separated by blanks only)");
            } else {
                Warn(line, key + ": the entry " + Quoted(entry) +
                               " is not a number (entries are separated by blanks only)");
            }
        }
    }

    // As the reader's %x: blanks, a sign, "0x", hex digits up to the first other.
    void CheckWatchDogAddress(int line, const std::string& value) {
        const std::string upper = Upper(value);
        if (upper.find("NONE") != std::string::npos || upper.find("DEFAULT") != std::string::npos) {
            return;
        }
        size_t at = value.find_first_not_of(" \t");
        at = at == std::string::npos ? value.size() : at;
        if (at < value.size() && (value[at] == '+' || value[at] == '-')) {
            ++at;
        }
        if (value.compare(at, 2, "0x") == 0 || value.compare(at, 2, "0X") == 0) {
            at += at + 2 < value.size() && IsHexDigit(value[at + 2]) ? 2 : 0;
        }
        const size_t digits = at;
        while (at < value.size() && IsHexDigit(value[at])) {
            ++at;
        }
        if (at == digits) {
            Warn(line, "WatchDogTimerAddressInHex: " + Quoted(value) +
                           " is not a hexadecimal address, NONE or DEFAULT; the logger uses no "
                           "watchdog board");
        } else if (!Trimmed(value.substr(at)).empty()) {
            Warn(line, "WatchDogTimerAddressInHex: " + Quoted(value) + " reads as " +
                           Upper(value.substr(digits, at - digits)));
        }
    }

    void CheckDevice(int line, const std::string& value) {
#ifdef _WIN32
        (void)line;
        (void)value;  // Windows opens COMn itself
#else
        CheckLeadingBlank(line, "Device", value);
        if (!platform::PathExists(value.c_str())) {
            Warn(line, "Device " + Quoted(value) + " does not exist, so the port open fails");
        }
#endif
    }

    void EndPortSection() {
        if (section_ != Section::kPort) {
            return;
        }
        if (port_.stop_bits) {
            const std::string refusal =
                StopBitsRefusal(*port_.stop_bits, port_.data_bits.value_or(8));
            if (!refusal.empty()) {
                Warn(port_.stop_bits_line,
                     "StopBits " + std::to_string(*port_.stop_bits) + ": " + refusal);
            }
        }
#ifndef _WIN32
        if (!port_.has_device && port_.number > 0) {
            const std::string device = platform::DefaultCommDevice(port_.number);
            if (!platform::PathExists(device.c_str())) {
                Warn(port_.header_line, "[COM" + std::to_string(port_.number) +
                                            "] has no Device key, and its default device " +
                                            device + " does not exist");
            }
        }
#endif
        section_ = Section::kNone;
    }

    Section section_ = Section::kNone;
    PortSection port_;
    std::vector<LintWarning> warnings_;
};

}  // namespace

std::vector<LintWarning> LintConfigurationText(const std::string& content) {
    return Linter().Run(content);
}

std::vector<LintWarning> LintConfigurationFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {};
    }
    std::ostringstream content;
    content << file.rdbuf();
    return LintConfigurationText(content.str());
}

std::string NearestKey(const std::string& key, const std::vector<std::string>& names) {
    std::string nearest;
    size_t best = std::string::npos;
    for (const std::string& name : names) {
        const size_t distance = EditDistance(Trimmed(key), name);
        const size_t allowed = std::max<size_t>(1, std::min<size_t>(3, name.size() / 4));
        if (distance <= allowed && distance < best) {
            best = distance;
            nearest = name;
        }
    }
    return nearest;
}

// These follow the serial library's line set-up: the rates it takes, the
// five parity letters, 5 to 8 data bits, 1 or 2 stop bits (2 not with 5 data
// bits, where a UART sends 1.5).
std::string BaudRefusal(long long baud) {
    if (baud <= 0) {
        return "the port open refuses it";
    }
    if (baud > INT32_MAX || !LineRateAccepted(static_cast<int32_t>(baud))) {
        return "the port open refuses rates above 57600 other than 115200, 128000, 230400, "
               "256000, 460800 and 921600";
    }
    return "";
}

std::string ParityRefusal(char parity) {
    if (parity == 'N' || parity == 'E' || parity == 'O' || parity == 'M' || parity == 'S') {
        return "";
    }
    return "the parity is one of the letters N, E, O, M, S; the port open refuses any other";
}

std::string DataBitsRefusal(long long data_bits) {
    if (data_bits >= 5 && data_bits <= 8) {
        return "";
    }
    return "the port open takes 5 to 8 data bits";
}

std::string StopBitsRefusal(long long stop_bits, long long data_bits) {
    if (stop_bits != 1 && stop_bits != 2) {
        return "the port open takes 1 or 2 stop bits";
    }
    if (stop_bits == 2 && data_bits == 5) {
        return "the port open refuses 2 stop bits with 5 data bits";
    }
    return "";
}
