// What the parts of the serial library share among themselves.
#pragma once

#include <cstdint>

#include "platform/comm.h"
#include "serial/port.h"
#include "serial/win32_driver.h"

namespace serial_internal {

// Registers PortCloseAll the first time, links the record at the head of the
// port list and installs the default operations in all 24 slots.
void InitPortRecord(PortRecord* port);
// Removes the record from the port list (a record not in it is left alone).
void UnlinkPort(PortRecord* port);
// Frees a record taken from the heap; the shared FailurePort is not freed.
void ReleasePortRecord(PortRecord* port);
// The shared record handed out when memory runs out, initialised anew.
PortRecord* HandOutFailurePort();

// The queue sizes that opens request now.
uint32_t RxQueueSizeForOpen();
uint32_t TxQueueSizeForOpen();

// The Win32 driver's operations: reading, writing and the queue counts
// (slots 1-3, 11-17), and the line settings, status and dump (6-10, 18-22).
void InstallWin32IoOperations(PortRecord* port);
void InstallWin32LineOperations(PortRecord* port);
int Win32ConfigureLine(PortRecord* port, int32_t baud, char parity, int data_bits, int stop_bits);
// True when the record has the Win32 driver on an open device.
bool HasOpenDevice(const PortRecord* port);
// ClearCommError on the port, its error bits OR-ed into LineErrors.
COMSTAT QueryComm(Win32PortData* data);
// Keeps line errors that a call returned: in LineErrors, and the overflow
// bits also for PortTakeOverflow.
void NoteLineErrors(Win32PortData* data, DWORD errors);

}  // namespace serial_internal
