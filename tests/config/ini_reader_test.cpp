#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/dynamic_array.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

// The record of one read, released at the end of the test.
struct Result {
    ComConfig c;
    explicit Result(const std::string& path) : c(ReadQuorInitializationFile(path.c_str())) {}
    ~Result() { FreeComConfig(c); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    std::string Message() const { return c.ErrorString != nullptr ? c.ErrorString : "<null>"; }
};

// The lines of a valid port section, in file order; a test replaces a key's
// line with other lines (or with nothing) through `changes`.
const std::vector<std::pair<std::string, std::string>> kPortLines = {
    {"InstrumentType", "InstrumentType=Vaisala WXT520"},
    {"StartupInitializationFunction", "StartupInitializationFunction=NONE"},
    {"AcquisitionInitializationFunction", "AcquisitionInitializationFunction=NONE"},
    {"Baud", "Baud=9600"},
    {"Parity", "Parity=N"},
    {"DataBits", "DataBits=8"},
    {"StopBits", "StopBits=1"},
    {"DoStats", "DoStats=YES"},
    {"StringTerminationCharacter", "StringTerminationCharacter=10"},
    {"LeadingTokenCharactersToStrip", "LeadingTokenCharactersToStrip=0"},
    {"TokenIndicesForStatistics", "TokenIndicesForStatistics=1 3"},
    {"TokenLabelsForStatistics", "TokenLabelsForStatistics=Temp RH"},
    {"ErrorCheckingTokenIndices", "ErrorCheckingTokenIndices=1 3"},
    {"ErrorValuesPerTokenIndex", "ErrorValuesPerTokenIndex=-99 -99.5"},
};
using Changes = std::map<std::string, std::string>;

std::string Port(int number, const Changes& changes = {}) {
    std::string text = "[COM" + std::to_string(number) + "]\n";
    for (const auto& [key, line] : kPortLines) {
        const auto change = changes.find(key);
        const std::string& chosen = change != changes.end() ? change->second : line;
        if (!chosen.empty()) {
            text += chosen + "\n";
        }
    }
    return text;
}

// All four statistics lists at once, so that their counts agree.
Changes Lists(const std::string& indices, const std::string& labels, const std::string& checks,
              const std::string& values) {
    return {{"TokenIndicesForStatistics", "TokenIndicesForStatistics=" + indices},
            {"TokenLabelsForStatistics", "TokenLabelsForStatistics=" + labels},
            {"ErrorCheckingTokenIndices", "ErrorCheckingTokenIndices=" + checks},
            {"ErrorValuesPerTokenIndex", "ErrorValuesPerTokenIndex=" + values}};
}

std::string Repeated(const std::string& entry, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += (i > 0 ? " " : "") + entry;
    }
    return text;
}

class IniReader : public ::testing::Test {
protected:
    void SetUp() override {
        out_ = dir_.File("out");
        std::filesystem::create_directory(out_);
        ini_ = dir_.File("Quorvane.ini");
    }

    std::string Global(const Changes& changes = {}) const {
        const std::vector<std::pair<std::string, std::string>> lines = {
            {"OutputDriveAndPath", "OutputDriveAndPath=" + out_},
            {"WatchDogTimerAddressInHex", "WatchDogTimerAddressInHex=NONE"},
            {"DiskWriteAndStatsFrequencyInMinutes", "DiskWriteAndStatsFrequencyInMinutes=15"},
        };
        std::string text = "[QUORVANE]\n";
        for (const auto& [key, line] : lines) {
            const auto change = changes.find(key);
            const std::string& chosen = change != changes.end() ? change->second : line;
            if (!chosen.empty()) {
                text += chosen + "\n";
            }
        }
        return text;
    }

    const std::string& Write(const std::string& content) const {
        WriteFile(ini_, content);
        return ini_;
    }

    TempDir dir_;
    std::string out_;
    std::string ini_;
};

TEST_F(IniReader, ReadsAValidFileIntoTheRecord) {
    Result r(Write("; station configuration\n" + Global() + Port(4) +
                   Port(1, {{"InstrumentType", "InstrumentType=Ophir"},
                            {"Baud", "Baud=4800"},
                            {"StartupInitializationFunction",
                             "StartupInitializationFunction=GetOphirConstants"}})));
    ASSERT_EQ(r.c.ErrorCode, 0) << r.Message();
    EXPECT_EQ(r.Message(), "Successful.\n");
    EXPECT_EQ(std::string(r.c.OutputDriveAndPath), out_);
    EXPECT_EQ(r.c.WatchDogTimerAddress, 0);
    EXPECT_EQ(r.c.DiskWriteAndStatsFrequencyInMinutes, 15);
    ASSERT_EQ(r.c.NumPorts, 2);
    // Positions follow the order of the sections, not the COM numbers.
    EXPECT_EQ(r.c.PortNumber[0], 4);
    EXPECT_EQ(r.c.PortNumber[1], 1);
    EXPECT_STREQ(r.c.InstrumentType[0], "Vaisala WXT520");
    EXPECT_STREQ(r.c.InstrumentType[1], "Ophir");
    EXPECT_EQ(r.c.Baud[0], 9600);
    EXPECT_EQ(r.c.Baud[1], 4800);
    EXPECT_EQ(r.c.StartupInitializationFunction[1], INIT_GETOPHIRCONSTANTS);
    EXPECT_EQ(r.c.Parity[0], 'N');
    EXPECT_EQ(r.c.DataBits[0], 8);
    EXPECT_EQ(r.c.StopBits[0], 1);
    EXPECT_EQ(r.c.DoStats[0], 1);
    EXPECT_EQ(r.c.StringTerminationCharacter[0], '\n');
    ASSERT_EQ(r.c.NumTokenIndices[0], 2);
    EXPECT_EQ(r.c.TokenIndicesForStatistics[0][1], 3);
    EXPECT_STREQ(r.c.TokenLabelsForStatistics[0][1], "RH");
    EXPECT_EQ(r.c.ErrorCheckingTokenIndices[0][0], 1);
    EXPECT_EQ(r.c.ErrorValuesPerTokenIndex[0][1], -99.5);
    EXPECT_STREQ(r.c.Device[0], "");
    // Unused positions stay zero in every per-port array.
    for (int p = 2; p < MAX_COM_PORTS; ++p) {
        EXPECT_EQ(r.c.PortNumber[p] | r.c.Baud[p] | r.c.NumTokenIndices[p] | r.c.DoStats[p], 0);
        EXPECT_EQ(r.c.Parity[p] | r.c.StringTerminationCharacter[p] | r.c.InstrumentType[p][0], 0);
        EXPECT_EQ(r.c.TokenIndicesForStatistics[p][0] | r.c.TokenLabelsForStatistics[p][0][0], 0);
    }
}

TEST_F(IniReader, AFileWithoutPortSectionsIsValid) {
    Result r(Write(Global()));
    EXPECT_EQ(r.c.ErrorCode, 0) << r.Message();
    EXPECT_EQ(r.c.NumPorts, 0);
}

TEST_F(IniReader, ConvertsPortValues) {
    using Check = std::function<void(const ComConfig&)>;
    struct Case {
        Changes changes;
        Check check;
    };
    const std::string long_type(483, 'x');
    const Case cases[] = {
        // Values are the text after the key's end, or after the last "=", never trimmed.
        {{{"Parity", "Parity=e"}}, [](auto& c) { EXPECT_EQ(c.Parity[0], 'E'); }},
        {{{"Parity", "Parity = e"}}, [](auto& c) { EXPECT_EQ(c.Parity[0], ' '); }},
        {{{"InstrumentType", "InstrumentType = Ophir hygrometer"}},
         [](auto& c) { EXPECT_STREQ(c.InstrumentType[0], " Ophir hygrometer"); }},
        {{{"InstrumentType", "InstrumentType=Model A=3"}},
         [](auto& c) { EXPECT_STREQ(c.InstrumentType[0], "3"); }},
        {{{"InstrumentType", "InstrumentType=WXT ;second mast"}},
         [](auto& c) { EXPECT_STREQ(c.InstrumentType[0], "WXT ;second mast"); }},
        {{{"Baud", "Baud =19200"}}, [](auto& c) { EXPECT_EQ(c.Baud[0], 19200); }},
        {{{"Baud", "Baud = 2400"}}, [](auto& c) { EXPECT_EQ(c.Baud[0], 2400); }},
        {{{"Baud", "Baud=fast"}}, [](auto& c) { EXPECT_EQ(c.Baud[0], 0); }},
        {{{"Baud", "Baud=99999999999"}},
         [](auto& c) { EXPECT_EQ(c.Baud[0], std::numeric_limits<int32_t>::max()); }},
        {{{"DataBits", "DataBits=7bits"}, {"StopBits", "StopBits=-2"}},
         [](auto& c) {
             EXPECT_EQ(c.DataBits[0], 7);
             EXPECT_EQ(c.StopBits[0], -2);
         }},
        // Keywords: equality after upper-casing; DoStats: containment.
        {{{"StartupInitializationFunction", "StartupInitializationFunction=lowrancegpssetup"},
          {"AcquisitionInitializationFunction",
           "AcquisitionInitializationFunction=getophirconstants"}},
         [](auto& c) {
             EXPECT_EQ(c.StartupInitializationFunction[0], INIT_LOWRANCEGPSSETUP);
             EXPECT_EQ(c.AcquisitionInitializationFunction[0], INIT_GETOPHIRCONSTANTS);
         }},
        {{{"StartupInitializationFunction", "StartupInitializationFunction=none"}},
         [](auto& c) { EXPECT_EQ(c.StartupInitializationFunction[0], INIT_NONE); }},
        {{{"DoStats", "DoStats=yes please"}}, [](auto& c) { EXPECT_EQ(c.DoStats[0], 1); }},
        {{{"DoStats", "DoStats=Y"}}, [](auto& c) { EXPECT_EQ(c.DoStats[0], 0); }},
        {{{"StringTerminationCharacter", "StringTerminationCharacter=13"},
          {"LeadingTokenCharactersToStrip", "LeadingTokenCharactersToStrip=2"}},
         [](auto& c) {
             EXPECT_EQ(c.StringTerminationCharacter[0], '\r');
             EXPECT_EQ(c.LeadingTokenCharactersToStrip[0], 2);
         }},
        {{{"StringTerminationCharacter", "StringTerminationCharacter=266"}},
         [](auto& c) { EXPECT_EQ(c.StringTerminationCharacter[0], '\n'); }},
        // Lists: split at blanks only; tabs and commas belong to the entries.
        {Lists("1,2,3", "A", "0", "1e3"),
         [](auto& c) {
             ASSERT_EQ(c.NumTokenIndices[0], 1);
             EXPECT_EQ(c.TokenIndicesForStatistics[0][0], 1);
             EXPECT_EQ(c.ErrorValuesPerTokenIndex[0][0], 1000.0);
         }},
        {Lists("  5   7  ", "tAir\tx rh,2", "0 99", "-9999.5 abc"),
         [](auto& c) {
             ASSERT_EQ(c.NumTokenIndices[0], 2);
             EXPECT_EQ(c.TokenIndicesForStatistics[0][0], 5);
             EXPECT_EQ(c.TokenIndicesForStatistics[0][1], 7);
             EXPECT_STREQ(c.TokenLabelsForStatistics[0][0], "tAir\tx");
             EXPECT_STREQ(c.TokenLabelsForStatistics[0][1], "rh,2");
             EXPECT_EQ(c.ErrorCheckingTokenIndices[0][1], 99);
             EXPECT_EQ(c.ErrorValuesPerTokenIndex[0][0], -9999.5);
             EXPECT_EQ(c.ErrorValuesPerTokenIndex[0][1], 0.0);
         }},
        {Lists("1 2 3", "a b c", "1 2 3", "0x1p4 1e400 -INF"),
         [](auto& c) {
             EXPECT_EQ(c.ErrorValuesPerTokenIndex[0][0], 16.0);
             EXPECT_EQ(c.ErrorValuesPerTokenIndex[0][1], std::numeric_limits<double>::infinity());
             EXPECT_EQ(c.ErrorValuesPerTokenIndex[0][2], -std::numeric_limits<double>::infinity());
         }},
        // "NONE" anywhere in a list, in any case, empties it.
        {Lists("none", "Tnone RH", "NONE", "x None"),
         [](auto& c) { EXPECT_EQ(c.NumTokenIndices[0], 0); }},
        {Lists(Repeated("99", 100), Repeated("L", 100), Repeated("0", 100), Repeated("1.5", 100)),
         [](auto& c) {
             EXPECT_EQ(c.NumTokenIndices[0], 100);
             EXPECT_EQ(c.TokenIndicesForStatistics[0][99], 99);
             EXPECT_STREQ(c.TokenLabelsForStatistics[0][99], "L");
         }},
        // The optional device path, stored as written.
        {{{"Baud", "Baud=9600\nDevice=/dev/serial/by-id/usb-FTDI_A1-if00"}},
         [](auto& c) { EXPECT_STREQ(c.Device[0], "/dev/serial/by-id/usb-FTDI_A1-if00"); }},
        {{{"Baud", "Baud=9600\nDevice = /dev/ttyUSB0"}},
         [](auto& c) { EXPECT_STREQ(c.Device[0], " /dev/ttyUSB0"); }},
        // A line longer than one read continues as a line of its own.
        {{{"InstrumentType", "InstrumentType=" + long_type + "Baud=4800"}, {"Baud", ""}},
         [long_type](auto& c) {
             EXPECT_EQ(std::string(c.InstrumentType[0]), long_type);
             EXPECT_EQ(c.Baud[0], 4800);
         }},
    };
    for (const Case& test : cases) {
        Result r(Write(Global() + Port(1, test.changes)));
        SCOPED_TRACE(Port(1, test.changes));
        ASSERT_EQ(r.c.ErrorCode, 0) << r.Message();
        test.check(r.c);
    }
}

TEST_F(IniReader, ConvertsGlobalValues) {
    struct Case {
        std::string watchdog, period;
        int32_t address, minutes;
    };
    const Case cases[] = {
        {"2a0", "15", 0x2A0, 15},      {" 0x2A0", "60", 0x2A0, 60}, {"DEFAULT", "1", 0x370, 1},
        {"default", "abc", 0x370, 60}, {"NONE", "   ", 0, 60},      {"xyz", "30min", 0, 30},
        {"0X3f0", "+20", 0x3F0, 20},
    };
    for (const Case& test : cases) {
        Result r(Write(
            Global({{"WatchDogTimerAddressInHex", "WatchDogTimerAddressInHex=" + test.watchdog},
                    {"DiskWriteAndStatsFrequencyInMinutes",
                     "DiskWriteAndStatsFrequencyInMinutes=" + test.period}})));
        SCOPED_TRACE(test.watchdog + " / " + test.period);
        ASSERT_EQ(r.c.ErrorCode, 0) << r.Message();
        EXPECT_EQ(r.c.WatchDogTimerAddress, test.address);
        EXPECT_EQ(r.c.DiskWriteAndStatsFrequencyInMinutes, test.minutes);
    }
    // One trailing separator goes.
    Result r(Write(
        Global({{"OutputDriveAndPath", "OutputDriveAndPath=" + out_ + platform::kPathSeparator}})));
    EXPECT_EQ(r.c.ErrorCode, 0) << r.Message();
    EXPECT_EQ(std::string(r.c.OutputDriveAndPath), out_);
}

TEST_F(IniReader, ClassifiesLinesByTheirFirstMatchingRule) {
    struct Case {
        std::string name;
        std::function<std::string()> file;
        int32_t code;
        std::string message;  // checked when not empty
        std::function<void(const ComConfig&)> check;
    };
    const auto none = [](const ComConfig&) {};
    const Case cases[] = {
        {"comment only in column 1",
         [&] { return Global() + "[COM1]\n;Baud=\n" + Port(1).substr(7); }, 0, "", none},
        {"a blank before ';' makes a key line",
         [&] { return Global() + "[COM1]\n ;Baud=\n" + Port(1).substr(7); }, -8,
         "Missing definition assignment in " + ini_ + ": [COM1]: ;Baud\n", none},
        {"' ;Baud=1' is an unknown key",
         [&] { return Global() + "[COM1]\n ;Baud=1\n" + Port(1).substr(7); }, 0, "", none},
        {"lines before the first header are ignored",
         [&] { return "Baud=\nOutputDriveAndPath=x\n" + Global() + Port(1); }, 0, "", none},
        {"headers in any case", [&] { return Global() + Port(1).replace(0, 6, "[com3]"); }, 0, "",
         [](auto& c) { EXPECT_EQ(c.PortNumber[0], 3); }},
        {"an unknown header keeps the section",
         [&] { return Global() + Port(1) + "[NOTES]\nDevice=/dev/ttyS7\n"; }, 0, "",
         [](auto& c) { EXPECT_STREQ(c.Device[0], "/dev/ttyS7"); }},
        {"a line of ']' is ignored", [&] { return Global() + Port(1) + "]]]\nDevice=/dev/x\n"; }, 0,
         "", [](auto& c) { EXPECT_STREQ(c.Device[0], "/dev/x"); }},
        {"[Comments] opens port 0", [&] { return Global() + Port(1) + "[Comments]\n"; }, -10,
         "Missing InstrumentType definition for [COM0] in " + ini_ + ".\n", none},
        {"a ']' in a value makes a header",
         [&] {
             return Global() +
                    Port(1, {{"TokenLabelsForStatistics", "TokenLabelsForStatistics=T[C] RH"}});
         },
         -10, "Missing TokenLabelsForStatistics definition for [COM1] in " + ini_ + ".\n", none},
        {"a tab before '=' stays in the key",
         [&] {
             return Global() + Port(1, {{"Baud", "Baud\t=9600"}});
         },
         -10, "Missing Baud definition for [COM1] in " + ini_ + ".\n", none},
        {"a blank before '=' in the global section stays in the key",
         [&] {
             return Global({{"OutputDriveAndPath", "OutputDriveAndPath = " + out_}});
         },
         -10, "Missing OutputDriveAndPath definition for [Quorvane] in " + ini_ + ".\n", none},
        {"unknown key without value", [&] { return Global() + Port(1) + "Foo=\n"; }, -8,
         "Missing definition assignment in " + ini_ + ": [COM1]: Foo\n", none},
        {"a line without a key", [&] { return Global() + Port(1) + " = \n"; }, -8,
         "Missing definition assignment in " + ini_ + ": [COM1]: \n", none},
        {"a value of '=' alone is empty",
         [&] {
             return Global() + Port(1, {{"Baud", "Baud ="}});
         },
         0, "", [](auto& c) { EXPECT_EQ(c.Baud[0], 0); }},
        {"a header naming both opens the port, then the global section",
         [&] {
             return Global({{"DiskWriteAndStatsFrequencyInMinutes", ""}}) +
                    "[COM2 QUORVANE]\nDiskWriteAndStatsFrequencyInMinutes=30\n";
         },
         -10, "Missing InstrumentType definition for [COM2] in " + ini_ + ".\n",
         [](auto& c) {
             EXPECT_EQ(c.NumPorts, 1);
             EXPECT_EQ(c.DiskWriteAndStatsFrequencyInMinutes, 30);
         }},
        {"a global key again after a port header replaces the value",
         [&] {
             return Global() + Port(1) + "[QUORVANE]\nDiskWriteAndStatsFrequencyInMinutes=20\n";
         },
         0, "", [](auto& c) { EXPECT_EQ(c.DiskWriteAndStatsFrequencyInMinutes, 20); }},
        {"a global key again without a port header in between",
         [&] { return Global() + "[QUORVANE]\nDiskWriteAndStatsFrequencyInMinutes=20\n"; }, -8,
         "Duplicate definition in " + ini_ + ": [QUORVANE]: DiskWriteAndStatsFrequencyInMinutes\n",
         none},
        {"the same key in two port sections", [&] { return Global() + Port(1) + Port(2); }, 0, "",
         none},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Result r(Write(test.file()));
        EXPECT_EQ(r.c.ErrorCode, test.code) << r.Message();
        if (!test.message.empty()) {
            EXPECT_EQ(r.Message(), test.message);
        }
        test.check(r.c);
    }
}

TEST_F(IniReader, CrLfLinesReadLikeLfLines) {
    const std::string lf = "; comment\n" + Global() +
                           Port(2, {{"Baud", "Baud=9600\nDevice=/dev/ttyS1"}}) +
                           Port(5, {{"InstrumentType", "InstrumentType=GPS"}});
    std::string crlf;
    for (char ch : lf) {
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    }
    Result a(Write(lf));
    Result b(Write(crlf));
    ASSERT_EQ(a.c.ErrorCode, 0) << a.Message();
    ASSERT_EQ(b.c.ErrorCode, 0) << b.Message();
    EXPECT_STREQ(b.c.OutputDriveAndPath, a.c.OutputDriveAndPath);
    EXPECT_EQ(b.c.NumPorts, 2);
    for (int p = 0; p < 2; ++p) {
        EXPECT_STREQ(b.c.InstrumentType[p], a.c.InstrumentType[p]);
        EXPECT_STREQ(b.c.Device[p], a.c.Device[p]);
        EXPECT_EQ(b.c.Parity[p], 'N');
        EXPECT_EQ(b.c.StartupInitializationFunction[p], INIT_NONE);  // "NONE\r" would be refused
        EXPECT_STREQ(b.c.TokenLabelsForStatistics[p][1], "RH");
    }

    // A key followed only by CR LF has no value; a lone CR belongs to the line.
    Result c(Write(Global() + "[COM1]\r\nBaud=\r\n"));
    EXPECT_EQ(c.c.ErrorCode, -8);
    EXPECT_EQ(c.Message(), "Missing definition assignment in " + ini_ + ": [COM1]: Baud\n");
    Result d(Write(Global() + Port(1, {{"InstrumentType", "InstrumentType=a\rb"}})));
    EXPECT_STREQ(d.c.InstrumentType[0], "a\rb");

    // Ctrl-Z ends the file, as in Windows text mode; a last line needs no line end.
    Result e(Write(Global() + Port(1) + "\x1a[COM2]\r\nBaud=\r\n"));
    EXPECT_EQ(e.c.ErrorCode, 0) << e.Message();
    EXPECT_EQ(e.c.NumPorts, 1);
    std::string unterminated = Global() + Port(1);
    unterminated.pop_back();
    Result f(Write(unterminated));
    EXPECT_EQ(f.c.ErrorCode, 0) << f.Message();
    EXPECT_EQ(f.c.ErrorValuesPerTokenIndex[0][1], -99.5);
}

TEST_F(IniReader, ReportsEachErrorWithItsCodeAndMessage) {
    struct Case {
        std::string name;
        std::function<std::string()> file;
        int32_t code;
        std::function<std::string()> message;
    };
    const std::string p = ini_;
    std::string nine;
    for (int n = 1; n <= 9; ++n) {
        nine += Port(n);
    }
    const std::string dotted = out_ + platform::kPathSeparator + "data.old";
    std::filesystem::create_directory(dotted);
    const std::string missing = out_ + platform::kPathSeparator + "missing";
    const Case cases[] = {
        {"tenth port", [&] { return Global() + nine + "[COM10]\n"; }, -2,
         [] { return "Can't open more than 9 comm ports.\n"; }},
        {"101 token indices",
         [&] { return Global() + Port(1, Lists(Repeated("1", 101), "", "", "")); }, -3,
         [] { return "The number of TokenIndicesForStatistics exceeds MAX_TOKENS for COM1\n"; }},
        {"101 labels", [&] { return Global() + Port(1, Lists("1", Repeated("L", 101), "", "")); },
         -3, [] { return "The number of TokenLabelsForStatistics exceeds MAX_TOKENS for COM1\n"; }},
        {"101 error-check indices",
         [&] { return Global() + Port(1, Lists("1", "L", Repeated("2", 101), "")); }, -3,
         [] { return "The number of ErrorCheckingTokenIndices exceeds MAX_TOKENS for COM1"; }},
        {"101 error values",
         [&] { return Global() + Port(1, Lists("1", "L", "1", Repeated("0", 101))); }, -3,
         [] { return "The number of ErrorValuesPerTokenIndex\n exceeds MAX_TOKENS for COM1\n"; }},
        {"token position 100",
         [&] { return Global() + Port(3, Lists("1 100", "a b", "1 1", "0 0")); }, -3,
         [] {
             return "The value 100 in TokenIndicesForStatistics for COM3 is outside 0 to 99.\n";
         }},
        {"negative error-check position",
         [&] { return Global() + Port(3, Lists("1 2", "a b", "1 -1", "0 0")); }, -3,
         [] { return "The value -1 in ErrorCheckingTokenIndices for COM3 is outside 0 to 99.\n"; }},
        {"label count", [&] { return Global() + Port(1, Lists("1 2", "a", "1 2", "0 0")); }, -5,
         [&] {
             return "The number of TokenLabelsForStatistics does not match the\nnumber of "
                    "TokenIndicesForStatistics for COM1 in " +
                    p + "\n";
         }},
        {"error-check count", [&] { return Global() + Port(1, Lists("1 2", "a b", "1", "0 0")); },
         -6,
         [&] {
             return "The number of ErrorCheckingTokenIndices does not match the\nnumber of "
                    "TokenIndicesForStatistics for COM1 in " +
                    p + "\n";
         }},
        {"error value count", [&] { return Global() + Port(1, Lists("1 2", "a b", "1 2", "0")); },
         -6,
         [&] {
             return "The number of ErrorValuesPerTokenIndex does not match the\nnumber of "
                    "TokenIndicesForStatistics for COM1 in " +
                    p + "\n";
         }},
        {"duplicate port", [&] { return Global() + Port(2) + Port(2); }, -7,
         [&] { return "Duplicate comm port (COM2) specified in " + p + ".\n"; }},
        {"port key without value",
         [&] {
             return Global() + Port(1, {{"Baud", "Baud="}});
         },
         -8, [&] { return "Missing definition assignment in " + p + ": [COM1]: Baud\n"; }},
        {"global key without value",
         [&] {
             return Global({{"WatchDogTimerAddressInHex", "WatchDogTimerAddressInHex="}});
         },
         -8,
         [&] {
             return "Missing definition assignment in " + p +
                    ": [QUORVANE]: WatchDogTimerAddressInHex\n";
         }},
        {"port key twice",
         [&] {
             return Global() + Port(7, {{"Baud", "Baud=9600\nBaud=9600"}});
         },
         -8, [&] { return "Duplicate definition in " + p + ": [COM7]: Baud\n"; }},
        {"Device twice",
         [&] {
             return Global() + Port(7, {{"Baud", "Baud=1\nDevice=a\nDevice=b"}});
         },
         -8, [&] { return "Duplicate definition in " + p + ": [COM7]: Device\n"; }},
        {"global key twice",
         [&] {
             return Global({{"WatchDogTimerAddressInHex",
                             "WatchDogTimerAddressInHex=1\nWatchDogTimerAddressInHex=1"}});
         },
         -8,
         [&] {
             return "Duplicate definition in " + p + ": [QUORVANE]: WatchDogTimerAddressInHex\n";
         }},
        {"period 7",
         [&] {
             return Global({{"DiskWriteAndStatsFrequencyInMinutes",
                             "DiskWriteAndStatsFrequencyInMinutes=7"}});
         },
         -8,
         [&] {
             return "Invalid definition for DiskWriteAndStatsFrequencyInMinutes\nunder [QUORVANE] "
                    "in " +
                    p +
                    " (60 minutes must be evenly\ndivisible by "
                    "DiskWriteAndStatsFrequencyInMinutes).\n";
         }},
        {"period 0",
         [&] {
             return Global({{"DiskWriteAndStatsFrequencyInMinutes",
                             "DiskWriteAndStatsFrequencyInMinutes=0"}});
         },
         -8, nullptr},
        {"period -5",
         [&] {
             return Global({{"DiskWriteAndStatsFrequencyInMinutes",
                             "DiskWriteAndStatsFrequencyInMinutes=-5"}});
         },
         -8, nullptr},
        {"startup keyword with a leading blank",
         [&] {
             return Global() + Port(4, {{"StartupInitializationFunction",
                                         "StartupInitializationFunction = NONE"}});
         },
         -9,
         [] {
             return "Invalid specification for StartupInitializationFunction for COM4.\n"
                    "The following specifications are valid:\n"
                    "                   1) none\n"
                    "                   2) GetOphirConstants\n"
                    "                   3) LawranceGpsSetup\n";
         }},
        {"startup keyword with a trailing blank",
         [&] {
             return Global() + Port(4, {{"StartupInitializationFunction",
                                         "StartupInitializationFunction=NONE "}});
         },
         -9, nullptr},
        {"GPS set-up during acquisition",
         [&] {
             return Global() + Port(4, {{"AcquisitionInitializationFunction",
                                         "AcquisitionInitializationFunction=LowranceGpsSetup"}});
         },
         -9,
         [] {
             return "Invalid specification for AcquisitionInitializationFunction for COM4.\n"
                    "The following specifications are valid:\n"
                    "                   1) none\n"
                    "                   2) GetOphirConstants\n";
         }},
        {"global key missing",
         [&] {
             return Global({{"WatchDogTimerAddressInHex", ""}}) + Port(1);
         },
         -10,
         [&] {
             return "Missing WatchDogTimerAddressInHex definition for [Quorvane] in " + p + ".\n";
         }},
        {"port key missing",
         [&] {
             return Global() + Port(6, {{"StopBits", ""}});
         },
         -10, [&] { return "Missing StopBits definition for [COM6] in " + p + ".\n"; }},
        {"a '.' in the output path",
         [&] {
             return Global({{"OutputDriveAndPath", "OutputDriveAndPath=" + dotted}});
         },
         -11,
         [&] {
             return "Access is denied for the specified drive\\path [" + dotted +
                    "].\nCheck that the output drive and path points to an accessible device\n"
                    "with write permission. This error is also generated when specifying the\n"
                    "output drive and path as the current working directory with the \".\"\n"
                    "specification. In this case, specify the explicit drive and path of the\n"
                    "current working directory instead of \".\"\n";
         }},
        {"output path '.'",
         [&] {
             return Global({{"OutputDriveAndPath", "OutputDriveAndPath=."}});
         },
         -11, nullptr},
        {"output directory missing",
         [&] {
             return Global({{"OutputDriveAndPath", "OutputDriveAndPath=" + missing}});
         },
         -12,
         [&] {
             return "The output drive\\path specified [" + missing +
                    "] can not be located by the operating system.\nCheck that the "
                    "OutputDriveAndPath definition for Quorvane is specified correctly in "
                    "Quorvane.ini.\n";
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Result r(Write(test.file()));
        EXPECT_EQ(r.c.ErrorCode, test.code) << r.Message();
        if (test.message) {
            EXPECT_EQ(r.Message(), test.message());
        }
    }

    Result unopened(dir_.File("absent.ini"));
    EXPECT_EQ(unopened.c.ErrorCode, -1);
    EXPECT_EQ(unopened.Message(), "Can't open INI file: " + dir_.File("absent.ini") + "\n");

    // The output path stays in the record when its checks fail.
    Result kept(Write(Global({{"OutputDriveAndPath", "OutputDriveAndPath=" + missing}})));
    EXPECT_EQ(std::string(kept.c.OutputDriveAndPath), missing);
}

TEST_F(IniReader, ReportsTheFirstErrorFound) {
    struct Case {
        std::string name;
        std::string file;
        int32_t code;
        std::string message_start;
    };
    std::string nine;
    for (int n = 1; n <= 9; ++n) {
        nine += Port(n);
    }
    const std::string dotted_missing = out_ + platform::kPathSeparator + "no.such";
    const Case cases[] = {
        {"count errors of port 0 before missing keys of port 1",
         Global() + Port(1, Lists("1", "a b", "1", "0")) + Port(2, {{"Baud", ""}}), -5,
         "The number of TokenLabelsForStatistics"},
        {"missing global keys before missing port keys",
         Global({{"DiskWriteAndStatsFrequencyInMinutes", ""}}) + Port(1, {{"Baud", ""}}), -10,
         "Missing DiskWriteAndStatsFrequencyInMinutes"},
        {"missing port keys in table order",
         Global() + Port(1, {{"Baud", ""}, {"InstrumentType", ""}}), -10, "Missing InstrumentType"},
        {"a line error before the end-of-file checks",
         Global() + Port(1, {{"Baud", ""}}) + Port(2, {{"Parity", "Parity=N\nParity=E"}}), -8,
         "Duplicate definition"},
        {"the earlier of two line errors",
         Global() + Port(1, {{"Baud", "Baud="}, {"Parity", "Parity=N\nParity=E"}}), -8,
         "Missing definition assignment"},
        {"a reused number before the tenth-port check", Global() + nine + "[COM4]\n", -7,
         "Duplicate comm port (COM4)"},
        {"a '.' before a missing directory",
         Global({{"OutputDriveAndPath", "OutputDriveAndPath=" + dotted_missing}}), -11,
         "Access is denied"},
        {"the list count before the range of the 101st entry",
         Global() + Port(1, Lists(Repeated("1", 100) + " 555", "", "", "")), -3,
         "The number of TokenIndicesForStatistics exceeds"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Result r(Write(test.file));
        EXPECT_EQ(r.c.ErrorCode, test.code) << r.Message();
        EXPECT_EQ(r.Message().rfind(test.message_start, 0), 0u) << r.Message();
    }
}

// Counts every piece that dynamic_array hands out and releases, and fails the
// n-th allocation.
struct Ledger {
    static inline std::multiset<void*> live;
    static inline int allocations = 0;
    static inline int fail_at = 0;
    static inline bool bad_release = false;

    static void* Calloc(std::size_t count, std::size_t size) {
        if (++allocations == fail_at) {
            return nullptr;
        }
        void* piece = std::calloc(count, size);
        live.insert(piece);
        return piece;
    }
    static void Free(void* piece) {
        const auto it = live.find(piece);
        if (it == live.end()) {
            bad_release = true;
            return;
        }
        live.erase(it);
        std::free(piece);
    }
    static void Reset(int fail) {
        live.clear();
        allocations = 0;
        fail_at = fail;
        bad_release = false;
    }
};

TEST_F(IniReader, NamesTheArrayThatCannotBeCreatedAndReleasesTheWorkArrays) {
    Write(Global() + Port(1));
    SetDynamicArrayAllocator(&Ledger::Calloc, &Ledger::Free);
    std::vector<std::string> messages;  // one per array, in creation order
    int32_t final_code = -13;
    for (int n = 1; final_code == -13; ++n) {
        Ledger::Reset(n);
        ::testing::internal::CaptureStdout();  // dynamic_array's own diagnostics
        ComConfig c = ReadQuorInitializationFile(ini_.c_str());
        ::testing::internal::GetCapturedStdout();
        final_code = c.ErrorCode;
        if (final_code == -13) {
            const std::string message = c.ErrorString != nullptr ? c.ErrorString : "";
            if (messages.empty() || messages.back() != message) {
                messages.push_back(message);
            }
            if (message ==
                "Memory aloocation error for array com.Baud in "
                "ReadQuorInitializationFile.\n") {
                // The record keeps what was created before the failure.
                EXPECT_NE(c.PortNumber, nullptr);
                EXPECT_NE(c.InstrumentType, nullptr);
                EXPECT_EQ(c.Baud, nullptr);
                EXPECT_EQ(c.Parity, nullptr);
            }
        }
        FreeComConfig(c);
        ASSERT_TRUE(Ledger::live.empty()) << "pieces left after failing allocation " << n;
        ASSERT_FALSE(Ledger::bad_release) << n;
    }
    SetDynamicArrayAllocator(nullptr, nullptr);
    EXPECT_EQ(final_code, 0);

    std::vector<std::string> expected = {""};  // ErrorString itself: no message
    for (const char* name :
         {"OldPortIndex", "OldSystemIndex", "PortBookKeeping", "SystemBookKeeping"}) {
        expected.push_back(std::string("Memory aloocation error for array ") + name +
                           " in ReadQuorInitializationFile.\n");
    }
    for (const char* name : {"buf", "ScratchChar"}) {
        expected.push_back(std::string("Memory allocation error for array ") + name +
                           " in ReadQuorInitializationFile.\n");
    }
    for (const char* name : {"LabelCount",
                             "ErrorTokenCount",
                             "ErrorValueCount",
                             "com.NumTokenIndices",
                             "com.InstrumentType",
                             "com.PortNumber",
                             "com.Baud",
                             "com.Parity",
                             "com.DataBits",
                             "com.StopBits",
                             "com.DoStats",
                             "com.StringTerminationCharacter",
                             "com.LeadingTokenCharactersToStrip",
                             "com.StartupInitializationFunction",
                             "com.AcquisitionInitializationFunction",
                             "com.TokenIndicesForStatistics",
                             "com.ErrorCheckingTokenIndices",
                             "com.ErrorValuesPerTokenIndex",
                             "com.TokenLabelsForStatistics",
                             "com.OutputDriveAndPath",
                             "com.Device"}) {
        expected.push_back(std::string("Memory aloocation error for array ") + name +
                           " in ReadQuorInitializationFile.\n");
    }
    EXPECT_EQ(messages, expected);
}

TEST_F(IniReader, WorkArraysAreReleasedAfterSuccessAndAfterErrors) {
    SetDynamicArrayAllocator(&Ledger::Calloc, &Ledger::Free);
    for (const std::string& file : {Global() + Port(1), Global() + Port(1) + Port(1)}) {
        Ledger::Reset(0);
        ComConfig c = ReadQuorInitializationFile(Write(file).c_str());
        FreeComConfig(c);
        EXPECT_TRUE(Ledger::live.empty());
        EXPECT_FALSE(Ledger::bad_release);
    }
    SetDynamicArrayAllocator(nullptr, nullptr);
}

}  // namespace

#ifndef _WIN32
#include <unistd.h>

namespace {

// Permission bits do not bind root, so the denied case runs in a child
// process that has given up its privileges.
TEST_F(IniReader, DeniedOutputDirectoryDeathTest) {
    const std::string locked = dir_.File("locked");
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms(0555));
    Write(Global({{"OutputDriveAndPath", "OutputDriveAndPath=" + locked}}));
    const std::string expected = "Access is denied for the specified drive\\path [" + locked + "].";
    EXPECT_EXIT(
        {
            if (getuid() == 0 && setuid(65534) != 0) {
                std::exit(3);
            }
            ComConfig c = ReadQuorInitializationFile(ini_.c_str());
            const bool denied =
                c.ErrorCode == -11 && std::string(c.ErrorString).rfind(expected, 0) == 0;
            std::exit(denied ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
#endif
