// The answer of an operation that is given a null channel or data record.
#pragma once

#include <cstdint>

#include "host/log.h"

// Logs that the operation got no record to work on and returns its result.
inline std::uint32_t RefuseMissingRecord(const char* operationName, std::uint32_t result) {
    Log(kLogTrace, "RUVAZI> %s() called without its record", operationName);
    return result;
}
