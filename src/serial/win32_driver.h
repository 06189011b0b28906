// The Win32 driver of the serial library: its private record. The driver's
// operations are reached only through the PortRecord's table.
#pragma once

#include <cstdint>

#include "platform/comm.h"
#include "serial/port.h"

struct Win32PortData {
    uint32_t RxQueueSize;   // receive queue asked of the system; base of RxFree, XonLim, XoffLim
    uint32_t TxQueueSize;   // transmit queue asked of the system; base of TxFree, cap of WriteBlock
    DCB Dcb;                // working copy: every setter edits it and applies all of it
    uint32_t LineErrors;    // CE_ bits of every ClearCommError since ClearLineErrors
    uint32_t UartBase;      // never set by this driver; Dump shows it
    HANDLE Handle;          // the device
    OVERLAPPED Overlapped;  // shared by every read and write of the port
    // CE_RXOVER and CE_OVERRUN seen since the acquisition last asked
    // (PortTakeOverflow); LineErrors keeps them as well.
    uint32_t OverflowErrors;
};
