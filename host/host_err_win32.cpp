// Binds the log adapter to the host's err, imported by name from BELTOR.dll.
#include "host/log.h"

extern "C" int VPI_CDECL err(unsigned int category, const char* format, ...);

HostErrFunction HostErrEntry() {
    return &err;
}
