// The simulated unit serving the master side of a real pseudo-terminal from
// a thread, for end-to-end tests and benchmarks of the module on the POSIX
// serial layer. Name() is the device for the module to open: the slave's
// path, or a short link to it when the path does not fit a port name field.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "sim/unit.h"

class UnitOnLine {
  public:
    // With `answer` false the unit listens but never replies.
    explicit UnitOnLine(sim::FaultPlan faults = {}, bool answer = true);
    ~UnitOnLine();
    UnitOnLine(const UnitOnLine&) = delete;
    UnitOnLine& operator=(const UnitOnLine&) = delete;

    // False when the pseudo-terminal could not be set up.
    bool Ok() const { return ok_; }
    const std::string& Name() const { return name_; }

    void Set(sim::GateKey gate, std::uint8_t value);
    std::uint8_t Get(sim::GateKey gate);
    sim::Counters Stats();

  private:
    void Serve();

    sim::Unit unit_;
    bool answer_;
    bool ok_ = false;
    std::mutex mutex_;
    int master_ = -1;
    int holder_ = -1;
    std::string name_;
    bool linked_ = false;
    std::atomic<bool> stop_{false};
    std::thread server_;
};
