// A simulated unit: the slave end of the frame protocol, written on its own
// (it does not use the module's frame code) so that it can serve as an
// independent oracle in end-to-end tests and demos.
//
// Frames: FF, last index, slave, function, command ('<' read, '>' write),
// equipment, data..., checksum; the checksum makes bytes 1 to last add up to
// a multiple of 256. The unit answers a read request with
// FF 07 F0 function slave equipment value checksum, acknowledges a write
// request the same way (the master drains that), and ignores the master
// initialisation frame and any frame whose checksum is wrong.
#pragma once

#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

struct GateKey {
    std::uint8_t slave;
    std::uint8_t function;
    std::uint8_t equipment;
    bool operator<(const GateKey& other) const {
        return std::tie(slave, function, equipment) <
               std::tie(other.slave, other.function, other.equipment);
    }
};

// Faults the unit can put on the line, every Nth reply (0: never).
struct FaultPlan {
    unsigned corruptValueEvery = 0;  // flip a bit of the value, keep the checksum
    unsigned silentEvery = 0;        // send nothing
    unsigned truncateEvery = 0;      // send the reply without its checksum byte
};

struct Counters {
    unsigned readRequests = 0;
    unsigned writeRequests = 0;
    unsigned masterInits = 0;
    unsigned badChecksums = 0;
    unsigned discardedBytes = 0;
    unsigned repliesCorrupted = 0;
    unsigned repliesSilenced = 0;
    unsigned repliesTruncated = 0;
};

class Unit {
  public:
    explicit Unit(FaultPlan faults = {}) : faults_(faults) {}

    // Gate values; a gate never written reads as 0.
    void Set(GateKey gate, std::uint8_t value) { gates_[gate] = value; }
    std::uint8_t Get(GateKey gate) const;

    // Takes bytes from the line and returns what the unit sends back.
    Bytes Feed(const std::uint8_t* bytes, std::size_t count);

    const Counters& Stats() const { return counters_; }

    static std::uint8_t Checksum(const std::uint8_t* frame, std::size_t lastIndex);

  private:
    Bytes Handle(const Bytes& frame);
    Bytes Reply(std::uint8_t slave, std::uint8_t function, std::uint8_t equipment,
                std::uint8_t value);

    FaultPlan faults_;
    std::map<GateKey, std::uint8_t> gates_;
    Bytes pending_;
    unsigned replies_ = 0;
    Counters counters_;
};

}  // namespace sim
