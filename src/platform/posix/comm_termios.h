// Translation between the Win32 device control block and termios, used by the
// POSIX comm layer and its tests.
#pragma once

#include <termios.h>

#include <cstdint>

#include "platform/comm.h"

namespace platform::posix {

// The line speed a DCB BaudRate asks for. 130816 and 261888 (0x1FF00 and
// 0x3FF00) are the values the serial library writes for 128000 and 256000.
uint32_t LineSpeedOf(DWORD baud_rate);

// Edits `t` so the device runs raw with the settings of `dcb` (the speed is
// set separately, see SetLineSpeed). Returns ERROR_SUCCESS, or the Win32 error
// that SetCommState reports for a block it cannot apply: ERROR_INVALID_PARAMETER
// for impossible values, ERROR_NOT_SUPPORTED for features this layer lacks.
DWORD DcbToTermios(const DCB& dcb, termios& t);

// The DCB that describes a device in state `t` at line speed `speed`.
DCB TermiosToDcb(const termios& t, uint32_t speed);

// Raw mode without flow control: how the layer leaves a device it opens.
void MakeRaw(termios& t);

// Any speed, through the kernel's termios2 interface. 0 or -1 (errno set).
int SetLineSpeed(int fd, uint32_t speed);
// The device's output speed; 0 when it cannot be read.
uint32_t GetLineSpeed(int fd);

}  // namespace platform::posix
