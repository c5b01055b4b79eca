// Gate addresses: the 9-character text that names a gate of the unit
// ("SS_FFF_EE": slave, function, equipment), its syntax check, the handler
// through which the host validates an address against a gate type, and the
// conversion of the text into the three numbers that frames carry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"

constexpr std::size_t kGateAddressLength = 9;

// Every address text is looked at through a copy of this size: at most 31
// characters and a NUL, so nothing past the text's NUL or past 32 characters
// is ever read, and every message shows at most 31 characters.
constexpr std::size_t kAddressCopySize = 32;

// The characters allowed at each position of an address, in position order.
extern const char* const kAllowedCharacters[kGateAddressLength];

// Gate types that the two function fields require.
namespace gate_type {
constexpr std::uint32_t kFunction101 = 6;
constexpr std::uint32_t kFunction104 = 0;
}  // namespace gate_type

// Data record of SingleAddressParser, owned by the host.
struct AddressParseRecord {
    const char* address;
    std::uint32_t unused4;
    std::uint32_t gateType;  // compared as a whole word
    std::uint32_t unused12;
    std::uint32_t outWord16;      // 1
    std::uint32_t functionDigit;  // third digit of the function field: 1 or 4
    std::uint32_t outWord24;      // 1
    std::uint32_t outWord28;      // 0xFFFFFFFF
    std::uint32_t outWord32;      // 0xFFFFFFFF
};

static_assert(!kHostPointerWidth || offsetof(AddressParseRecord, address) == 0,
              "AddressParseRecord.address");
static_assert(!kHostPointerWidth || offsetof(AddressParseRecord, gateType) == 8,
              "AddressParseRecord.gateType");
static_assert(!kHostPointerWidth || offsetof(AddressParseRecord, outWord16) == 16,
              "AddressParseRecord word 16");
static_assert(!kHostPointerWidth || offsetof(AddressParseRecord, functionDigit) == 20,
              "AddressParseRecord.functionDigit");
static_assert(!kHostPointerWidth || offsetof(AddressParseRecord, outWord24) == 24,
              "AddressParseRecord word 24");
static_assert(!kHostPointerWidth || offsetof(AddressParseRecord, outWord28) == 28,
              "AddressParseRecord word 28");
static_assert(!kHostPointerWidth || offsetof(AddressParseRecord, outWord32) == 32,
              "AddressParseRecord word 32");
static_assert(!kHostPointerWidth || sizeof(AddressParseRecord) == 36,
              "AddressParseRecord is 36 bytes");

// The three numbers of an address, in address order.
struct GateNumbers {
    std::uint32_t slave;
    std::uint32_t function;
    std::uint32_t equipment;
};

// Copies at most 31 characters of the text into copy and ends it with a NUL.
// Returns the text's length, counted no further than kAddressCopySize.
std::size_t CopyAddress(const char* address, char (&copy)[kAddressCopySize]);

// Syntax check. 0 when the text is 9 allowed characters; the five output
// words are then written. Otherwise 1 after one log line, nothing written.
std::uint32_t Parse(AddressParseRecord* record);

// Function code 3: Parse, then the gate-type rule. 0 accepted, 1 refused.
std::uint32_t SingleAddressParser(const VpiRequest* request);

// Converts the first 9 characters as the scan "%02u_%03u_%02u" does: up to
// 2 digits, "_", up to 3 digits, "_", up to 2 digits, each field after
// optional blanks and an optional sign. Fields the scan does not reach are 0.
// Returns the number of fields converted.
std::uint32_t ConvertAddress(const char* address, GateNumbers* numbers);

// True when the first 9 characters are two decimal digits, "_", three
// decimal digits, "_", two decimal digits: the addresses that convert to
// the numbers they show.
bool IsDecimalAddress(const char* address);

// What both transactions do with an address before talking to the unit:
// refuse one that does not convert (1, one log line), otherwise convert it
// and log the three numbers (0).
std::uint32_t ConvertForExchange(const char* addressCopy, GateNumbers* numbers);
