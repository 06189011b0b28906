// The Win32 driver: flow control and modem lines, break, modem and line
// status, and the port dump. Every setter edits the working DCB and hands all
// of it to the system, so earlier settings stay in force.
#include <cstdio>

#include "serial/port.h"
#include "serial/port_internal.h"
#include "serial/win32_driver.h"

namespace {

using serial_internal::QueryComm;

constexpr uint32_t kReportedLineErrors = CE_BREAK | CE_FRAME | CE_OVERRUN | CE_RXPARITY;

int ApplyDcb(PortRecord* port) {
    if (SetCommState(port->DriverData->Handle, &port->DriverData->Dcb) == 1) {
        return PORT_OK;
    }
    port->Status = MapSystemError();
    return port->Status;
}

int SetXonXoff(PortRecord* port, int on) {
    DCB& dcb = port->DriverData->Dcb;
    dcb.fOutX = on != 0 ? 1 : 0;
    dcb.fInX = on != 0 ? 1 : 0;
    return ApplyDcb(port);
}

int SetRtsCts(PortRecord* port, int on) {
    DCB& dcb = port->DriverData->Dcb;
    dcb.fOutxCtsFlow = on != 0 ? 1 : 0;
    dcb.fRtsControl = on != 0 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    return ApplyDcb(port);
}

int SetDtrDsr(PortRecord* port, int on) {
    DCB& dcb = port->DriverData->Dcb;
    dcb.fOutxDsrFlow = on != 0 ? 1 : 0;
    dcb.fDtrControl = on != 0 ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
    return ApplyDcb(port);
}

// The levels replace a handshake but leave the output flow flags alone.
int SetDtr(PortRecord* port, int on) {
    port->DriverData->Dcb.fDtrControl = on != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    SetCommState(port->DriverData->Handle, &port->DriverData->Dcb);
    return PORT_OK;
}

int SetRts(PortRecord* port, int on) {
    port->DriverData->Dcb.fRtsControl = on != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    SetCommState(port->DriverData->Handle, &port->DriverData->Dcb);
    return PORT_OK;
}

int SendBreak(PortRecord* port, int milliseconds) {
    SetCommBreak(port->DriverData->Handle);
    PortWait(port, milliseconds);
    ClearCommBreak(port->DriverData->Handle);
    return PORT_OK;
}

// A device without modem lines fails the call; no line then counts as on.
int ModemStatus(PortRecord* port) {
    DWORD bits = 0;
    if (!GetCommModemStatus(port->DriverData->Handle, &bits)) {
        bits = 0;
    }
    return static_cast<int>(bits & 0xFF);
}

int LineStatus(PortRecord* port) {
    QueryComm(port->DriverData);
    return static_cast<int>(port->DriverData->LineErrors & kReportedLineErrors);
}

int ClearLineErrors(PortRecord* port) {
    port->DriverData->LineErrors = 0;
    return PORT_OK;
}

int Bit(uint32_t bits, uint32_t mask) {
    return (bits & mask) != 0 ? 1 : 0;
}

int Dump(PortRecord* port, PortLinePrinter printer) {
    const Win32PortData* data = port->DriverData;
    const DCB& dcb = data->Dcb;
    char line[256];

    printer("");
    std::snprintf(line, sizeof line,
                  "Port type:  MS Windows  DCB BaudRate: %-6d  ByteSize: %1d  Parity: %1d",
                  static_cast<int>(dcb.BaudRate), dcb.ByteSize, dcb.Parity);
    printer(line);
    std::snprintf(line, sizeof line, "StopBits: %1d fBinary: %1d  fRtsControl: %1d", dcb.StopBits,
                  static_cast<int>(dcb.fBinary), static_cast<int>(dcb.fRtsControl));
    printer(line);
    std::snprintf(
        line, sizeof line,
        "Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  InX: %1d",
        static_cast<int>(dcb.fParity), static_cast<int>(dcb.fOutxCtsFlow),
        static_cast<int>(dcb.fOutxDsrFlow), static_cast<int>(dcb.fDtrControl),
        static_cast<int>(dcb.fOutX), static_cast<int>(dcb.fInX));
    printer(line);
    std::snprintf(line, sizeof line,
                  "Null: %1d  DtrControl: %1d  RtsControl: %1d  XonChar: %02x  XoffChar: %02x",
                  static_cast<int>(dcb.fNull), static_cast<int>(dcb.fDtrControl),
                  static_cast<int>(dcb.fRtsControl), static_cast<unsigned char>(dcb.XonChar),
                  static_cast<unsigned char>(dcb.XoffChar));
    printer(line);
    std::snprintf(line, sizeof line, "XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x",
                  static_cast<unsigned>(dcb.XonLim), static_cast<unsigned>(dcb.XoffLim),
                  static_cast<unsigned char>(dcb.EofChar), static_cast<unsigned char>(dcb.EvtChar));
    printer(line);

    const uint32_t status = static_cast<uint32_t>(port->LineStatus(port));
    const COMSTAT stat = QueryComm(port->DriverData);
    std::snprintf(line, sizeof line,
                  "RX count/free: %5d/%-5d  TX count/free: %5d/%-5d  BREAK/FE/OE/PE: %d%d%d%d",
                  static_cast<int>(stat.cbInQue),
                  static_cast<int>(data->RxQueueSize - stat.cbInQue),
                  static_cast<int>(stat.cbOutQue),
                  static_cast<int>(data->TxQueueSize - stat.cbOutQue), Bit(status, CE_BREAK),
                  Bit(status, CE_FRAME), Bit(status, CE_OVERRUN), Bit(status, CE_RXPARITY));
    printer(line);

    const uint32_t errors = data->LineErrors;
    std::snprintf(line, sizeof line, "CE_BREAK:%d  CE_FRAME:%d  CE_MODE:%d CE_OVERRUN:%d",
                  Bit(errors, CE_BREAK), Bit(errors, CE_FRAME), Bit(errors, CE_MODE),
                  Bit(errors, CE_OVERRUN));
    printer(line);
    const uint32_t modem = static_cast<uint32_t>(port->ModemStatus(port));
    std::snprintf(line, sizeof line,
                  "CE_RXOVER:%d CE_RXPARITY:%d CE_TXFULL:%d  CTS/DSR/RI/CD: %d%d%d%d",
                  Bit(errors, CE_RXOVER), Bit(errors, CE_RXPARITY), Bit(errors, CE_TXFULL),
                  Bit(modem, MS_CTS_ON), Bit(modem, MS_DSR_ON), Bit(modem, MS_RING_ON),
                  Bit(modem, MS_RLSD_ON));
    printer(line);
    std::snprintf(line, sizeof line, "8250:%.4x", static_cast<unsigned>(data->UartBase));
    printer(line);
    return PORT_OK;
}

}  // namespace

namespace serial_internal {

void InstallWin32LineOperations(PortRecord* port) {
    port->SetXonXoff = SetXonXoff;
    port->SetRtsCts = SetRtsCts;
    port->SetDtrDsr = SetDtrDsr;
    port->SetDtr = SetDtr;
    port->SetRts = SetRts;
    port->Dump = Dump;
    port->SendBreak = SendBreak;
    port->ModemStatus = ModemStatus;
    port->LineStatus = LineStatus;
    port->ClearLineErrors = ClearLineErrors;
}

}  // namespace serial_internal
