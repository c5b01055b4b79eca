// Bringing the link up: opening a port from a PortConfig, the rule for names
// that mean "no communication", and the cold and warm start operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"
#include "platform/win32_serial.h"
#include "serial/line_settings.h"

// Data record of ColdStart (function code 1), 28 bytes, read only.
struct StartParams {
    char portName[kPortNameSize];  // NUL within the field; "NULLDEV", "NUL": no port
    std::uint32_t comEnabled;      // 0: leave the port alone
    std::uint32_t readTimeout;     // units of 10 ms
    LineSettings lineSettings;
};

static_assert(offsetof(StartParams, portName) == 0x00, "StartParams.portName");
static_assert(offsetof(StartParams, comEnabled) == 0x0C, "StartParams.comEnabled");
static_assert(offsetof(StartParams, readTimeout) == 0x10, "StartParams.readTimeout");
static_assert(offsetof(StartParams, lineSettings) == 0x14, "StartParams.lineSettings");
static_assert(sizeof(StartParams) == 28, "StartParams is 28 bytes");

// Read time-out that replaces 0 on a newly opened port: the port's open
// default of one second.
constexpr std::uint32_t kDefaultReadTimeout = 100;

// True when the name holds its NUL within the 12-byte field.
bool PortNameFits(const char* name);

// True when the whole name is "NULLDEV" or "NUL", case counting. Never reads
// past the 12-byte field.
bool IsNoCommunication(const char* name);

// Copies a name that fits from one 12-byte field into another, up to and
// including its NUL. The destination always ends up NUL-terminated.
void CopyPortName(char* destination, const char* source);

// Opens and configures the port that the configuration describes (its name
// must fit its field). Logs the outcome; the handle, or 0 when not opened.
HANDLE OpenCom(const PortConfig& config);

// Sets the read time-out of a newly opened port; 0 units would leave reads
// without any limit, so the open default is kept instead and that is logged.
void SetOpenedReadTimeout(HANDLE handle, std::uint32_t units);

// Function code 1: stores the configuration, opens the port unless told
// otherwise, then sends the master initialisation frame three times.
std::uint32_t ColdStart(const VpiRequest* request);

// Function code 2: drains the open port and sends the master initialisation
// frame three times, giving up at the first that cannot be sent.
std::uint32_t WarmStart(const VpiRequest* request);
