#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/vpi_main.h"
#include "link/startup.h"
#include "link_fixture.h"
#include "serial/com.h"
#include "testing/fake_serial.h"
#include "testing/trace_recorder.h"

namespace link_test {
namespace {

constexpr LineSettings kOldSettings{1200, 7, 2, 1};
constexpr LineSettings kNewSettings{19200, 8, 0, 2};

class ColdStartTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        SetName(channel.portConfig.portName, "OLD");
        channel.portConfig.lineSettings = kOldSettings;
        channel.portConfig.lineControl = 0;
        channel.portHandle = HandleOf(0x5A5A);  // left by the host, never ours
    }

    StartParams Params(const char* name, std::uint32_t comEnabled = 1,
                       std::uint32_t readTimeout = 25) {
        StartParams params{};
        SetName(params.portName, name);
        params.comEnabled = comEnabled;
        params.readTimeout = readTimeout;
        params.lineSettings = kNewSettings;
        return params;
    }

    std::uint32_t Run(StartParams& params) {
        VpiRequest request = Request(function_code::kColdStart, &params);
        return VpiMain(&request);
    }

    std::string StoredName() const { return channel.portConfig.portName; }
    bool OldConfig() const {
        return StoredName() == "OLD" &&
               std::memcmp(&channel.portConfig.lineSettings, &kOldSettings, 8) == 0;
    }
    bool NewConfig(const char* name) const {
        return StoredName() == name &&
               std::memcmp(&channel.portConfig.lineSettings, &kNewSettings, 8) == 0;
    }
};

TEST_F(ColdStartTest, WhatTheChannelHoldsAfterEachCase) {
    enum class Outcome { PortOff, NoCommunication, OpenFailed, Opened };
    struct Case {
        const char* name;
        std::uint32_t comEnabled;
        Outcome outcome;
    };
    const Case cases[] = {
        {"COM1", 0, Outcome::PortOff},        {"NULLDEV", 1, Outcome::NoCommunication},
        {"NUL", 1, Outcome::NoCommunication}, {"nul", 1, Outcome::OpenFailed},
        {"NULLDEV ", 1, Outcome::OpenFailed}, {"COM9", 1, Outcome::OpenFailed},
        {"COM1", 1, Outcome::Opened},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " comEnabled " + std::to_string(c.comEnabled));
        SetUp();
        trace.Clear();
        AddQuietDevice("COM1");
        StartParams params = Params(c.name, c.comEnabled);
        const std::uint32_t result = Run(params);

        std::vector<TraceLine> expected;
        switch (c.outcome) {
            case Outcome::PortOff:
                for (int i = 0; i < 3; ++i) {
                    Append(expected, FailedInitFrame());
                }
                expected.push_back(Trace("RUVAZI> ColdStart() exited, 0"));
                EXPECT_EQ(result, 0u);
                EXPECT_EQ(channel.portHandle, nullptr);
                EXPECT_TRUE(OldConfig());
                EXPECT_TRUE(fake::CallsStartingWith("CreateFileA").empty());
                break;
            case Outcome::NoCommunication:
                expected.push_back(Trace("RUVAZI> ColdStart() NULLDEV => no communication"));
                for (int i = 0; i < 3; ++i) {
                    Append(expected, FailedInitFrame());
                }
                expected.push_back(Trace("RUVAZI> ColdStart() exited, 0"));
                EXPECT_EQ(result, 0u);
                EXPECT_EQ(channel.portHandle, nullptr);
                EXPECT_TRUE(NewConfig(c.name));
                EXPECT_TRUE(fake::CallsStartingWith("CreateFileA").empty());
                break;
            case Outcome::OpenFailed:
                expected.push_back(TraceLine{32, "RUVAZI> OpenCom() exited with error"});
                expected.push_back(
                    Trace(std::string("RUVAZI> ColdStart() unable to open ") + c.name + " port"));
                EXPECT_EQ(result, 1u);
                EXPECT_EQ(channel.portHandle, nullptr);
                EXPECT_TRUE(OldConfig());
                EXPECT_EQ(
                    fake::CallsStartingWith("CreateFileA"),
                    std::vector<std::string>{std::string("CreateFileA ") + c.name + " -> failed"});
                EXPECT_TRUE(fake::CallsStartingWith("WriteFile").empty());
                EXPECT_EQ(fake::NowMs(), 0u);
                break;
            case Outcome::Opened:
                expected.push_back(Trace("RUVAZI> OpenCom() exited OK, file handle 100"));
                expected.push_back(Trace("RUVAZI> ColdStart() port COM1 opened, file handle 100"));
                for (int i = 0; i < 3; ++i) {
                    Append(expected, SentInitFrame());
                }
                expected.push_back(Trace("RUVAZI> ColdStart() exited, 0"));
                EXPECT_EQ(result, 0u);
                EXPECT_EQ(channel.portHandle, HandleOf(100));
                EXPECT_TRUE(NewConfig("COM1"));
                EXPECT_EQ(fake::FindDevice("COM1")->timeouts.ReadTotalTimeoutConstant, 250u);
                break;
        }
        EXPECT_EQ(trace.Lines(), expected);
        EXPECT_EQ(channel.readTimeout, 25u);
        EXPECT_EQ(channel.clearedWord, 0u);
        EXPECT_EQ(channel.portConfig.lineControl, 0u);
        if (c.outcome != Outcome::OpenFailed) {
            EXPECT_GE(fake::NowMs(), 900u);
            EXPECT_EQ(fake::CallsStartingWith("Sleep"), std::vector<std::string>(3, "Sleep 300"));
            EXPECT_EQ(std::vector<std::uint8_t>(channel.frameBuffer, channel.frameBuffer + 9),
                      kMasterInit);
        }
    }
}

TEST_F(ColdStartTest, OpensWithDtrAndRtsOnAndSetsTheReadTimeoutAfterTheOpen) {
    fake::Device& device = AddQuietDevice("COM1");
    channel.portConfig.lineControl = 0;  // not what a cold start opens with
    StartParams params = Params("COM1");
    ASSERT_EQ(Run(params), 0u);

    EXPECT_EQ(device.dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(device.dcb.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(device.dcb.BaudRate, 19200u);
    EXPECT_EQ(device.dcb.ByteSize, 8u);
    EXPECT_EQ(device.dcb.StopBits, 0u);
    EXPECT_EQ(device.dcb.Parity, 2u);
    EXPECT_EQ(device.timeouts.ReadTotalTimeoutConstant, 250u);

    // Open and configure, then the configured read time-out, then the
    // three frames each followed by its wait.
    const std::vector<std::string> expected = {
        "CreateFileA COM1 -> 100",
        "GetCommState 100",
        "SetCommTimeouts 100 0 0 1000 0 0",
        "SetCommState 100",
        "SetupComm 100 1200 1200",
        "GetCommTimeouts 100",
        "SetCommTimeouts 100 0 0 250 0 0",
        "WriteFile 100 9 -> 9",
        "Sleep 300",
        "WriteFile 100 9 -> 9",
        "Sleep 300",
        "WriteFile 100 9 -> 9",
        "Sleep 300",
    };
    EXPECT_EQ(fake::Calls(), expected);
    EXPECT_EQ(device.writes, std::vector<fake::Bytes>(3, kMasterInit));
    EXPECT_EQ(channel.portConfig.lineControl, 0u);
}

TEST_F(ColdStartTest, SecondFrameFailsAndTheThirdStillFollows) {
    fake::Device& device = fake::AddDevice("COM1");
    fake::Fail(fake::Call::WriteFile, 1, 1);
    StartParams params = Params("COM1");
    EXPECT_EQ(Run(params), 0u);

    std::vector<TraceLine> expected = {
        Trace("RUVAZI> OpenCom() exited OK, file handle 100"),
        Trace("RUVAZI> ColdStart() port COM1 opened, file handle 100")};
    Append(expected, SentInitFrame());
    Append(expected, FailedInitFrame());
    Append(expected, SentInitFrame());
    expected.push_back(Trace("RUVAZI> ColdStart() exited, 0"));
    EXPECT_EQ(trace.Lines(), expected);

    std::vector<std::string> writesAndWaits;
    for (const std::string& call : fake::Calls()) {
        if (call.rfind("WriteFile", 0) == 0 || call.rfind("Sleep", 0) == 0) {
            writesAndWaits.push_back(call);
        }
    }
    EXPECT_EQ(writesAndWaits, (std::vector<std::string>{"WriteFile 100 9 -> 9", "Sleep 300",
                                                        "WriteFile 100 9 -> failed", "Sleep 300",
                                                        "WriteFile 100 9 -> 9", "Sleep 300"}));
    EXPECT_EQ(device.writes.size(), 2u);
    EXPECT_GE(fake::NowMs(), 900u);
}

TEST_F(ColdStartTest, ElevenCharacterNameIsOpenedAndCopiedWhole) {
    fake::AddDevice("ABCDEFGHIJK");
    StartParams params = Params("ABCDEFGHIJK");
    ASSERT_EQ(params.portName[11], '\0');
    EXPECT_EQ(Run(params), 0u);
    EXPECT_EQ(fake::CallsStartingWith("CreateFileA"),
              std::vector<std::string>{"CreateFileA ABCDEFGHIJK -> 100"});
    EXPECT_EQ(trace.Lines().at(1),
              Trace("RUVAZI> ColdStart() port ABCDEFGHIJK opened, file handle 100"));
    EXPECT_EQ(std::memcmp(channel.portConfig.portName, "ABCDEFGHIJK", 12), 0);
}

TEST_F(ColdStartTest, NameWithoutNulInItsFieldIsRefusedAfterTheFirstSteps) {
    StartParams params = Params("");
    std::memcpy(params.portName, "ABCDEFGHIJKL", 12);
    fake::AddDevice("ABCDEFGHIJKL");
    const ComChannel before = channel;

    EXPECT_EQ(Run(params), 1u);
    EXPECT_EQ(trace.Lines(),
              std::vector<TraceLine>{Trace("RUVAZI> ColdStart() port name too long")});
    EXPECT_TRUE(fake::Calls().empty());
    EXPECT_EQ(channel.readTimeout, 25u);
    EXPECT_EQ(channel.portHandle, nullptr);
    EXPECT_EQ(channel.clearedWord, 0u);
    EXPECT_EQ(std::memcmp(&channel.portConfig, &before.portConfig, sizeof before.portConfig), 0);
    EXPECT_EQ(std::memcmp(channel.frameBuffer, before.frameBuffer, kFrameBufferSize), 0);
}

TEST_F(ColdStartTest, NameWithoutNulIsNotLookedAtWhenPortHandlingIsOff) {
    StartParams params = Params("", 0);
    std::memcpy(params.portName, "ABCDEFGHIJKL", 12);
    EXPECT_EQ(Run(params), 0u);
    std::vector<TraceLine> expected;
    for (int i = 0; i < 3; ++i) {
        Append(expected, FailedInitFrame());
    }
    expected.push_back(Trace("RUVAZI> ColdStart() exited, 0"));
    EXPECT_EQ(trace.Lines(), expected);
    EXPECT_TRUE(OldConfig());
}

TEST_F(ColdStartTest, ReadTimeoutZeroIsReplacedOnThePortButKeptInTheChannel) {
    fake::Device& device = fake::AddDevice("COM1");
    StartParams params = Params("COM1", 1, 0);
    EXPECT_EQ(Run(params), 0u);
    ASSERT_GE(trace.Lines().size(), 4u);
    EXPECT_EQ(
        std::vector<TraceLine>(trace.Lines().begin(), trace.Lines().begin() + 4),
        (std::vector<TraceLine>{Trace("RUVAZI> OpenCom() exited OK, file handle 100"),
                                Trace("RUVAZI> ColdStart() port COM1 opened, file handle 100"),
                                Trace("RUVAZI> Read timeout 0 replaced by 100"),
                                Trace("RUVAZI> Trame d'initialisation du mode MAITRE")}));
    EXPECT_EQ(device.timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(channel.readTimeout, 0u);
}

// Left as it is: the handle found in the channel may not be ours, so it is
// cleared without a close, and the device still held cannot be opened again.
TEST_F(ColdStartTest, PortStillOpenIsForgottenNotClosed) {
    fake::AddDevice("COM1");
    StartParams params = Params("COM1");
    ASSERT_EQ(Run(params), 0u);
    trace.Clear();
    EXPECT_EQ(Run(params), 1u);
    EXPECT_TRUE(fake::CallsStartingWith("CloseHandle").empty());
    EXPECT_EQ(channel.portHandle, nullptr);
    EXPECT_EQ(trace.Lines(),
              (std::vector<TraceLine>{TraceLine{32, "RUVAZI> OpenCom() exited with error"},
                                      Trace("RUVAZI> ColdStart() unable to open COM1 port")}));
}

class WarmStartTest : public LinkTest {
  protected:
    std::uint32_t Run() {
        VpiRequest request = Request(function_code::kWarmStart);
        return VpiMain(&request);
    }

    // A port opened the way a cold start leaves it.
    fake::Device& OpenPort() {
        fake::Device& device = fake::AddDevice("COM1");
        EXPECT_EQ(ComOpen("COM1", kNewSettings, 0x0303, &channel.portHandle), com_status::kDone);
        return device;
    }

    // Everything in the channel but its frame area.
    static bool SameBesideFrames(const ComChannel& a, const ComChannel& b) {
        return std::memcmp(&a, &b, offsetof(ComChannel, frameBuffer)) == 0;
    }
};

TEST_F(WarmStartTest, NoPortFailsAtTheFirstFrameWithoutWaiting) {
    const ComChannel before = channel;
    EXPECT_EQ(Run(), 1u);
    EXPECT_EQ(trace.Lines(), FailedInitFrame());
    EXPECT_TRUE(fake::CallsStartingWith("ClearCommError").empty());
    EXPECT_TRUE(fake::CallsStartingWith("Sleep").empty());
    EXPECT_EQ(fake::NowMs(), 0u);
    EXPECT_TRUE(SameBesideFrames(channel, before));
}

TEST_F(WarmStartTest, ThirdFrameFailsAfterTwoWaits) {
    fake::Device& device = OpenPort();
    fake::Fail(fake::Call::WriteFile, 1, 2);
    const std::uint64_t start = fake::NowMs();
    EXPECT_EQ(Run(), 1u);

    std::vector<TraceLine> expected;
    Append(expected, SentInitFrame());
    Append(expected, SentInitFrame());
    Append(expected, FailedInitFrame());
    EXPECT_EQ(trace.Lines(), expected);
    EXPECT_EQ(fake::CallsStartingWith("Sleep"), std::vector<std::string>(2, "Sleep 300"));
    EXPECT_EQ(fake::NowMs() - start, 600u);
    EXPECT_EQ(device.writes.size(), 2u);
}

TEST_F(WarmStartTest, AllSentAfterTheDrain) {
    fake::Device& device = OpenPort();
    device.QueueIn({0x01, 0x02, 0x03});
    const ComChannel before = channel;
    const std::size_t mark = fake::Calls().size();
    EXPECT_EQ(Run(), 0u);

    std::vector<TraceLine> expected;
    for (int i = 0; i < 3; ++i) {
        Append(expected, SentInitFrame());
    }
    expected.push_back(Trace("RUVAZI> WarmStart() exited, 0"));
    EXPECT_EQ(trace.Lines(), expected);

    const std::vector<std::string> calls = CallsSince(mark);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "ClearCommError 100 -> 3");
    EXPECT_EQ(device.Pending(), 0u);
    std::vector<std::string> writesAndWaits;
    for (const std::string& call : calls) {
        if (call.rfind("WriteFile", 0) == 0 || call.rfind("Sleep", 0) == 0) {
            writesAndWaits.push_back(call);
        }
    }
    EXPECT_EQ(writesAndWaits,
              (std::vector<std::string>{"WriteFile 100 9 -> 9", "Sleep 300", "WriteFile 100 9 -> 9",
                                        "Sleep 300", "WriteFile 100 9 -> 9", "Sleep 300"}));
    EXPECT_EQ(device.writes, std::vector<fake::Bytes>(3, kMasterInit));
    EXPECT_TRUE(SameBesideFrames(channel, before));
    // The drain's own read time-out is given back afterwards.
    EXPECT_EQ(device.timeouts.ReadTotalTimeoutConstant, 1000u);
}

TEST(NoCommunicationRule, WholeNameCaseCounting) {
    struct Case {
        const char* name;
        bool none;
    };
    const Case cases[] = {
        {"NULLDEV", true}, {"NUL", true},   {"nul", false}, {"NULLDEV ", false},
        {"NUL:", false},   {"NULL", false}, {"NU", false},  {"", false},
    };
    for (const Case& c : cases) {
        char field[kPortNameSize];
        SetName(field, c.name);
        EXPECT_EQ(IsNoCommunication(field), c.none) << '"' << c.name << '"';
    }
}

TEST(NoCommunicationRule, FieldWithoutNulIsReadNoFurther) {
    // Twelve bytes that begin like "NULLDEV" and run on; what follows the
    // field must not be read.
    char fields[2][kPortNameSize];
    std::memcpy(fields[0], "NULLDEVXXXXX", kPortNameSize);
    std::memset(fields[1], 0, kPortNameSize);
    EXPECT_FALSE(IsNoCommunication(fields[0]));
    EXPECT_FALSE(PortNameFits(fields[0]));
    EXPECT_TRUE(PortNameFits(fields[1]));
}

TEST(StartParamsLayout, HostOffsets) {
    static_assert(sizeof(StartParams) == 28);
    static_assert(offsetof(StartParams, comEnabled) == 0x0C);
    static_assert(offsetof(StartParams, readTimeout) == 0x10);
    static_assert(offsetof(StartParams, lineSettings) == 0x14);
    SUCCEED();
}

}  // namespace
}  // namespace link_test
