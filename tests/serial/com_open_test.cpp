#include <gtest/gtest.h>

#include "tests/serial/com_fixture.h"

namespace {

using ComOpenTest = ComPort;

TEST_F(ComOpenTest, SetsTimeOutsBeforeLineSettingsThenQueues) {
    EXPECT_EQ(ComOpen("COM1", kSettings, line_control::kDtrRtsOn, &handle), com_status::kDone);
    EXPECT_EQ(HandleNumber(handle), 100u);
    EXPECT_EQ(fake::Calls(), (Strings{"CreateFileA COM1 -> 100", "GetCommState 100",
                                      "SetCommTimeouts 100 0 0 1000 0 0", "SetCommState 100",
                                      "SetupComm 100 1200 1200"}));
    EXPECT_TRUE(device->open);
    EXPECT_EQ(device->inQueueSize, 1200u);
    EXPECT_EQ(device->outQueueSize, 1200u);
}

TEST_F(ComOpenTest, WritesEachFieldOfTheTableAndKeepsTheRestAsRead) {
    // Everything the module must clear starts set, and the reverse.
    DCB& before = device->dcb;
    before.fBinary = 0;
    before.fParity = 0;
    before.fOutxCtsFlow = 1;
    before.fOutxDsrFlow = 1;
    before.fDsrSensitivity = 1;
    before.fOutX = 1;
    before.fInX = 1;
    before.fErrorChar = 1;
    before.fNull = 1;
    before.fAbortOnError = 1;
    before.wReserved = 0x0101;
    const DCB read = before;

    // High bytes set in every slot: only the low bytes may reach the port;
    // stop bits and parity differ so a swap shows.
    const LineSettings settings{57600, 0x0107, 0x0102, 0x0201};
    ASSERT_EQ(ComOpen("COM1", settings, line_control::kDtrRtsOn, &handle), com_status::kDone);

    const DCB& dcb = device->dcb;
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    EXPECT_EQ(dcb.ByteSize, 7u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.Parity, ODDPARITY);
    EXPECT_EQ(static_cast<std::uint8_t>(dcb.ErrorChar), 0xFCu);

    // As read.
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.fTXContinueOnXoff, read.fTXContinueOnXoff);
    EXPECT_EQ(dcb.fDummy2, read.fDummy2);
    EXPECT_EQ(dcb.wReserved, read.wReserved);
    EXPECT_EQ(dcb.XonLim, read.XonLim);
    EXPECT_EQ(dcb.XoffLim, read.XoffLim);
    EXPECT_EQ(dcb.XonChar, read.XonChar);
    EXPECT_EQ(dcb.XoffChar, read.XoffChar);
    EXPECT_EQ(dcb.EofChar, read.EofChar);
    EXPECT_EQ(dcb.EvtChar, read.EvtChar);
    EXPECT_EQ(dcb.wReserved1, read.wReserved1);
    // The fresh port's values are not zero, so keeping them is visible.
    EXPECT_NE(read.fTXContinueOnXoff, 0u);
    EXPECT_NE(read.fDummy2, 0u);
    EXPECT_NE(read.wReserved1, 0u);
}

struct LineControlCase {
    std::uint16_t lineControl;
    DWORD dtr;
    DWORD rts;
};

class LineControlTest : public ComPort, public ::testing::WithParamInterface<LineControlCase> {};

TEST_P(LineControlTest, SelectsDtrAndRts) {
    const LineControlCase& c = GetParam();
    ASSERT_EQ(ComOpen("COM1", kSettings, c.lineControl, &handle), com_status::kDone);
    EXPECT_EQ(device->dcb.fDtrControl, c.dtr) << std::hex << c.lineControl;
    EXPECT_EQ(device->dcb.fRtsControl, c.rts) << std::hex << c.lineControl;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineControlTest,
    ::testing::Values(LineControlCase{0x0303, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
                      LineControlCase{0x0001, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
                      LineControlCase{0x0100, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
                      LineControlCase{0x0002, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
                      LineControlCase{0x0200, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
                      LineControlCase{0x8000, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE},
                      // Enable is tested before handshake and toggle.
                      LineControlCase{0x8001, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
                      LineControlCase{0x3200, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
                      LineControlCase{0x1000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
                      LineControlCase{0x3000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
                      LineControlCase{0x2000, DTR_CONTROL_DISABLE, RTS_CONTROL_TOGGLE},
                      LineControlCase{0xB000, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE},
                      LineControlCase{0x0000, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
                      // Bits outside the table are ignored.
                      LineControlCase{0x4CFC, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
                      LineControlCase{0xFFFF, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE}));

struct OpenFailureCase {
    const char* name;
    fake::Call failing;
    std::uint32_t status;
    Strings calls;
};

class OpenFailureTest : public ComPort, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, ReturnsItsStatusAndLeavesThePortFree) {
    const OpenFailureCase& c = GetParam();
    fake::Fail(c.failing);
    HANDLE stored = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(kUntouched));
    EXPECT_EQ(ComOpen("COM1", kSettings, line_control::kDtrRtsOn, &stored), c.status);
    EXPECT_EQ(fake::Calls(), c.calls);
    if (c.failing == fake::Call::CreateFile) {
        EXPECT_EQ(stored, INVALID_HANDLE_VALUE);
    } else {
        // Stored before any test; the handle was closed again.
        EXPECT_EQ(HandleNumber(stored), 100u);
        EXPECT_EQ(fake::DeviceOf(stored), nullptr);
    }
    EXPECT_FALSE(device->open);
    EXPECT_EQ(device->setCommStateCalls, 0u);

    HANDLE second = nullptr;
    EXPECT_EQ(ComOpen("COM1", kSettings, line_control::kDtrRtsOn, &second), com_status::kDone);
    EXPECT_EQ(fake::DeviceOf(second), device);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenFailureTest,
    ::testing::Values(
        OpenFailureCase{"Open", fake::Call::CreateFile, 1, {"CreateFileA COM1 -> failed"}},
        OpenFailureCase{
            "GetCommState",
            fake::Call::GetCommState,
            4,
            {"CreateFileA COM1 -> 100", "GetCommState 100 -> failed", "CloseHandle 100"}},
        OpenFailureCase{"SetCommTimeouts",
                        fake::Call::SetCommTimeouts,
                        1,
                        {"CreateFileA COM1 -> 100", "GetCommState 100",
                         "SetCommTimeouts 100 0 0 1000 0 0 -> failed", "CloseHandle 100"}},
        OpenFailureCase{
            "SetCommState",
            fake::Call::SetCommState,
            5,
            {"CreateFileA COM1 -> 100", "GetCommState 100", "SetCommTimeouts 100 0 0 1000 0 0",
             "SetCommState 100 -> failed", "CloseHandle 100"}}),
    [](const ::testing::TestParamInfo<OpenFailureCase>& param) { return param.param.name; });

TEST_F(ComOpenTest, HeldOrUnknownPortCannotBeOpened) {
    ASSERT_EQ(ComOpen("COM1", kSettings, line_control::kDtrRtsOn, &handle), com_status::kDone);
    HANDLE second = nullptr;
    EXPECT_EQ(ComOpen("COM1", kSettings, line_control::kDtrRtsOn, &second),
              com_status::kCannotOpen);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ComOpen("COM7", kSettings, line_control::kDtrRtsOn, &second),
              com_status::kCannotOpen);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fake::DeviceOf(handle), device);
}

TEST_F(ComOpenTest, NullDeviceSkipsStateTimeOutsSettingsAndQueues) {
    EXPECT_EQ(ComOpen("NUL", kSettings, line_control::kDtrRtsOn, &handle), com_status::kDone);
    EXPECT_EQ(fake::Calls(), (Strings{"CreateFileA NUL -> 100"}));
    EXPECT_EQ(ComClose(handle), com_status::kDone);
}

TEST_F(ComOpenTest, OnlyTheExactNameNulIsTheNullDevice) {
    fake::Device& lower = fake::AddDevice("nul");
    EXPECT_EQ(ComOpen("nul", kSettings, line_control::kDtrRtsOn, &handle), com_status::kDone);
    EXPECT_EQ(lower.setCommStateCalls, 1u);
    EXPECT_EQ(lower.setupCommCalls, 1u);
}

TEST_F(ComOpenTest, NameReachesThePlatformAsGivenWhereNoPrefixIsNeeded) {
    if constexpr (kPlatformNeedsComPrefixAbove9) {
        GTEST_SKIP() << "this platform prefixes COM10 and above";
    }
    fake::AddDevice("COM12");
    EXPECT_EQ(ComOpen("COM12", kSettings, line_control::kDtrRtsOn, &handle), com_status::kDone);
    EXPECT_EQ(fake::Calls().front(), "CreateFileA COM12 -> 100");
}

TEST_F(ComOpenTest, CloseReleasesThePortOrKeepsItWhenRefused) {
    ASSERT_EQ(ComOpen("COM1", kSettings, line_control::kDtrRtsOn, &handle), com_status::kDone);
    fake::Fail(fake::Call::CloseHandle);
    EXPECT_EQ(ComClose(handle), com_status::kIoFailed);
    EXPECT_TRUE(device->open);
    EXPECT_EQ(ComClose(handle), com_status::kDone);
    EXPECT_FALSE(device->open);
    EXPECT_EQ(ComClose(handle), com_status::kIoFailed);
    EXPECT_EQ(ComClose(nullptr), com_status::kIoFailed);
}

}  // namespace
