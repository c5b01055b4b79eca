#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/frames.h"
#include "link_fixture.h"
#include "serial/com.h"
#include "testing/fake_serial.h"
#include "testing/trace_recorder.h"

namespace link_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Area(const std::uint8_t* area, std::size_t from, std::size_t count) {
    return Bytes(area + from, area + from + count);
}

TEST(FrameChecksum, WorkedExamples) {
    struct Case {
        const char* label;
        Bytes frame;  // checksum byte included
    };
    const Case cases[] = {
        {"master init", {0xFF, 0x08, 0xF1, 0xCB, 0x3E, 0x00, 0x01, 0x00, 0xFD}},
        {"read 1/101/1", {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x01, 0x57}},
        {"write 1/101/1 data 5", {0xFF, 0x07, 0x01, 0x65, 0x3E, 0x01, 0x05, 0x4F}},
        {"read 1/101/89", {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x59, 0xFF}},
    };
    for (const Case& c : cases) {
        const auto last = static_cast<std::uint32_t>(c.frame.size() - 1);
        EXPECT_EQ(FrameChecksum(c.frame.data(), last), c.frame[last]) << c.label;
        // Bytes 1 to last add up to a multiple of 256; the start byte is not counted.
        unsigned sum = 0;
        for (std::size_t i = 1; i <= last; ++i) {
            sum += c.frame[i];
        }
        EXPECT_EQ(sum % 256, 0u) << c.label;
    }
}

TEST(FrameBuild, EachKindWritesItsBytesAndNothingBeyond) {
    struct Case {
        const char* label;
        void (*build)(std::uint8_t*);
        Bytes expected;
    };
    const Case cases[] = {
        {"read request",
         [](std::uint8_t* f) { BuildReadRequest(f, 1, 101, 1); },
         {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x01, 0x57}},
        {"read request, checksum FF",
         [](std::uint8_t* f) { BuildReadRequest(f, 1, 101, 89); },
         {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x59, 0xFF}},
        {"read request, low bytes only",
         [](std::uint8_t* f) { BuildReadRequest(f, 0x101, 0x1065, 0x2201); },
         {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x01, 0x57}},
        {"write request",
         [](std::uint8_t* f) { BuildWriteRequest(f, 1, 101, 1, 0x05); },
         {0xFF, 0x07, 0x01, 0x65, 0x3E, 0x01, 0x05, 0x4F}},
        {"master init", [](std::uint8_t* f) { BuildMasterInit(f); }, kMasterInit},
    };
    for (const Case& c : cases) {
        std::uint8_t area[kFrameBufferSize];
        std::memset(area, kMarker, sizeof area);
        c.build(area);
        EXPECT_EQ(Area(area, 0, c.expected.size()), c.expected) << c.label;
        for (std::size_t i = c.expected.size(); i < kFrameBufferSize; ++i) {
            EXPECT_EQ(area[i], kMarker) << c.label << ": byte " << i;
        }
    }
}

class Exchange : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        device = &fake::AddDevice("COM1");
        ASSERT_EQ(ComOpen("COM1", LineSettings{9600, 8, 0, 0}, 0x0303, &handle), com_status::kDone);
        trace.Clear();
    }

    std::uint8_t* Reply() { return channel.frameBuffer + kReplyOffset; }

    fake::Device* device = nullptr;
    HANDLE handle = nullptr;
};

// After a request and a silent line, the reply area holds the request's own
// bytes; the header check reports them as received.
TEST_F(Exchange, SilenceAfterReadRequestFailsOnTheRequestsOwnBytes) {
    struct Case {
        std::uint32_t equipment;
        TraceLine expected;
    };
    const Case cases[] = {
        {1, Trace("RUVAZI> Mauvais caractere de debut de trame, a: ff, r: 57")},
        {89, Trace("RUVAZI> Mauvais code de retour, a: OxO7, r: 0")},
    };
    for (const Case& c : cases) {
        trace.Clear();
        BuildReadRequest(channel.frameBuffer, 1, 101, c.equipment);
        channel.frameBuffer[7] = 0;  // as the single read clears it
        ASSERT_EQ(Send(channel.frameBuffer, frame::kReadRequestLast, handle), 0u);
        std::uint32_t count = frame::kReplyLast;
        EXPECT_EQ(Receive(Reply(), &count, handle), 2u);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(CheckReplyHeader(Reply()), 2u);
        EXPECT_EQ(trace.Lines(), std::vector<TraceLine>{c.expected}) << c.equipment;
    }
}

TEST_F(Exchange, RequestsOverlapTheReplyArea) {
    std::memset(channel.frameBuffer, kMarker, kFrameBufferSize);
    BuildWriteRequest(channel.frameBuffer, 1, 101, 1, 0x05);
    EXPECT_EQ(Area(Reply(), 0, 2), (Bytes{0x05, 0x4F}));
    // The confirmation read request leaves the write request's checksum in
    // reply byte 1.
    BuildReadRequest(channel.frameBuffer, 1, 101, 1);
    EXPECT_EQ(Area(Reply(), 0, 3), (Bytes{0x57, 0x4F, kMarker}));
    BuildMasterInit(channel.frameBuffer);
    EXPECT_EQ(Area(Reply(), 0, 3), (Bytes{0x01, 0x00, 0xFD}));
    // Reply bytes 3 to 7 are written only by received replies.
    EXPECT_EQ(Area(Reply(), 3, 5), Bytes(5, kMarker));
}

TEST_F(Exchange, SendWritesTheWholeFrame) {
    BuildReadRequest(channel.frameBuffer, 1, 101, 1);
    EXPECT_EQ(Send(channel.frameBuffer, frame::kReadRequestLast, handle), 0u);
    EXPECT_EQ(device->writes, std::vector<Bytes>{Area(channel.frameBuffer, 0, 7)});
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(Exchange, SendFailuresLogWrittenAndExpectedCounts) {
    BuildReadRequest(channel.frameBuffer, 1, 101, 1);
    const Bytes before = Area(channel.frameBuffer, 0, kFrameBufferSize);

    // No port: the platform's write fails and the count stays the last index.
    EXPECT_EQ(Send(channel.frameBuffer, frame::kReadRequestLast, nullptr), 2u);
    // A write that takes fewer bytes reports how many it took.
    fake::ShortWrite(4);
    EXPECT_EQ(Send(channel.frameBuffer, frame::kReadRequestLast, handle), 2u);
    // A write that fails on an open port.
    fake::Fail(fake::Call::WriteFile);
    EXPECT_EQ(Send(channel.frameBuffer, frame::kMasterInitLast, handle), 2u);

    EXPECT_EQ(trace.Lines(),
              (std::vector<TraceLine>{
                  Trace("RUVAZI> Send() error: unable to send to com port, 6 pour 7"),
                  Trace("RUVAZI> Send() error: unable to send to com port, 4 pour 7"),
                  Trace("RUVAZI> Send() error: unable to send to com port, 8 pour 9")}));
    EXPECT_EQ(Area(channel.frameBuffer, 0, kFrameBufferSize), before);
}

TEST_F(Exchange, ReceiveCounts) {
    struct Case {
        std::size_t arriving;
        std::uint32_t result;
        std::uint32_t count;
    };
    const Case cases[] = {{8, 0, 7}, {7, 2, 7}, {5, 2, 5}, {0, 2, 0}};
    const Bytes reply = {0xFF, 0x07, 0xF0, 0x65, 0x3C, 0x01, 0x2A, 0x33};
    for (const Case& c : cases) {
        std::memset(channel.frameBuffer, kMarker, kFrameBufferSize);
        device->QueueIn(Bytes(reply.begin(), reply.begin() + static_cast<long>(c.arriving)));
        std::uint32_t count = frame::kReplyLast;
        EXPECT_EQ(Receive(Reply(), &count, handle), c.result) << c.arriving;
        EXPECT_EQ(count, c.count) << c.arriving;
        // The bytes that came land from reply byte 0 on; the rest is older.
        Bytes expected(reply.begin(), reply.begin() + static_cast<long>(c.arriving));
        expected.resize(8, kMarker);
        EXPECT_EQ(Area(Reply(), 0, 8), expected) << c.arriving;
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST(ReplyHeader, ChecksBytesZeroToTwoInOrder) {
    struct Case {
        Bytes reply;
        std::uint32_t result;
        std::vector<TraceLine> lines;
    };
    const Case cases[] = {
        // A wrong checksum and any byte 4 pass: neither is examined.
        {{0xFF, 0x07, 0xF0, 0x65, 0x99, 0x01, 0x05, 0x00}, 0, {}},
        {{0x57, 0x06, 0xF1, 0x65, 0x3C, 0x01, 0x05, 0x00},
         2,
         {Trace("RUVAZI> Mauvais caractere de debut de trame, a: ff, r: 57")}},
        {{0xFF, 0x06, 0xF1, 0x65, 0x3C, 0x01, 0x05, 0x00},
         2,
         {Trace("RUVAZI> Mauvais code de retour, a: OxO7, r: 6")}},
        {{0xFF, 0x07, 0xF1, 0x65, 0x3C, 0x01, 0x05, 0x00},
         2,
         {Trace("RUVAZI> Mauvais code de retour, a: OxF0, r: f1")}},
    };
    for (const Case& c : cases) {
        TraceRecorder trace;
        EXPECT_EQ(CheckReplyHeader(c.reply.data()), c.result);
        EXPECT_EQ(trace.Lines(), c.lines);
    }
}

}  // namespace
}  // namespace link_test
