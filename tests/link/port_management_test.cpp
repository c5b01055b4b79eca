#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/vpi_main.h"
#include "link/port_management.h"
#include "link/startup.h"
#include "link_fixture.h"
#include "serial/com.h"
#include "testing/fake_serial.h"
#include "testing/trace_recorder.h"

namespace link_test {
namespace {

constexpr LineSettings kStoredSettings{9600, 8, 0, 0};
constexpr LineSettings kNewSettings{19200, 7, 2, 1};

const TraceLine kCloseOk = Trace("RUVAZI> CloseCom() exited 0");
const TraceLine kCloseFailed = Trace("RUVAZI> CloseCom() exited 2");
const TraceLine kOpenFailed{32, "RUVAZI> OpenCom() exited with error"};
const TraceLine kReopenOk = Trace("ReOpenCom() exited 0");
const TraceLine kReopenFailed{32, "RUVAZI> ReOpenCom() exited 2"};
const TraceLine kReopenNone = Trace("RUVAZI> ReOpenCom() NULLDEV => no communications");
const TraceLine kChangeFailed = Trace("RUVAZI> ChangeVpiParams() exited 2");
const TraceLine kChangeNone = Trace("RUVAZI> ChangeVpiParams() NULLDEV => no communications");
const TraceLine kTimeoutReplaced = Trace("RUVAZI> Read timeout 0 replaced by 100");

TraceLine OpenOk(std::uint32_t handle) {
    return Trace("RUVAZI> OpenCom() exited OK, file handle " + std::to_string(handle));
}

// A channel as a cold start on COM1 leaves it: name, settings, a read
// time-out of 200 ms and the host's lineControl.
class PortManagement : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        com1 = &AddQuietDevice("COM1");
        com2 = &AddQuietDevice("COM2");
        SetName(channel.portConfig.portName, "COM1");
        channel.portConfig.lineSettings = kStoredSettings;
        channel.portConfig.lineControl = 0x0303;
        channel.readTimeout = 20;
    }

    // Opens COM1 into the channel, as the cold start does, and forgets the
    // trace of it.
    void OpenPort() {
        ASSERT_EQ(ComOpen("COM1", kStoredSettings, 0x0303, &channel.portHandle), com_status::kDone);
        ASSERT_EQ(channel.portHandle, HandleOf(100));
        trace.Clear();
    }

    std::uint32_t Call(std::uint32_t code, void* data = nullptr) {
        VpiRequest request = Request(code, data);
        return VpiMain(&request);
    }
    std::uint32_t CloseIt() { return Call(function_code::kCloseCom); }
    std::uint32_t Reopen() { return Call(function_code::kReOpenCom); }
    std::uint32_t End() { return Call(function_code::kEndVpi); }
    std::uint32_t Change(VpiParams& params) {
        return Call(function_code::kChangeVpiParams, &params);
    }

    static VpiParams Params(const char* name, std::uint32_t readTimeout = 30,
                            LineSettings settings = kNewSettings) {
        VpiParams params{};
        SetName(params.portName, name);
        params.readTimeout = readTimeout;
        params.lineSettings = settings;
        return params;
    }

    std::string StoredName() const { return channel.portConfig.portName; }
    bool StoredSettingsAre(const LineSettings& settings) const {
        return std::memcmp(&channel.portConfig.lineSettings, &settings, sizeof settings) == 0;
    }

    fake::Device* com1 = nullptr;
    fake::Device* com2 = nullptr;
};

// --- CloseCom and EndVpi ---

TEST_F(PortManagement, CloseWithNoPortDoesNotCallTheClose) {
    EXPECT_EQ(CloseIt(), 0u);
    EXPECT_EQ(trace.Lines(), std::vector<TraceLine>{kCloseOk});
    EXPECT_TRUE(fake::CallsStartingWith("CloseHandle").empty());
}

TEST_F(PortManagement, CloseTwiceClosesOnceAndKeepsTheConfiguration) {
    OpenPort();
    EXPECT_EQ(CloseIt(), 0u);
    EXPECT_EQ(channel.portHandle, nullptr);
    EXPECT_FALSE(com1->open);
    EXPECT_EQ(CloseIt(), 0u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kCloseOk, kCloseOk}));
    EXPECT_EQ(fake::CallsStartingWith("CloseHandle"), std::vector<std::string>{"CloseHandle 100"});
    EXPECT_EQ(StoredName(), "COM1");
    EXPECT_TRUE(StoredSettingsAre(kStoredSettings));
    EXPECT_EQ(channel.readTimeout, 20u);
}

TEST_F(PortManagement, FailedCloseKeepsTheHandleForAnotherTry) {
    OpenPort();
    fake::Fail(fake::Call::CloseHandle);
    const ComChannel before = channel;
    EXPECT_EQ(CloseIt(), 2u);
    EXPECT_EQ(trace.Lines(), std::vector<TraceLine>{kCloseFailed});
    EXPECT_EQ(std::memcmp(&channel, &before, sizeof channel), 0);
    EXPECT_TRUE(com1->open);
    EXPECT_EQ(CloseIt(), 0u);
    EXPECT_FALSE(com1->open);
}

TEST_F(PortManagement, EndVpiEndsTheModuleWhateverTheCloseGives) {
    struct Case {
        const char* label;
        bool portOpen;
        bool closeFails;
        std::uint32_t result;
        std::vector<TraceLine> lines;
    };
    const Case cases[] = {
        {"no port", false, false, 0, {kCloseOk, Trace("RUVAZI> EndVpi() exited, 0")}},
        {"port closed", true, false, 0, {kCloseOk, Trace("RUVAZI> EndVpi() exited, 0")}},
        {"close fails", true, true, 2, {kCloseFailed, Trace("RUVAZI> EndVpi() exited, 2")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SetUp();
        trace.Clear();
        if (c.portOpen) {
            OpenPort();
        }
        if (c.closeFails) {
            fake::Fail(fake::Call::CloseHandle);
        }
        EXPECT_EQ(End(), c.result);
        EXPECT_EQ(vpiEnded, 1u);
        EXPECT_EQ(trace.Lines(), c.lines);
        EXPECT_EQ(channel.portHandle, c.closeFails ? HandleOf(100) : nullptr);
        EXPECT_EQ(com1->open, c.closeFails);

        // From now on nothing is served, not even a retry of the close.
        trace.Clear();
        const std::size_t mark = fake::Calls().size();
        EXPECT_EQ(CloseIt(), 0u);
        EXPECT_EQ(Reopen(), 0u);
        EXPECT_TRUE(trace.Lines().empty());
        EXPECT_TRUE(CallsSince(mark).empty());
    }
}

// --- ReOpenCom ---

TEST_F(PortManagement, ReopenAfterCloseUsesTheStoredConfiguration) {
    channel.portConfig.lineControl = 0x8000 | 0x2000;  // DTR handshake, RTS toggle
    OpenPort();
    ASSERT_EQ(CloseIt(), 0u);
    trace.Clear();
    EXPECT_EQ(Reopen(), 0u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{OpenOk(101), kReopenOk}));
    EXPECT_EQ(channel.portHandle, HandleOf(101));
    EXPECT_EQ(com1->dcb.BaudRate, 9600u);
    EXPECT_EQ(com1->dcb.ByteSize, 8u);
    EXPECT_EQ(com1->dcb.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(com1->dcb.fRtsControl, RTS_CONTROL_TOGGLE);
    EXPECT_EQ(com1->timeouts.ReadTotalTimeoutConstant, 200u);
}

TEST_F(PortManagement, ReopenWhoseOpenFailsLeavesNoPort) {
    SetName(channel.portConfig.portName, "COM9");
    EXPECT_EQ(Reopen(), 2u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kOpenFailed, kReopenFailed}));
    EXPECT_EQ(channel.portHandle, nullptr);
}

TEST_F(PortManagement, ReopenWithANoCommunicationNameOpensNothing) {
    for (const char* name : {"NULLDEV", "NUL"}) {
        for (bool portOpen : {false, true}) {
            SCOPED_TRACE(std::string(name) + (portOpen ? " port open" : " no port"));
            SetUp();
            if (portOpen) {
                OpenPort();
            }
            trace.Clear();
            SetName(channel.portConfig.portName, name);
            const ComChannel before = channel;
            const std::size_t mark = fake::Calls().size();
            EXPECT_EQ(Reopen(), 0u);
            EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kReopenNone, kReopenOk}));
            EXPECT_TRUE(CallsSince(mark).empty());
            EXPECT_EQ(std::memcmp(&channel, &before, sizeof channel), 0);
        }
    }
}

TEST_F(PortManagement, ReopenOfAnOpenPortClosesItFirst) {
    OpenPort();
    EXPECT_EQ(Reopen(), 0u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kCloseOk, OpenOk(101), kReopenOk}));
    EXPECT_EQ(channel.portHandle, HandleOf(101));
    EXPECT_EQ(fake::CallsStartingWith("CloseHandle"), std::vector<std::string>{"CloseHandle 100"});
    EXPECT_TRUE(com1->open);
}

TEST_F(PortManagement, ReopenWhoseCloseFailsKeepsTheOldPort) {
    OpenPort();
    fake::Fail(fake::Call::CloseHandle);
    const std::size_t mark = fake::Calls().size();
    EXPECT_EQ(Reopen(), 2u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kCloseFailed, kReopenFailed}));
    EXPECT_EQ(channel.portHandle, HandleOf(100));
    EXPECT_EQ(CallsSince(mark), std::vector<std::string>{"CloseHandle 100 -> failed"});
}

TEST_F(PortManagement, ReopenWithAStoredNameWithoutNulIsRefused) {
    std::memcpy(channel.portConfig.portName, "COM1COM1COM1", kPortNameSize);
    const ComChannel before = channel;
    EXPECT_EQ(Reopen(), 2u);
    EXPECT_EQ(trace.Lines(),
              std::vector<TraceLine>{Trace("RUVAZI> ReOpenCom() port name too long")});
    EXPECT_TRUE(fake::Calls().empty());
    EXPECT_EQ(std::memcmp(&channel, &before, sizeof channel), 0);
}

TEST_F(PortManagement, ReopenWithStoredReadTimeoutZeroKeepsTheOpenDefault) {
    channel.readTimeout = 0;
    EXPECT_EQ(Reopen(), 0u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{OpenOk(100), kTimeoutReplaced, kReopenOk}));
    EXPECT_EQ(com1->timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(channel.readTimeout, 0u);
}

// --- ChangeVpiParams ---

TEST_F(PortManagement, ChangeWithNoPortStoresAndOpens) {
    VpiParams params = Params("COM2");
    EXPECT_EQ(Change(params), 0u);
    EXPECT_EQ(trace.Lines(), std::vector<TraceLine>{OpenOk(100)});
    EXPECT_EQ(channel.portHandle, HandleOf(100));
    EXPECT_EQ(StoredName(), "COM2");
    EXPECT_TRUE(StoredSettingsAre(kNewSettings));
    EXPECT_EQ(channel.readTimeout, 30u);
    EXPECT_EQ(com2->dcb.BaudRate, 19200u);
    EXPECT_EQ(com2->dcb.ByteSize, 7u);
    EXPECT_EQ(com2->dcb.StopBits, 2u);
    EXPECT_EQ(com2->dcb.Parity, 1u);
    EXPECT_EQ(com2->timeouts.ReadTotalTimeoutConstant, 300u);
}

TEST_F(PortManagement, ChangeToAnotherNameClosesTheOldPortFirst) {
    struct Case {
        const char* name;
        fake::Device* device;
    };
    OpenPort();
    // Letter case counts: "com1" is another name.
    fake::Device& lower = AddQuietDevice("com1");
    const Case cases[] = {{"COM2", com2}, {"com1", &lower}};
    std::uint32_t nextHandle = 101;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        trace.Clear();
        VpiParams params = Params(c.name);
        EXPECT_EQ(Change(params), 0u);
        EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kCloseOk, OpenOk(nextHandle)}));
        EXPECT_EQ(channel.portHandle, HandleOf(nextHandle));
        EXPECT_TRUE(c.device->open);
        ++nextHandle;
    }
    EXPECT_FALSE(com1->open);
    EXPECT_FALSE(com2->open);
}

TEST_F(PortManagement, ChangeWithTheSameNameReopensAfterTheClose) {
    OpenPort();
    VpiParams params = Params("COM1");
    EXPECT_EQ(Change(params), 0u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kCloseOk, OpenOk(101)}));
    EXPECT_EQ(channel.portHandle, HandleOf(101));
    EXPECT_EQ(com1->dcb.BaudRate, 19200u);
    EXPECT_EQ(com1->timeouts.ReadTotalTimeoutConstant, 300u);
}

TEST_F(PortManagement, ChangeToANoCommunicationName) {
    struct Case {
        const char* label;
        bool portOpen;
        std::vector<TraceLine> lines;
    };
    const Case cases[] = {
        {"no port", false, {kChangeNone}},
        {"port open", true, {kCloseOk, kChangeNone}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SetUp();
        trace.Clear();
        if (c.portOpen) {
            OpenPort();
        }
        VpiParams params = Params("NULLDEV");
        EXPECT_EQ(Change(params), 0u);
        EXPECT_EQ(trace.Lines(), c.lines);
        EXPECT_EQ(channel.portHandle, nullptr);
        EXPECT_EQ(StoredName(), "NULLDEV");
        EXPECT_TRUE(StoredSettingsAre(kNewSettings));
        EXPECT_EQ(channel.readTimeout, 30u);
        EXPECT_TRUE(fake::CallsStartingWith("CreateFileA NULLDEV").empty());

        // The stored name now keeps a reopen from opening anything.
        trace.Clear();
        EXPECT_EQ(Reopen(), 0u);
        EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kReopenNone, kReopenOk}));
    }
}

TEST_F(PortManagement, ChangeWhoseOpenFailsKeepsTheNewConfiguration) {
    VpiParams params = Params("COM9");
    EXPECT_EQ(Change(params), 2u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kOpenFailed, kChangeFailed}));
    EXPECT_EQ(channel.portHandle, nullptr);
    EXPECT_EQ(StoredName(), "COM9");
    EXPECT_TRUE(StoredSettingsAre(kNewSettings));
    EXPECT_EQ(channel.readTimeout, 30u);

    // A later reopen tries the new configuration again.
    fake::Device& com9 = AddQuietDevice("COM9");
    trace.Clear();
    EXPECT_EQ(Reopen(), 0u);
    EXPECT_TRUE(com9.open);
    EXPECT_EQ(com9.dcb.BaudRate, 19200u);
}

TEST_F(PortManagement, ChangeWithZeroTimeoutAndZeroBaudRateKeepsWhatIsStored) {
    VpiParams params = Params("COM2", 0, LineSettings{0, 5, 1, 4});
    EXPECT_EQ(Change(params), 0u);
    EXPECT_EQ(channel.readTimeout, 20u);
    EXPECT_TRUE(StoredSettingsAre(kStoredSettings));
    EXPECT_EQ(com2->timeouts.ReadTotalTimeoutConstant, 200u);
    EXPECT_EQ(com2->dcb.BaudRate, 9600u);
    EXPECT_EQ(com2->dcb.ByteSize, 8u);
}

TEST_F(PortManagement, ChangeWithStoredReadTimeoutZeroKeepsTheOpenDefault) {
    channel.readTimeout = 0;
    VpiParams params = Params("COM2", 0);
    EXPECT_EQ(Change(params), 0u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{OpenOk(100), kTimeoutReplaced}));
    EXPECT_EQ(com2->timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(channel.readTimeout, 0u);
}

TEST_F(PortManagement, ChangeWithANameWithoutNulDoesNothing) {
    OpenPort();
    VpiParams params = Params("");
    std::memcpy(params.portName, "COM2COM2COM2", kPortNameSize);
    const ComChannel before = channel;
    const std::size_t mark = fake::Calls().size();
    EXPECT_EQ(Change(params), 2u);
    EXPECT_EQ(trace.Lines(),
              std::vector<TraceLine>{Trace("RUVAZI> ChangeVpiParams() port name too long")});
    EXPECT_TRUE(CallsSince(mark).empty());
    EXPECT_EQ(std::memcmp(&channel, &before, sizeof channel), 0);
    EXPECT_TRUE(com1->open);
}

TEST_F(PortManagement, ChangeWhoseCloseFailsStoresButOpensNothing) {
    for (const char* name : {"COM2", "COM1", "NULLDEV"}) {
        SCOPED_TRACE(name);
        SetUp();
        OpenPort();
        fake::Fail(fake::Call::CloseHandle);
        const std::size_t mark = fake::Calls().size();
        VpiParams params = Params(name);
        EXPECT_EQ(Change(params), 2u);
        EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{kCloseFailed, kChangeFailed}));
        EXPECT_EQ(CallsSince(mark), std::vector<std::string>{"CloseHandle 100 -> failed"});
        EXPECT_EQ(channel.portHandle, HandleOf(100));
        EXPECT_EQ(StoredName(), name);
        EXPECT_TRUE(StoredSettingsAre(kNewSettings));
        EXPECT_EQ(channel.readTimeout, 30u);
    }
}

// With lineControl left at 0 a reopen gets DTR and RTS on; any other word
// is used as the host set it, and the field itself is never written.
TEST_F(PortManagement, ReopeningOperationsDriveDtrAndRts) {
    struct Case {
        bool viaChange;
        std::uint16_t lineControl;
        DWORD dtr;
        DWORD rts;
    };
    const Case cases[] = {
        {false, 0x0000, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
        {true, 0x0000, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
        {false, 0x0100, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
        {true, 0x3000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.viaChange ? "ChangeVpiParams" : "ReOpenCom") + " " +
                     std::to_string(c.lineControl));
        SetUp();
        channel.portConfig.lineControl = c.lineControl;
        VpiParams params = Params("COM1");
        EXPECT_EQ(c.viaChange ? Change(params) : Reopen(), 0u);
        EXPECT_EQ(com1->dcb.fDtrControl, c.dtr);
        EXPECT_EQ(com1->dcb.fRtsControl, c.rts);
        EXPECT_EQ(channel.portConfig.lineControl, c.lineControl);
    }
}

// --- Through VpiMain ---

TEST_F(PortManagement, NullRecordsAreRefusedWithTheOperationsName) {
    struct Case {
        const char* name;
        std::uint32_t code;
        bool withChannel;
        std::uint32_t result;
    };
    const Case cases[] = {
        {"ColdStart", function_code::kColdStart, false, 1},
        {"ColdStart", function_code::kColdStart, true, 1},
        {"WarmStart", function_code::kWarmStart, false, 1},
        {"CloseCom", function_code::kCloseCom, false, 2},
        {"ReOpenCom", function_code::kReOpenCom, false, 2},
        {"ChangeVpiParams", function_code::kChangeVpiParams, false, 2},
        {"ChangeVpiParams", function_code::kChangeVpiParams, true, 2},
        {"EndVpi", function_code::kEndVpi, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.withChannel ? " without data" : " without channel"));
        SetUp();
        trace.Clear();
        StartParams start{};
        VpiParams change{};
        void* data = nullptr;
        if (!c.withChannel) {
            data = c.code == function_code::kColdStart ? static_cast<void*>(&start)
                                                       : static_cast<void*>(&change);
        }
        const ComChannel before = channel;
        VpiRequest request{c.withChannel ? &channel : nullptr, c.code, 0, 0, data};
        EXPECT_EQ(VpiMain(&request), c.result);
        EXPECT_EQ(trace.Lines(), std::vector<TraceLine>{Trace(std::string("RUVAZI> ") + c.name +
                                                              "() called without its record")});
        EXPECT_EQ(std::memcmp(&channel, &before, sizeof channel), 0);
        EXPECT_TRUE(fake::Calls().empty());
        EXPECT_EQ(vpiEnded, c.code == function_code::kEndVpi ? 1u : 0u);
    }
}

TEST_F(PortManagement, EndVpiOnOneChannelEndsServiceForAnother) {
    ComChannel other{};
    StartParams start{};
    SetName(start.portName, "COM2");
    start.comEnabled = 1;
    start.readTimeout = 10;
    start.lineSettings = kNewSettings;
    VpiRequest coldOnOther{&other, function_code::kColdStart, 0, 0, &start};
    ASSERT_EQ(VpiMain(&coldOnOther), 0u);
    ASSERT_TRUE(com2->open);

    EXPECT_EQ(End(), 0u);
    trace.Clear();
    const ComChannel otherBefore = other;
    const std::size_t mark = fake::Calls().size();
    for (std::uint32_t code : {function_code::kCloseCom, function_code::kEndVpi,
                               function_code::kWarmStart, function_code::kColdStart}) {
        VpiRequest request{&other, code, 0, 0, &start};
        EXPECT_EQ(VpiMain(&request), 0u) << code;
    }
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(CallsSince(mark).empty());
    EXPECT_EQ(std::memcmp(&other, &otherBefore, sizeof other), 0);
    EXPECT_TRUE(com2->open);
}

TEST(VpiParamsLayout, HostOffsets) {
    static_assert(sizeof(VpiParams) == 24);
    static_assert(offsetof(VpiParams, readTimeout) == 0x0C);
    static_assert(offsetof(VpiParams, lineSettings) == 0x10);
    SUCCEED();
}

}  // namespace
}  // namespace link_test
