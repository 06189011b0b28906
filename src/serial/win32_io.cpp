// The Win32 driver: reading, writing and the queue counts. Nothing here waits
// on the line: a read takes only what the system already holds, a write only
// fills the transmit queue.
#include "serial/port.h"
#include "serial/port_internal.h"
#include "serial/win32_driver.h"

namespace {

using serial_internal::QueryComm;

int ReadBlock(PortRecord* port, void* buffer, uint32_t length) {
    Win32PortData* data = port->DriverData;
    const COMSTAT stat = QueryComm(data);
    if (stat.cbInQue == 0) {
        port->Count = 0;
        return PORT_ERR_NO_DATA;
    }
    // Only what is waiting is asked for, so the read never stays pending.
    const DWORD wanted = stat.cbInQue < length ? stat.cbInQue : length;
    DWORD got = 0;
    const BOOL done = ReadFile(data->Handle, buffer, wanted, &got, &data->Overlapped);
    port->Count = got;
    if (!done && GetLastError() != ERROR_IO_PENDING) {
        QueryComm(data);
    }
    if (port->Count >= length) {
        return PORT_OK;
    }
    if (GetOverlappedResult(data->Handle, &data->Overlapped, &got, TRUE)) {
        port->Count = got;
        return PORT_OK;
    }
    return PORT_ERR_NO_DATA;
}

int ReadByte(PortRecord* port) {
    unsigned char byte = 0;
    const int result = ReadBlock(port, &byte, 1);
    return result == PORT_OK ? byte : result;
}

// Takes the next byte like ReadByte. (A look at the byte after it, without
// taking it, would lose the byte just taken.)
int ProbeByte(PortRecord* port) {
    return ReadByte(port);
}

int WriteBlock(PortRecord* port, const void* bytes, uint32_t length) {
    Win32PortData* data = port->DriverData;
    const COMSTAT stat = QueryComm(data);
    const DWORD room = data->TxQueueSize - stat.cbOutQue;
    const DWORD wanted = length < room ? length : room;
    DWORD put = 0;
    const BOOL done = WriteFile(data->Handle, bytes, wanted, &put, &data->Overlapped);
    port->Count = put;
    if (!done) {
        if (GetLastError() == ERROR_IO_PENDING) {
            port->Count = wanted;  // queued; nobody waits for it to leave
        } else {
            QueryComm(data);
        }
    }
    if (port->Count >= length) {
        return PORT_OK;
    }
    port->Status = PORT_ERR_TX_INCOMPLETE;
    return PORT_ERR_TX_INCOMPLETE;
}

int WriteByte(PortRecord* port, int value) {
    const unsigned char byte = static_cast<unsigned char>(value & 0xFF);
    return WriteBlock(port, &byte, 1);
}

int32_t TxFree(PortRecord* port) {
    const COMSTAT stat = QueryComm(port->DriverData);
    return static_cast<int32_t>(port->DriverData->TxQueueSize - stat.cbOutQue);
}

int32_t TxUsed(PortRecord* port) {
    return static_cast<int32_t>(QueryComm(port->DriverData).cbOutQue);
}

int32_t RxFree(PortRecord* port) {
    const COMSTAT stat = QueryComm(port->DriverData);
    return static_cast<int32_t>(port->DriverData->RxQueueSize - stat.cbInQue);
}

int32_t RxUsed(PortRecord* port) {
    return static_cast<int32_t>(QueryComm(port->DriverData).cbInQue);
}

int PurgeTx(PortRecord* port) {
    if (PurgeComm(port->DriverData->Handle, PURGE_TXCLEAR) == 1) {
        return PORT_OK;
    }
    port->Status = MapSystemError();
    return port->Status;
}

}  // namespace

namespace serial_internal {

COMSTAT QueryComm(Win32PortData* data) {
    DWORD errors = 0;
    COMSTAT stat{};
    ClearCommError(data->Handle, &errors, &stat);
    NoteLineErrors(data, errors);
    return stat;
}

void NoteLineErrors(Win32PortData* data, DWORD errors) {
    data->LineErrors |= errors;
    data->OverflowErrors |= errors & (CE_RXOVER | CE_OVERRUN);
}

void InstallWin32IoOperations(PortRecord* port) {
    port->ReadByte = ReadByte;
    port->ProbeByte = ProbeByte;
    port->WriteByte = WriteByte;
    port->TxFree = TxFree;
    port->TxUsed = TxUsed;
    port->RxFree = RxFree;
    port->RxUsed = RxUsed;
    port->PurgeTx = PurgeTx;
    port->WriteBlock = WriteBlock;
    port->ReadBlock = ReadBlock;
}

}  // namespace serial_internal
