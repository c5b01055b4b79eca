// A channel with an open port on the fake platform, a gate record and a
// played unit, for the read and write transactions.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/records.h"
#include "host/vpi_main.h"
#include "points/gate_records.h"
#include "serial/com.h"
#include "serial/line_settings.h"
#include "testing/fake_serial.h"
#include "testing/trace_recorder.h"
#include "tests/points/unit_player.h"

class OnFakePort : public ::testing::Test {
  protected:
    static constexpr std::uint32_t kReadTimeoutUnits = 10;  // 100 ms
    static constexpr std::uint64_t kReadTimeoutMs = 100;
    static constexpr std::uint32_t kMarker = 0xA5A5A5A5u;
    static constexpr std::uint8_t kOldByte = 0xEE;  // reply area before the call

    // The gate record with words after it, to see that nothing past it is
    // touched.
    struct GuardedGate {
        GateRecord record;
        std::uint32_t after[4];
    };

    void SetUp() override {
        vpiEnded = 0;
        fake::Reset();
        device = &fake::AddDevice("COM1");
        std::memset(&channel, 0, sizeof channel);
        ASSERT_EQ(ComOpen("COM1", LineSettings{9600, 8, 0, 0}, line_control::kDtrRtsOn,
                          &channel.portHandle),
                  com_status::kDone);
        ComSetReadTimeout(channel.portHandle, kReadTimeoutUnits);
        channel.readTimeout = kReadTimeoutUnits;
        std::memset(channel.frameBuffer, kOldByte, sizeof channel.frameBuffer);
        player = std::make_unique<unit::Player>(*device);

        gateValue = GateValue{0x5A5A, 0xBEEF};
        std::memset(&gate, 0xA5, sizeof gate);
        gate.record.address = "01_101_03";
        gate.record.MemType = 1;
        gate.record.gateValue = &gateValue;
        startCalls = fake::Calls().size();
        startMs = fake::NowMs();
        trace.Clear();
    }

    void TearDown() override {
        player.reset();
        fake::Reset();
        vpiEnded = 0;
    }

    VpiRequest Request(std::uint32_t code) {
        return VpiRequest{&channel, code, 0, 0, &gate.record};
    }

    // Answers the next call's first read requests (a write's confirmations)
    // as given (empty: silence), then correctly.
    void Answer(std::vector<fake::Bytes> first) {
        player->readRequests = 0;
        player->answer = [first](unsigned n, const fake::Bytes& correct) {
            return n < first.size() ? first[n] : correct;
        };
    }

    // Platform calls made since SetUp whose line starts with prefix.
    std::vector<std::string> CallsSinceStart(const std::string& prefix = "") const {
        std::vector<std::string> lines;
        const auto& calls = fake::Calls();
        for (std::size_t i = startCalls; i < calls.size(); ++i) {
            if (calls[i].compare(0, prefix.size(), prefix) == 0) {
                lines.push_back(calls[i]);
            }
        }
        return lines;
    }

    std::uint64_t ElapsedMs() const { return fake::NowMs() - startMs; }

    bool RestOfGateUntouched() const {
        for (std::uint32_t word : gate.record.unused4) {
            if (word != kMarker) {
                return false;
            }
        }
        for (std::uint32_t word : gate.record.unused16) {
            if (word != kMarker) {
                return false;
            }
        }
        for (std::uint32_t word : gate.after) {
            if (word != kMarker) {
                return false;
            }
        }
        return gateValue.unused0 == 0x5A5A;
    }

    ComChannel channel{};
    GuardedGate gate{};
    GateValue gateValue{};
    fake::Device* device = nullptr;
    std::unique_ptr<unit::Player> player;
    std::size_t startCalls = 0;
    std::uint64_t startMs = 0;
    TraceRecorder trace;
};
