#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/comm.h"
#include "support/open_port.h"

#ifndef _WIN32
#include <termios.h>

#include "platform/posix/comm_termios.h"
#endif

namespace {

using testing_support::SerialPeer;

class PortOpen : public ::testing::Test {
protected:
    void TearDown() override { PortSetQueueSizes(1050, 1050); }
};

TEST_F(PortOpen, OpensTheLineAsAskedWithTheDriversDefaults) {
    SerialPeer peer;
    REQUIRE_PEER(peer);
    PortSetQueueSizes(65000, 25);
    PortRecord* port = PortOpenMSWin32(peer.portIndex(), 9600, 'n', 8, 1);
    ASSERT_EQ(port->Status, PORT_OK);
    PortSetQueueSizes(100, 100);  // later opens only
    EXPECT_EQ(port->DriverType, PORT_DRIVER_WIN32);
    EXPECT_EQ(port->PortIndex, peer.portIndex());
    const Win32PortData& data = *port->DriverData;
    EXPECT_EQ(data.RxQueueSize, 65000u);
    EXPECT_EQ(data.TxQueueSize, 25u);
    EXPECT_EQ(data.UartBase, 0u);
    EXPECT_EQ(data.LineErrors, 0u);
    const DCB& dcb = data.Dcb;
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.XonLim, 16250);
    EXPECT_EQ(dcb.XoffLim, 16250);
    EXPECT_EQ(dcb.EofChar, 0);
    EXPECT_EQ(dcb.EvtChar, 0);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
#ifndef _WIN32
    termios t{};
    ASSERT_EQ(tcgetattr(peer.terminalFd(), &t), 0);
    EXPECT_EQ(platform::posix::GetLineSpeed(peer.terminalFd()), 9600u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "the line must be raw";
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & (CRTSCTS | CSTOPB), 0u);
#endif
    EXPECT_EQ(port->Close(port), PORT_OK);

    // A queue too large for the 16-bit limits gets the largest they hold.
    PortSetQueueSizes(1536000, 25);
    port = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 8, 1);
    ASSERT_EQ(port->Status, PORT_OK);
    EXPECT_EQ(port->DriverData->Dcb.XonLim, 65535);
    EXPECT_EQ(port->DriverData->Dcb.XoffLim, 65535);
    EXPECT_EQ(port->Close(port), PORT_OK);

    PortSetQueueSizes(1050, 1050);
    port = PortOpenMSWin32(peer.portIndex(), 1200, 'E', 7, 2);
    ASSERT_EQ(port->Status, PORT_OK);
    EXPECT_EQ(port->DriverData->Dcb.XonLim, 262);
    EXPECT_EQ(port->DriverData->Dcb.XoffLim, 262);
    EXPECT_EQ(port->DriverData->Dcb.BaudRate, 1200u);

    EXPECT_EQ(port->DriverData->Dcb.Parity, EVENPARITY);
    EXPECT_EQ(port->DriverData->Dcb.ByteSize, 7);
    EXPECT_EQ(port->DriverData->Dcb.StopBits, TWOSTOPBITS);
#ifndef _WIN32
    ASSERT_EQ(tcgetattr(peer.terminalFd(), &t), 0);
    EXPECT_EQ(platform::posix::GetLineSpeed(peer.terminalFd()), 1200u);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
#endif
    EXPECT_EQ(port->Close(port), PORT_OK);
}

TEST_F(PortOpen, FastRatesAreWrittenAsTheDriverEncodesThem) {
    const struct {
        int32_t baud;
        DWORD written;
        uint32_t lineSpeed;
    } cases[] = {{128000, 130816, 128000}, {256000, 261888, 256000}, {57600, 57600, 57600},
                 {115200, 115200, 115200}, {230400, 230400, 230400}, {460800, 460800, 460800},
                 {921600, 921600, 921600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        SerialPeer peer;
        REQUIRE_PEER(peer);
        PortRecord* port = PortOpenMSWin32(peer.portIndex(), c.baud, 'N', 8, 1);
        EXPECT_EQ(port->Status, PORT_OK);
        EXPECT_EQ(port->DriverData->Dcb.BaudRate, c.written);
#ifndef _WIN32
        EXPECT_EQ(platform::posix::GetLineSpeed(peer.terminalFd()), c.lineSpeed);
#endif
        EXPECT_EQ(port->Close(port), PORT_OK);
    }
}

// The driver refuses these before anything reaches the device, which stays
// open with the settings it had.
TEST_F(PortOpen, RefusedLineParametersLeaveTheDeviceOpenAndUntouched) {
    const struct {
        int32_t baud;
        char parity;
        int stopBits;
        int status;
    } cases[] = {{100000, 'N', 1, PORT_ERR_BAD_BAUD},
                 {9600, 'X', 1, PORT_ERR_BAD_PARITY},
                 {9600, 'N', 0, PORT_ERR_BAD_STOP_BITS},
                 {9600, 'N', 3, PORT_ERR_BAD_STOP_BITS}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        SerialPeer peer;
        REQUIRE_PEER(peer);
#ifndef _WIN32
        termios before{};
        ASSERT_EQ(tcgetattr(peer.terminalFd(), &before), 0);
        cfsetspeed(&before, B4800);
        ASSERT_EQ(tcsetattr(peer.terminalFd(), TCSANOW, &before), 0);
#endif
        PortRecord* port = PortOpenMSWin32(peer.portIndex(), c.baud, c.parity, 8, c.stopBits);
        EXPECT_EQ(port->Status, c.status);
        EXPECT_EQ(port->DriverType, PORT_DRIVER_WIN32);
#ifndef _WIN32
        EXPECT_EQ(platform::posix::GetLineSpeed(peer.terminalFd()), 4800u);
#endif
        port->ClearStatus(port);
        EXPECT_EQ(port->WriteByte(port, 'k'), PORT_OK);
        EXPECT_EQ(peer.ReadExactly(1), "k");
        char buffer[4];
        EXPECT_EQ(port->ReadBlock(port, buffer, sizeof buffer), PORT_ERR_NO_DATA);
        EXPECT_EQ(port->Close(port), PORT_OK);
    }
}

TEST_F(PortOpen, ADataBitCountTheSystemRejectsGivesTheMappedCode) {
    SerialPeer peer;
    REQUIRE_PEER(peer);
    PortRecord* port = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 9, 1);
    EXPECT_EQ(port->Status, PORT_ERR_GENERAL);  // ERROR_INVALID_PARAMETER
    EXPECT_EQ(port->DriverData->Dcb.ByteSize, 9);
    char buffer[4];
    EXPECT_EQ(port->ReadBlock(port, buffer, sizeof buffer), PORT_ERR_NO_DATA);
    EXPECT_EQ(port->Close(port), PORT_OK);
}

TEST_F(PortOpen, AMissingDeviceIsReportedAsNoUart) {
    PortRecord* port = PortOpenMSWin32(249, 9600, 'N', 8, 1);  // COM250: nothing there
    EXPECT_EQ(port->Status, PORT_ERR_NO_UART);
    EXPECT_EQ(port->DriverType, PORT_DRIVER_WIN32);
    EXPECT_EQ(port->PortIndex, 249);
    EXPECT_EQ(port->Close(port), PORT_OK);
}

TEST_F(PortOpen, ADeviceInUseIsReportedAsInUseUntilItIsClosed) {
    SerialPeer peer;
    REQUIRE_PEER(peer);
    PortRecord* first = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 8, 1);
    ASSERT_EQ(first->Status, PORT_OK);
    PortRecord* second = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 8, 1);
#ifdef _WIN32
    if (SerialPeer::UnderWine() && second->Status == PORT_OK) {
        // Wine lets a process open a COM port twice; Windows refuses (access denied).
        EXPECT_EQ(second->Close(second), PORT_OK);
        EXPECT_EQ(first->Close(first), PORT_OK);
        GTEST_SKIP() << "wine does not keep a COM port to its first opener";
    }
#endif
    EXPECT_EQ(second->Status, PORT_ERR_IN_USE);
    EXPECT_EQ(second->Close(second), PORT_OK);
    EXPECT_EQ(first->WriteByte(first, 'a'), PORT_OK);
    EXPECT_EQ(peer.ReadExactly(1), "a");
    EXPECT_EQ(first->Close(first), PORT_OK);
    PortRecord* again = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 8, 1);
    EXPECT_EQ(again->Status, PORT_OK);
    EXPECT_EQ(again->Close(again), PORT_OK);
}

std::vector<std::string> g_printed;
void Collect(const char* line) {
    g_printed.emplace_back(line);
}

TEST_F(PortOpen, ARecordWithoutItsDeviceAnswersNotSupported) {
    PortRecord* port = PortOpenMSWin32(249, 9600, 'N', 8, 1);
    ASSERT_EQ(port->Status, PORT_ERR_NO_UART);
    char buffer[8] = "keep";
    // Every slot but Close and ClearStatus, each with its arguments.
    const std::vector<std::pair<const char*, int (*)(PortRecord*)>> operations = {
        {"ReadByte", [](PortRecord* p) { return p->ReadByte(p); }},
        {"ProbeByte", [](PortRecord* p) { return p->ProbeByte(p); }},
        {"WriteByte", [](PortRecord* p) { return p->WriteByte(p, 'x'); }},
        {"ConfigureLine", [](PortRecord* p) { return p->ConfigureLine(p, 9600, 'N', 8, 1); }},
        {"SetXonXoff", [](PortRecord* p) { return p->SetXonXoff(p, 1); }},
        {"SetRtsCts", [](PortRecord* p) { return p->SetRtsCts(p, 1); }},
        {"SetDtrDsr", [](PortRecord* p) { return p->SetDtrDsr(p, 1); }},
        {"SetDtr", [](PortRecord* p) { return p->SetDtr(p, 1); }},
        {"SetRts", [](PortRecord* p) { return p->SetRts(p, 1); }},
        {"TxFree", [](PortRecord* p) { return static_cast<int>(p->TxFree(p)); }},
        {"TxUsed", [](PortRecord* p) { return static_cast<int>(p->TxUsed(p)); }},
        {"RxFree", [](PortRecord* p) { return static_cast<int>(p->RxFree(p)); }},
        {"RxUsed", [](PortRecord* p) { return static_cast<int>(p->RxUsed(p)); }},
        {"PurgeTx", [](PortRecord* p) { return p->PurgeTx(p); }},
        {"WriteBlock", [](PortRecord* p) { return p->WriteBlock(p, "ab", 2); }},
        {"ReadBlock",
         [](PortRecord* p) {
             char b[4];
             return p->ReadBlock(p, b, sizeof b);
         }},
        {"SendBreak", [](PortRecord* p) { return p->SendBreak(p, 0); }},
        {"ModemStatus", [](PortRecord* p) { return p->ModemStatus(p); }},
        {"LineStatus", [](PortRecord* p) { return p->LineStatus(p); }},
        {"ClearLineErrors", [](PortRecord* p) { return p->ClearLineErrors(p); }},
        {"ReservedOp", [](PortRecord* p) { return p->ReservedOp(p, 0); }},
        {"PortDrainInput", [](PortRecord* p) { return PortDrainInput(p); }},
    };
    for (const auto& [name, operation] : operations) {
        port->ClearStatus(port);
        EXPECT_EQ(port->Status, PORT_OK);
        EXPECT_EQ(operation(port), PORT_ERR_NOT_SUPPORTED) << name;
        EXPECT_EQ(port->Status, PORT_ERR_NOT_SUPPORTED) << name;
    }
    port->ClearStatus(port);
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, 13, 100), PORT_ERR_NOT_SUPPORTED);
    EXPECT_STREQ(buffer, "");

    g_printed.clear();
    port->ClearStatus(port);
    EXPECT_EQ(port->Dump(port, Collect), PORT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(port->Status, PORT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(g_printed, (std::vector<std::string>{"Port dump not supported for this driver", ""}));
    EXPECT_EQ(port->Close(port), PORT_OK);
}

TEST(MapSystemError, MapsSystemErrorsAndCommErrors) {
    const struct {
        int32_t error;
        int code;
    } cases[] = {{2, PORT_ERR_NO_UART},    {3, PORT_ERR_NO_UART},         {-10, PORT_ERR_NO_UART},
                 {5, PORT_ERR_IN_USE},     {-2, PORT_ERR_IN_USE},         {-1, PORT_ERR_BAD_PORT},
                 {-4, PORT_ERR_NO_MEMORY}, {-11, PORT_ERR_BAD_DATA_BITS}, {-12, PORT_ERR_BAD_BAUD},
                 {0, PORT_ERR_GENERAL},    {1, PORT_ERR_GENERAL},         {4, PORT_ERR_GENERAL},
                 {6, PORT_ERR_GENERAL},    {87, PORT_ERR_GENERAL},        {-3, PORT_ERR_GENERAL},
                 {-5, PORT_ERR_GENERAL},   {-9, PORT_ERR_GENERAL},        {-13, PORT_ERR_GENERAL}};
    for (const auto& c : cases) {
        SetLastError(static_cast<DWORD>(c.error));
        EXPECT_EQ(MapSystemError(), c.code) << c.error;
    }
}

TEST_F(PortOpen, ACloseWhoseHandleCannotBeClosedStillReleasesTheRecord) {
    SerialPeer peer;
    REQUIRE_PEER(peer);
    PortRecord* port = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 8, 1);
    ASSERT_EQ(port->Status, PORT_OK);
    ASSERT_TRUE(CloseHandle(port->DriverData->Handle));
    EXPECT_EQ(port->Close(port), PORT_ERR_GENERAL);  // ERROR_INVALID_HANDLE
    PortRecord* again = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 8, 1);
    EXPECT_EQ(again->Status, PORT_OK);
    EXPECT_EQ(again->Close(again), PORT_OK);
}

TEST_F(PortOpen, CloseAllClosesEveryPortStillOpen) {
    SerialPeer a(0);
    REQUIRE_PEER(a);
    SerialPeer b(1);
    REQUIRE_PEER(b);
    PortRecord* failed = PortOpenMSWin32(249, 9600, 'N', 8, 1);
    EXPECT_EQ(failed->Status, PORT_ERR_NO_UART);
    EXPECT_EQ(PortOpenMSWin32(a.portIndex(), 9600, 'N', 8, 1)->Status, PORT_OK);
    EXPECT_EQ(PortOpenMSWin32(b.portIndex(), 9600, 'N', 8, 1)->Status, PORT_OK);
    PortCloseAll();
    for (const SerialPeer* peer : {&a, &b}) {
        PortRecord* again = PortOpenMSWin32(peer->portIndex(), 9600, 'N', 8, 1);
        EXPECT_EQ(again->Status, PORT_OK);
        EXPECT_EQ(again->Close(again), PORT_OK);
    }
}

// The ports a process leaves open are closed at its exit: a handler that runs
// after PortCloseAll (registered before it) finds both devices free again.
// (Under wine a port can be opened twice, so there only the clean exit counts.)
int g_exitComs[2];

void ExitWithTheDevicesState() {
    int code = 42;
    for (int com : g_exitComs) {
        const std::string name = "\\\\.\\COM" + std::to_string(com);
        HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            code = 1;
        } else {
            CloseHandle(handle);
        }
    }
    std::_Exit(code);
}

TEST(PortCloseAllDeathTest, PortsLeftOpenAreClosedAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: nothing registered yet
#ifdef _WIN32
    g_exitComs[0] = SerialPeer::LibraryComOfPair(0);
    g_exitComs[1] = SerialPeer::LibraryComOfPair(1);
    if (g_exitComs[0] == 0 || g_exitComs[1] == 0) {
        GTEST_SKIP() << "no COM port pairs (run the test through its script)";
    }
#else
    SerialPeer a(0);
    SerialPeer b(1);
    REQUIRE_PEER(a);
    REQUIRE_PEER(b);
    g_exitComs[0] = a.comNumber();
    g_exitComs[1] = b.comNumber();
#endif
    EXPECT_EXIT(
        {
            std::atexit(ExitWithTheDevicesState);
            for (int com : g_exitComs) {
                if (PortOpenMSWin32(com - 1, 9600, 'N', 8, 1)->Status != PORT_OK) {
                    std::_Exit(2);
                }
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(42), "");
}

}  // namespace
