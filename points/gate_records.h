// The host's records that describe one gate to the read and write
// transactions: where the gate is (its address text), how its value may be
// stored (MemType), and the value itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"

// The host-owned record holding a gate's value.
struct GateValue {
    std::uint16_t unused0;
    std::uint16_t value;
};

// Memory types under which a read stores the value it got.
namespace mem_type {
constexpr std::uint32_t kStoreA = 1;
constexpr std::uint32_t kStoreB = 4;
}  // namespace mem_type

// Data record of SingleRead and SingleWrite, owned by the host. Nothing past
// gateValue is touched.
struct GateRecord {
    const char* address;
    std::uint32_t unused4[2];
    std::uint32_t MemType;
    std::uint32_t unused16[6];
    GateValue* gateValue;
};

static_assert(sizeof(GateValue) == 4, "GateValue is 4 bytes");
static_assert(offsetof(GateValue, value) == 2, "GateValue.value");

static_assert(!kHostPointerWidth || offsetof(GateRecord, address) == 0, "GateRecord.address");
static_assert(!kHostPointerWidth || offsetof(GateRecord, MemType) == 12, "GateRecord.MemType");
static_assert(!kHostPointerWidth || offsetof(GateRecord, gateValue) == 40, "GateRecord.gateValue");
static_assert(!kHostPointerWidth || sizeof(GateRecord) == 44, "GateRecord is 44 bytes");
