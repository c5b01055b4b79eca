// The serial line library on the POSIX platform, against pseudo-terminals:
// the test plays the unit on the master side.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <termios.h>

#include "serial/com.h"
#include "tests/posix/pty_pair.h"

namespace {

const LineSettings k9600EightNoneOne{9600, 8, 0, 0};

class ComTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        ASSERT_EQ(
            ComOpen(pty.SlavePath().c_str(), k9600EightNoneOne, line_control::kDtrRtsOn, &handle),
            com_status::kDone);
    }
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(ComClose(handle), com_status::kDone);
        }
    }

    DWORD Queued() {
        COMSTAT stat{};
        DWORD errors = 0;
        return ClearCommError(handle, &errors, &stat) ? stat.cbInQue : 0xFFFFFFFFu;
    }
    bool WaitQueued(DWORD count) {
        const Stopwatch watch;
        while (watch.ElapsedMs() < 3000) {
            const DWORD queued = Queued();
            if (queued >= count) {
                return queued == count;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    PtyPair pty;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(ComTest, OpenConfiguresTheLineAndTheTimeouts) {
    const termios settings = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&settings), B9600);
    EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
    EXPECT_NE(settings.c_iflag & INPCK, 0u);  // parity checking on, whatever the parity
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);

    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(handle, &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
}

TEST_F(ComTest, RequestAndReplyRoundTrip) {
    const std::vector<std::uint8_t> request = {0x10, 0x02, 0x05, 0x01, 0x00, 0x03, 0x1B};
    std::uint32_t written = 0;
    ASSERT_EQ(ComWrite(handle, request.data(), 7, &written), com_status::kDone);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(pty.Receive(7, 2000), request);

    const std::vector<std::uint8_t> reply = {0x10, 0x02, 0x05, 0x01, 0x00, 0x03, 0x2A, 0x45};
    ASSERT_TRUE(pty.Send(reply));
    std::uint8_t buffer[8] = {};
    std::uint32_t received = 0;
    ASSERT_EQ(ComRead(handle, buffer, 8, &received), com_status::kDone);
    EXPECT_EQ(received, 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 8), reply);
}

TEST_F(ComTest, ReplyInTwoPiecesAcrossTwoTimeouts) {
    ASSERT_EQ(ComSetReadTimeout(handle, 20), 100u);  // 200 ms per platform read
    const std::vector<std::uint8_t> reply = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(pty.Send({reply.begin(), reply.begin() + 5}));
    std::thread unit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(350));
        pty.Send({reply.begin() + 5, reply.end()});
    });
    std::uint8_t buffer[8] = {};
    std::uint32_t received = 0;
    const Stopwatch watch;
    const std::uint32_t status = ComRead(handle, buffer, 8, &received);
    const long long elapsed = watch.ElapsedMs();
    unit.join();
    EXPECT_EQ(status, com_status::kDone);
    EXPECT_EQ(received, 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 8), reply);
    EXPECT_GE(elapsed, 350 - kEarlyToleranceMs);
}

struct SilenceCase {
    std::size_t sent;  // bytes the unit sends before falling silent
};

TEST_F(ComTest, SilentLineEndsTheReadAfterOneTimeout) {
    ASSERT_EQ(ComSetReadTimeout(handle, 30), 100u);
    for (const SilenceCase c : {SilenceCase{0}, SilenceCase{5}}) {
        SCOPED_TRACE(c.sent);
        if (c.sent != 0) {
            ASSERT_TRUE(pty.Send(std::vector<std::uint8_t>(c.sent, 0x55)));
            ASSERT_TRUE(WaitQueued(static_cast<DWORD>(c.sent)));
        }
        std::uint8_t buffer[8] = {};
        std::uint32_t received = 99;
        const Stopwatch watch;
        EXPECT_EQ(ComRead(handle, buffer, 8, &received), com_status::kIoFailed);
        const long long elapsed = watch.ElapsedMs();
        EXPECT_EQ(received, c.sent);
        // The bytes that came end the first read only at its time-out; the
        // second read then waits one more.
        const long long expected = c.sent != 0 ? 600 : 300;
        EXPECT_GE(elapsed, expected - kEarlyToleranceMs);
        EXPECT_LE(elapsed, expected + kLateToleranceMs);
    }
}

TEST_F(ComTest, HeldPortIsRefusedHereAndToAnotherProcess) {
    HANDLE second = nullptr;
    EXPECT_EQ(ComOpen(pty.SlavePath().c_str(), k9600EightNoneOne, 0, &second),
              com_status::kCannotOpen);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenFromChildProcess(pty.SlavePath(), true), 0) << "child opened a held port";

    ASSERT_EQ(ComClose(handle), com_status::kDone);
    handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(OpenFromChildProcess(pty.SlavePath(), true), 1) << "child refused a free port";
    ASSERT_EQ(ComOpen(pty.SlavePath().c_str(), k9600EightNoneOne, 0, &handle), com_status::kDone);
}

TEST_F(ComTest, RefusedSettingsLeaveThePortFree) {
    ASSERT_EQ(ComClose(handle), com_status::kDone);
    handle = INVALID_HANDLE_VALUE;
    const LineSettings refused[] = {
        {12345, 8, 0, 0},  // no such speed
        {9600, 9, 0, 0},   // no such byte size
        {9600, 8, 0, 7},   // no such parity
        {9600, 8, 1, 0},   // one and a half stop bits need 5 data bits
    };
    for (const LineSettings& settings : refused) {
        SCOPED_TRACE(testing::Message() << settings.baudRate << " " << settings.dataBits << " "
                                        << settings.stopBits << " " << settings.parity);
        HANDLE attempt = nullptr;
        EXPECT_EQ(ComOpen(pty.SlavePath().c_str(), settings, 0, &attempt),
                  com_status::kSettingsRefused);
        EXPECT_NE(attempt, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ComClose(attempt), com_status::kIoFailed);  // already closed again
    }
    ASSERT_EQ(ComOpen(pty.SlavePath().c_str(), k9600EightNoneOne, 0, &handle), com_status::kDone);
}

TEST_F(ComTest, MissingDeviceIsRefused) {
    HANDLE missing = nullptr;
    EXPECT_EQ(ComOpen("/dev/no-such-serial-device", k9600EightNoneOne, 0, &missing),
              com_status::kCannotOpen);
    EXPECT_EQ(missing, INVALID_HANDLE_VALUE);
}

TEST_F(ComTest, PurgeDrainsEveryQueuedByteAndRestoresTheTimeout) {
    ASSERT_EQ(ComPurge(handle), 0u);  // nothing queued
    ASSERT_TRUE(pty.Send(std::vector<std::uint8_t>(1500, 0xA5)));
    ASSERT_TRUE(WaitQueued(1500));
    EXPECT_EQ(ComPurge(handle), 0u);
    EXPECT_EQ(Queued(), 0u);
    EXPECT_EQ(ComSetReadTimeout(handle, 100), 100u);  // 1000 ms again after the drain

    // What comes after the drain is read as usual.
    ASSERT_TRUE(pty.Send({9, 8, 7}));
    std::uint8_t buffer[3] = {};
    std::uint32_t received = 0;
    EXPECT_EQ(ComRead(handle, buffer, 3, &received), com_status::kDone);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 3), (std::vector<std::uint8_t>{9, 8, 7}));
}

TEST_F(ComTest, ClosedPortRefusesEverything) {
    HANDLE closed = handle;
    ASSERT_EQ(ComClose(handle), com_status::kDone);
    handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(ComClose(closed), com_status::kIoFailed);
    const std::uint8_t byte = 0;
    std::uint32_t written = 42;
    EXPECT_EQ(ComWrite(closed, &byte, 1, &written), com_status::kIoFailed);
    EXPECT_EQ(written, 42u);
    std::uint8_t buffer[1];
    EXPECT_EQ(ComRead(closed, buffer, 1, nullptr), com_status::kIoFailed);
    EXPECT_EQ(ComSetReadTimeout(closed, 10), 0u);
    EXPECT_EQ(ComPurge(closed), 1u);
    EXPECT_EQ(ComWrite(nullptr, &byte, 1, &written), com_status::kIoFailed);
}

TEST_F(ComTest, BreakHoldsTheLineForItsDuration) {
    const Stopwatch watch;
    EXPECT_EQ(ComBreak(100, handle), 0u);
    EXPECT_GE(watch.ElapsedMs(), 100 - kEarlyToleranceMs);
    std::uint32_t written = 0;
    const std::uint8_t byte = 0x42;
    EXPECT_EQ(ComWrite(handle, &byte, 1, &written), com_status::kDone);
    EXPECT_EQ(pty.Receive(1, 1000), (std::vector<std::uint8_t>{0x42}));
}

TEST(ComNul, NulOpensWithoutConfigurationAndSwallowsWrites) {
    HANDLE handle = nullptr;
    ASSERT_EQ(ComOpen("NUL", k9600EightNoneOne, line_control::kDtrRtsOn, &handle),
              com_status::kDone);
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(handle, &timeouts));
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);  // step 5 was skipped
    const std::uint8_t bytes[3] = {1, 2, 3};
    std::uint32_t written = 0;
    EXPECT_EQ(ComWrite(handle, bytes, 3, &written), com_status::kDone);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(ComClose(handle), com_status::kDone);
}

}  // namespace
