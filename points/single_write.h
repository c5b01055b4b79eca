// SingleWrite: forces one value into a gate of the unit and confirms it with
// a read request for the same gate.
#pragma once

#include <cstdint>

#include "host/records.h"

constexpr std::uint32_t kWriteAttempts = 4;
constexpr std::uint32_t kWriteSettleMs = 300;  // between write and confirmation
constexpr std::uint32_t kWritableFunction = 101;

// Function code 7. 0 forced and confirmed; 1 refused before any exchange
// (no port, or a gate that cannot be written); 2 the confirmation was wrong
// or every attempt failed in transmission.
std::uint32_t SingleWrite(const VpiRequest* request);
