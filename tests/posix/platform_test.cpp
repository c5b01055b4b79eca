// The POSIX serial calls against real pseudo-terminals.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include "platform/win32_serial.h"
#include "tests/posix/pty_pair.h"

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFFu;

HANDLE Open(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first = 0) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i * 7u);
    }
    return bytes;
}

// A port on the slave of a fresh pseudo-terminal, set raw at 9600 8N1.
class PortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        handle = Open(pty.SlavePath());
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        DCB dcb{};
        ASSERT_TRUE(GetCommState(handle, &dcb));
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        ASSERT_TRUE(SetCommState(handle, &dcb));
    }
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(handle));
        }
    }

    void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
        COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(handle, &timeouts));
    }

    // Waits until count bytes sent by the master are in the input queue.
    bool WaitQueued(DWORD count) {
        const Stopwatch watch;
        while (watch.ElapsedMs() < 3000) {
            COMSTAT stat{};
            DWORD errors = 1;
            if (!ClearCommError(handle, &errors, &stat)) {
                return false;
            }
            if (stat.cbInQue >= count) {
                return stat.cbInQue == count && errors == 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    PtyPair pty;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// --- Handles -----------------------------------------------------------------

// Every call on a handle that is not an open port fails.
void ExpectEveryCallFails(HANDLE handle) {
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    COMSTAT stat{};
    DWORD errors = 0;
    std::uint8_t buffer[4] = {1, 2, 3, 4};
    DWORD count = 99;
    EXPECT_FALSE(GetCommState(handle, &dcb));
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    EXPECT_FALSE(SetCommState(handle, &dcb));
    EXPECT_FALSE(GetCommTimeouts(handle, &timeouts));
    EXPECT_FALSE(SetCommTimeouts(handle, &timeouts));
    EXPECT_FALSE(SetupComm(handle, 1200, 1200));
    EXPECT_FALSE(ClearCommError(handle, &errors, &stat));
    EXPECT_FALSE(ReadFile(handle, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_FALSE(WriteFile(handle, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(SetCommBreak(handle));
    EXPECT_FALSE(ClearCommBreak(handle));
    EXPECT_FALSE(CloseHandle(handle));
}

TEST(PosixHandles, ZeroInvalidAndMadeUpHandlesFailEveryCall) {
    for (std::uintptr_t value :
         {std::uintptr_t{0}, std::uintptr_t{1}, std::uintptr_t{17}, std::uintptr_t{0x7FFFFFFF}}) {
        SCOPED_TRACE(value);
        ExpectEveryCallFails(reinterpret_cast<HANDLE>(value));
    }
    ExpectEveryCallFails(INVALID_HANDLE_VALUE);
}

TEST(PosixHandles, ClosedHandleFailsEvenAfterItsSlotIsReused) {
    PtyPair first;
    PtyPair second;
    ASSERT_TRUE(first.Ok() && second.Ok());
    HANDLE closed = Open(first.SlavePath());
    ASSERT_NE(closed, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(closed));
    ExpectEveryCallFails(closed);

    HANDLE reopened = Open(second.SlavePath());
    ASSERT_NE(reopened, INVALID_HANDLE_VALUE);
    EXPECT_NE(reopened, closed);
    ExpectEveryCallFails(closed);
    COMMTIMEOUTS timeouts{};
    EXPECT_TRUE(GetCommTimeouts(reopened, &timeouts));
    EXPECT_TRUE(CloseHandle(reopened));
}

TEST(PosixHandles, OpenPortsGetDistinctSmallNonZeroHandles) {
    PtyPair ptys[3];
    HANDLE handles[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ptys[i].Ok());
        handles[i] = Open(ptys[i].SlavePath());
        ASSERT_NE(handles[i], INVALID_HANDLE_VALUE);
        EXPECT_NE(handles[i], nullptr);
        EXPECT_LT(HandleNumber(handles[i]), 0x10000u);
    }
    EXPECT_NE(handles[0], handles[1]);
    EXPECT_NE(handles[1], handles[2]);
    EXPECT_NE(handles[0], handles[2]);
    for (HANDLE handle : handles) {
        EXPECT_TRUE(CloseHandle(handle));
    }
}

TEST(PosixHandles, FullTableRefusesOpensUntilAHandleIsClosed) {
    std::vector<HANDLE> handles;
    for (int i = 0; i < 100; ++i) {
        HANDLE handle = Open("NUL");
        if (handle == INVALID_HANDLE_VALUE) {
            break;
        }
        handles.push_back(handle);
    }
    ASSERT_FALSE(handles.empty());
    ASSERT_LT(handles.size(), 100u) << "the table never filled";
    EXPECT_EQ(Open("NUL"), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(handles.back()));
    handles.back() = Open("NUL");
    EXPECT_NE(handles.back(), INVALID_HANDLE_VALUE);
    for (HANDLE handle : handles) {
        EXPECT_TRUE(CloseHandle(handle));
    }
}

TEST(PosixHandles, TimeoutsAreKeptPerHandle) {
    PtyPair a;
    PtyPair b;
    ASSERT_TRUE(a.Ok() && b.Ok());
    HANDLE ha = Open(a.SlavePath());
    HANDLE hb = Open(b.SlavePath());
    ASSERT_NE(ha, INVALID_HANDLE_VALUE);
    ASSERT_NE(hb, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS ta{1, 2, 3, 4, 5};
    COMMTIMEOUTS tb{0, 0, 1000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(ha, &ta));
    ASSERT_TRUE(SetCommTimeouts(hb, &tb));
    COMMTIMEOUTS read{};
    ASSERT_TRUE(GetCommTimeouts(ha, &read));
    EXPECT_EQ(std::memcmp(&read, &ta, sizeof read), 0);
    ASSERT_TRUE(GetCommTimeouts(hb, &read));
    EXPECT_EQ(std::memcmp(&read, &tb, sizeof read), 0);
    EXPECT_TRUE(CloseHandle(ha));
    ASSERT_TRUE(GetCommTimeouts(hb, &read));
    EXPECT_EQ(read.ReadTotalTimeoutConstant, 1000u);
    EXPECT_TRUE(CloseHandle(hb));
}

// --- Opening -----------------------------------------------------------------

TEST(PosixOpen, MissingDeviceIsRefused) {
    EXPECT_EQ(Open("/dev/no-such-serial-device"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(""), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST(PosixOpen, NulIsTheNullDeviceAndShared) {
    HANDLE first = Open("NUL");
    HANDLE second = Open("NUL");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    DCB dcb{};
    EXPECT_FALSE(GetCommState(first, &dcb));  // no line behind it
    const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(first, bytes, sizeof bytes, &written, nullptr));
    EXPECT_EQ(written, 5u);
    COMMTIMEOUTS timeouts{0, 0, 5000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(first, &timeouts));
    std::uint8_t buffer[8] = {};
    DWORD got = 99;
    const Stopwatch watch;
    EXPECT_TRUE(ReadFile(first, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(watch.ElapsedMs(), 2500);  // end of file, not the time-out
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
}

TEST(PosixOpen, HeldPortIsRefusedInTheSameProcessUntilClosed) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    HANDLE held = Open(pty.SlavePath());
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(pty.SlavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(pty.SlavePath()), INVALID_HANDLE_VALUE);
    // The refused opens must not have disturbed the holder.
    COMMTIMEOUTS timeouts{};
    EXPECT_TRUE(GetCommTimeouts(held, &timeouts));
    ASSERT_TRUE(CloseHandle(held));

    HANDLE again = Open(pty.SlavePath());
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(again));
}

TEST(PosixOpen, HeldPortIsRefusedToAnotherProcess) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    HANDLE held = Open(pty.SlavePath());
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenFromChildProcess(pty.SlavePath(), false), 0) << "child opened a held port";
    ASSERT_TRUE(CloseHandle(held));
    EXPECT_EQ(OpenFromChildProcess(pty.SlavePath(), false), 1) << "child refused a free port";
}

TEST(PosixOpen, TerminalExclusiveModeIsTakenAndReleased) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    if (ExclusiveFlag(pty.SlavePath()) < 0) {
        GTEST_SKIP() << "exclusive mode cannot be observed here";
    }
    EXPECT_EQ(ExclusiveFlag(pty.SlavePath()), 0);
    HANDLE held = Open(pty.SlavePath());
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ExclusiveFlag(pty.SlavePath()), 1);
    ASSERT_TRUE(CloseHandle(held));
    EXPECT_EQ(ExclusiveFlag(pty.SlavePath()), 0);
}

// --- Line settings -----------------------------------------------------------

struct FramingCase {
    DWORD baudRate;
    BYTE byteSize;
    BYTE parity;
    BYTE stopBits;
    bool checkParity;
    speed_t speed;
    tcflag_t cflag;  // the CSIZE, PARENB, PARODD, CSTOPB and CMSPAR bits
};

constexpr tcflag_t kFramingMask = CSIZE | PARENB | PARODD | CSTOPB | CMSPAR;

const FramingCase kFramingCases[] = {
    {9600, 8, NOPARITY, ONESTOPBIT, false, B9600, CS8},
    {19200, 7, EVENPARITY, TWOSTOPBITS, true, B19200, CS7 | PARENB | CSTOPB},
    {1200, 5, ODDPARITY, ONE5STOPBITS, true, B1200, CS5 | PARENB | PARODD | CSTOPB},
    {115200, 6, MARKPARITY, ONESTOPBIT, true, B115200, CS6 | PARENB | PARODD | CMSPAR},
    {4800, 8, SPACEPARITY, TWOSTOPBITS, false, B4800, CS8 | PARENB | CMSPAR | CSTOPB},
    {300, 5, NOPARITY, ONESTOPBIT, false, B300, CS5},
};

// Some kernels hold every pseudo-terminal at 8 data bits without parity,
// whatever is asked; only the other framing bits can be seen there.
bool PtyKeepsDataBitsAndParity() {
    PtyPair pty;
    const int slave = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        return false;
    }
    termios settings{};
    tcgetattr(slave, &settings);
    settings.c_cflag = (settings.c_cflag & ~tcflag_t{CSIZE}) | CS7 | PARENB;
    tcsetattr(slave, TCSANOW, &settings);
    tcgetattr(slave, &settings);
    close(slave);
    return (settings.c_cflag & (CSIZE | PARENB)) == (CS7 | PARENB);
}

TEST_F(PortTest, SetCommStateAppliesTheFramingAndReportsItBack) {
    const bool fullFraming = PtyKeepsDataBitsAndParity();
    const tcflag_t checked = fullFraming ? kFramingMask : tcflag_t{PARODD | CSTOPB | CMSPAR};
    for (const FramingCase& c : kFramingCases) {
        SCOPED_TRACE(c.baudRate);
        DCB dcb{};
        ASSERT_TRUE(GetCommState(handle, &dcb));
        dcb.BaudRate = c.baudRate;
        dcb.ByteSize = c.byteSize;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stopBits;
        dcb.fParity = c.checkParity ? 1u : 0u;
        ASSERT_TRUE(SetCommState(handle, &dcb));

        const termios settings = pty.SlaveSettings();
        EXPECT_EQ(cfgetospeed(&settings), c.speed);
        EXPECT_EQ(cfgetispeed(&settings), c.speed);
        EXPECT_EQ(settings.c_cflag & checked, c.cflag & checked);
        EXPECT_EQ((settings.c_iflag & INPCK) != 0, c.checkParity);

        DCB reported{};
        ASSERT_TRUE(GetCommState(handle, &reported));
        EXPECT_EQ(reported.DCBlength, 28u);
        EXPECT_EQ(reported.BaudRate, c.baudRate);
        EXPECT_EQ(reported.fParity, c.checkParity ? 1u : 0u);
        EXPECT_EQ(reported.fBinary, 1u);
        if (fullFraming) {
            EXPECT_EQ(reported.ByteSize, c.byteSize);
            EXPECT_EQ(reported.Parity, c.parity);
            EXPECT_EQ(reported.StopBits, c.stopBits);
        } else {
            EXPECT_EQ(reported.StopBits, (c.cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT);
        }
    }
}

TEST(PosixLineSettings, SetCommStateMakesACookedTerminalRaw) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const termios cooked = pty.SlaveSettings();
    ASSERT_NE(cooked.c_lflag & ICANON, 0u);  // a fresh terminal edits lines
    const cc_t interrupt = cooked.c_cc[VINTR];
    HANDLE handle = Open(pty.SlavePath());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.fOutX, 1u);  // the fresh terminal's IXON
    dcb.BaudRate = 9600;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    ASSERT_TRUE(SetCommState(handle, &dcb));

    const termios raw = pty.SlaveSettings();
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.c_oflag & OPOST, 0u);
    EXPECT_EQ(raw.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | BRKINT | PARMRK), 0u);
    EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
    EXPECT_EQ(raw.c_cc[VINTR], interrupt);  // what the DCB does not name is kept

    // Bytes cross unchanged in both directions: no echo, no CR/LF mapping,
    // no flow-control characters taken out.
    const std::vector<std::uint8_t> bytes = {'\r', '\n', 0x03, 0x7F, 0x00, 0xFF, 0x11, 0x13};
    ASSERT_TRUE(pty.Send(bytes));
    COMMTIMEOUTS timeouts{0, 0, 2000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle, &timeouts));
    std::uint8_t buffer[8] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + got), bytes);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle, bytes.data(), 8, &written, nullptr));
    EXPECT_EQ(pty.Receive(16, 300), bytes);
    EXPECT_TRUE(CloseHandle(handle));
}

struct RefusedCase {
    const char* what;
    DWORD baudRate;
    BYTE byteSize;
    BYTE parity;
    BYTE stopBits;
};

const RefusedCase kRefusedCases[] = {
    {"speed 12345", 12345, 8, NOPARITY, ONESTOPBIT},
    {"speed 0", 0, 8, NOPARITY, ONESTOPBIT},
    {"speed 9601", 9601, 8, NOPARITY, ONESTOPBIT},
    {"4 data bits", 9600, 4, NOPARITY, ONESTOPBIT},
    {"9 data bits", 9600, 9, NOPARITY, ONESTOPBIT},
    {"0 data bits", 9600, 0, NOPARITY, ONESTOPBIT},
    {"parity 5", 9600, 8, 5, ONESTOPBIT},
    {"parity 255", 9600, 8, 255, ONESTOPBIT},
    {"stop code 3", 9600, 8, NOPARITY, 3},
    {"one and a half stop bits with 8 data bits", 9600, 8, NOPARITY, ONE5STOPBITS},
};

TEST_F(PortTest, SetCommStateRefusesWhatTheLineCannotDoAndChangesNothing) {
    DCB good{};
    ASSERT_TRUE(GetCommState(handle, &good));
    good.BaudRate = 19200;
    good.ByteSize = 7;
    good.Parity = EVENPARITY;
    ASSERT_TRUE(SetCommState(handle, &good));
    const termios before = pty.SlaveSettings();
    for (const RefusedCase& c : kRefusedCases) {
        SCOPED_TRACE(c.what);
        DCB dcb = good;
        dcb.BaudRate = c.baudRate;
        dcb.ByteSize = c.byteSize;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stopBits;
        EXPECT_FALSE(SetCommState(handle, &dcb));
        const termios after = pty.SlaveSettings();
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    }
}

struct ModemCase {
    DWORD dtr;
    DWORD rts;
    bool hardwareFlow;
};

const ModemCase kModemCases[] = {
    {DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, false},
    {DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, false},
    {DTR_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE, false},
    {DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, true},
    {DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, false},
};

// A pseudo-terminal has no modem lines: asking for them must still succeed.
TEST_F(PortTest, DtrAndRtsControlSucceedWithoutModemLines) {
    for (const ModemCase& c : kModemCases) {
        SCOPED_TRACE(testing::Message() << "DTR " << c.dtr << " RTS " << c.rts);
        DCB dcb{};
        ASSERT_TRUE(GetCommState(handle, &dcb));
        dcb.fOutxCtsFlow = 0;
        dcb.fDtrControl = c.dtr & 3u;
        dcb.fRtsControl = c.rts & 3u;
        ASSERT_TRUE(SetCommState(handle, &dcb));
        EXPECT_EQ((pty.SlaveSettings().c_cflag & CRTSCTS) != 0, c.hardwareFlow);
        DCB reported{};
        ASSERT_TRUE(GetCommState(handle, &reported));
        EXPECT_EQ(reported.fDtrControl, c.dtr);
        EXPECT_EQ(reported.fRtsControl, c.rts);
        EXPECT_EQ(reported.fOutxCtsFlow, c.hardwareFlow ? 1u : 0u);
    }
}

TEST_F(PortTest, SetupCommAndBreakSucceedOnAnOpenPort) {
    EXPECT_TRUE(SetupComm(handle, 1200, 1200));
    EXPECT_TRUE(SetCommBreak(handle));
    EXPECT_TRUE(ClearCommBreak(handle));
}

// --- Reading -----------------------------------------------------------------

TEST_F(PortTest, ClearCommErrorReportsTheQueuedBytes) {
    COMSTAT stat{};
    DWORD errors = 7;
    ASSERT_TRUE(ClearCommError(handle, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 0u);
    ASSERT_TRUE(pty.Send(Bytes(5)));
    EXPECT_TRUE(WaitQueued(5));
    EXPECT_TRUE(ClearCommError(handle, nullptr, nullptr));
}

TEST_F(PortTest, ReadReturnsAsSoonAsTheCountHasArrived) {
    SetTimeouts(0, 0, 10000);
    ASSERT_TRUE(pty.Send(Bytes(8)));
    ASSERT_TRUE(WaitQueued(8));
    std::uint8_t buffer[8] = {};
    DWORD got = 0;
    const Stopwatch watch;
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    EXPECT_LT(watch.ElapsedMs(), 5000);
    ASSERT_EQ(got, 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 8), Bytes(8));
}

TEST_F(PortTest, ReadCollectsAReplyInTwoPiecesWithinOneTimeout) {
    SetTimeouts(0, 0, 10000);
    const std::vector<std::uint8_t> reply = Bytes(8, 0x40);
    std::thread unit([&] {
        pty.Send({reply.begin(), reply.begin() + 3});
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        pty.Send({reply.begin() + 3, reply.end()});
    });
    std::uint8_t buffer[8] = {};
    DWORD got = 0;
    const Stopwatch watch;
    const BOOL ok = ReadFile(handle, buffer, sizeof buffer, &got, nullptr);
    const long long elapsed = watch.ElapsedMs();
    unit.join();
    ASSERT_TRUE(ok);
    EXPECT_LT(elapsed, 5000);  // the second piece ended the read, not the time-out
    ASSERT_EQ(got, 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 8), reply);
}

struct SilentReadCase {
    DWORD multiplier;
    DWORD constant;
    DWORD count;
    std::size_t queued;  // bytes that arrive before the read
    long long expectedMs;
};

const SilentReadCase kSilentReadCases[] = {
    {0, 300, 8, 0, 300},
    {25, 100, 8, 0, 300},  // the multiplier counts per byte asked
    {0, 300, 8, 3, 300},   // what arrived comes back after the time-out
};

TEST_F(PortTest, ReadOnASilentLineReturnsAfterTheTotalTimeout) {
    for (const SilentReadCase& c : kSilentReadCases) {
        SCOPED_TRACE(testing::Message() << c.multiplier << "*" << c.count << "+" << c.constant
                                        << " with " << c.queued << " queued");
        SetTimeouts(0, c.multiplier, c.constant);
        if (c.queued != 0) {
            ASSERT_TRUE(pty.Send(Bytes(c.queued)));
            ASSERT_TRUE(WaitQueued(static_cast<DWORD>(c.queued)));
        }
        std::uint8_t buffer[16];
        DWORD got = 99;
        const Stopwatch watch;
        EXPECT_TRUE(ReadFile(handle, buffer, c.count, &got, nullptr));
        const long long elapsed = watch.ElapsedMs();
        EXPECT_EQ(got, c.queued);
        EXPECT_GE(elapsed, c.expectedMs - kEarlyToleranceMs);
        EXPECT_LE(elapsed, c.expectedMs + kLateToleranceMs);
    }
}

TEST_F(PortTest, ReadWithoutTimeoutsWaitsForTheWholeCount) {
    SetTimeouts(0, 0, 0);
    std::thread unit([&] {
        pty.Send(Bytes(4));
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        pty.Send(Bytes(4, 4 * 7));
    });
    std::uint8_t buffer[8] = {};
    DWORD got = 0;
    const Stopwatch watch;
    const BOOL ok = ReadFile(handle, buffer, sizeof buffer, &got, nullptr);
    const long long elapsed = watch.ElapsedMs();
    unit.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(got, 8u);
    EXPECT_GE(elapsed, 400 - kEarlyToleranceMs);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 8), Bytes(8));
}

TEST_F(PortTest, ReadWithMaxdwordIntervalReturnsAtOnceWithWhatIsThere) {
    SetTimeouts(kMaxDword, 0, 0);
    std::uint8_t buffer[8] = {};
    DWORD got = 99;
    Stopwatch watch;
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(watch.ElapsedMs(), 1000);

    ASSERT_TRUE(pty.Send(Bytes(2)));
    ASSERT_TRUE(WaitQueued(2));
    watch = Stopwatch();
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 2u);
    EXPECT_LT(watch.ElapsedMs(), 1000);
}

TEST_F(PortTest, ReadWithAnIntervalTimeoutEndsWhenTheLineFallsSilent) {
    SetTimeouts(100, 0, 10000);
    ASSERT_TRUE(pty.Send(Bytes(3)));
    ASSERT_TRUE(WaitQueued(3));
    std::uint8_t buffer[8] = {};
    DWORD got = 0;
    const Stopwatch watch;
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    const long long elapsed = watch.ElapsedMs();
    EXPECT_EQ(got, 3u);
    EXPECT_GE(elapsed, 100 - kEarlyToleranceMs);
    EXPECT_LE(elapsed, 100 + kLateToleranceMs);
}

TEST_F(PortTest, ReadOfNothingSucceedsAtOnce) {
    SetTimeouts(0, 0, 0);  // would otherwise wait for ever
    std::uint8_t buffer[1];
    DWORD got = 99;
    EXPECT_TRUE(ReadFile(handle, buffer, 0, &got, nullptr));
    EXPECT_EQ(got, 0u);
}

TEST_F(PortTest, HangUpEndsAReadWithoutSpinning) {
    SetTimeouts(0, 0, 0);
    std::thread unit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.CloseMaster();
    });
    std::uint8_t buffer[8] = {};
    DWORD got = 99;
    const Stopwatch watch;
    const BOOL ok = ReadFile(handle, buffer, sizeof buffer, &got, nullptr);
    const long long elapsed = watch.ElapsedMs();
    unit.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(elapsed, 100 + kLateToleranceMs);

    // Reading the dead line again ends at once; writing to it fails.
    SetTimeouts(0, 0, 10000);
    const Stopwatch again;
    EXPECT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    EXPECT_LT(again.ElapsedMs(), 5000);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(handle, buffer, 1, &written, nullptr));
}

// --- Signals -----------------------------------------------------------------

volatile std::sig_atomic_t alarms = 0;

void CountAlarm(int) {
    alarms = alarms + 1;
}

// Delivers SIGALRM every 40 ms while alive; the handler does not ask for
// restarted calls, so every blocking call sees EINTR.
class AlarmStorm {
  public:
    AlarmStorm() {
        struct sigaction action {};
        action.sa_handler = CountAlarm;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(SIGALRM, &action, &previous_);
        alarms = 0;
        itimerval timer{{0, 40000}, {0, 40000}};
        setitimer(ITIMER_REAL, &timer, nullptr);
    }
    ~AlarmStorm() {
        itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous_, nullptr);
    }

  private:
    struct sigaction previous_ {};
};

TEST_F(PortTest, SignalsNeitherShortenNorBreakAWait) {
    SetTimeouts(0, 0, 400);
    std::uint8_t buffer[8] = {};
    DWORD got = 99;
    {
        const AlarmStorm storm;
        const Stopwatch watch;
        EXPECT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
        const long long elapsed = watch.ElapsedMs();
        EXPECT_EQ(got, 0u);
        EXPECT_GE(elapsed, 400 - kEarlyToleranceMs);
        EXPECT_LE(elapsed, 400 + kLateToleranceMs);

        const Stopwatch sleeping;
        Sleep(300);
        const long long slept = sleeping.ElapsedMs();
        EXPECT_GE(slept, 300 - kEarlyToleranceMs);
        EXPECT_LE(slept, 300 + kLateToleranceMs);

        const std::vector<std::uint8_t> bytes = Bytes(64);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(handle, bytes.data(), 64, &written, nullptr));
        EXPECT_EQ(written, 64u);
    }
    EXPECT_GT(alarms, 2);
    EXPECT_EQ(pty.Receive(64, 1000), Bytes(64));
}

// --- Writing -----------------------------------------------------------------

TEST_F(PortTest, WriteBlocksUntilEveryByteIsTaken) {
    // Far more than the terminal buffers: the write has to wait for the
    // reader again and again.
    std::vector<std::uint8_t> block(256 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 31u + i / 251u);
    }
    std::vector<std::uint8_t> received;
    std::thread unit([&] { received = pty.Receive(block.size(), 20000); });
    DWORD written = 0;
    const BOOL ok =
        WriteFile(handle, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
    unit.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(written, block.size());
    EXPECT_TRUE(received == block);
}

TEST_F(PortTest, WriteAcceptsANullCountPlace) {
    const std::vector<std::uint8_t> bytes = Bytes(7);
    EXPECT_TRUE(WriteFile(handle, bytes.data(), 7, nullptr, nullptr));
    EXPECT_EQ(pty.Receive(7, 1000), bytes);
}

TEST(PosixSleep, SleepWaitsTheGivenTime) {
    const Stopwatch watch;
    Sleep(150);
    const long long elapsed = watch.ElapsedMs();
    EXPECT_GE(elapsed, 150 - kEarlyToleranceMs);
    EXPECT_LE(elapsed, 150 + kLateToleranceMs);
}

}  // namespace
