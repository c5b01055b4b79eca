// Per-handle state of the POSIX serial calls, shared by the files of this
// library only. A handle is a small non-zero number that names one slot of a
// fixed table and the generation of that slot, so that a handle that has been
// closed stays invalid after its slot is reused.
#pragma once

#include <cstdint>

#include "platform/win32_serial.h"

namespace posix_serial {

struct Port {
    std::uint32_t generation;  // bumped on every close of the slot
    int fd;
    COMMTIMEOUTS timeouts;
    // DTR and RTS control last asked for; reported back where the device
    // cannot tell the line states (pseudo-terminals).
    DWORD dtrControl;
    DWORD rtsControl;
    bool inUse;
    bool isTty;
    bool exclusiveSet;  // TIOCEXCL taken at open, to be released on close
};

// The port of an open handle, or null for 0, a closed or a made-up handle.
Port* FindPort(HANDLE handle);

}  // namespace posix_serial
