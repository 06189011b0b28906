// The communications API the serial library is written against: the subset of
// the Win32 comm calls it uses, with their Win32 names, types and semantics.
// On Windows these are the system's own calls. On Linux the same subset is
// provided here over termios:
//   - "\\.\COMn" names the device registered with SetCommDevicePath(n, ...),
//     else /dev/ttyS<n-1>; any other name is taken as a device path;
//   - the open is exclusive (TIOCEXCL and an flock lock): a missing device
//     fails with ERROR_FILE_NOT_FOUND, a busy one with ERROR_ACCESS_DENIED;
//   - the receive queue (its size given by SetupComm) lives in user space and
//     is filled by the layer's receive thread from the open to the close,
//     whatever the caller is doing, as a Windows driver fills its queue from
//     interrupts. While the queue is full the device is not read, so a device
//     that can wait (a pty, a USB CDC-ACM instrument, a network bridge) waits
//     and loses nothing; what a UART loses meanwhile its driver counts, and
//     that is reported as CE_OVERRUN and CE_RXOVER;
//   - reads and writes never block: a read takes what the queue holds, a write
//     hands the kernel what it accepts at once (a short write raises CE_TXFULL);
//   - line errors come from the kernel's counters where the device keeps them;
//   - a device without modem lines (a pseudo-terminal) fails the modem calls
//     with ERROR_NOT_SUPPORTED, as Windows reports an unsupported function;
//   - a device that goes away (unplugged, hung up, its node removed) keeps
//     what its queue holds for reading; CommDeviceLost tells that it went.
// The tick count is not part of this layer: everything reads it through
// platform/clock.h, so tests can drive it.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else

using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using BOOL = int;
using HANDLE = void*;
using LPCSTR = const char*;
using ULONG_PTR = uintptr_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
inline constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

// CreateFileA arguments.
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

// System error numbers (GetLastError).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_IO_PENDING = 997;

// The communications errors of the 16-bit API, still in the Win32 headers.
inline constexpr int IE_BADID = -1;
inline constexpr int IE_OPEN = -2;
inline constexpr int IE_MEMORY = -4;
inline constexpr int IE_HARDWARE = -10;
inline constexpr int IE_BYTESIZE = -11;
inline constexpr int IE_BAUDRATE = -12;

// DCB values.
inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;
inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// Line errors (ClearCommError).
inline constexpr DWORD CE_RXOVER = 0x0001;
inline constexpr DWORD CE_OVERRUN = 0x0002;
inline constexpr DWORD CE_RXPARITY = 0x0004;
inline constexpr DWORD CE_FRAME = 0x0008;
inline constexpr DWORD CE_BREAK = 0x0010;
inline constexpr DWORD CE_TXFULL = 0x0100;
inline constexpr DWORD CE_MODE = 0x8000;

// Modem status (GetCommModemStatus).
inline constexpr DWORD MS_CTS_ON = 0x10;
inline constexpr DWORD MS_DSR_ON = 0x20;
inline constexpr DWORD MS_RING_ON = 0x40;
inline constexpr DWORD MS_RLSD_ON = 0x80;

// PurgeComm flags.
inline constexpr DWORD PURGE_TXABORT = 0x1;
inline constexpr DWORD PURGE_RXABORT = 0x2;
inline constexpr DWORD PURGE_TXCLEAR = 0x4;
inline constexpr DWORD PURGE_RXCLEAR = 0x8;

// EscapeCommFunction functions.
inline constexpr DWORD SETXOFF = 1;
inline constexpr DWORD SETXON = 2;
inline constexpr DWORD SETRTS = 3;
inline constexpr DWORD CLRRTS = 4;
inline constexpr DWORD SETDTR = 5;
inline constexpr DWORD CLRDTR = 6;
inline constexpr DWORD SETBREAK = 8;
inline constexpr DWORD CLRBREAK = 9;

// The device control block, field for field as in the Win32 headers.
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};

// Every read and write completes before the call returns; the record keeps
// its outcome (status in Internal, byte count in InternalHigh) for
// GetOverlappedResult.
struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};

DWORD GetLastError();
void SetLastError(DWORD error);
// Windows NT 10.0 (bit 31 clear: not Win32s).
DWORD GetVersion();

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue);
BOOL SetCommMask(HANDLE handle, DWORD mask);
BOOL GetCommState(HANDLE handle, DCB* dcb);
BOOL SetCommState(HANDLE handle, DCB* dcb);
// Only reads that return at once are offered: ReadIntervalTimeout MAXDWORD
// with zero read totals, and zero write totals.
BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
BOOL ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE handle, const void* data, DWORD toWrite, DWORD* written,
               OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* stat);
BOOL PurgeComm(HANDLE handle, DWORD flags);
BOOL SetCommBreak(HANDLE handle);
BOOL ClearCommBreak(HANDLE handle);
BOOL GetCommModemStatus(HANDLE handle, DWORD* modemStatus);
BOOL EscapeCommFunction(HANDLE handle, DWORD function);

#endif  // _WIN32

namespace platform {

// Registers the device that "\\.\COM<comNumber>" opens on POSIX (the port's
// Device key); null or empty clears it. Ignored on Windows.
void SetCommDevicePath(int comNumber, const char* path);
// The device "\\.\COM<comNumber>" opens: the registered one, else
// DefaultCommDevice (POSIX); "\\.\COMn" itself on Windows.
std::string CommDevicePath(int comNumber);
// The device of COM<comNumber> when nothing else is registered: the one place
// that says so. /dev/ttyS<n-1> (POSIX: the first UART is ttyS0), "\\.\COMn"
// on Windows.
std::string DefaultCommDevice(int comNumber);
// Why the calling thread's last failed comm call failed, in the system's own
// words ("No such file or directory"); empty when its last call succeeded.
std::string LastCommFailure();

// A mark of the wake-ups so far (see WaitForCommInput).
uint64_t CommWakeMark();
// Ends every WaitForCommInput at once: a stop request, a clock that was moved.
void WakeCommWaiters();

// Waits until one of the comm handles holds at least `level` bytes in its
// receive queue (or its device has gone), until WakeCommWaiters is called
// after `wakeMark` was taken, or until `timeoutMs` has passed (count 0: only
// the last two). `errors[i]` receives, OR-ed in, the line errors of handle i
// that the wait collected (Windows reads them while it polls; they must not
// be lost). Returns the number of handles found ready, 0 otherwise.
int WaitForCommInput(const HANDLE* handles, DWORD* errors, int count, int timeoutMs,
                     DWORD level = 1, uint64_t wakeMark = CommWakeMark());

// Bytes the device lost since the last call, as its driver counts them (a
// UART's overruns: at least one byte each); 0 where nothing is counted (a
// pty, which makes its writer wait instead); -1 where the system does not
// tell (Windows).
int64_t TakeCommLostBytes(HANDLE handle);

// How long, in milliseconds rounded up, the device was made to wait since the
// last call (a wait that goes on included): its receive queue was full and
// it had more to give. Always 0 on Windows, whose driver does not pause.
int64_t TakeCommPausedMs(HANDLE handle);

// True once the device behind the handle has gone: unplugged, hung up, its
// node removed, or failing as a removed device fails. `reason` (may be null)
// receives the cause in words. `errors` (may be null) receives, OR-ed in, the
// line errors the look collected. On POSIX what the queue held stays
// readable; a Windows driver drops it with the device.
bool CommDeviceLost(HANDLE handle, DWORD* errors, std::string* reason);

}  // namespace platform
