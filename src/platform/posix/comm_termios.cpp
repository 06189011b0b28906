#include "platform/posix/comm_termios.h"

namespace platform::posix {
namespace {

// Above any speed a serial adapter offers: such a value is a caller's mistake.
constexpr uint32_t kMaxLineSpeed = 16000000;

tcflag_t SizeFlag(BYTE byte_size) {
    switch (byte_size) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

DWORD ApplyParity(BYTE parity, bool check, termios& t) {
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (parity) {
        case NOPARITY:
            break;
        case ODDPARITY:
            t.c_cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            t.c_cflag |= PARENB;
            break;
        case MARKPARITY:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case SPACEPARITY:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    // Received bytes are checked only when the DCB asks for it.
    if (check && parity != NOPARITY) {
        t.c_iflag |= INPCK;
    } else {
        t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    }
    return ERROR_SUCCESS;
}

// 1.5 stop bits exist only with 5 data bits, 2 only with 6 to 8 (the UART
// sends 1.5 where 2 is asked with 5 data bits).
DWORD ApplyStopBits(BYTE stop_bits, BYTE byte_size, termios& t) {
    const bool five = byte_size == 5;
    if (stop_bits == ONESTOPBIT) {
        t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else if ((stop_bits == ONE5STOPBITS && five) || (stop_bits == TWOSTOPBITS && !five)) {
        t.c_cflag |= CSTOPB;
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

void SetFlag(tcflag_t& flags, tcflag_t bit, bool on) {
    if (on) {
        flags |= bit;
    } else {
        flags &= ~bit;
    }
}

}  // namespace

uint32_t LineSpeedOf(DWORD baud_rate) {
    switch (baud_rate) {
        case 130816:
            return 128000;
        case 261888:
            return 256000;
        default:
            return baud_rate;
    }
}

void MakeRaw(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | IMAXBEL | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

DWORD DcbToTermios(const DCB& dcb, termios& t) {
    const uint32_t speed = LineSpeedOf(dcb.BaudRate);
    if (speed == 0 || speed > kMaxLineSpeed) {
        return ERROR_INVALID_PARAMETER;
    }
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) {
        return ERROR_INVALID_PARAMETER;
    }
    const bool softwareFlow = dcb.fOutX != 0 || dcb.fInX != 0;
    if (softwareFlow && dcb.XonChar == dcb.XoffChar) {
        return ERROR_INVALID_PARAMETER;
    }
    // Features termios has no place for. The kernel keeps transmitting after
    // it sent XOFF, so fTXContinueOnXoff may only be off while fInX is off.
    if (dcb.fRtsControl == RTS_CONTROL_TOGGLE || dcb.fDsrSensitivity != 0 || dcb.fErrorChar != 0 ||
        dcb.fNull != 0 || dcb.fAbortOnError != 0 || (dcb.fInX != 0 && dcb.fTXContinueOnXoff == 0)) {
        return ERROR_NOT_SUPPORTED;
    }

    termios edited = t;
    MakeRaw(edited);
    edited.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    edited.c_cflag |= SizeFlag(dcb.ByteSize);
    if (DWORD error = ApplyParity(dcb.Parity, dcb.fParity != 0, edited); error != ERROR_SUCCESS) {
        return error;
    }
    if (DWORD error = ApplyStopBits(dcb.StopBits, dcb.ByteSize, edited); error != ERROR_SUCCESS) {
        return error;
    }
    SetFlag(edited.c_iflag, IXON, dcb.fOutX != 0);
    SetFlag(edited.c_iflag, IXOFF, dcb.fInX != 0);
    edited.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    edited.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    // The kernel knows one hardware handshake, on RTS and CTS in both
    // directions; either half of it in the DCB switches it on.
    SetFlag(edited.c_cflag, CRTSCTS,
            dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
    t = edited;
    return ERROR_SUCCESS;
}

DCB TermiosToDcb(const termios& t, uint32_t speed) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = speed;
    dcb.fBinary = 1;
    dcb.fParity = (t.c_iflag & INPCK) != 0 ? 1 : 0;
    const bool hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    dcb.fOutxCtsFlow = hardwareFlow ? 1 : 0;
    dcb.fRtsControl = hardwareFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = (t.c_iflag & IXON) != 0 ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) != 0 ? 1 : 0;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
            break;
    }
    if ((t.c_cflag & PARENB) == 0) {
        dcb.Parity = NOPARITY;
    } else if ((t.c_cflag & CMSPAR) != 0) {
        dcb.Parity = (t.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
    } else {
        dcb.Parity = (t.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
    }
    if ((t.c_cflag & CSTOPB) == 0) {
        dcb.StopBits = ONESTOPBIT;
    } else {
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    // The thresholds Windows reports for its default 4096-byte queue.
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    return dcb;
}

}  // namespace platform::posix
