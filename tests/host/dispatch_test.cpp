#include <gtest/gtest.h>

#include <cstring>

#include "host/records.h"
#include "host/vpi_main.h"
#include "testing/trace_recorder.h"

namespace {

constexpr std::uint8_t kMarker = 0xA5;

class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        vpiEnded = 0;
        std::memset(&channel, kMarker, sizeof channel);
        std::memset(record, kMarker, sizeof record);
    }
    void TearDown() override { vpiEnded = 0; }

    bool Untouched() const {
        ComChannel expected;
        std::memset(&expected, kMarker, sizeof expected);
        std::uint8_t expectedRecord[64];
        std::memset(expectedRecord, kMarker, sizeof expectedRecord);
        return std::memcmp(&channel, &expected, sizeof channel) == 0 &&
               std::memcmp(record, expectedRecord, sizeof record) == 0;
    }

    VpiRequest Request(std::uint32_t code) { return VpiRequest{&channel, code, 0, 0, record}; }

    ComChannel channel{};
    std::uint8_t record[64]{};
    TraceRecorder trace;
};

TEST_F(Dispatch, CodesWithoutOperationAnswerTwoSilently) {
    for (std::uint32_t code : {0u, 4u, 6u, 8u, 9u, 10u, 16u, 17u, 0xFFFFFFFFu}) {
        VpiRequest request = Request(code);
        EXPECT_EQ(VpiMain(&request), kResultFailed) << "code " << code;
    }
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(Untouched());
}

TEST_F(Dispatch, NullRequestAnswersTwoSilently) {
    EXPECT_EQ(VpiMain(nullptr), kResultFailed);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(Dispatch, OperationResultPassesThroughUnchanged) {
    VpiInfo info{};
    VpiRequest request{&channel, function_code::kGetVpiInfo, 0, 0, &info};
    EXPECT_EQ(VpiMain(&request), kResultDone);
    EXPECT_EQ(info.word0, 70u);
}

TEST_F(Dispatch, AfterEndEveryCodeAnswersZeroWithoutEffectOnAnyChannel) {
    vpiEnded = 1;
    ComChannel other;
    std::memset(&other, kMarker, sizeof other);
    for (std::uint32_t code = 0; code <= 17; ++code) {
        VpiRequest request = Request(code);
        EXPECT_EQ(VpiMain(&request), kResultDone) << "code " << code;
        VpiRequest onOther{&other, code, 0, 0, record};
        EXPECT_EQ(VpiMain(&onOther), kResultDone) << "code " << code;
    }
    VpiRequest highest = Request(0xFFFFFFFFu);
    EXPECT_EQ(VpiMain(&highest), kResultDone);
    EXPECT_EQ(VpiMain(nullptr), kResultDone);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(Untouched());
    ComChannel expectedOther;
    std::memset(&expectedOther, kMarker, sizeof expectedOther);
    EXPECT_EQ(std::memcmp(&other, &expectedOther, sizeof other), 0);
}

}  // namespace
