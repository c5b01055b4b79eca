// SingleRead: reads one gate's value from the unit into the host's
// GateValue, with up to four attempts.
#pragma once

#include <cstdint>

#include "host/records.h"
#include "points/gate_records.h"

// Outcomes of CheckReadReply.
namespace read_reply {
constexpr std::uint32_t kAccepted = 0;  // value stored as MemType allows
constexpr std::uint32_t kRefused = 2;   // a byte was wrong; one line logged
// Every byte that arrived is right, but the reply is incomplete: nothing
// stored, and it is for the caller to say so.
constexpr std::uint32_t kIncomplete = 3;
}  // namespace read_reply

constexpr std::uint32_t kReadAttempts = 4;

// Checks the 8 bytes of the reply area against the request's function and
// equipment and, when the whole reply arrived (complete), its checksum; then
// stores byte 6 into the gate's value when MemType is 1 or 4.
std::uint32_t CheckReadReply(const GateRecord& gate, const std::uint8_t* reply,
                             std::uint32_t function, std::uint32_t equipment, bool complete);

// Function code 5. 0 read, 1 refused before any exchange, 2 every attempt
// failed.
std::uint32_t SingleRead(const VpiRequest* request);
