#include "cli/dump_command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>

#include "platform/fake_clock.h"
#include "serial/port.h"
#include "support/serial_peer.h"
#include "support/temp_dir.h"

namespace {

using testing_support::SerialPeer;

std::string PortSection(int com, const std::string& device, int baud) {
    return "[COM" + std::to_string(com) + "]\n" +
           (device.empty() ? "" : "Device=" + device + "\n") +
           "InstrumentType=Hygrometer\n"
           "StartupInitializationFunction=NONE\n"
           "AcquisitionInitializationFunction=NONE\n"
           "Baud=" +
           std::to_string(baud) +
           "\n"
           "Parity=N\n"
           "DataBits=8\n"
           "StopBits=1\n"
           "DoStats=NO\n"
           "StringTerminationCharacter=13\n"
           "LeadingTokenCharactersToStrip=0\n"
           "TokenIndicesForStatistics=NONE\n"
           "TokenLabelsForStatistics=NONE\n"
           "ErrorCheckingTokenIndices=NONE\n"
           "ErrorValuesPerTokenIndex=NONE\n";
}

class Dump : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_PEER(peer);
        // Under wine the pair serves every test: nothing of the last may stay.
        peer.ReadAvailable();
        PortRecord* port = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 8, 1);
        PortDrainInput(port);
        port->Close(port);
    }

    // An INI file with the peer's port at `baud`, and a second port whose
    // device is missing (COM250).
    std::string WriteIni(int baud) {
#ifdef _WIN32
        const std::string device;
#else
        const std::string device = peer.devicePath();
#endif
        const std::string missing = dir.File("no-such-device");
        testing_support::WriteFile(dir.File("Quorvane.ini"),
                                   "[QUORVANE]\nOutputDriveAndPath=" + dir.path() +
                                       "\nWatchDogTimerAddressInHex=NONE\n"
                                       "DiskWriteAndStatsFrequencyInMinutes=15\n\n" +
                                       PortSection(peer.comNumber(), device, baud) + "\n" +
                                       PortSection(250, missing, 9600));
        return dir.File("Quorvane.ini");
    }

    int Run(const DumpOptions& options) {
        out.str("");
        err.str("");
        return RunDump(options, out, err);
    }

    DumpOptions Options(int baud = 9600) {
        DumpOptions options;
        options.ini = WriteIni(baud);
        options.port = "COM" + std::to_string(peer.comNumber());
        return options;
    }

    testing_support::TempDir dir;
    SerialPeer peer;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(Dump, PrintsTheTenLinesOfTheConfiguredPort) {
    DumpOptions options = Options();
    options.port = "com" + std::to_string(peer.comNumber());
    EXPECT_EQ(Run(options), 0) << err.str();
    const std::string text = out.str();
    EXPECT_NE(
        text.find("\n\nPort type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("XonLim: 16250 XoffLim: 16250 EofChr: 00  EvtChr: 00\n"),
              std::string::npos);
    EXPECT_NE(text.find("TX count/free:     0/25 "), std::string::npos);
    EXPECT_NE(text.find("\n8250:0000\n"), std::string::npos);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(Run(Options(128000)), 0);
    EXPECT_NE(out.str().find("DCB BaudRate: 130816"), std::string::npos);
}

TEST_F(Dump, SendsATextAndReadsTheReply) {
    DumpOptions options = Options();
    options.send = "5\\r\\x41";
    options.readLine = true;
    options.terminator = "CR";
    options.timeoutMs = 10000;
    // The instrument answers the command; the port is raw, so the reply
    // arrives as it was sent.
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 1, 1));
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(1);
    std::thread instrument([this] {
        if (peer.ReadExactly(3) == "5\rA") {
            peer.Write("21.5 \x01ok\rrest");
        }
    });
    const int status = Run(options);
    instrument.join();
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_NE(out.str().find("sent: \"5\\rA\"\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("read-line: status 0, 8 characters: \"21.5 \\x01ok\"\n"),
              std::string::npos)
        << out.str();
}

TEST_F(Dump, AReplyThatNeverComesEndsWithTheTimeOutStatus) {
    DumpOptions options = Options();
    options.readLine = true;
    options.terminator = "10";
    options.timeoutMs = 5000;
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 1, 1));
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(100);
    EXPECT_EQ(Run(options), 8);
    EXPECT_NE(out.str().find("read-line: status -8, 0 characters: \"\"\n"), std::string::npos);
    EXPECT_NE(err.str().find("(status -8)"), std::string::npos);
}

TEST_F(Dump, APortThatCannotBeOpenedGivesItsStatus) {
    DumpOptions options = Options();
    options.port = "COM250";
    EXPECT_EQ(Run(options), 14);
    EXPECT_NE(err.str().find("COM250"), std::string::npos);
    EXPECT_NE(err.str().find("No 8250 UART at the requested location. (status -14)"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(out.str(), "") << "no dump of a port that is not open";

    EXPECT_EQ(Run(Options(100000)), 25);
    EXPECT_NE(out.str().find("Port type:  MS Windows"), std::string::npos)
        << "the device stays open: its dump is shown";
    EXPECT_NE(err.str().find("Baud rate specified is not leagal for this driver. (status -25)"),
              std::string::npos);
}

TEST_F(Dump, ProblemsBeforeThePortAreExplained) {
    DumpOptions options = Options();
    options.port = "COM7";
    EXPECT_EQ(Run(options), kDumpExitConfig);
    EXPECT_NE(err.str().find("has no [COM7] section"), std::string::npos);
    options.ini = dir.File("missing.ini");
    options.port = "COM" + std::to_string(peer.comNumber());
    EXPECT_EQ(Run(options), kDumpExitConfig);
    EXPECT_NE(err.str().find("missing.ini"), std::string::npos);
    options = Options();
    for (const char* port : {"PORT3", "COM", "", "COM1x"}) {
        options.port = port;
        EXPECT_EQ(Run(options), kDumpExitUsage) << port;
    }
    options = Options();
    options.send = "bad\\q";
    EXPECT_EQ(Run(options), kDumpExitUsage);
    options = Options();
    options.readLine = true;
    options.terminator = "256";
    EXPECT_EQ(Run(options), kDumpExitUsage);
}

TEST(DumpText, EscapesAndTerminators) {
    std::string bytes;
    ASSERT_TRUE(UnescapeText("a\\r\\n\\t\\\\\\x7f\\0z", bytes));
    EXPECT_EQ(bytes, std::string("a\r\n\t\\\x7f\0z", 8));
    EXPECT_EQ(EscapeBytes(bytes), "a\\r\\n\\t\\\\\\x7f\\x00z");
    for (const char* bad : {"\\", "\\x4", "\\xg0", "\\e"}) {
        EXPECT_FALSE(UnescapeText(bad, bytes)) << bad;
    }
    int terminator = 0;
    const struct {
        const char* text;
        int value;
    } good[] = {{"CR", 13}, {"lf", 10}, {"CRLF", -1}, {"-2", -2}, {"0", 0}, {"255", 255}};
    for (const auto& g : good) {
        ASSERT_TRUE(ParseTerminator(g.text, terminator)) << g.text;
        EXPECT_EQ(terminator, g.value);
    }
    for (const char* bad : {"256", "-3", "", "13x", "TAB"}) {
        EXPECT_FALSE(ParseTerminator(bad, terminator)) << bad;
    }
}

}  // namespace
