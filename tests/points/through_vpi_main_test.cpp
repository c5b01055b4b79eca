#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/records.h"
#include "host/vpi_main.h"
#include "link/startup.h"
#include "points/gate_address.h"
#include "points/gate_records.h"
#include "testing/fake_serial.h"
#include "testing/trace_recorder.h"
#include "tests/points/unit_player.h"

namespace {

// A host's view: a channel brought up by ColdStart on the fake, then gates
// checked, read and forced through the single export.
class PointsThroughVpiMain : public ::testing::Test {
  protected:
    static constexpr std::uint32_t kReadTimeoutUnits = 100;  // one second

    void SetUp() override {
        vpiEnded = 0;
        fake::Reset();
        device = &fake::AddDevice("COM1");
        player = std::make_unique<unit::Player>(*device);
        std::memset(&channel, 0, sizeof channel);
        gate.address = "01_101_03";
        gate.MemType = 1;
        gate.gateValue = &gateValue;
    }

    void TearDown() override {
        player.reset();
        fake::Reset();
        vpiEnded = 0;
    }

    void ColdStartOnCom1() {
        StartParams params{};
        std::strcpy(params.portName, "COM1");
        params.comEnabled = 1;
        params.readTimeout = kReadTimeoutUnits;
        params.lineSettings = LineSettings{9600, 8, 0, 0};
        ASSERT_EQ(Call(function_code::kColdStart, &params), kResultDone);
        ASSERT_NE(channel.portHandle, nullptr);
        trace.Clear();
    }

    std::uint32_t Call(std::uint32_t code, void* record) {
        VpiRequest request{&channel, code, 0, 0, record};
        return VpiMain(&request);
    }

    ComChannel channel{};
    GateRecord gate{};
    GateValue gateValue{};
    fake::Device* device = nullptr;
    std::unique_ptr<unit::Player> player;
    TraceRecorder trace;
};

TEST_F(PointsThroughVpiMain, ReadBeforeAnyStartIsRefusedSilently) {
    EXPECT_EQ(Call(function_code::kSingleRead, &gate), kResultRefused);
    EXPECT_EQ(Call(function_code::kSingleWrite, &gate), kResultRefused);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(PointsThroughVpiMain, ChecksReadsAndForcesGatesAfterColdStart) {
    ColdStartOnCom1();
    const std::size_t initFrames = device->writes.size();

    AddressParseRecord parse{};
    parse.address = "01_101_03";
    parse.gateType = 6;
    EXPECT_EQ(Call(function_code::kSingleAddressParser, &parse), kResultDone);
    EXPECT_EQ(parse.functionDigit, 1u);
    parse.gateType = 0;
    EXPECT_EQ(Call(function_code::kSingleAddressParser, &parse), kResultRefused);

    player->value = 0x2A;
    EXPECT_EQ(Call(function_code::kSingleRead, &gate), kResultDone);
    EXPECT_EQ(gateValue.value, 42);

    gateValue.value = 0x0107;
    EXPECT_EQ(Call(function_code::kSingleWrite, &gate), kResultDone);
    EXPECT_EQ(player->value, 0x07);
    EXPECT_EQ(player->writeRequests, 1u);

    gateValue.value = 0;
    EXPECT_EQ(Call(function_code::kSingleRead, &gate), kResultDone);
    EXPECT_EQ(gateValue.value, 7);
    // Read, write and confirmation, read.
    EXPECT_EQ(device->writes.size(), initFrames + 4);
    EXPECT_EQ(trace.Lines().back(), Trace("RUVAZI> Valeur lue : 7, MemType : 1"));
}

TEST_F(PointsThroughVpiMain, SilentUnitWaitsTheStartedReadTimeOutPerAttempt) {
    ColdStartOnCom1();
    player->answer = [](unsigned, const fake::Bytes&) { return fake::Bytes{}; };
    const std::uint64_t start = fake::NowMs();
    EXPECT_EQ(Call(function_code::kSingleRead, &gate), kResultFailed);
    EXPECT_EQ(fake::NowMs() - start, 4 * kReadTimeoutUnits * 10);
    EXPECT_EQ(player->readRequests, 4u);
}

}  // namespace
