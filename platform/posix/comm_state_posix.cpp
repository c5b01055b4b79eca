// GetCommState and SetCommState over termios.
//
// The port is always run raw (no line editing, no translation, no signals,
// receiver on, modem status ignored). A DCB names speed, framing, parity
// checking, flow control and the DTR/RTS outputs; SetCommState applies those
// and keeps every other termios setting as it was. GetCommState reports the
// same fields and leaves the rest of the DCB zero.
//
// One and a half stop bits exist only with 5 data bits, where a UART asked
// for two stop bits sends one and a half; so StopBits 1 is taken with
// ByteSize 5 and refused otherwise, as Windows does.
#include <cerrno>
#include <cstring>

#include <sys/ioctl.h>
#include <termios.h>

#include "platform/posix/posix_port.h"
#include "platform/win32_serial.h"

using posix_serial::FindPort;
using posix_serial::Port;

namespace {

struct Speed {
    DWORD baudRate;
    speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool SpeedCode(DWORD baudRate, speed_t* code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.baudRate == baudRate) {
            *code = speed.code;
            return true;
        }
    }
    return false;
}

DWORD BaudRateOf(speed_t code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.code == code) {
            return speed.baudRate;
        }
    }
    return 0;
}

#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif
#ifdef CRTSCTS
constexpr tcflag_t kHardwareFlow = CRTSCTS;
#else
constexpr tcflag_t kHardwareFlow = 0;
#endif

// The c_cflag bits that the DCB decides.
constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CSTOPB | kStickParity | kHardwareFlow;

// The framing part of c_cflag for a DCB, or false when the port cannot do it.
bool FramingFor(const DCB& dcb, tcflag_t* cflag) {
    tcflag_t bits = 0;
    switch (dcb.ByteSize) {
        case 5:
            bits |= CS5;
            break;
        case 6:
            bits |= CS6;
            break;
        case 7:
            bits |= CS7;
            break;
        case 8:
            bits |= CS8;
            break;
        default:
            return false;
    }
    switch (dcb.StopBits) {
        case ONESTOPBIT:
            break;
        case ONE5STOPBITS:
            if (dcb.ByteSize != 5) {
                return false;
            }
            bits |= CSTOPB;
            break;
        case TWOSTOPBITS:
            bits |= CSTOPB;
            break;
        default:
            return false;
    }
    switch (dcb.Parity) {
        case NOPARITY:
            break;
        case ODDPARITY:
            bits |= PARENB | PARODD;
            break;
        case EVENPARITY:
            bits |= PARENB;
            break;
        case MARKPARITY:
        case SPACEPARITY:
            if (kStickParity == 0) {
                return false;
            }
            bits |= PARENB | kStickParity;
            if (dcb.Parity == MARKPARITY) {
                bits |= PARODD;
            }
            break;
        default:
            return false;
    }
    const bool hardwareFlow = dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (hardwareFlow) {
        if (kHardwareFlow == 0) {
            return false;
        }
        bits |= kHardwareFlow;
    }
    *cflag = bits;
    return true;
}

// Raises or drops modem-control lines. Devices without modem lines
// (pseudo-terminals) refuse the request, which is no failure.
bool DriveLines(int fd, unsigned long request, int lines) {
    if (lines == 0 || ioctl(fd, request, &lines) == 0) {
        return true;
    }
    return errno == EINVAL || errno == ENOTTY;
}

bool TcSetAttr(int fd, const termios& settings) {
    int result = 0;
    do {
        result = tcsetattr(fd, TCSANOW, &settings);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    Port* port = FindPort(handle);
    if (port == nullptr || dcb == nullptr) {
        return FALSE;
    }
    termios settings{};
    if (tcgetattr(port->fd, &settings) != 0) {
        return FALSE;
    }
    std::memset(dcb, 0, sizeof *dcb);
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = BaudRateOf(cfgetospeed(&settings));
    switch (settings.c_cflag & CSIZE) {
        case CS5:
            dcb->ByteSize = 5;
            break;
        case CS6:
            dcb->ByteSize = 6;
            break;
        case CS7:
            dcb->ByteSize = 7;
            break;
        default:
            dcb->ByteSize = 8;
            break;
    }
    if ((settings.c_cflag & CSTOPB) != 0) {
        dcb->StopBits = dcb->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    } else {
        dcb->StopBits = ONESTOPBIT;
    }
    const bool odd = (settings.c_cflag & PARODD) != 0;
    if ((settings.c_cflag & PARENB) == 0) {
        dcb->Parity = NOPARITY;
    } else if ((settings.c_cflag & kStickParity) != 0) {
        dcb->Parity = odd ? MARKPARITY : SPACEPARITY;
    } else {
        dcb->Parity = odd ? ODDPARITY : EVENPARITY;
    }
    dcb->fBinary = 1;
    dcb->fParity = (settings.c_iflag & INPCK) != 0 ? 1u : 0u;
    dcb->fOutX = (settings.c_iflag & IXON) != 0 ? 1u : 0u;
    dcb->fInX = (settings.c_iflag & IXOFF) != 0 ? 1u : 0u;

    DWORD dtr = port->dtrControl;
    DWORD rts = port->rtsControl;
    int lines = 0;
    if (ioctl(port->fd, TIOCMGET, &lines) == 0) {
        dtr = (lines & TIOCM_DTR) != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        rts = (lines & TIOCM_RTS) != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    }
    if (kHardwareFlow != 0 && (settings.c_cflag & kHardwareFlow) != 0) {
        dcb->fOutxCtsFlow = 1;
        rts = RTS_CONTROL_HANDSHAKE;
    }
    dcb->fDtrControl = dtr & 3u;
    dcb->fRtsControl = rts & 3u;
    return TRUE;
}

BOOL SetCommState(HANDLE handle, DCB* dcb) {
    Port* port = FindPort(handle);
    if (port == nullptr || dcb == nullptr) {
        return FALSE;
    }
    termios before{};
    if (tcgetattr(port->fd, &before) != 0) {
        return FALSE;
    }
    speed_t speed = B0;
    tcflag_t framing = 0;
    if (!SpeedCode(dcb->BaudRate, &speed) || !FramingFor(*dcb, &framing)) {
        return FALSE;
    }

    termios settings = before;
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP |
                                               INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    if (dcb->fParity != 0) {
        settings.c_iflag |= INPCK;
    }
    if (dcb->fOutX != 0) {
        settings.c_iflag |= IXON;
    }
    if (dcb->fInX != 0) {
        settings.c_iflag |= IXOFF;
    }
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~kFramingBits;
    settings.c_cflag |= framing | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0) {
        return FALSE;
    }
    if (!TcSetAttr(port->fd, settings)) {
        return FALSE;
    }
    // tcsetattr succeeds when any part was taken; a driver that cannot do the
    // speed leaves it out, so check and undo. The framing is not checked:
    // some pseudo-terminals accept any framing and keep 8 data bits without
    // parity, and they must stay usable.
    termios applied{};
    if (tcgetattr(port->fd, &applied) != 0 || cfgetospeed(&applied) != speed ||
        cfgetispeed(&applied) != speed) {
        TcSetAttr(port->fd, before);
        return FALSE;
    }

    // Handshake DTR has no equivalent here; it is held on, the nearest
    // steady state. RTS toggle is left at its idle level, off. With hardware
    // flow control the driver moves RTS itself.
    int raise = 0;
    int drop = 0;
    if (dcb->fDtrControl == DTR_CONTROL_DISABLE) {
        drop |= TIOCM_DTR;
    } else {
        raise |= TIOCM_DTR;
    }
    if (dcb->fRtsControl == RTS_CONTROL_ENABLE) {
        raise |= TIOCM_RTS;
    } else if (dcb->fRtsControl != RTS_CONTROL_HANDSHAKE) {
        drop |= TIOCM_RTS;
    }
    if (!DriveLines(port->fd, TIOCMBIS, raise) || !DriveLines(port->fd, TIOCMBIC, drop)) {
        return FALSE;
    }
    port->dtrControl = dcb->fDtrControl;
    port->rtsControl = dcb->fRtsControl;
    return TRUE;
}
