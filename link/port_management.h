// Managing the port once the link is up: close, reopen, reconfigure, and end
// the module's service.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"
#include "serial/line_settings.h"

// Data record of ChangeVpiParams (function code 15), 24 bytes, read only.
struct VpiParams {
    char portName[kPortNameSize];  // always taken; "NULLDEV", "NUL": no port
    std::uint32_t readTimeout;     // units of 10 ms; 0 keeps the stored value
    LineSettings lineSettings;     // taken only when its baudRate is not 0
};

static_assert(offsetof(VpiParams, portName) == 0x00, "VpiParams.portName");
static_assert(offsetof(VpiParams, readTimeout) == 0x0C, "VpiParams.readTimeout");
static_assert(offsetof(VpiParams, lineSettings) == 0x10, "VpiParams.lineSettings");
static_assert(sizeof(VpiParams) == 24, "VpiParams is 24 bytes");

// Function code 12: closes the open port and forgets its handle.
std::uint32_t CloseCom(const VpiRequest* request);

// Function code 13: opens the port again from the stored configuration.
std::uint32_t ReOpenCom(const VpiRequest* request);

// Function code 15: stores a new name, read time-out and line settings, and
// opens the port with them.
std::uint32_t ChangeVpiParams(const VpiRequest* request);

// Function code 11: ends the module's service for every instance, then
// closes this instance's port.
std::uint32_t EndVpi(const VpiRequest* request);
