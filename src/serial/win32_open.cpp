// The Win32 driver: open, line parameters and close.
#include <cstdio>
#include <new>

#include "serial/port.h"
#include "serial/port_internal.h"
#include "serial/win32_driver.h"

namespace {

using serial_internal::HandOutFailurePort;

bool IsWin32s(DWORD version) {
    return (version & 0x80000000u) != 0 && (version & 0xFFu) == 3;
}

// A quarter of the receive queue, the flow-control limits; the field holds
// 16 bits, so a queue above 262140 bytes gets the largest value, not its
// lowest 16 bits.
WORD FlowLimit(uint32_t rxQueueSize) {
    const uint32_t quarter = rxQueueSize / 4;
    return static_cast<WORD>(quarter < 0xFFFFu ? quarter : 0xFFFFu);
}

// The working DCB as every port starts: binary, no parity checking, XON/XOFF
// characters and limits set, no hardware output flow control, DTR and RTS on.
// The other fields keep what the system reported.
void PrepareDcb(Win32PortData* data) {
    DCB& dcb = data->Dcb;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fNull = 0;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = FlowLimit(data->RxQueueSize);
    dcb.XoffLim = FlowLimit(data->RxQueueSize);
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

int OpenDevice(PortRecord* port) {
    Win32PortData* data = port->DriverData;
    data->RxQueueSize = serial_internal::RxQueueSizeForOpen();
    data->TxQueueSize = serial_internal::TxQueueSizeForOpen();
    data->LineErrors = 0;

    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port->PortIndex + 1);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    port->Status = PORT_OK;
    if (handle == INVALID_HANDLE_VALUE) {
        port->Status = MapSystemError();
        return port->Status;
    }
    data->Handle = handle;
    SetupComm(handle, data->RxQueueSize, data->TxQueueSize);
    SetCommMask(handle, 0);
    GetCommState(handle, &data->Dcb);
    PrepareDcb(data);
    // Reads return at once with whatever has arrived; writes have no time-out.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(handle, &timeouts);
    return port->Status;
}

int Win32Close(PortRecord* port) {
    Win32PortData* data = port->DriverData;
    // DTR first, then RTS: the instrument sees the station leave.
    EscapeCommFunction(data->Handle, CLRDTR);
    EscapeCommFunction(data->Handle, CLRRTS);
    const int result = CloseHandle(data->Handle) ? PORT_OK : MapSystemError();
    delete data;
    port->DriverData = nullptr;
    serial_internal::UnlinkPort(port);
    serial_internal::ReleasePortRecord(port);
    return result;
}

}  // namespace

bool LineRateAccepted(int32_t baud) {
    switch (baud) {
        case 115200:
        case 128000:
        case 230400:
        case 256000:
        case 460800:
        case 921600:
            return true;
        default:
            return baud <= 57600;
    }
}

int32_t DcbBaudRateOf(int32_t baud) {
    switch (baud) {
        case 128000:
            return 0x1FF00;
        case 256000:
            return 0x3FF00;
        default:
            return baud;
    }
}

namespace serial_internal {

int Win32ConfigureLine(PortRecord* port, int32_t baud, char parity, int dataBits, int stopBits) {
    Win32PortData* data = port->DriverData;
    if (!LineRateAccepted(baud)) {
        port->Status = PORT_ERR_BAD_BAUD;
        return PORT_ERR_BAD_BAUD;
    }
    data->Dcb.BaudRate = static_cast<DWORD>(DcbBaudRateOf(baud));
    data->Dcb.ByteSize = static_cast<BYTE>(dataBits & 0xFF);

    switch (static_cast<char>(parity & ~0x20)) {
        case 'N':
            data->Dcb.Parity = NOPARITY;
            break;
        case 'O':
            data->Dcb.Parity = ODDPARITY;
            break;
        case 'E':
            data->Dcb.Parity = EVENPARITY;
            break;
        case 'M':
            data->Dcb.Parity = MARKPARITY;
            break;
        case 'S':
            data->Dcb.Parity = SPACEPARITY;
            break;
        default:
            port->Status = PORT_ERR_BAD_PARITY;
            return PORT_ERR_BAD_PARITY;
    }

    if (stopBits == 1) {
        data->Dcb.StopBits = ONESTOPBIT;
    } else if (stopBits == 2) {
        data->Dcb.StopBits = TWOSTOPBITS;
    } else {
        port->Status = PORT_ERR_BAD_STOP_BITS;
        return PORT_ERR_BAD_STOP_BITS;
    }

    if (!SetCommState(data->Handle, &data->Dcb)) {
        port->Status = MapSystemError();
    }
    return port->Status;
}

bool HasOpenDevice(const PortRecord* port) {
    return port != nullptr && port->DriverType == PORT_DRIVER_WIN32 &&
           port->DriverData != nullptr && port->DriverData->Handle != nullptr &&
           port->Close == Win32Close;
}

}  // namespace serial_internal

PortRecord* PortOpenMSWin32(int portIndex, int32_t baud, char parity, int dataBits, int stopBits) {
    auto* port = new (std::nothrow) PortRecord{};
    if (port == nullptr) {
        return HandOutFailurePort();
    }
    serial_internal::InitPortRecord(port);
    if (IsWin32s(GetVersion())) {
        port->Status = PORT_ERR_NOT_SUPPORTED;
        return port;
    }
    auto* data = new (std::nothrow) Win32PortData{};
    if (data == nullptr) {
        serial_internal::UnlinkPort(port);
        serial_internal::ReleasePortRecord(port);
        return HandOutFailurePort();
    }
    port->DriverData = data;
    port->PortIndex = portIndex;
    port->DriverType = PORT_DRIVER_WIN32;
    if (OpenDevice(port) < 0) {
        return port;
    }
    // A rejected line stays in Status; the device stays open.
    serial_internal::Win32ConfigureLine(port, baud, parity, dataBits, stopBits);
    serial_internal::InstallWin32IoOperations(port);
    serial_internal::InstallWin32LineOperations(port);
    port->Close = Win32Close;
    port->ConfigureLine = serial_internal::Win32ConfigureLine;
    return port;
}
