// Figures for the driver on a real line: the round trip of a single read
// and of a single write against the simulated unit over a pseudo-terminal,
// and what the process spends while it waits on a silent unit. Prints
// figures only; nothing here passes or fails on timing.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/vpi_main.h"
#include "link/startup.h"
#include "points/gate_records.h"
#include "testing/unit_on_line.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::uint32_t Call(ComChannel& channel, std::uint32_t code, void* record) {
    VpiRequest request{&channel, code, 0, 0, record};
    return VpiMain(&request);
}

bool Start(ComChannel& channel, const UnitOnLine& line, std::uint32_t readTimeout) {
    std::memset(&channel, 0, sizeof channel);
    StartParams params{};
    std::snprintf(params.portName, sizeof params.portName, "%s", line.Name().c_str());
    params.comEnabled = 1;
    params.readTimeout = readTimeout;
    params.lineSettings = LineSettings{9600, 8, 0, 0};
    return Call(channel, function_code::kColdStart, &params) == kResultDone;
}

std::uint32_t ReadGate(ComChannel& channel) {
    GateValue value{0, 0};
    GateRecord gate{};
    gate.address = "01_101_03";
    gate.MemType = 1;
    gate.gateValue = &value;
    return Call(channel, function_code::kSingleRead, &gate);
}

struct Figures {
    double p50Us;
    double p99Us;
    double meanUs;
    double cpuUsPerCall;
    unsigned failures;
};

template <typename Operation>
Figures Measure(unsigned count, Operation operation) {
    std::vector<double> micros;
    unsigned failures = 0;
    const double cpuBefore = CpuSeconds();
    for (unsigned i = 0; i < count; ++i) {
        const auto began = Clock::now();
        if (operation(i) != kResultDone) {
            ++failures;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - began).count());
    }
    const double cpu = CpuSeconds() - cpuBefore;
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double m : micros) {
        sum += m;
    }
    return Figures{micros[micros.size() / 2], micros[micros.size() * 99 / 100],
                   sum / static_cast<double>(micros.size()), cpu * 1e6 / count, failures};
}

void Print(const char* what, unsigned count, const Figures& f) {
    std::printf(
        "%-34s %5u calls  p50 %8.0f us  p99 %8.0f us  mean %8.0f us  cpu %6.0f us/call"
        "  failed %u\n",
        what, count, f.p50Us, f.p99Us, f.meanUs, f.cpuUsPerCall, f.failures);
}

}  // namespace

int main() {
    {
        UnitOnLine line;
        ComChannel channel;
        if (!line.Ok() || !Start(channel, line, 100)) {
            std::fprintf(stderr, "could not start the driver on a pseudo-terminal\n");
            return 1;
        }
        line.Set({1, 101, 3}, 42);
        const unsigned reads = 300;
        Print("single read, answering unit", reads,
              Measure(reads, [&](unsigned) { return ReadGate(channel); }));
        const unsigned writes = 10;
        Print("single write (300 ms wait inside)", writes, Measure(writes, [&](unsigned i) {
                  GateValue value{0, static_cast<std::uint16_t>(i)};
                  GateRecord gate{};
                  gate.address = "01_101_03";
                  gate.gateValue = &value;
                  return Call(channel, function_code::kSingleWrite, &gate);
              }));
        Call(channel, function_code::kCloseCom, nullptr);
    }
    {
        UnitOnLine silent({}, /*answer=*/false);
        ComChannel channel;
        if (!silent.Ok() || !Start(channel, silent, 25)) {
            std::fprintf(stderr, "could not start the driver on a pseudo-terminal\n");
            return 1;
        }
        const unsigned reads = 3;
        Print("single read, silent unit (4x250ms)", reads, Measure(reads, [&](unsigned) {
                  // A silent unit fails every attempt: count that as expected.
                  return ReadGate(channel) == kResultFailed ? kResultDone : kResultFailed;
              }));
        Call(channel, function_code::kCloseCom, nullptr);
    }
    std::printf("(cpu: user+system time of the whole process, unit thread included)\n");
    return 0;
}
