#include <gtest/gtest.h>

#include <vector>

#include "tests/serial/com_fixture.h"

namespace {

// --- ComSetReadTimeout -------------------------------------------------------

struct TimeoutCase {
    const char* name;
    DWORD previousMs;      // the port's read time-out before the call
    std::uint32_t units;   // asked
    bool getFails;         // GetCommTimeouts refused
    bool setFails;         // SetCommTimeouts refused
    std::uint32_t result;  // returned
    DWORD afterMs;         // the port's read time-out after the call
    bool writes;           // SetCommTimeouts was called
};

class SetReadTimeoutTest : public ComPort, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(SetReadTimeoutTest, ReturnsThePreviousUnitsAndWritesOnlyAChange) {
    const TimeoutCase& c = GetParam();
    Open();
    // The other four time-outs must come back as read.
    device->timeouts = COMMTIMEOUTS{7, 3, c.previousMs, 11, 13};
    if (c.getFails) {
        fake::Fail(fake::Call::GetCommTimeouts);
    }
    if (c.setFails) {
        fake::Fail(fake::Call::SetCommTimeouts);
    }
    const unsigned setsBefore = device->setCommTimeoutsCalls;

    EXPECT_EQ(ComSetReadTimeout(handle, c.units), c.result);
    EXPECT_EQ(device->timeouts.ReadTotalTimeoutConstant, c.afterMs);
    EXPECT_EQ(device->setCommTimeoutsCalls - setsBefore, c.writes && !c.setFails ? 1u : 0u);
    EXPECT_EQ(fake::CallsStartingWith("SetCommTimeouts").size(),
              1u + (c.writes ? 1u : 0u));  // the open's own, and ours
    EXPECT_EQ(device->timeouts.ReadIntervalTimeout, 7u);
    EXPECT_EQ(device->timeouts.ReadTotalTimeoutMultiplier, 3u);
    EXPECT_EQ(device->timeouts.WriteTotalTimeoutMultiplier, 11u);
    EXPECT_EQ(device->timeouts.WriteTotalTimeoutConstant, 13u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetReadTimeoutTest,
    ::testing::Values(
        TimeoutCase{"SameAsOpenWritesNothing", 1000, 100, false, false, 100, 1000, false},
        TimeoutCase{"ThirtyUnitsIs300Ms", 1000, 30, false, false, 100, 300, true},
        TimeoutCase{"PreviousTruncatedToUnits", 1005, 100, false, false, 100, 1000, true},
        TimeoutCase{"PreviousBelowTenMsGivesZero", 5, 30, false, false, 0, 300, true},
        TimeoutCase{"ZeroUnitsIsNoTimeOut", 1000, 0, false, false, 100, 0, true},
        // The product is 32-bit: 429496730 * 10 wraps to 4.
        TimeoutCase{"ProductWraps", 1000, 429496730u, false, false, 100, 4, true},
        TimeoutCase{"ReadRefusedChangesNothing", 1000, 30, true, false, 0, 1000, false},
        TimeoutCase{"WriteRefusedKeepsThePrevious", 1000, 30, false, true, 0, 1000, true}),
    [](const ::testing::TestParamInfo<TimeoutCase>& param) { return param.param.name; });

TEST_F(ComPort, SetReadTimeoutOnAHandleThatIsNoPortGivesZero) {
    EXPECT_EQ(ComSetReadTimeout(nullptr, 30), 0u);
    EXPECT_EQ(ComSetReadTimeout(INVALID_HANDLE_VALUE, 30), 0u);
}

// --- ComPurge ----------------------------------------------------------------

class PurgeTest : public ComPort {
  protected:
    void QueueBytes(std::size_t count) { device->QueueIn(fake::Bytes(count, 0x5A)); }
};

TEST_F(PurgeTest, NothingQueuedReadsNothingAndKeepsTheTimeOut) {
    Open();
    EXPECT_EQ(ComPurge(handle), 0u);
    EXPECT_EQ(CallsSinceOpen(), (Strings{"ClearCommError 100 -> 0"}));
    EXPECT_EQ(fake::NowMs(), 0u);
}

TEST_F(PurgeTest, DrainsInReadsOf512AndRestoresTheTimeOut) {
    Open();
    QueueBytes(1500);
    EXPECT_EQ(ComPurge(handle), 0u);
    EXPECT_EQ(CallsSinceOpen(),
              (Strings{"ClearCommError 100 -> 1500", "GetCommTimeouts 100",
                       "SetCommTimeouts 100 0 0 50 0 0", "ReadFile 100 512 -> 512",
                       "ReadFile 100 512 -> 512", "ReadFile 100 512 -> 476", "GetCommTimeouts 100",
                       "SetCommTimeouts 100 0 0 1000 0 0"}));
    // The two full reads return at once, the short one at its time-out.
    EXPECT_EQ(fake::NowMs(), 50u);
    EXPECT_EQ(device->Pending(), 0u);
    EXPECT_EQ(device->timeouts.ReadTotalTimeoutConstant, 1000u);
}

TEST_F(PurgeTest, ExactlyTwoFullReadsNeedAThirdThatWaitsAndGetsNothing) {
    Open();
    QueueBytes(1024);
    EXPECT_EQ(ComPurge(handle), 0u);
    EXPECT_EQ(
        fake::CallsStartingWith("ReadFile"),
        (Strings{"ReadFile 100 512 -> 512", "ReadFile 100 512 -> 512", "ReadFile 100 512 -> 0"}));
    EXPECT_EQ(fake::NowMs(), 50u);
    EXPECT_EQ(device->timeouts.ReadTotalTimeoutConstant, 1000u);
}

TEST_F(PurgeTest, TimeOutBelowTenMsOrOffStaysAtFiftyAfterADrain) {
    Open();
    for (DWORD previousMs : {DWORD{0}, DWORD{5}, DWORD{9}}) {
        device->timeouts.ReadTotalTimeoutConstant = previousMs;
        QueueBytes(3);
        EXPECT_EQ(ComPurge(handle), 0u) << previousMs;
        EXPECT_EQ(device->timeouts.ReadTotalTimeoutConstant, 50u) << previousMs;
        EXPECT_EQ(device->Pending(), 0u);
    }
    EXPECT_EQ(fake::UnboundedReads(), 0u);
}

TEST_F(PurgeTest, FailedClearIsAnsweredByADrain) {
    Open();
    fake::Fail(fake::Call::ClearCommError);
    EXPECT_EQ(ComPurge(handle), 0u);
    EXPECT_EQ(CallsSinceOpen(),
              (Strings{"ClearCommError 100 -> failed", "GetCommTimeouts 100",
                       "SetCommTimeouts 100 0 0 50 0 0", "ReadFile 100 512 -> 0",
                       "GetCommTimeouts 100", "SetCommTimeouts 100 0 0 1000 0 0"}));
}

TEST_F(PurgeTest, FailedDrainReadEndsTheDrainWithOne) {
    Open();
    QueueBytes(1500);
    fake::Fail(fake::Call::ReadFile, 1, 1);
    EXPECT_EQ(ComPurge(handle), 1u);
    EXPECT_EQ(fake::CallsStartingWith("ReadFile"),
              (Strings{"ReadFile 100 512 -> 512", "ReadFile 100 512 -> failed"}));
    EXPECT_EQ(device->timeouts.ReadTotalTimeoutConstant, 1000u);
}

TEST_F(PurgeTest, HandleThatIsNoPortDrainsNothingAndGivesOne) {
    EXPECT_EQ(ComPurge(nullptr), 1u);
    EXPECT_EQ(fake::Calls(), (Strings{"ClearCommError 0 -> failed", "GetCommTimeouts 0 -> failed",
                                      "ReadFile 0 512 -> failed"}));
    Open();
    ASSERT_EQ(ComClose(handle), 0u);
    EXPECT_EQ(ComPurge(handle), 1u);
}

// --- ComRead -----------------------------------------------------------------

struct Arrival {
    std::uint64_t delayMs;
    fake::Bytes bytes;
};

struct ReadCase {
    const char* name;
    std::vector<Arrival> arrivals;
    std::uint32_t count;
    bool countPlace;  // a place for the received count is given
    std::uint32_t status;
    std::uint32_t received;
    Strings reads;
    std::uint64_t elapsedMs;
};

class ReadTest : public ComPort, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, ReadsTheRemainderUntilCountOrSilence) {
    const ReadCase& c = GetParam();
    Open();
    fake::Bytes expected;
    for (const Arrival& arrival : c.arrivals) {
        device->QueueIn(arrival.bytes, arrival.delayMs);
        expected.insert(expected.end(), arrival.bytes.begin(), arrival.bytes.end());
    }
    std::vector<std::uint8_t> buffer(16, 0xEE);
    std::uint32_t received = kUntouched;
    EXPECT_EQ(ComRead(handle, buffer.data(), c.count, c.countPlace ? &received : nullptr),
              c.status);
    if (c.countPlace) {
        EXPECT_EQ(received, c.received);
    }
    EXPECT_EQ(fake::CallsStartingWith("ReadFile"), c.reads);
    EXPECT_EQ(fake::NowMs(), c.elapsedMs);
    EXPECT_EQ(fake::Bytes(buffer.begin(), buffer.begin() + c.received),
              fake::Bytes(expected.begin(), expected.begin() + c.received));
    EXPECT_EQ(buffer[c.received], 0xEE);
}

const fake::Bytes kReply{0x01, 0x03, 0x00, 0x10, 0x01, 0x02, 0x7F, 0x96};
const fake::Bytes kHead(kReply.begin(), kReply.begin() + 5);
const fake::Bytes kTail(kReply.begin() + 5, kReply.end());

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadTest,
    ::testing::Values(
        ReadCase{"OnePiece", {{20, kReply}}, 8, true, 0, 8, {"ReadFile 100 8 -> 8"}, 20},
        ReadCase{
            "OnePieceNoCountPlace", {{20, kReply}}, 8, false, 0, 8, {"ReadFile 100 8 -> 8"}, 20},
        // The first read waits out its time-out with 5; the second gets 3.
        ReadCase{"TwoPieces",
                 {{0, kHead}, {1500, kTail}},
                 8,
                 true,
                 0,
                 8,
                 {"ReadFile 100 8 -> 5", "ReadFile 100 3 -> 3"},
                 1500},
        ReadCase{"FiveThenSilence",
                 {{0, kHead}},
                 8,
                 true,
                 7,
                 5,
                 {"ReadFile 100 8 -> 5", "ReadFile 100 3 -> 0"},
                 2000},
        ReadCase{"Silence", {}, 8, true, 7, 0, {"ReadFile 100 8 -> 0"}, 1000},
        ReadCase{"SilenceNoCountPlace", {}, 8, false, 7, 0, {"ReadFile 100 8 -> 0"}, 1000},
        // The first read is always made; asking for nothing delivers nothing.
        ReadCase{"CountZero", {{0, kReply}}, 0, true, 7, 0, {"ReadFile 100 0 -> 0"}, 0}),
    [](const ::testing::TestParamInfo<ReadCase>& param) { return param.param.name; });

TEST_F(ComPort, ReadFailureReportsWhatEarlierReadsDelivered) {
    Open();
    device->QueueIn(kHead);
    fake::Fail(fake::Call::ReadFile, 1, 1);
    std::uint8_t buffer[8];
    std::uint32_t received = kUntouched;
    EXPECT_EQ(ComRead(handle, buffer, 8, &received), com_status::kIoFailed);
    EXPECT_EQ(received, 5u);

    received = kUntouched;
    EXPECT_EQ(ComRead(nullptr, buffer, 8, &received), com_status::kIoFailed);
    EXPECT_EQ(received, 0u);
}

// --- ComWrite ----------------------------------------------------------------

TEST_F(ComPort, WriteReportsTheCountTaken) {
    Open();
    const std::uint8_t frame[] = {0x01, 0x03, 0x00, 0x10, 0x00, 0x01, 0x85};
    std::uint32_t written = kUntouched;
    EXPECT_EQ(ComWrite(handle, frame, 7, &written), com_status::kDone);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(device->written, fake::Bytes(frame, frame + 7));
    EXPECT_EQ(CallsSinceOpen(), (Strings{"WriteFile 100 7 -> 7"}));

    EXPECT_EQ(ComWrite(handle, frame, 7, nullptr), com_status::kDone);
    EXPECT_EQ(device->writes.size(), 2u);
}

TEST_F(ComPort, ShortWriteGivesTwoWithTheCount) {
    Open();
    const std::uint8_t frame[7] = {};
    std::uint32_t written = kUntouched;
    fake::ShortWrite(4);
    EXPECT_EQ(ComWrite(handle, frame, 7, &written), com_status::kShortWrite);
    EXPECT_EQ(written, 4u);
    fake::ShortWrite(0);
    EXPECT_EQ(ComWrite(handle, frame, 7, nullptr), com_status::kShortWrite);
}

TEST_F(ComPort, FailedWriteGivesSevenAndLeavesTheCount) {
    const std::uint8_t frame[7] = {};
    std::uint32_t written = kUntouched;
    EXPECT_EQ(ComWrite(nullptr, frame, 7, &written), com_status::kIoFailed);
    EXPECT_EQ(written, kUntouched);
    Open();
    fake::Fail(fake::Call::WriteFile);
    EXPECT_EQ(ComWrite(handle, frame, 7, &written), com_status::kIoFailed);
    EXPECT_EQ(written, kUntouched);
    EXPECT_TRUE(device->written.empty());
}

// --- ComBreak, ComPause ------------------------------------------------------

TEST_F(ComPort, BreakIsSetHeldForTheDurationAndCleared) {
    Open();
    // The duration comes first.
    EXPECT_EQ(ComBreak(250, handle), 0u);
    EXPECT_EQ(CallsSinceOpen(), (Strings{"SetCommBreak 100", "Sleep 250", "ClearCommBreak 100"}));
    EXPECT_EQ(fake::NowMs(), 250u);
    EXPECT_FALSE(device->breakOn);
}

TEST_F(ComPort, BreakOnAHandleThatIsNoPortStillWaitsAndGivesZero) {
    EXPECT_EQ(ComBreak(40, nullptr), 0u);
    EXPECT_EQ(fake::NowMs(), 40u);
}

TEST_F(ComPort, PauseWaitsTheDuration) {
    EXPECT_EQ(ComPause(300), 0u);
    EXPECT_EQ(ComPause(0), 0u);
    EXPECT_EQ(fake::Calls(), (Strings{"Sleep 300", "Sleep 0"}));
    EXPECT_EQ(fake::NowMs(), 300u);
}

}  // namespace
