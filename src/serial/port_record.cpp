// Port records: the port list, the default operations, FailurePort, the
// queue sizes for later opens, PortCloseAll and MapSystemError.
#include <cstdlib>

#include "serial/port.h"
#include "serial/port_internal.h"

namespace {

PortRecord* g_portList = nullptr;
bool g_closeAllRegistered = false;
uint32_t g_rxQueueSize = 1050;
uint32_t g_txQueueSize = 1050;
PortRecord FailurePort{};

int Unsupported(PortRecord* port) {
    port->Status = PORT_ERR_NOT_SUPPORTED;
    return PORT_ERR_NOT_SUPPORTED;
}

int UnsupportedInt(PortRecord* port, int /*value*/) {
    return Unsupported(port);
}

int32_t UnsupportedCount(PortRecord* port) {
    return Unsupported(port);
}

int UnsupportedConfigureLine(PortRecord* port, int32_t /*baud*/, char /*parity*/, int /*dataBits*/,
                             int /*stopBits*/) {
    return Unsupported(port);
}

int UnsupportedWriteBlock(PortRecord* port, const void* /*data*/, uint32_t /*length*/) {
    return Unsupported(port);
}

int UnsupportedReadBlock(PortRecord* port, void* /*buffer*/, uint32_t /*length*/) {
    return Unsupported(port);
}

int DefaultClose(PortRecord* port) {
    // A record whose device never opened may still hold its driver data.
    delete port->DriverData;
    port->DriverData = nullptr;
    serial_internal::UnlinkPort(port);
    serial_internal::ReleasePortRecord(port);
    return PORT_OK;
}

int DefaultDump(PortRecord* port, PortLinePrinter printer) {
    printer("Port dump not supported for this driver");
    printer("");
    return Unsupported(port);
}

void DefaultClearStatus(PortRecord* port) {
    port->Status = PORT_OK;
}

void InstallDefaults(PortRecord* port) {
    port->ReadByte = Unsupported;
    port->ProbeByte = Unsupported;
    port->WriteByte = UnsupportedInt;
    port->Close = DefaultClose;
    port->ConfigureLine = UnsupportedConfigureLine;
    port->SetXonXoff = UnsupportedInt;
    port->SetRtsCts = UnsupportedInt;
    port->SetDtrDsr = UnsupportedInt;
    port->SetDtr = UnsupportedInt;
    port->SetRts = UnsupportedInt;
    port->TxFree = UnsupportedCount;
    port->TxUsed = UnsupportedCount;
    port->RxFree = UnsupportedCount;
    port->RxUsed = UnsupportedCount;
    port->PurgeTx = Unsupported;
    port->WriteBlock = UnsupportedWriteBlock;
    port->ReadBlock = UnsupportedReadBlock;
    port->Dump = DefaultDump;
    port->SendBreak = UnsupportedInt;
    port->ModemStatus = Unsupported;
    port->LineStatus = Unsupported;
    port->ClearLineErrors = Unsupported;
    port->ReservedOp = UnsupportedInt;
    port->ClearStatus = DefaultClearStatus;
}

}  // namespace

namespace serial_internal {

void InitPortRecord(PortRecord* port) {
    if (!g_closeAllRegistered) {
        std::atexit(PortCloseAll);
        g_closeAllRegistered = true;
    }
    port->Next = g_portList;
    g_portList = port;
    InstallDefaults(port);
}

void UnlinkPort(PortRecord* port) {
    for (PortRecord** link = &g_portList; *link != nullptr; link = &(*link)->Next) {
        if (*link == port) {
            *link = port->Next;
            port->Next = nullptr;
            return;
        }
    }
}

void ReleasePortRecord(PortRecord* port) {
    if (port != &FailurePort) {
        delete port;
    }
}

PortRecord* HandOutFailurePort() {
    // Handed out again while still listed, it must not be linked twice.
    UnlinkPort(&FailurePort);
    FailurePort = PortRecord{};
    InitPortRecord(&FailurePort);
    FailurePort.PortIndex = -1;
    FailurePort.DriverData = nullptr;
    FailurePort.DriverType = -1;
    FailurePort.Status = PORT_ERR_NO_MEMORY;
    return &FailurePort;
}

uint32_t RxQueueSizeForOpen() {
    return g_rxQueueSize;
}
uint32_t TxQueueSizeForOpen() {
    return g_txQueueSize;
}

}  // namespace serial_internal

void PortSetQueueSizes(uint32_t rx_size, uint32_t tx_size) {
    g_rxQueueSize = rx_size;
    g_txQueueSize = tx_size;
}

void PortCloseAll() {
    while (g_portList != nullptr) {
        g_portList->Close(g_portList);
    }
}

int MapSystemError() {
    switch (static_cast<int32_t>(GetLastError())) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case IE_HARDWARE:
            return PORT_ERR_NO_UART;
        case ERROR_ACCESS_DENIED:
        case IE_OPEN:
            return PORT_ERR_IN_USE;
        case IE_BADID:
            return PORT_ERR_BAD_PORT;
        case IE_MEMORY:
            return PORT_ERR_NO_MEMORY;
        case IE_BYTESIZE:
            return PORT_ERR_BAD_DATA_BITS;
        case IE_BAUDRATE:
            return PORT_ERR_BAD_BAUD;
        default:
            return PORT_ERR_GENERAL;
    }
}
