// ReadFile, WriteFile and ClearCommError on non-blocking descriptors.
//
// Reads and writes wait only in poll, against a deadline on the monotonic
// clock that the time-outs of the handle give; a signal restarts the wait with
// the time that is left. A hang-up ends a read with what has arrived.
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/posix/posix_port.h"
#include "platform/win32_serial.h"

using posix_serial::FindPort;
using posix_serial::Port;

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFFu;
constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::int64_t kNoDeadline = -1;

std::int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// Milliseconds for poll until the deadline, rounded up so that a wait never
// ends before it; -1 waits without limit.
int PollTimeout(std::int64_t deadline) {
    if (deadline == kNoDeadline) {
        return -1;
    }
    const std::int64_t left = deadline - NowNs();
    if (left <= 0) {
        return 0;
    }
    const std::int64_t ms = (left + kNsPerMs - 1) / kNsPerMs;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// The earlier of two deadlines, either of which may be absent.
std::int64_t Earlier(std::int64_t a, std::int64_t b) {
    if (a == kNoDeadline) {
        return b;
    }
    if (b == kNoDeadline) {
        return a;
    }
    return a < b ? a : b;
}

enum class Wait { kReady, kTimedOut, kHungUp, kFailed };

// Waits until the descriptor is ready for the events or the deadline passes.
Wait WaitFor(int fd, short events, std::int64_t deadline) {
    for (;;) {
        const int timeout = PollTimeout(deadline);
        pollfd entry{fd, events, 0};
        const int result = poll(&entry, 1, timeout);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Wait::kFailed;
        }
        if (result == 0) {
            if (timeout != 0 && deadline != kNoDeadline && NowNs() < deadline) {
                continue;  // woke a little early
            }
            return Wait::kTimedOut;
        }
        if ((entry.revents & POLLNVAL) != 0) {
            return Wait::kFailed;
        }
        if ((entry.revents & events) != 0) {
            return Wait::kReady;
        }
        return Wait::kHungUp;  // POLLHUP or POLLERR without the events
    }
}

}  // namespace

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* overlapped) {
    if (read != nullptr) {
        *read = 0;
    }
    Port* port = FindPort(handle);
    if (port == nullptr || overlapped != nullptr || (buffer == nullptr && toRead != 0)) {
        return FALSE;
    }
    if (toRead == 0) {
        return TRUE;
    }
    const COMMTIMEOUTS& timeouts = port->timeouts;
    // Interval MAXDWORD with the other two 0: take what is there and return.
    const bool returnAtOnce = timeouts.ReadIntervalTimeout == kMaxDword &&
                              timeouts.ReadTotalTimeoutMultiplier == 0 &&
                              timeouts.ReadTotalTimeoutConstant == 0;
    // Interval and multiplier MAXDWORD: return with the first bytes, or
    // with none once the constant has passed.
    const bool returnOnFirst = timeouts.ReadIntervalTimeout == kMaxDword &&
                               timeouts.ReadTotalTimeoutMultiplier == kMaxDword &&
                               timeouts.ReadTotalTimeoutConstant != 0 &&
                               timeouts.ReadTotalTimeoutConstant != kMaxDword;
    const std::int64_t start = NowNs();
    std::int64_t totalDeadline = kNoDeadline;
    std::int64_t intervalNs = 0;
    if (returnOnFirst) {
        totalDeadline = start + std::int64_t{timeouts.ReadTotalTimeoutConstant} * kNsPerMs;
    } else if (!returnAtOnce) {
        const std::int64_t totalMs = std::int64_t{timeouts.ReadTotalTimeoutMultiplier} * toRead +
                                     std::int64_t{timeouts.ReadTotalTimeoutConstant};
        if (totalMs != 0) {
            totalDeadline = start + totalMs * kNsPerMs;
        }
        if (timeouts.ReadIntervalTimeout != 0 && timeouts.ReadIntervalTimeout != kMaxDword) {
            intervalNs = std::int64_t{timeouts.ReadIntervalTimeout} * kNsPerMs;
        }
    }

    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    DWORD got = 0;
    std::int64_t intervalDeadline = kNoDeadline;
    bool hungUp = false;
    BOOL result = TRUE;
    while (got < toRead) {
        const ssize_t n = ::read(port->fd, bytes + got, toRead - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            if (returnOnFirst) {
                break;
            }
            if (intervalNs != 0) {
                intervalDeadline = NowNs() + intervalNs;
            }
            continue;
        }
        if (n == 0) {
            break;  // end of file or hang-up
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EIO) {
            break;  // the line has gone away
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result = FALSE;
            break;
        }
        if (returnAtOnce || hungUp) {
            break;
        }
        const Wait wait = WaitFor(port->fd, POLLIN, Earlier(totalDeadline, intervalDeadline));
        if (wait == Wait::kTimedOut) {
            break;
        }
        if (wait == Wait::kFailed) {
            result = FALSE;
            break;
        }
        // Ready or hung up: the next read takes what is there; after a
        // hang-up with nothing to read the read ends.
        hungUp = wait == Wait::kHungUp;
    }
    if (read != nullptr) {
        *read = got;
    }
    return result;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               OVERLAPPED* overlapped) {
    if (written != nullptr) {
        *written = 0;
    }
    Port* port = FindPort(handle);
    if (port == nullptr || overlapped != nullptr || (buffer == nullptr && toWrite != 0)) {
        return FALSE;
    }
    // With both write time-outs 0 a write waits until every byte is taken.
    const std::int64_t totalMs =
        std::int64_t{port->timeouts.WriteTotalTimeoutMultiplier} * toWrite +
        std::int64_t{port->timeouts.WriteTotalTimeoutConstant};
    const std::int64_t deadline = totalMs != 0 ? NowNs() + totalMs * kNsPerMs : kNoDeadline;

    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    DWORD done = 0;
    bool hungUp = false;
    BOOL result = TRUE;
    while (done < toWrite) {
        const ssize_t n = ::write(port->fd, bytes + done, toWrite - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            result = FALSE;
            break;
        }
        if (hungUp) {
            result = FALSE;
            break;
        }
        const Wait wait = WaitFor(port->fd, POLLOUT, deadline);
        if (wait == Wait::kTimedOut) {
            break;  // the write time-out passed: report what was taken
        }
        if (wait == Wait::kFailed) {
            result = FALSE;
            break;
        }
        hungUp = wait == Wait::kHungUp;
    }
    if (written != nullptr) {
        *written = done;
    }
    return result;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, COMSTAT* stat) {
    Port* port = FindPort(handle);
    if (port == nullptr) {
        return FALSE;
    }
    // Line errors are not kept by the driver, so there is none to clear.
    int waiting = 0;
    if (ioctl(port->fd, FIONREAD, &waiting) != 0) {
        return FALSE;
    }
    if (errors != nullptr) {
        *errors = 0;
    }
    if (stat != nullptr) {
        std::memset(stat, 0, sizeof *stat);
        stat->cbInQue = waiting > 0 ? static_cast<DWORD>(waiting) : 0u;
        int queued = 0;
        if (ioctl(port->fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
            stat->cbOutQue = static_cast<DWORD>(queued);
        }
    }
    return TRUE;
}
