#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/open_port.h"
#include "platform/fake_clock.h"

#ifndef _WIN32
#include <termios.h>
#endif

namespace {

using serial_test::OpenPort;
using PortLine = OpenPort;

std::vector<std::string> g_lines;
void Collect(const char* line) {
    g_lines.emplace_back(line);
}

std::vector<std::string> DumpOf(PortRecord* port) {
    g_lines.clear();
    EXPECT_EQ(port->Dump(port, Collect), PORT_OK);
    return g_lines;
}

DCB SystemDcb(PortRecord* port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(port->DriverData->Handle, &dcb));
    return dcb;
}

// Wine rebuilds GetCommState's block from termios, which has no place for the
// RTS and DTR handshake modes, the DTR level or DSR flow: there only the
// working copy and the data path can be checked.
bool SystemReportsHandshakes() {
#ifdef _WIN32
    return !testing_support::SerialPeer::UnderWine();
#else
    return true;
#endif
}

#ifndef _WIN32
termios TerminalOf(const testing_support::SerialPeer& peer) {
    termios t{};
    EXPECT_EQ(tcgetattr(peer.terminalFd(), &t), 0);
    return t;
}
#endif

TEST_F(PortLine, HardwareAndSoftwareFlowControlReachTheDevice) {
    EXPECT_EQ(port->SetRtsCts(port, 1), PORT_OK);
    EXPECT_EQ(SystemDcb(port).fOutxCtsFlow, 1u);
    if (SystemReportsHandshakes()) {
        EXPECT_EQ(SystemDcb(port).fRtsControl, RTS_CONTROL_HANDSHAKE);
    }
    EXPECT_EQ(port->SetXonXoff(port, 5), PORT_OK);  // any non-zero value is on
    EXPECT_EQ(port->DriverData->Dcb.fOutX, 1u);
    EXPECT_EQ(port->DriverData->Dcb.fInX, 1u);
#ifndef _WIN32
    termios t = TerminalOf(peer);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
#endif
    EXPECT_EQ(port->SetRtsCts(port, 0), PORT_OK);
    EXPECT_EQ(port->DriverData->Dcb.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(port->SetXonXoff(port, 0), PORT_OK);
    EXPECT_EQ(SystemDcb(port).fOutX, 0u);
#ifndef _WIN32
    t = TerminalOf(peer);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
#endif
    EXPECT_EQ(port->Status, PORT_OK);
}

TEST_F(PortLine, DtrLevelsReplaceTheHandshakeButKeepDsrFlow) {
    EXPECT_EQ(port->SetDtrDsr(port, 1), PORT_OK);
    if (SystemReportsHandshakes()) {
        EXPECT_EQ(SystemDcb(port).fOutxDsrFlow, 1u);
        EXPECT_EQ(SystemDcb(port).fDtrControl, DTR_CONTROL_HANDSHAKE);
    }
#ifndef _WIN32
    EXPECT_EQ(TerminalOf(peer).c_cflag & CRTSCTS, 0u) << "DSR flow is not the CTS handshake";
#endif
    EXPECT_EQ(port->SetDtr(port, 0), PORT_OK);
    EXPECT_EQ(port->DriverData->Dcb.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(port->DriverData->Dcb.fOutxDsrFlow, 1u);
    if (SystemReportsHandshakes()) {
        EXPECT_EQ(SystemDcb(port).fDtrControl, DTR_CONTROL_DISABLE);
    }
    EXPECT_EQ(port->SetRts(port, 0), PORT_OK);
    EXPECT_EQ(port->SetRts(port, 1), PORT_OK);
    EXPECT_EQ(port->DriverData->Dcb.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(port->SetDtrDsr(port, 0), PORT_OK);
    EXPECT_EQ(SystemDcb(port).fOutxDsrFlow, 0u);
    EXPECT_EQ(port->Status, PORT_OK);
    // The line still carries data both ways.
    EXPECT_EQ(port->WriteBlock(port, "out", 3), PORT_OK);
    EXPECT_EQ(peer.ReadExactly(3), "out");
    Deliver("in");
    EXPECT_EQ(ReadAll(), "in");
}

TEST_F(PortLine, DumpOfA9600Baud8N1Port) {
    Deliver("0123456789");
    const std::vector<std::string> expected = {
        "",
        "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0",
        "StopBits: 0 fBinary: 1  fRtsControl: 1",
        "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0",
        "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13",
        "XonLim: 16250 XoffLim: 16250 EofChr: 00  EvtChr: 00",
        "RX count/free:    10/64990  TX count/free:     0/25     BREAK/FE/OE/PE: 0000",
        "CE_BREAK:0  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:0",
        "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: 0000",
        "8250:0000",
    };
    EXPECT_EQ(DumpOf(port), expected);
    EXPECT_EQ(port->RxUsed(port), 10) << "the dump reads nothing";
    EXPECT_EQ(port->Status, PORT_OK);

    EXPECT_EQ(port->ConfigureLine(port, 128000, 'o', 7, 2), PORT_OK);
    const std::vector<std::string> lines = DumpOf(port);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1], "Port type:  MS Windows  DCB BaudRate: 130816  ByteSize: 7  Parity: 1");
    EXPECT_EQ(lines[2], "StopBits: 2 fBinary: 1  fRtsControl: 1");
}

#ifndef _WIN32
// A pseudo-terminal keeps no error counters, but a write the line cannot take
// raises CE_TXFULL; like every error it stays until ClearLineErrors.
TEST_F(PortLine, LineErrorsStayUntilCleared) {
    int writes = 0;
    while (port->WriteBlock(port, "0123456789012345678901234", 25) == PORT_OK && writes < 100000) {
        ++writes;
    }
    ASSERT_LT(writes, 100000) << "the line never filled";
    EXPECT_EQ(port->Status, PORT_ERR_TX_INCOMPLETE);
    EXPECT_EQ(port->LineStatus(port), 0) << "CE_TXFULL is not a receive error";
    EXPECT_EQ(DumpOf(port)[8], "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:1  CTS/DSR/RI/CD: 0000");
    EXPECT_EQ(DumpOf(port)[8], "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:1  CTS/DSR/RI/CD: 0000");
    EXPECT_EQ(port->ClearLineErrors(port), PORT_OK);
    EXPECT_EQ(port->DriverData->LineErrors, 0u);
    EXPECT_EQ(DumpOf(port)[8], "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: 0000");
}
#endif

TEST_F(PortLine, LineStatusReportsOnlyReceiveErrorsAndKeepsThem) {
    port->DriverData->LineErrors = CE_FRAME | CE_TXFULL | CE_MODE;
    EXPECT_EQ(port->LineStatus(port), static_cast<int>(CE_FRAME));
    EXPECT_EQ(port->LineStatus(port), static_cast<int>(CE_FRAME));
    EXPECT_EQ(port->ClearLineErrors(port), PORT_OK);
    EXPECT_EQ(port->LineStatus(port), 0);
}

TEST_F(PortLine, BreakHoldsForItsTimeOnTheTickCount) {
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 1, 1));
    platform::ClockScope scope(clock);
    EXPECT_EQ(port->SendBreak(port, 0), PORT_OK);  // the clock stands still: no wait
    clock.SetAutoAdvanceMs(10);
    const int64_t start = clock.EpochMsNow();
    EXPECT_EQ(port->SendBreak(port, 250), PORT_OK);
    EXPECT_GE(clock.EpochMsNow() - start, 250);
    EXPECT_EQ(port->Status, PORT_OK);
}

// A pseudo-terminal has no modem lines: the system says the calls are not
// supported (error 50, under wine too), and the library reports no line on.
TEST_F(PortLine, APortWithoutModemLinesReportsNoneCleanly) {
    EXPECT_EQ(port->ModemStatus(port), 0);
    DWORD bits = 0xFFFF;
    EXPECT_FALSE(GetCommModemStatus(port->DriverData->Handle, &bits));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(EscapeCommFunction(port->DriverData->Handle, CLRDTR));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(port->Status, PORT_OK);
}

}  // namespace
