// The serial port library: port records with a table of 24 operations, the
// status codes, open and close, and the timed routines built on the table.
// Callers call the operation stored in the record, passing the record first:
//     port->ReadBlock(port, buffer, 512);
// The library takes no locks: one thread at a time uses it.
#pragma once

#include <cstdint>
#include <string>

// Status codes: 0 or negative.
inline constexpr int PORT_OK = 0;
inline constexpr int PORT_ERR_GENERAL = -1;
inline constexpr int PORT_ERR_BAD_PORT = -2;
inline constexpr int PORT_ERR_IN_USE = -3;
inline constexpr int PORT_ERR_NO_MEMORY = -5;
inline constexpr int PORT_ERR_NOT_OPEN = -6;
inline constexpr int PORT_ERR_BAD_ARGUMENT = -7;
inline constexpr int PORT_ERR_NO_DATA = -8;
inline constexpr int PORT_ERR_TX_INCOMPLETE = -9;
inline constexpr int PORT_ERR_NO_UART = -14;
inline constexpr int PORT_ERR_NOT_SUPPORTED = -24;
inline constexpr int PORT_ERR_BAD_BAUD = -25;
inline constexpr int PORT_ERR_BAD_PARITY = -26;
inline constexpr int PORT_ERR_BAD_DATA_BITS = -27;
inline constexpr int PORT_ERR_BAD_STOP_BITS = -28;
inline constexpr int PORT_ERR_BUFFER_FULL = -31;

inline constexpr int32_t PORT_DRIVER_WIN32 = 15;

struct Win32PortData;  // the driver's private record (serial/win32_driver.h)
struct PortRecord;

using PortLinePrinter = void (*)(const char* line);
using PortIdleHookFn = int (*)(PortRecord* port);

struct PortRecord {
    Win32PortData* DriverData;  // null in FailurePort and when the open stopped early
    PortRecord* Next;           // link in the library's port list
    int32_t PortIndex;          // 0-based: COM1 is 0; -1 in FailurePort
    int32_t Status;             // last status code; sticky until ClearStatus or a device open
    int32_t DriverType;         // PORT_DRIVER_WIN32, -1 in FailurePort, 0 without a driver
    uint32_t Count;             // bytes moved by the last ReadBlock / WriteBlock

    // The operation table, slots 1 to 24.
    int (*ReadByte)(PortRecord* port);
    int (*ProbeByte)(PortRecord* port);
    int (*WriteByte)(PortRecord* port, int value);
    int (*Close)(PortRecord* port);
    int (*ConfigureLine)(PortRecord* port, int32_t baud, char parity, int data_bits, int stop_bits);
    int (*SetXonXoff)(PortRecord* port, int on);
    int (*SetRtsCts)(PortRecord* port, int on);
    int (*SetDtrDsr)(PortRecord* port, int on);
    int (*SetDtr)(PortRecord* port, int on);
    int (*SetRts)(PortRecord* port, int on);
    int32_t (*TxFree)(PortRecord* port);
    int32_t (*TxUsed)(PortRecord* port);
    int32_t (*RxFree)(PortRecord* port);
    int32_t (*RxUsed)(PortRecord* port);
    int (*PurgeTx)(PortRecord* port);
    int (*WriteBlock)(PortRecord* port, const void* data, uint32_t length);
    int (*ReadBlock)(PortRecord* port, void* buffer, uint32_t length);
    int (*Dump)(PortRecord* port, PortLinePrinter printer);
    int (*SendBreak)(PortRecord* port, int milliseconds);
    int (*ModemStatus)(PortRecord* port);
    int (*LineStatus)(PortRecord* port);
    int (*ClearLineErrors)(PortRecord* port);
    int (*ReservedOp)(PortRecord* port, int value);
    void (*ClearStatus)(PortRecord* port);
};

// Opens COM<portIndex+1> and configures its line. Never returns null: the
// outcome is the record's Status (0: open and configured). Every returned
// record, whatever its Status, must be closed with its Close operation.
PortRecord* PortOpenMSWin32(int port_index, int32_t baud, char parity, int data_bits,
                            int stop_bits);

// True for a line rate the port open takes: any rate up to 57600 (one the
// device cannot run at fails when the line is set), the standard rates above
// it (115200, 230400, 460800, 921600), and 128000 and 256000.
bool LineRateAccepted(int32_t baud);
// The value the port open puts in the device-control block for an accepted
// rate: 128000 and 256000 as the codes the serial driver knows them by, any
// other as it is.
int32_t DcbBaudRateOf(int32_t baud);

// Queue sizes that later opens request (initially 1050 and 1050).
void PortSetQueueSizes(uint32_t rx_size, uint32_t tx_size);

// Closes every port still open; registered to run at process exit.
void PortCloseAll();

// The status code for the calling thread's last system error.
int MapSystemError();

// Reads one line into `buffer` (NUL-terminated, Count = characters stored).
// terminator 0..255 ends the line on that byte; -1 or -2 on CR LF.
// timeoutMs -1 waits without limit. Returns the port's Status, -8 on time-out.
int PortReadString(PortRecord* port, char* buffer, uint32_t size, int terminator, int timeout_ms);

// Reads and discards everything received so far. 0 or a negative code.
int PortDrainInput(PortRecord* port);

// Waits `milliseconds`, calling the idle hook on the way. 0 or the hook's
// negative result.
int PortWait(PortRecord* port, int milliseconds);

// A mark of the wake-ups so far, and the wake-up of every PortWaitForInput
// (a stop request, a clock moved in a test).
uint64_t PortWakeMark();
void PortWakeWaiters();

// Replaces the idle hook that the waits call (by default PumpMessages).
void PortSetIdleHook(PortIdleHookFn hook);

// Work of the calling thread that its waits do between two calls of the idle
// hook (the acquisition thread keeps receiving on its other ports while an
// instrument exchange waits on one). Null: none. Per thread, so a wait of
// another thread never runs it.
using PortIdleWorkFn = void (*)(void* context);
void PortSetThreadIdleWork(PortIdleWorkFn work, void* context);

// The default idle hook. The threads that use the library have no message
// queue, so instead of spinning it waits up to 1 ms for input on `port`
// (null or not open: it just waits 1 ms). Always 0.
int PumpMessages(PortRecord* port);

// Waits until one of the open ports among `ports` holds at least `level`
// bytes in its receive queue (or has lost its device), until PortWakeWaiters
// is called after `wake_mark` was taken (PortWakeMark), or until `timeout_ms`
// has passed. Null entries and ports that are not open are passed over.
// Returns the number of ports found ready (0 otherwise).
int PortWaitForInput(PortRecord* const* ports, int count, int timeout_ms, uint32_t level = 1,
                     uint64_t wake_mark = PortWakeMark());

// Overflow of a port's receive queue since the last call: 1 when the system
// reported CE_RXOVER or CE_OVERRUN, with `lost_bytes` the number of bytes lost
// where the system tells (-1 where it does not); 0 otherwise.
int PortTakeOverflow(PortRecord* port, int64_t* lost_bytes);

// How long, in milliseconds, the port's device was made to wait since the
// last call because its receive queue was full (0 where the driver drops
// instead of pausing, and when the port is not open).
int64_t PortTakePausedMs(PortRecord* port);

// 1 once the port's device has gone (unplugged, hung up, its node removed),
// with `reason` (may be null) in words; 0 while it is there or the port is
// not open. The port must still be closed with its Close operation.
int PortDeviceLost(PortRecord* port, std::string* reason);
