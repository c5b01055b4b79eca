// End to end on the native build: the module on the POSIX serial layer,
// over a real pseudo-terminal, against the simulated unit playing the far
// end in a thread of the test.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/vpi_main.h"
#include "link/port_management.h"
#include "link/startup.h"
#include "points/gate_records.h"
#include "sim/unit.h"
#include "testing/trace_recorder.h"
#include "testing/unit_on_line.h"

namespace {

using Clock = std::chrono::steady_clock;

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        vpiEnded = 0;
        std::memset(&channel, 0, sizeof channel);
    }
    void TearDown() override {
        if (vpiEnded == 0 && channel.portHandle != nullptr) {
            Call(function_code::kCloseCom, nullptr);
        }
        vpiEnded = 0;
    }

    std::uint32_t Call(std::uint32_t code, void* record) {
        VpiRequest request{&channel, code, 0, 0, record};
        return VpiMain(&request);
    }

    std::uint32_t Start(const std::string& port, std::uint32_t readTimeout) {
        StartParams params{};
        std::snprintf(params.portName, sizeof params.portName, "%s", port.c_str());
        params.comEnabled = 1;
        params.readTimeout = readTimeout;
        params.lineSettings = LineSettings{9600, 8, 0, 0};
        return Call(function_code::kColdStart, &params);
    }

    std::uint32_t Read(const char* address, std::uint16_t* value) {
        GateValue gateValue{0, 0xBEEF};
        GateRecord gate{};
        gate.address = address;
        gate.MemType = 1;
        gate.gateValue = &gateValue;
        const std::uint32_t result = Call(function_code::kSingleRead, &gate);
        *value = gateValue.value;
        return result;
    }

    std::uint32_t Write(const char* address, std::uint16_t value) {
        GateValue gateValue{0, value};
        GateRecord gate{};
        gate.address = address;
        gate.gateValue = &gateValue;
        return Call(function_code::kSingleWrite, &gate);
    }

    ComChannel channel{};
    TraceRecorder trace;
};

TEST_F(EndToEnd, ReadWriteCloseReopenAndEndOverARealLine) {
    UnitOnLine line;
    ASSERT_TRUE(line.Ok());
    line.Set({1, 101, 3}, 42);

    ASSERT_EQ(Start(line.Name(), 50), kResultDone);
    ASSERT_NE(channel.portHandle, nullptr);
    EXPECT_EQ(line.Stats().masterInits, 3u);

    std::uint16_t value = 0;
    EXPECT_EQ(Read("01_101_03", &value), kResultDone);
    EXPECT_EQ(value, 42);

    EXPECT_EQ(Write("01_101_03", 0x105), kResultDone);
    EXPECT_EQ(line.Get({1, 101, 3}), 0x05);
    EXPECT_EQ(Read("01_101_03", &value), kResultDone);
    EXPECT_EQ(value, 5);

    EXPECT_EQ(Call(function_code::kWarmStart, nullptr), kResultDone);
    EXPECT_EQ(Call(function_code::kCloseCom, nullptr), kResultDone);
    EXPECT_EQ(channel.portHandle, nullptr);
    EXPECT_EQ(Read("01_101_03", &value), kResultRefused);
    EXPECT_EQ(Call(function_code::kReOpenCom, nullptr), kResultDone);
    EXPECT_EQ(Read("01_101_03", &value), kResultDone);
    EXPECT_EQ(value, 5);

    EXPECT_EQ(Call(function_code::kEndVpi, nullptr), kResultDone);
    EXPECT_EQ(channel.portHandle, nullptr);
    EXPECT_EQ(Read("01_101_03", &value), kResultDone);  // ended: nothing is done
    EXPECT_EQ(value, 0xBEEF);
    EXPECT_EQ(line.Stats().badChecksums, 0u);
}

TEST_F(EndToEnd, ValuesCorruptedOnTheLineAreNeverReportedAsGood) {
    sim::FaultPlan faults;
    faults.corruptValueEvery = 2;
    faults.truncateEvery = 5;
    UnitOnLine line(faults);
    ASSERT_TRUE(line.Ok());
    ASSERT_EQ(Start(line.Name(), 20), kResultDone);

    for (std::uint8_t equipment = 0; equipment < 12; ++equipment) {
        const auto expected = static_cast<std::uint8_t>(0x11 * (equipment + 1));
        line.Set({7, 101, equipment}, expected);
        char address[16];
        std::snprintf(address, sizeof address, "07_101_%02u", equipment);
        std::uint16_t value = 0;
        const std::uint32_t result = Read(address, &value);
        ASSERT_TRUE(result == kResultDone || result == kResultFailed) << address;
        if (result == kResultDone) {
            EXPECT_EQ(value, expected) << address;
        }
    }
    EXPECT_GT(line.Stats().repliesCorrupted, 0u);
}

TEST_F(EndToEnd, SilentUnitEndsAfterFourBoundedAttempts) {
    UnitOnLine line({}, /*answer=*/false);
    ASSERT_TRUE(line.Ok());
    ASSERT_EQ(Start(line.Name(), 10), kResultDone);

    const auto began = Clock::now();
    std::uint16_t value = 0;
    EXPECT_EQ(Read("01_101_03", &value), kResultFailed);
    const auto elapsed = Clock::now() - began;
    // Four reads of 100 ms each: catch a hang or an early return only.
    EXPECT_GE(elapsed, std::chrono::milliseconds(350));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    EXPECT_EQ(value, 0xBEEF);
    EXPECT_EQ(line.Stats().readRequests, 4u);
}

TEST_F(EndToEnd, SecondInstanceCannotTakeAPortThatIsHeld) {
    UnitOnLine line;
    ASSERT_TRUE(line.Ok());
    ASSERT_EQ(Start(line.Name(), 20), kResultDone);

    ComChannel other{};
    StartParams params{};
    std::snprintf(params.portName, sizeof params.portName, "%s", line.Name().c_str());
    params.comEnabled = 1;
    params.readTimeout = 20;
    params.lineSettings = LineSettings{9600, 8, 0, 0};
    VpiRequest request{&other, function_code::kColdStart, 0, 0, &params};
    EXPECT_EQ(VpiMain(&request), kResultRefused);
    EXPECT_EQ(other.portHandle, nullptr);
}

}  // namespace
