// The fake platform's own subtle behaviour: read deadlines on the virtual
// clock, arrivals in chunks, failure injection and the null device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fake_serial.h"

namespace {

using Strings = std::vector<std::string>;

class FakePlatform : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        device = &fake::AddDevice("COM1");
        handle = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    }

    void SetTotalTimeout(DWORD constantMs, DWORD multiplierMs = 0) {
        COMMTIMEOUTS timeouts{0, multiplierMs, constantMs, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(handle, &timeouts));
    }

    // Reads `count` bytes and returns how many the call delivered.
    DWORD Read(DWORD count) {
        buffer.assign(count, 0);
        DWORD got = 0xDEAD;
        EXPECT_TRUE(ReadFile(handle, buffer.data(), count, &got, nullptr));
        return got;
    }

    fake::Device* device = nullptr;
    HANDLE handle = nullptr;
    std::vector<std::uint8_t> buffer;
};

TEST_F(FakePlatform, ReadReturnsAtOnceWhenTheCountHasArrived) {
    SetTotalTimeout(1000);
    device->QueueIn({1, 2, 3, 4, 5});
    EXPECT_EQ(Read(3), 3u);
    EXPECT_EQ(fake::NowMs(), 0u);
    EXPECT_EQ((fake::Bytes{buffer.begin(), buffer.end()}), (fake::Bytes{1, 2, 3}));
    EXPECT_EQ(device->Pending(), 2u);
}

TEST_F(FakePlatform, ReadEndsWhenTheLastAskedByteArrivesBeforeTheDeadline) {
    SetTotalTimeout(100);
    device->QueueIn({1, 2}, 10);
    device->QueueIn({3, 4}, 30);
    EXPECT_EQ(Read(4), 4u);
    EXPECT_EQ(fake::NowMs(), 30u);
}

TEST_F(FakePlatform, ReadEndsAtTheDeadlineWithWhatArrived) {
    SetTotalTimeout(100);
    device->QueueIn({1, 2}, 10);
    device->QueueIn({3, 4}, 150);
    EXPECT_EQ(Read(4), 2u);
    EXPECT_EQ(fake::NowMs(), 100u);
    // The next read starts its own period at 100 ms.
    EXPECT_EQ(Read(2), 2u);
    EXPECT_EQ(fake::NowMs(), 150u);
    EXPECT_EQ((fake::Bytes{buffer.begin(), buffer.end()}), (fake::Bytes{3, 4}));
}

TEST_F(FakePlatform, SilentReadIsSuccessfulAfterConstantPlusMultiplierPerByte) {
    SetTotalTimeout(100, 10);
    EXPECT_EQ(Read(5), 0u);
    EXPECT_EQ(fake::NowMs(), 150u);
    EXPECT_EQ(fake::Calls().back(), "ReadFile 100 5 -> 0");
}

TEST_F(FakePlatform, ReadWithoutTimeOutsWaitsForTheWholeCount) {
    SetTotalTimeout(0);
    device->QueueIn({1, 2}, 500);
    device->QueueIn({3}, 4000);
    EXPECT_EQ(Read(3), 3u);
    EXPECT_EQ(fake::NowMs(), 4000u);
    EXPECT_EQ(fake::UnboundedReads(), 0u);
}

TEST_F(FakePlatform, ReadWithoutTimeOutsThatCouldNeverEndIsCounted) {
    SetTotalTimeout(0);
    device->QueueIn({1, 2}, 500);
    EXPECT_EQ(Read(3), 2u);
    EXPECT_EQ(fake::UnboundedReads(), 1u);
}

TEST_F(FakePlatform, LaterQueuedBytesWithEarlierArrivalComeFirst) {
    SetTotalTimeout(1000);
    device->QueueIn({3, 4}, 200);
    device->QueueIn({1, 2}, 100);
    EXPECT_EQ(Read(4), 4u);
    EXPECT_EQ((fake::Bytes{buffer.begin(), buffer.end()}), (fake::Bytes{1, 2, 3, 4}));
    EXPECT_EQ(fake::NowMs(), 200u);
}

TEST_F(FakePlatform, ClearCommErrorCountsOnlyBytesArrivedByNow) {
    device->QueueIn({1, 2, 3});
    device->QueueIn({4}, 50);
    COMSTAT status{};
    DWORD errors = 7;
    ASSERT_TRUE(ClearCommError(handle, &errors, &status));
    EXPECT_EQ(status.cbInQue, 3u);
    EXPECT_EQ(errors, 0u);
    Sleep(50);
    ASSERT_TRUE(ClearCommError(handle, &errors, &status));
    EXPECT_EQ(status.cbInQue, 4u);
    EXPECT_EQ(fake::CallsStartingWith("ClearCommError"),
              (Strings{"ClearCommError 100 -> 3", "ClearCommError 100 -> 4"}));
}

TEST_F(FakePlatform, FailureInjectionCountsSuccessfulCallsFirst) {
    fake::Fail(fake::Call::WriteFile, 2, 1);
    const std::uint8_t byte = 0x55;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, &byte, 1, &written, nullptr));
    EXPECT_FALSE(WriteFile(handle, &byte, 1, &written, nullptr));
    EXPECT_FALSE(WriteFile(handle, &byte, 1, &written, nullptr));
    EXPECT_TRUE(WriteFile(handle, &byte, 1, &written, nullptr));
    EXPECT_EQ(fake::CallsStartingWith("WriteFile"),
              (Strings{"WriteFile 100 1 -> 1", "WriteFile 100 1 -> failed",
                       "WriteFile 100 1 -> failed", "WriteFile 100 1 -> 1"}));
    EXPECT_EQ(device->writes.size(), 2u);
}

TEST_F(FakePlatform, ShortWriteDeliversOnlyTheTakenBytes) {
    fake::ShortWrite(2);
    const std::uint8_t bytes[] = {1, 2, 3};
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, bytes, 3, &written, nullptr));
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(device->written, (fake::Bytes{1, 2}));
    EXPECT_TRUE(WriteFile(handle, bytes, 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
}

TEST_F(FakePlatform, RepliesFollowWritesInOrder) {
    device->ReplyToWrites({{0x10}, {}, {0x30, 0x31}}, 5);
    const std::uint8_t byte = 0;
    DWORD written = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(WriteFile(handle, &byte, 1, &written, nullptr));
        Sleep(10);
    }
    SetTotalTimeout(1);
    EXPECT_EQ(Read(8), 3u);
    EXPECT_EQ((fake::Bytes{buffer.begin(), buffer.begin() + 3}), (fake::Bytes{0x10, 0x30, 0x31}));
}

TEST_F(FakePlatform, OpenIsExclusiveAndHandlesAreNotReused) {
    EXPECT_EQ(CreateFileA("COM1", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("com1", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(handle));
    DCB dcb{};
    EXPECT_FALSE(GetCommState(handle, &dcb));
    EXPECT_FALSE(CloseHandle(handle));
    HANDLE again = CreateFileA("COM1", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(HandleNumber(again), 101u);
    EXPECT_EQ(fake::DeviceOf(again), device);
    EXPECT_EQ(fake::DeviceOf(handle), nullptr);
}

TEST(FakeNullDevice, OpensAlwaysTakesWritesGivesNothingAndHasNoState) {
    fake::Reset();
    HANDLE first = CreateFileA("NUL", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE second = CreateFileA("NUL", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);

    const std::uint8_t bytes[] = {1, 2, 3};
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(first, bytes, 3, &count, nullptr));
    EXPECT_EQ(count, 3u);
    std::uint8_t in[4];
    EXPECT_TRUE(ReadFile(first, in, 4, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(fake::NowMs(), 0u);

    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    COMSTAT status{};
    EXPECT_FALSE(GetCommState(first, &dcb));
    EXPECT_FALSE(SetCommState(first, &dcb));
    EXPECT_FALSE(GetCommTimeouts(first, &timeouts));
    EXPECT_FALSE(SetCommTimeouts(first, &timeouts));
    EXPECT_FALSE(SetupComm(first, 1200, 1200));
    EXPECT_FALSE(ClearCommError(first, nullptr, &status));
    EXPECT_TRUE(CloseHandle(first));
}

TEST(FakeHandles, ZeroAndInvalidHandlesFailEveryCall) {
    fake::Reset();
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        std::uint8_t byte = 0;
        DWORD count = 0;
        DCB dcb{};
        COMMTIMEOUTS timeouts{};
        COMSTAT status{};
        EXPECT_FALSE(ReadFile(bad, &byte, 1, &count, nullptr));
        EXPECT_FALSE(WriteFile(bad, &byte, 1, &count, nullptr));
        EXPECT_FALSE(GetCommState(bad, &dcb));
        EXPECT_FALSE(GetCommTimeouts(bad, &timeouts));
        EXPECT_FALSE(ClearCommError(bad, nullptr, &status));
        EXPECT_FALSE(SetCommBreak(bad));
        EXPECT_FALSE(CloseHandle(bad));
    }
    EXPECT_EQ(fake::Calls().front(), "ReadFile 0 1 -> failed");
}

}  // namespace
