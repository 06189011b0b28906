// Warnings of quorvane-cli check on what the reader lets pass but the logger
// refuses or misreads; the reader's verdict and its exit status stay as they
// were, --strict makes warnings fail.
#include "cli/lint.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sstream>
#include <string>
#include <vector>

#include "cli/check_command.h"
#include "config/ini_reader.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

#ifdef _WIN32
const std::string kDevice = "NUL";  // not looked at on Windows
#else
const std::string kDevice = "/dev/null";  // exists everywhere
#endif

// A valid station with one port, the number of each line beside it; `to`
// takes the place of the line `from` (nothing replaced when it is empty).
std::string Station(const std::string& output, const std::string& from = "",
                    const std::string& to = "") {
    const std::vector<std::string> lines = {
        "; station",                               // 1
        "[QUORVANE]",                              // 2
        "OutputDriveAndPath=" + output,            // 3
        "WatchDogTimerAddressInHex=NONE",          // 4
        "DiskWriteAndStatsFrequencyInMinutes=15",  // 5
        "[COM1]",                                  // 6
        "Device=" + kDevice,                       // 7
        "InstrumentType=Thermo",                   // 8
        "StartupInitializationFunction=NONE",      // 9
        "AcquisitionInitializationFunction=NONE",  // 10
        "Baud=9600",                               // 11
        "Parity=N",                                // 12
        "DataBits=8",                              // 13
        "StopBits=1",                              // 14
        "DoStats=YES",                             // 15
        "StringTerminationCharacter=10",           // 16
        "LeadingTokenCharactersToStrip=0",         // 17
        "TokenIndicesForStatistics=0 1",           // 18
        "TokenLabelsForStatistics=T RH",           // 19
        "ErrorCheckingTokenIndices=2 2",           // 20
        "ErrorValuesPerTokenIndex=1 -9.5e1",       // 21
    };
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    if (!from.empty()) {
        const size_t at = text.find(from + "\n");
        EXPECT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    }
    return text;
}

class Lint : public ::testing::Test {
protected:
    // The reader's exit status (as check gives it), the warnings.
    std::vector<LintWarning> Check(const std::string& content, int& status) {
        WriteFile(ini_, content);
        std::ostringstream out;
        std::ostringstream err;
        status = RunCheck({ini_, false, false}, out, err);
        ComConfig config = ReadQuorInitializationFile(ini_.c_str());
        EXPECT_EQ(out.str(), config.ErrorString) << "the reader's verdict, unchanged";
        FreeComConfig(config);
        return LintConfigurationFile(ini_);
    }

    TempDir dir_;
    std::string ini_ = dir_.File("Quorvane.ini");
};

TEST_F(Lint, ACleanFileHasNoWarnings) {
    int status = -1;
    EXPECT_EQ(Check(Station(dir_.path()), status), std::vector<LintWarning>{});
    EXPECT_EQ(status, 0);
}

TEST_F(Lint, WhatTheReaderAcceptsButTheLoggerRefusesOrMisreadsIsNamedByLine) {
    struct Case {
        std::string from;
        std::string to;
        int reader_status;
        LintWarning warning;
    };
    const Case cases[] = {
        {"Baud=9600",
         "Baud=fast",
         0,
         {11, "Baud: 'fast' is not a number; the logger reads 0, which the port open refuses"}},
        {"Baud=9600",
         "Baud=100000",
         0,
         {11,
          "Baud 100000: the port open refuses rates above 57600 other than 115200, 128000, "
          "230400, 256000, 460800 and 921600"}},
        {"Baud=9600", "Baud=9600baud", 0, {11, "Baud: '9600baud' reads as 9600"}},
        {"Parity=N",
         "Parity=X",
         0,
         {12,
          "Parity 'X': the parity is one of the letters N, E, O, M, S; the port open refuses "
          "any other"}},
        {"DataBits=8", "DataBits=9", 0, {13, "DataBits 9: the port open takes 5 to 8 data bits"}},
        {"StopBits=1", "StopBits=3", 0, {14, "StopBits 3: the port open takes 1 or 2 stop bits"}},
        {"DiskWriteAndStatsFrequencyInMinutes=15",
         "DiskWriteAndStatsFrequencyInMinutes=abc",
         0,
         {5,
          "DiskWriteAndStatsFrequencyInMinutes: 'abc' is not a number; the logger uses 60 "
          "minutes"}},
        {"WatchDogTimerAddressInHex=NONE",
         "WatchDogTimerAddressInHex=xyz",
         0,
         {4,
          "WatchDogTimerAddressInHex: 'xyz' is not a hexadecimal address, NONE or DEFAULT; "
          "the logger uses no watchdog board"}},
        {"WatchDogTimerAddressInHex=NONE",
         "WatchDogTimerAddressInHex=2a0h",
         0,
         {4, "WatchDogTimerAddressInHex: '2a0h' reads as 2A0"}},
        {"DoStats=YES", "DoStats=Y", 0, {15, "DoStats 'Y' is neither YES nor NO and counts as NO"}},
        {"InstrumentType=Thermo",
         "InstrumentType = Thermo",
         0,
         {8, "InstrumentType: the blank after '=' is part of the value ' Thermo'"}},
        {"InstrumentType=Thermo",
         "InstrumentType=Model A=3",
         0,
         {8, "InstrumentType: the value is what follows the last '=': '3'"}},
        {"StringTerminationCharacter=10",
         "StringTerminationCharacter=266",
         0,
         {16,
          "StringTerminationCharacter 266: only its low 8 bits count, so records end at "
          "character 10"}},
        {"TokenIndicesForStatistics=0 1",
         "TokenIndicesForStatistics=0,1 1",
         0,
         {18,
          "TokenIndicesForStatistics: the entry '0,1' reads as 0 (entries are separated by "
          "blanks only)"}},
        {"ErrorValuesPerTokenIndex=1 -9.5e1",
         "ErrorValuesPerTokenIndex=1 n/a",
         0,
         {21,
          "ErrorValuesPerTokenIndex: the entry 'n/a' is not a number (entries are separated "
          "by blanks only)"}},
        {"TokenLabelsForStatistics=T RH",
         "TokenLabelsForStatistics=Tnone RH",
         5,
         {19, "TokenLabelsForStatistics: 'Tnone RH' contains NONE, so the whole list is empty"}},
        // A typo: the reader says the real key is missing; the warning names the line.
        {"Baud=9600", "Buad=9600", 10, {11, "Buad: did you mean Baud?"}},
        {"Parity=N",
         "parity=N",
         10,
         {12,
          "parity: did you mean Parity? Key names are "
          "case-sensitive"}},
        {"Baud=9600",
         "Baud\t=9600",
         10,
         {11, "'Baud\\t': did you mean Baud? The blank or tab before '=' is part of the key"}},
        {"OutputDriveAndPath=" + dir_.path(),
         "OutputDriveAndPath=" + dir_.path() + "/v1.3",
         11,
         {3,
          "OutputDriveAndPath: the logger refuses a path with a '.' in it (it says \"Access is "
          "denied\"); name the directory without one"}},
        {"OutputDriveAndPath=" + dir_.path(),
         "OutputDriveAndPath =" + dir_.path(),
         10,
         {3,
          "'OutputDriveAndPath ': did you mean OutputDriveAndPath? The blank or tab before "
          "'=' is part of the key"}},
        {"DoStats=YES",
         "DoStats=YES\nColour=red",
         0,
         {16, "'Colour' is not a key of [COM1]; it is ignored"}},
        {"DoStats=YES",
         "DoStats=YES\n ;Baud=1",
         0,
         {16,
          "a comment needs its ';' in the first column: this line is read as the key ';Baud' "
          "and ignored"}},
        {"DoStats=YES",
         "DoStats=YES\nBaud 9600",
         0,
         {16, "'Baud 9600': a line without '=' is ignored"}},
        {"TokenLabelsForStatistics=T RH",
         "TokenLabelsForStatistics=T[C] RH",
         10,
         {19,
          "the ']' makes this line a section header, so 'TokenLabelsForStatistics' is not set "
          "here (no value may contain ']')"}},
        {"[COM1]",
         "[COM1]\n[NOTES]",
         0,
         {7,
          "'[NOTES]' names neither [COMn] nor [QUORVANE]: the lines after it still belong to "
          "[COM1]"}},
        {"; station",
         "; station\nBaud=1",
         0,
         {2,
          "a line before the first section header is "
          "ignored"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        int status = -1;
        const auto warnings = Check(Station(dir_.path(), c.from, c.to), status);
        EXPECT_EQ(status, c.reader_status);
        EXPECT_EQ(warnings, std::vector<LintWarning>{c.warning});
    }
}

TEST_F(Lint, ABlankAfterTheEqualsSignOfParityIsReportedTwice) {
    // "Parity = N" stores the blank: the port open refuses it.
    int status = -1;
    const auto warnings = Check(Station(dir_.path(), "Parity=N", "Parity = N"), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(warnings,
              (std::vector<LintWarning>{
                  {12, "Parity: the blank after '=' is part of the value ' N'"},
                  {12,
                   "Parity ' N': the parity is one of the letters N, E, O, M, S; the port "
                   "open refuses any other"}}));
}

TEST_F(Lint, TwoStopBitsWithFiveDataBitsAreRefusedWhateverTheOrder) {
    int status = -1;
    auto text = Station(dir_.path(), "StopBits=1", "StopBits=2");
    text.replace(text.find("DataBits=8"), 10, "DataBits=5");
    text.replace(text.find("Device="), 7, "DoNotCare=");  // moves nothing, adds an unknown key
    const auto warnings = Check(text, status);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.back(),
              (LintWarning{14, "StopBits 2: the port open refuses 2 stop bits with 5 data bits"}));
}

#ifndef _WIN32
TEST_F(Lint, ADeviceThatDoesNotExistIsNamed) {
    int status = -1;
    const std::string missing = dir_.File("ttyUSB9");
    EXPECT_EQ(Check(Station(dir_.path(), "Device=" + kDevice, "Device=" + missing), status),
              (std::vector<LintWarning>{
                  {7, "Device '" + missing + "' does not exist, so the port open fails"}}));
    EXPECT_EQ(status, 0);
    // Without a Device key the port's default device counts.
    const auto warnings = Check(Station(dir_.path(), "Device=" + kDevice, "; no device"), status);
    EXPECT_EQ(status, 0);
    for (const LintWarning& warning : warnings) {
        EXPECT_EQ(warning, (LintWarning{6,
                                        "[COM1] has no Device key, and its default device "
                                        "/dev/ttyS0 does not exist"}));
    }
}
#endif

// The publishing keys are optional and read by the logger alone: check shows
// them, and lint says why an address or a credentials file cannot be used.
TEST_F(Lint, ThePublishingKeysAreCheckedAndShown) {
    int status = -1;
    const std::string credentials = dir_.File("credentials");
    WriteFile(credentials, "User=north\nPasword=x\n");
    std::filesystem::permissions(credentials, std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::owner_write);
    const std::string keys = "DiskWriteAndStatsFrequencyInMinutes=15\nPublishTo= mqtt://host:0/site\n"
                             "PublishCredentialsFile=" + credentials;
    EXPECT_EQ(Check(Station(dir_.path(), "DiskWriteAndStatsFrequencyInMinutes=15", keys), status),
              (std::vector<LintWarning>{
                  {6, "PublishTo ' mqtt://host:0/site' cannot be used: the port \"0\" is not a "
                      "number from 1 to 65535; the logger logs without publishing"},
                  {7, "PublishCredentialsFile: " + credentials +
                          ":2: unknown key \"Pasword\" (User, Password, Certificate, Key, "
                          "CaFile) (as the user who checks: the service's user may differ)"}}));
    EXPECT_EQ(status, 0);  // the logger starts all the same

    WriteFile(credentials, "User=north\nPassword=x\n");
    const std::string good = "DiskWriteAndStatsFrequencyInMinutes=15\nPublishTo=mqtts://host/site\n"
                             "PublishCredentialsFile=" + credentials;
    EXPECT_EQ(Check(Station(dir_.path(), "DiskWriteAndStatsFrequencyInMinutes=15", good), status),
              std::vector<LintWarning>{});
    ComConfig config = ReadQuorInitializationFile(ini_.c_str());
    EXPECT_EQ(config.PublishTo, "mqtts://host/site");
    EXPECT_EQ(config.PublishCredentialsFile, credentials);
    FreeComConfig(config);
}

TEST_F(Lint, ALineLongerThanTheReadersPiecesIsNamed) {
    int status = -1;
    const std::string label_list = std::string(498, 'L') + " X";
    const auto warnings =
        Check(Station(dir_.path(), "DoStats=YES", "DoStats=YES\n; " + label_list), status);
    EXPECT_EQ(warnings, (std::vector<LintWarning>{
                            {16,
                             "the line is longer than 497 characters: the reader takes what "
                             "follows the first 498 as a line of its own"},
                            {16, "'LL X': a line without '=' is ignored"}}));
}

TEST_F(Lint, StrictMakesWarningsFailButNeverHidesTheReadersOwnCode) {
    std::ostringstream out;
    std::ostringstream err;
    WriteFile(ini_, Station(dir_.path(), "Baud=9600", "Baud=fast"));
    EXPECT_EQ(RunCheck({ini_, false, false}, out, err), 0);
    EXPECT_EQ(out.str(), "Successful.\n");
    EXPECT_EQ(err.str(), ini_ +
                             ":11: Baud: 'fast' is not a number; the logger reads 0, which "
                             "the port open refuses\n");
    err.str("");
    EXPECT_EQ(RunCheck({ini_, false, true}, out, err), kCheckExitWarnings);
    EXPECT_EQ(kCheckExitWarnings, 65);
    EXPECT_NE(err.str().find("quorvane-cli check: --strict: 1 warning\n"), std::string::npos);

    WriteFile(ini_, Station(dir_.path(), "Baud=9600", "Buad=9600"));
    err.str("");
    EXPECT_EQ(RunCheck({ini_, false, true}, out, err), 10);
    EXPECT_EQ(err.str(), ini_ + ":11: Buad: did you mean Baud?\n");

    WriteFile(ini_, Station(dir_.path()));
    err.str("");
    EXPECT_EQ(RunCheck({ini_, true, true}, out, err), 0) << err.str();
    EXPECT_EQ(err.str(), "");
}

TEST(LintExample, TheShippedExampleWarnsOnlyOfDevicesThisMachineLacks) {
    const auto warnings = LintConfigurationFile(QUORVANE_SOURCE_DIR "/examples/Quorvane.ini");
    for (const LintWarning& warning : warnings) {
        EXPECT_NE(warning.text.find("does not exist"), std::string::npos)
            << warning.line << ": " << warning.text;
    }
}

TEST(NearestKey, SlipsFindTheKeyAndOtherWordsDoNot) {
    const std::vector<std::string> keys = {
        "Baud", "Parity", "DataBits", "StopBits", "DoStats", "DiskWriteAndStatsFrequencyInMinutes"};
    EXPECT_EQ(NearestKey("Buad", keys), "Baud");
    EXPECT_EQ(NearestKey("BAUD", keys), "Baud");
    EXPECT_EQ(NearestKey("Partiy", keys), "Parity");
    EXPECT_EQ(NearestKey("DataBit", keys), "DataBits");
    EXPECT_EQ(NearestKey("StopBit", keys), "StopBits");
    EXPECT_EQ(NearestKey("DiskWriteAndStatFrequencyInMinute", keys),
              "DiskWriteAndStatsFrequencyInMinutes");
    EXPECT_EQ(NearestKey("Bits", keys), "");
    EXPECT_EQ(NearestKey("Speed", keys), "");
    EXPECT_EQ(NearestKey("Bd", keys), "");
}

TEST(PortRefusals, FollowTheLineSetUpOfThePortOpen) {
    for (long long baud : {110LL, 300LL, 9600LL, 57600LL, 115200LL, 128000LL, 230400LL, 256000LL,
                           460800LL, 921600LL}) {
        EXPECT_EQ(BaudRefusal(baud), "") << baud;
    }
    for (long long baud : {0LL, -9600LL, 57601LL, 100000LL, 1000000LL, 4294967296LL}) {
        EXPECT_NE(BaudRefusal(baud), "") << baud;
    }
    for (char parity : {'N', 'E', 'O', 'M', 'S'}) {
        EXPECT_EQ(ParityRefusal(parity), "") << parity;
    }
    for (char parity : {' ', 'X', 'n', '\0'}) {
        EXPECT_NE(ParityRefusal(parity), "") << static_cast<int>(parity);
    }
    EXPECT_EQ(DataBitsRefusal(5), "");
    EXPECT_NE(DataBitsRefusal(4), "");
    EXPECT_EQ(StopBitsRefusal(2, 8), "");
    EXPECT_EQ(StopBitsRefusal(1, 5), "");
    EXPECT_NE(StopBitsRefusal(0, 8), "");
}

}  // namespace
