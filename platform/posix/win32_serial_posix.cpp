// The serial calls of the seam on POSIX systems: opening and closing devices,
// the per-handle table, time-outs, queue sizes, break and Sleep.
//
// Every device is opened non-blocking and stays so; all waiting is done with
// poll against a monotonic deadline (read_write_posix.cpp).
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/posix/posix_port.h"
#include "platform/win32_serial.h"

namespace posix_serial {
namespace {

constexpr std::uint32_t kPortSlots = 16;
// Handles stay below kPortSlots * kGenerations + 1, small enough to print
// and far from INVALID_HANDLE_VALUE.
constexpr std::uint32_t kGenerations = 4096;
constexpr DWORD kFileFlagOverlapped = 0x40000000u;

Port ports[kPortSlots];

HANDLE MakeHandle(std::uint32_t slot, std::uint32_t generation) {
    const std::uintptr_t value = std::uintptr_t{generation} * kPortSlots + slot + 1u;
    return reinterpret_cast<HANDLE>(value);
}

// "NUL" in any case, as Windows takes it, names the null device.
bool IsNullDeviceName(const char* name) {
    return (name[0] == 'N' || name[0] == 'n') && (name[1] == 'U' || name[1] == 'u') &&
           (name[2] == 'L' || name[2] == 'l') && name[3] == '\0';
}

void CloseKeepingErrno(int fd) {
    const int saved = errno;
    close(fd);
    errno = saved;
}

}  // namespace

Port* FindPort(HANDLE handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0 || value > std::uintptr_t{kPortSlots} * kGenerations) {
        return nullptr;
    }
    const std::uintptr_t slot = (value - 1u) % kPortSlots;
    const std::uintptr_t generation = (value - 1u) / kPortSlots;
    Port& port = ports[slot];
    if (!port.inUse || port.generation != generation) {
        return nullptr;
    }
    return &port;
}

}  // namespace posix_serial

using posix_serial::FindPort;
using posix_serial::Port;

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD /*shareMode*/,
                   SECURITY_ATTRIBUTES* /*securityAttributes*/, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE /*templateFile*/) {
    // Only opening an existing device for synchronous use is supported. Serial
    // devices are exclusive whatever the share mode says, as on Windows.
    if (fileName == nullptr || fileName[0] == '\0' || creationDisposition != OPEN_EXISTING ||
        (flagsAndAttributes & posix_serial::kFileFlagOverlapped) != 0) {
        return INVALID_HANDLE_VALUE;
    }
    std::uint32_t slot = 0;
    while (slot < posix_serial::kPortSlots && posix_serial::ports[slot].inUse) {
        ++slot;
    }
    if (slot == posix_serial::kPortSlots) {
        return INVALID_HANDLE_VALUE;
    }

    const bool wantRead = (desiredAccess & GENERIC_READ) != 0;
    const bool wantWrite = (desiredAccess & GENERIC_WRITE) != 0;
    int access = O_RDWR;
    if (wantRead && !wantWrite) {
        access = O_RDONLY;
    } else if (wantWrite && !wantRead) {
        access = O_WRONLY;
    }

    const bool nullDevice = posix_serial::IsNullDeviceName(fileName);
    const char* path = nullDevice ? "/dev/null" : fileName;
    // Non-blocking, so that a modem line without carrier does not hold the
    // open, and so that every later wait is a poll with a deadline.
    int fd = -1;
    do {
        fd = open(path, access | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }

    // The null device is shared by everyone, as on Windows; everything else
    // is held exclusively. The advisory lock also stops privileged openers,
    // which TIOCEXCL lets through; it is taken first so that a refused open
    // never touches the holder's TIOCEXCL.
    if (!nullDevice && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        posix_serial::CloseKeepingErrno(fd);
        return INVALID_HANDLE_VALUE;
    }
    const bool isTty = isatty(fd) == 1;
    bool exclusiveSet = false;
    if (isTty) {
        if (ioctl(fd, TIOCEXCL) == 0) {
            exclusiveSet = true;
        } else if (errno != ENOTTY && errno != EINVAL) {
            posix_serial::CloseKeepingErrno(fd);
            return INVALID_HANDLE_VALUE;
        }
    }

    Port& port = posix_serial::ports[slot];
    port.inUse = true;
    port.fd = fd;
    port.isTty = isTty;
    port.exclusiveSet = exclusiveSet;
    port.timeouts = COMMTIMEOUTS{0, 0, 0, 0, 0};
    // Opening a serial device raises both lines.
    port.dtrControl = DTR_CONTROL_ENABLE;
    port.rtsControl = RTS_CONTROL_ENABLE;
    return posix_serial::MakeHandle(slot, port.generation);
}

BOOL CloseHandle(HANDLE handle) {
    Port* port = FindPort(handle);
    if (port == nullptr) {
        return FALSE;
    }
    if (port->exclusiveSet) {
        ioctl(port->fd, TIOCNXCL);  // nothing to do if the device is gone
    }
    // The descriptor is released even when close reports an error, so the
    // slot is freed in every case; the advisory lock goes with it.
    const int result = close(port->fd);
    const bool closed = result == 0 || errno == EINTR;
    port->inUse = false;
    port->fd = -1;
    port->generation = (port->generation + 1u) % posix_serial::kGenerations;
    return closed ? TRUE : FALSE;
}

BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    Port* port = FindPort(handle);
    if (port == nullptr || timeouts == nullptr) {
        return FALSE;
    }
    *timeouts = port->timeouts;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    Port* port = FindPort(handle);
    if (port == nullptr || timeouts == nullptr) {
        return FALSE;
    }
    port->timeouts = *timeouts;
    return TRUE;
}

BOOL SetupComm(HANDLE handle, DWORD /*inQueue*/, DWORD /*outQueue*/) {
    // The kernel sizes its own queues; there is nothing to ask for.
    return FindPort(handle) != nullptr ? TRUE : FALSE;
}

BOOL SetCommBreak(HANDLE handle) {
    Port* port = FindPort(handle);
    if (port == nullptr) {
        return FALSE;
    }
    return ioctl(port->fd, TIOCSBRK) == 0 ? TRUE : FALSE;
}

BOOL ClearCommBreak(HANDLE handle) {
    Port* port = FindPort(handle);
    if (port == nullptr) {
        return FALSE;
    }
    return ioctl(port->fd, TIOCCBRK) == 0 ? TRUE : FALSE;
}

void Sleep(DWORD milliseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    // A signal cuts the wait short; go on with what is left of it.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
