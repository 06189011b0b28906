#include "config/ini_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "config/dynamic_array.h"
#include "instruments/exchanges.h"
#include "platform/files.h"

namespace {

// Characters per read. A longer line is continued by the next read, which is
// then handled as a line of its own.
constexpr int kCharactersPerRead = 498;
constexpr int kCtrlZ = 0x1A;

// Keys of a port section, in the order in which they are matched and reported.
// The first kRequiredPortKeys are required; Device is optional.
enum PortKey {
    kInstrumentType,
    kStartupInitializationFunction,
    kAcquisitionInitializationFunction,
    kBaud,
    kParity,
    kDataBits,
    kStopBits,
    kDoStats,
    kStringTerminationCharacter,
    kLeadingTokenCharactersToStrip,
    kTokenIndicesForStatistics,
    kTokenLabelsForStatistics,
    kErrorCheckingTokenIndices,
    kErrorValuesPerTokenIndex,
    kDevice,
    kPortKeyCount
};
constexpr int kRequiredPortKeys = kDevice;
constexpr const char* kPortKeyNames[kPortKeyCount] = {
    "InstrumentType",
    "StartupInitializationFunction",
    "AcquisitionInitializationFunction",
    "Baud",
    "Parity",
    "DataBits",
    "StopBits",
    "DoStats",
    "StringTerminationCharacter",
    "LeadingTokenCharactersToStrip",
    "TokenIndicesForStatistics",
    "TokenLabelsForStatistics",
    "ErrorCheckingTokenIndices",
    "ErrorValuesPerTokenIndex",
    "Device",
};

// Keys of the [QUORVANE] section, in matching and reporting order. The first
// kRequiredGlobalKeys are required; the publishing keys are optional.
enum GlobalKey {
    kOutputDriveAndPath,
    kWatchDogTimerAddressInHex,
    kDiskWriteAndStatsFrequencyInMinutes,
    kPublishTo,
    kPublishCredentialsFile,
    kGlobalKeyCount
};
constexpr int kRequiredGlobalKeys = kPublishTo;
constexpr const char* kGlobalKeyNames[kGlobalKeyCount] = {
    "OutputDriveAndPath",
    "WatchDogTimerAddressInHex",
    "DiskWriteAndStatsFrequencyInMinutes",
    "PublishTo",
    "PublishCredentialsFile",
};

}  // namespace

std::vector<std::string> PortSectionKeys() {
    return {std::begin(kPortKeyNames), std::end(kPortKeyNames)};
}

std::vector<std::string> GlobalSectionKeys() {
    return {std::begin(kGlobalKeyNames), std::end(kGlobalKeyNames)};
}

namespace {

constexpr int32_t kNeverDefined = -99;
constexpr int32_t kDefaultWatchDogAddress = 0x370;
constexpr int32_t kDefaultPeriodMinutes = 60;

// The record's and the bookkeeping arrays' failure text (as the station has
// always spelt it), and the line buffers'.
constexpr char kArrayAllocationText[] = "Memory aloocation error for array ";
constexpr char kLineBufferAllocationText[] = "Memory allocation error for array ";

constexpr char kStartupFunctionMessage[] =
    "Invalid specification for StartupInitializationFunction for COM%d.\n"
    "The following specifications are valid:\n"
    "                   1) none\n"
    "                   2) GetOphirConstants\n"
    "                   3) LawranceGpsSetup\n";
constexpr char kAcquisitionFunctionMessage[] =
    "Invalid specification for AcquisitionInitializationFunction for COM%d.\n"
    "The following specifications are valid:\n"
    "                   1) none\n"
    "                   2) GetOphirConstants\n";
constexpr char kAccessDeniedMessage[] =
    "Access is denied for the specified drive\\path [%s].\n"
    "Check that the output drive and path points to an accessible device\n"
    "with write permission. This error is also generated when specifying the\n"
    "output drive and path as the current working directory with the \".\"\n"
    "specification. In this case, specify the explicit drive and path of the\n"
    "current working directory instead of \".\"\n";
constexpr char kPathNotFoundMessage[] =
    "The output drive\\path specified [%s] can not be located by the operating system.\n"
    "Check that the OutputDriveAndPath definition for Quorvane is specified correctly in "
    "Quorvane.ini.\n";
constexpr char kPeriodMessage[] =
    "Invalid definition for DiskWriteAndStatsFrequencyInMinutes\n"
    "under [QUORVANE] in %s (60 minutes must be evenly\n"
    "divisible by DiskWriteAndStatsFrequencyInMinutes).\n";
constexpr char kPositionOutOfRangeMessage[] = "The value %d in %s for COM%d is outside 0 to %d.\n";

// ---- Text and number helpers. They behave as the C library's conversions in
// the "C" locale whatever locale the process runs in (a front end may have set
// the user's), and never overflow.

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* SkipCSpace(const char* text) {
    while (IsCSpace(*text)) {
        ++text;
    }
    return text;
}

void UpperCaseAscii(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'a' && *text <= 'z') {
            *text = static_cast<char>(*text - 'a' + 'A');
        }
    }
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A decimal integer as atoi reads it (leading white space, optional sign,
// digits up to the first non-digit; none gives 0), saturated to 32 bits.
// `found` tells whether any digit was read.
int32_t ReadDecimal(const char* text, bool* found = nullptr) {
    text = SkipCSpace(text);
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') {
        ++text;
    }
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    bool any = false;
    for (; *text >= '0' && *text <= '9'; ++text) {
        any = true;
        magnitude = std::min(magnitude * 10 + (*text - '0'), kLimit);
    }
    if (found != nullptr) {
        *found = any;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

// A hexadecimal integer as scanf's %x reads it (leading white space, optional
// sign, optional "0x" or "0X"); 0 when none can be read. Wider values saturate.
int32_t ReadHex(const char* text) {
    text = SkipCSpace(text);
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') {
        ++text;
    }
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && HexDigitValue(text[2]) >= 0) {
        text += 2;
    }
    uint64_t value = 0;
    for (int digit = HexDigitValue(*text); digit >= 0; digit = HexDigitValue(*++text)) {
        value = std::min<uint64_t>(value * 16 + static_cast<uint64_t>(digit),
                                   std::numeric_limits<uint32_t>::max());
    }
    const uint32_t bits = static_cast<uint32_t>(value);
    return static_cast<int32_t>(negative ? 0u - bits : bits);
}

// A number as atof reads it: leading white space, optional sign, a decimal or
// hexadecimal floating-point number, "inf" or "nan"; 0.0 when none can be read.
double ReadDouble(const char* text) {
    text = SkipCSpace(text);
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') {
        ++text;
    }
    if (*text == '+' || *text == '-') {
        return 0.0;
    }
    auto format = std::chars_format::general;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (HexDigitValue(text[2]) < 0 && !(text[2] == '.' && HexDigitValue(text[3]) >= 0)) {
            return negative ? -0.0 : 0.0;  // only the "0" is a number
        }
        text += 2;
        format = std::chars_format::hex;
    }
    const char* end = text + std::strlen(text);
    double value = 0.0;
    const auto result = std::from_chars(text, end, value, format);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large is infinite, too small is zero, as strtod gives them.
        const char* exponent = std::strpbrk(text, format == std::chars_format::hex ? "pP" : "eE");
        const bool tiny = exponent != nullptr && exponent < result.ptr && exponent[1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

// Copies a value into a 500-character field of the record.
void CopyText(char* field, const char* value) {
    std::snprintf(field, CONFIG_STRING_LEN, "%s", value);
}

// A value of an added key without the blanks around it.
std::string TrimmedText(const char* value) {
    std::string_view text(value);
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    const size_t end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

// Calls `visit` with each blank-separated entry of `value` (runs of blanks are
// one separator; tabs and commas belong to the entries) until it returns an
// error code.
template <typename Visit>
int ForEachEntry(char* value, Visit visit) {
    char* entry = value;
    for (;;) {
        while (*entry == ' ') {
            ++entry;
        }
        if (*entry == '\0') {
            return 0;
        }
        char* end = entry + std::strcspn(entry, " ");
        const bool last = *end == '\0';
        *end = '\0';
        if (const int result = visit(entry); result != 0) {
            return result;
        }
        if (last) {
            return 0;
        }
        entry = end + 1;
    }
}

// Finds key and value of a key line. The key is the first run of characters
// that are not in `key_ends` (leading ones skipped); the value is the rest of
// the line after the character that ended the key, or what follows the last
// "=" in it. Null value: the key is followed only by the line end.
struct KeyLine {
    const char* key = "";
    char* value = nullptr;
};

KeyLine SplitKeyLine(char* line, const char* key_ends) {
    KeyLine result;
    char* key = line + std::strspn(line, key_ends);
    result.key = key;
    char* key_end = key + std::strcspn(key, key_ends);
    if (*key_end == '\0') {
        return result;
    }
    *key_end = '\0';
    char* rest = key_end + 1;
    if (*rest == '\0') {
        return result;
    }
    char* last_equals = std::strrchr(rest, '=');
    result.value = last_equals != nullptr ? last_equals + 1 : rest;
    return result;
}

template <std::size_t N>
int FindKey(const char* key, const char* const (&names)[N]) {
    for (std::size_t k = 0; k < N; ++k) {
        if (std::strcmp(key, names[k]) == 0) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Reads a file as text mode does on Windows, on every platform: CR LF reads
// as LF and Ctrl-Z ends the file. A lone CR stays.
class TextFile {
public:
    explicit TextFile(std::FILE* file) : file_(file) {}

    // Reads the next piece of a line into `buf` (at least kCharactersPerRead + 1
    // characters): up to kCharactersPerRead characters, ending after a line
    // feed. False at the end of the file (a read error counts as the end).
    bool ReadPiece(char* buf) {
        int count = 0;
        while (count < kCharactersPerRead) {
            const int c = Next();
            if (c == EOF) {
                break;
            }
            buf[count++] = static_cast<char>(c);
            if (c == '\n') {
                break;
            }
        }
        buf[count] = '\0';
        return count > 0;
    }

private:
    int Next() {
        if (ended_) {
            return EOF;
        }
        int c = std::getc(file_.get());
        if (c == '\r') {
            const int next = std::getc(file_.get());
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file_.get());
            }
        }
        if (c == EOF || c == kCtrlZ) {
            ended_ = true;
            return EOF;
        }
        return c;
    }

    FileHandle file_;
    bool ended_ = false;
};

// The reader's work arrays, released on every return.
struct WorkArrays {
    int32_t* OldPortIndex = nullptr;       // per port key: position last defined in
    int32_t* OldSystemIndex = nullptr;     // per global key: NumPorts - 1 when last defined
    int32_t** PortBookKeeping = nullptr;   // [port][key]: 1 once defined
    int32_t* SystemBookKeeping = nullptr;  // per global key: 1 once defined
    char* buf = nullptr;                   // the current line
    char* ScratchChar = nullptr;           // upper-cased copy of a label list
    int32_t* LabelCount = nullptr;
    int32_t* ErrorTokenCount = nullptr;
    int32_t* ErrorValueCount = nullptr;

    WorkArrays() = default;
    WorkArrays(const WorkArrays&) = delete;
    WorkArrays& operator=(const WorkArrays&) = delete;
    ~WorkArrays() {
        free_dynamic_array(kPortKeyCount, 0, 0, 0, OldPortIndex);
        free_dynamic_array(kGlobalKeyCount, 0, 0, 0, OldSystemIndex);
        free_dynamic_array(MAX_COM_PORTS, kPortKeyCount, 0, 0, PortBookKeeping);
        free_dynamic_array(kGlobalKeyCount, 0, 0, 0, SystemBookKeeping);
        free_dynamic_array(CONFIG_STRING_LEN, 0, 0, 0, buf);
        free_dynamic_array(CONFIG_STRING_LEN, 0, 0, 0, ScratchChar);
        free_dynamic_array(MAX_COM_PORTS, 0, 0, 0, LabelCount);
        free_dynamic_array(MAX_COM_PORTS, 0, 0, 0, ErrorTokenCount);
        free_dynamic_array(MAX_COM_PORTS, 0, 0, 0, ErrorValueCount);
    }
};

enum class Section { kNone, kPort, kGlobal };

class IniReader {
public:
    IniReader(const char* path, ComConfig& config) : path_(path), com_(config) {}

    void Read() {
        if (CreateArrays() != 0) {
            return;
        }
        com_.ErrorCode = 0;
        com_.NumPorts = 0;
        for (int k = 0; k < kPortKeyCount; ++k) {
            w_.OldPortIndex[k] = kNeverDefined;
        }
        for (int k = 0; k < kGlobalKeyCount; ++k) {
            w_.OldSystemIndex[k] = kNeverDefined;
        }
        std::FILE* file = std::fopen(path_, "rb");
        if (file == nullptr) {
            Fail(INI_ERR_OPEN, "Can't open INI file: %s\n", path_);
            return;
        }
        TextFile text(file);
        while (text.ReadPiece(w_.buf)) {
            if (HandleLine(w_.buf) != 0) {
                return;
            }
        }
        FinalChecks();
    }

private:
    // ---- Every array, in a fixed order, each checked at once.
    int CreateArrays() {
        com_.ErrorString =
            static_cast<char*>(dynamic_array(CONFIG_STRING_LEN, 0, 0, 0, 1, sizeof(void*)));
        if (com_.ErrorString == nullptr) {
            com_.ErrorCode = INI_ERR_MEMORY;  // nowhere to put a message
            return INI_ERR_MEMORY;
        }
        const char* failed = nullptr;
        const char* failed_text = kArrayAllocationText;
        auto create = [&](auto& array, const char* name, uint32_t d1, uint32_t d2, uint32_t d3,
                          const char* text = kArrayAllocationText) {
            if (failed != nullptr) {
                return;
            }
            using Pointer = std::remove_reference_t<decltype(array)>;
            using Element =
                std::remove_pointer_t<std::remove_pointer_t<std::remove_pointer_t<Pointer>>>;
            array =
                static_cast<Pointer>(dynamic_array(d1, d2, d3, 0, sizeof(Element), sizeof(void*)));
            if (array == nullptr) {
                failed = name;
                failed_text = text;
            }
        };
        constexpr uint32_t ports = MAX_COM_PORTS;
        constexpr uint32_t len = CONFIG_STRING_LEN;
        create(w_.OldPortIndex, "OldPortIndex", kPortKeyCount, 0, 0);
        create(w_.OldSystemIndex, "OldSystemIndex", kGlobalKeyCount, 0, 0);
        create(w_.PortBookKeeping, "PortBookKeeping", ports, kPortKeyCount, 0);
        create(w_.SystemBookKeeping, "SystemBookKeeping", kGlobalKeyCount, 0, 0);
        create(w_.buf, "buf", len, 0, 0, kLineBufferAllocationText);
        create(w_.ScratchChar, "ScratchChar", len, 0, 0, kLineBufferAllocationText);
        create(w_.LabelCount, "LabelCount", ports, 0, 0);
        create(w_.ErrorTokenCount, "ErrorTokenCount", ports, 0, 0);
        create(w_.ErrorValueCount, "ErrorValueCount", ports, 0, 0);
        create(com_.NumTokenIndices, "com.NumTokenIndices", ports, 0, 0);
        create(com_.InstrumentType, "com.InstrumentType", ports, len, 0);
        create(com_.PortNumber, "com.PortNumber", ports, 0, 0);
        create(com_.Baud, "com.Baud", ports, 0, 0);
        create(com_.Parity, "com.Parity", ports, 0, 0);
        create(com_.DataBits, "com.DataBits", ports, 0, 0);
        create(com_.StopBits, "com.StopBits", ports, 0, 0);
        create(com_.DoStats, "com.DoStats", ports, 0, 0);
        create(com_.StringTerminationCharacter, "com.StringTerminationCharacter", ports, 0, 0);
        create(com_.LeadingTokenCharactersToStrip, "com.LeadingTokenCharactersToStrip", ports, 0,
               0);
        create(com_.StartupInitializationFunction, "com.StartupInitializationFunction", ports, 0,
               0);
        create(com_.AcquisitionInitializationFunction, "com.AcquisitionInitializationFunction",
               ports, 0, 0);
        create(com_.TokenIndicesForStatistics, "com.TokenIndicesForStatistics", ports, MAX_TOKENS,
               0);
        create(com_.ErrorCheckingTokenIndices, "com.ErrorCheckingTokenIndices", ports, MAX_TOKENS,
               0);
        create(com_.ErrorValuesPerTokenIndex, "com.ErrorValuesPerTokenIndex", ports, MAX_TOKENS, 0);
        create(com_.TokenLabelsForStatistics, "com.TokenLabelsForStatistics", ports, MAX_TOKENS,
               len);
        create(com_.OutputDriveAndPath, "com.OutputDriveAndPath", len, 0, 0);
        create(com_.Device, "com.Device", ports, len, 0);
        if (failed != nullptr) {
            return Fail(INI_ERR_MEMORY, "%s%s in ReadQuorInitializationFile.\n", failed_text,
                        failed);
        }
        return 0;
    }

    // ---- One line (or one piece of a long line) by its kind.
    int HandleLine(char* line) {
        line[std::strcspn(line, "\n")] = '\0';
        if (line[0] == ';') {
            return 0;
        }
        if (std::strchr(line, ']') != nullptr) {
            return HandleHeader(line);
        }
        if (std::strchr(line, '=') == nullptr) {
            return 0;
        }
        switch (section_) {
            case Section::kPort:
                return HandlePortKeyLine(line);
            case Section::kGlobal:
                return HandleGlobalKeyLine(line);
            case Section::kNone:
                break;
        }
        return 0;
    }

    int HandleHeader(char* line) {
        char* text = line + std::strspn(line, "]");
        if (*text == '\0') {
            return 0;
        }
        text[std::strcspn(text, "]")] = '\0';
        UpperCaseAscii(text);
        if (std::strstr(text, "COM") != nullptr) {
            if (const int result = OpenPortSection(ReadDecimal(std::strchr(text, 'M') + 1));
                result != 0) {
                return result;
            }
        }
        if (std::strstr(text, "QUORVANE") != nullptr) {
            section_ = Section::kGlobal;
        }
        return 0;
    }

    int OpenPortSection(int32_t number) {
        for (int p = 0; p < com_.NumPorts; ++p) {
            if (com_.PortNumber[p] == number) {
                return Fail(INI_ERR_DUPLICATE_PORT,
                            "Duplicate comm port (COM%d) specified in %s.\n", number, path_);
            }
        }
        if (com_.NumPorts == MAX_COM_PORTS) {
            return Fail(INI_ERR_TOO_MANY_PORTS, "Can't open more than %d comm ports.\n",
                        MAX_COM_PORTS);
        }
        com_.PortNumber[com_.NumPorts++] = number;
        section_ = Section::kPort;
        return 0;
    }

    // ---- Port sections: the key ends at "=" or a blank.
    int HandlePortKeyLine(char* line) {
        const int p = com_.NumPorts - 1;
        const KeyLine key_line = SplitKeyLine(line, "= ");
        if (key_line.value == nullptr) {
            return Fail(INI_ERR_DEFINITION, "Missing definition assignment in %s: [COM%d]: %s\n",
                        path_, com_.PortNumber[p], key_line.key);
        }
        const int k = FindKey(key_line.key, kPortKeyNames);
        if (k < 0) {
            return 0;
        }
        if (w_.OldPortIndex[k] == p) {
            return Fail(INI_ERR_DEFINITION, "Duplicate definition in %s: [COM%d]: %s\n", path_,
                        com_.PortNumber[p], key_line.key);
        }
        if (const int result = StorePortValue(static_cast<PortKey>(k), p, key_line.value);
            result != 0) {
            return result;
        }
        w_.PortBookKeeping[p][k] = 1;
        w_.OldPortIndex[k] = p;
        return 0;
    }

    int StorePortValue(PortKey key, int p, char* value) {
        switch (key) {
            case kInstrumentType:
                CopyText(com_.InstrumentType[p], value);
                return 0;
            case kStartupInitializationFunction:
                return StoreStartupFunction(p, value);
            case kAcquisitionInitializationFunction:
                return StoreAcquisitionFunction(p, value);
            case kBaud:
                com_.Baud[p] = ReadDecimal(value);
                return 0;
            case kParity:
                UpperCaseAscii(value);
                com_.Parity[p] = value[0];
                return 0;
            case kDataBits:
                com_.DataBits[p] = ReadDecimal(value);
                return 0;
            case kStopBits:
                com_.StopBits[p] = ReadDecimal(value);
                return 0;
            case kDoStats:
                UpperCaseAscii(value);
                com_.DoStats[p] = std::strstr(value, "YES") != nullptr ? 1 : 0;
                return 0;
            case kStringTerminationCharacter:
                // The low 8 bits of the code are the character.
                com_.StringTerminationCharacter[p] =
                    static_cast<char>(static_cast<unsigned char>(ReadDecimal(value) & 0xFF));
                return 0;
            case kLeadingTokenCharactersToStrip:
                com_.LeadingTokenCharactersToStrip[p] = ReadDecimal(value);
                return 0;
            case kTokenIndicesForStatistics:
                return StorePositions(p, value, "TokenIndicesForStatistics",
                                      "The number of TokenIndicesForStatistics exceeds MAX_TOKENS "
                                      "for COM%d\n",
                                      com_.TokenIndicesForStatistics[p], com_.NumTokenIndices[p]);
            case kTokenLabelsForStatistics:
                return StoreLabels(p, value);
            case kErrorCheckingTokenIndices:
                return StorePositions(p, value, "ErrorCheckingTokenIndices",
                                      "The number of ErrorCheckingTokenIndices exceeds MAX_TOKENS "
                                      "for COM%d",
                                      com_.ErrorCheckingTokenIndices[p], w_.ErrorTokenCount[p]);
            case kErrorValuesPerTokenIndex:
                return StoreErrorValues(p, value);
            case kDevice:
                CopyText(com_.Device[p], value);
                return 0;
            case kPortKeyCount:
                break;
        }
        return 0;
    }

    // Keyword comparisons are equalities on the whole value, after
    // upper-casing; the instruments' table says which keywords exist and
    // where each may stand.
    int StoreStartupFunction(int p, char* value) {
        UpperCaseAscii(value);
        const InstrumentExchange* exchange = FindExchangeByKeyword(value);
        if (exchange == nullptr || !exchange->at_startup) {
            return Fail(INI_ERR_INIT_FUNCTION, kStartupFunctionMessage, com_.PortNumber[p]);
        }
        com_.StartupInitializationFunction[p] = exchange->code;
        return 0;
    }

    int StoreAcquisitionFunction(int p, char* value) {
        UpperCaseAscii(value);
        const InstrumentExchange* exchange = FindExchangeByKeyword(value);
        if (exchange == nullptr || !exchange->on_the_hour) {
            return Fail(INI_ERR_INIT_FUNCTION, kAcquisitionFunctionMessage, com_.PortNumber[p]);
        }
        com_.AcquisitionInitializationFunction[p] = exchange->code;
        return 0;
    }

    // Token positions: "NONE" or a list of integers, each a usable position
    // 0..MAX_TOKENS-1 (the statistics index tables of that size with them).
    int StorePositions(int p, char* value, const char* key, const char* too_many, int32_t* list,
                       int32_t& count) {
        count = 0;
        UpperCaseAscii(value);
        if (std::strstr(value, "NONE") != nullptr) {
            return 0;
        }
        return ForEachEntry(value, [&](const char* entry) {
            if (count == MAX_TOKENS) {
                return Fail(INI_ERR_LIST, too_many, com_.PortNumber[p]);
            }
            const int32_t position = ReadDecimal(entry);
            if (position < 0 || position >= MAX_TOKENS) {
                return Fail(INI_ERR_LIST, kPositionOutOfRangeMessage, position, key,
                            com_.PortNumber[p], MAX_TOKENS - 1);
            }
            list[count++] = position;
            return 0;
        });
    }

    // Labels keep their case: the "NONE" test is made on an upper-cased copy.
    int StoreLabels(int p, char* value) {
        int32_t& count = w_.LabelCount[p];
        count = 0;
        CopyText(w_.ScratchChar, value);
        UpperCaseAscii(w_.ScratchChar);
        if (std::strstr(w_.ScratchChar, "NONE") != nullptr) {
            return 0;
        }
        return ForEachEntry(value, [&](const char* entry) {
            if (count == MAX_TOKENS) {
                return Fail(INI_ERR_LIST,
                            "The number of TokenLabelsForStatistics exceeds MAX_TOKENS for COM%d\n",
                            com_.PortNumber[p]);
            }
            CopyText(com_.TokenLabelsForStatistics[p][count++], entry);
            return 0;
        });
    }

    int StoreErrorValues(int p, char* value) {
        int32_t& count = w_.ErrorValueCount[p];
        count = 0;
        UpperCaseAscii(value);
        if (std::strstr(value, "NONE") != nullptr) {
            return 0;
        }
        return ForEachEntry(value, [&](const char* entry) {
            if (count == MAX_TOKENS) {
                return Fail(
                    INI_ERR_LIST,
                    "The number of ErrorValuesPerTokenIndex\n exceeds MAX_TOKENS for COM%d\n",
                    com_.PortNumber[p]);
            }
            com_.ErrorValuesPerTokenIndex[p][count++] = ReadDouble(entry);
            return 0;
        });
    }

    // ---- The global section: the key is everything before the first "=".
    int HandleGlobalKeyLine(char* line) {
        const KeyLine key_line = SplitKeyLine(line, "=");
        if (key_line.value == nullptr) {
            return Fail(INI_ERR_DEFINITION, "Missing definition assignment in %s: [QUORVANE]: %s\n",
                        path_, key_line.key);
        }
        const int k = FindKey(key_line.key, kGlobalKeyNames);
        if (k < 0) {
            return 0;
        }
        // A key counts as defined twice only within one run of global lines:
        // a port header in between starts a new run.
        if (w_.OldSystemIndex[k] == com_.NumPorts - 1) {
            return Fail(INI_ERR_DEFINITION, "Duplicate definition in %s: [QUORVANE]: %s\n", path_,
                        key_line.key);
        }
        if (const int result = StoreGlobalValue(static_cast<GlobalKey>(k), key_line.value);
            result != 0) {
            return result;
        }
        w_.SystemBookKeeping[k] = 1;
        w_.OldSystemIndex[k] = com_.NumPorts - 1;
        return 0;
    }

    int StoreGlobalValue(GlobalKey key, char* value) {
        switch (key) {
            case kOutputDriveAndPath:
                return StoreOutputDirectory(value);
            case kWatchDogTimerAddressInHex:
                UpperCaseAscii(value);
                if (std::strstr(value, "NONE") != nullptr) {
                    com_.WatchDogTimerAddress = 0;
                } else if (std::strstr(value, "DEFAULT") != nullptr) {
                    com_.WatchDogTimerAddress = kDefaultWatchDogAddress;
                } else {
                    com_.WatchDogTimerAddress = ReadHex(value);
                }
                return 0;
            case kDiskWriteAndStatsFrequencyInMinutes:
                return StorePeriod(value);
            case kPublishTo:
                com_.PublishTo = TrimmedText(value);
                return 0;
            case kPublishCredentialsFile:
                com_.PublishCredentialsFile = TrimmedText(value);
                return 0;
            case kGlobalKeyCount:
                break;
        }
        return 0;
    }

    // One trailing separator removed, the path kept in the record
    // whatever the checks say, then the directory tests in their order.
    int StoreOutputDirectory(char* value) {
        const std::size_t length = std::strlen(value);
        if (length > 0 && value[length - 1] == platform::kPathSeparator) {
            value[length - 1] = '\0';
        }
        CopyText(com_.OutputDriveAndPath, value);
        const platform::DirectoryAccess access =
            platform::TestDirectoryWritable(com_.OutputDriveAndPath);
        if (access == platform::DirectoryAccess::kDenied ||
            std::strchr(com_.OutputDriveAndPath, '.') != nullptr) {
            return Fail(INI_ERR_ACCESS_DENIED, kAccessDeniedMessage, com_.OutputDriveAndPath);
        }
        if (access == platform::DirectoryAccess::kMissing) {
            return Fail(INI_ERR_PATH_NOT_FOUND, kPathNotFoundMessage, com_.OutputDriveAndPath);
        }
        return 0;
    }

    // The period must divide the hour.
    int StorePeriod(const char* value) {
        bool found = false;
        int32_t minutes = ReadDecimal(value, &found);
        if (!found) {
            minutes = kDefaultPeriodMinutes;
        }
        com_.DiskWriteAndStatsFrequencyInMinutes = minutes;
        if (minutes <= 0 || 60 % minutes != 0) {
            return Fail(INI_ERR_DEFINITION, kPeriodMessage, path_);
        }
        return 0;
    }

    // ---- At the end of the file: missing keys and list counts, globals first, then port by port.
    int FinalChecks() {
        for (int k = 0; k < kRequiredGlobalKeys; ++k) {
            if (w_.SystemBookKeeping[k] == 0) {
                return Fail(INI_ERR_MISSING_KEY, "Missing %s definition for [Quorvane] in %s.\n",
                            kGlobalKeyNames[k], path_);
            }
        }
        for (int p = 0; p < com_.NumPorts; ++p) {
            if (const int result = CheckPort(p); result != 0) {
                return result;
            }
        }
        CopyText(com_.ErrorString, "Successful.\n");
        com_.ErrorCode = INI_OK;
        return 0;
    }

    int CheckPort(int p) {
        const int32_t number = com_.PortNumber[p];
        for (int k = 0; k < kRequiredPortKeys; ++k) {
            if (w_.PortBookKeeping[p][k] == 0) {
                return Fail(INI_ERR_MISSING_KEY, "Missing %s definition for [COM%d] in %s.\n",
                            kPortKeyNames[k], number, path_);
            }
        }
        const int32_t indices = com_.NumTokenIndices[p];
        if (w_.LabelCount[p] != indices) {
            return Fail(INI_ERR_LABEL_COUNT,
                        "The number of TokenLabelsForStatistics does not match the\n"
                        "number of TokenIndicesForStatistics for COM%d in %s\n",
                        number, path_);
        }
        if (w_.ErrorTokenCount[p] != indices) {
            return Fail(INI_ERR_ERROR_LIST_COUNT,
                        "The number of ErrorCheckingTokenIndices does not match the\n"
                        "number of TokenIndicesForStatistics for COM%d in %s\n",
                        number, path_);
        }
        if (w_.ErrorValueCount[p] != indices) {
            return Fail(INI_ERR_ERROR_LIST_COUNT,
                        "The number of ErrorValuesPerTokenIndex does not match the\n"
                        "number of TokenIndicesForStatistics for COM%d in %s\n",
                        number, path_);
        }
        return 0;
    }

    // Stores the first error: its code and its message (cut to the field's size).
    int Fail(int32_t code, const char* format, ...) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(com_.ErrorString, CONFIG_STRING_LEN, format, args);
        va_end(args);
        com_.ErrorCode = code;
        return code;
    }

    const char* path_;
    ComConfig& com_;
    WorkArrays w_;
    Section section_ = Section::kNone;
};

}  // namespace

ComConfig ReadQuorInitializationFile(const char* path) {
    ComConfig config;
    IniReader reader(path != nullptr ? path : "", config);
    reader.Read();
    return config;
}
