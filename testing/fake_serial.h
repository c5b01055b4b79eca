// A scripted serial device behind the platform seam, on a virtual clock.
//
// Linked into unit tests in place of a real platform. Devices are created by
// name; CreateFileA opens them exclusively and hands out handles 100, 101, ...
// (never reused until Reset). "NUL" always opens: writes succeed, reads give
// nothing, and the comm-state calls fail on it as on the real null device.
//
// Time is virtual: Sleep and read time-outs advance the clock at once, so a
// test can assert how long an operation would have taken without waiting.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32_serial.h"

namespace fake {

using Bytes = std::vector<std::uint8_t>;

// The platform calls whose failure can be injected.
enum class Call {
    CreateFile,
    CloseHandle,
    GetCommState,
    SetCommState,
    GetCommTimeouts,
    SetCommTimeouts,
    SetupComm,
    ClearCommError,
    ReadFile,
    WriteFile,
    SetCommBreak,
    ClearCommBreak,
};

constexpr unsigned kForever = 0xFFFFFFFFu;

struct Device {
    std::string name;

    // What the platform holds for the port. GetCommState reports `dcb`;
    // SetCommState replaces it. Initial values are those of a port fresh from
    // power-up (9600 8N1, fTXContinueOnXoff set, a few reserved bits set), so
    // a test can see which fields the module kept "as read".
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD inQueueSize = 0;  // from SetupComm; 0 until called
    DWORD outQueueSize = 0;
    bool breakOn = false;

    // Counts of successful configuration calls, for "nothing was applied".
    unsigned setCommStateCalls = 0;
    unsigned setCommTimeoutsCalls = 0;
    unsigned setupCommCalls = 0;

    bool open = false;
    HANDLE handle = nullptr;  // while open

    // Everything written to the port, in order, and frame by frame.
    Bytes written;
    std::vector<Bytes> writes;

    // Input scheduled for the master to read: each byte with the virtual time
    // (ms) at which it arrives in the input queue.
    struct Arrival {
        std::uint64_t atMs;
        std::uint8_t byte;
    };
    std::deque<Arrival> input;

    // Called after every successful WriteFile with the bytes written, to let
    // a test play the unit (queue a reply with QueueIn, for instance).
    std::function<void(Device&, const Bytes&)> onWrite;

    // Queues bytes arriving `delayMs` after the current virtual time.
    void QueueIn(std::initializer_list<std::uint8_t> bytes, std::uint64_t delayMs = 0);
    void QueueIn(const Bytes& bytes, std::uint64_t delayMs = 0);
    // Bytes that have arrived by now and not been read.
    std::size_t Pending() const;

    // Answers the next writes in order: reply i is queued (after `delayMs`)
    // when write i has been made; an empty reply means silence.
    void ReplyToWrites(std::vector<Bytes> replies, std::uint64_t delayMs = 0);
};

// Forgets every device, handle, failure and record; the clock goes back to 0.
void Reset();

// Creates a device that CreateFileA can open by this exact name.
Device& AddDevice(const std::string& name);
// The device of that name, or of that handle; nullptr when there is none.
Device* FindDevice(const std::string& name);
Device* DeviceOf(HANDLE handle);

// Virtual time in milliseconds since Reset.
std::uint64_t NowMs();

// Makes calls of one kind fail: after `after` further successful calls, the
// next `count` calls fail (kForever: every one from then on).
void Fail(Call call, unsigned count = 1, unsigned after = 0);

// The next WriteFile succeeds but reports only `written` bytes taken (and
// only those reach the device).
void ShortWrite(DWORD written);

// Every platform call in order, one line each, for order-of-steps checks:
//   "CreateFileA COM1 -> 100"   "GetCommState 100"   "SetCommTimeouts 100 0 0 1000 0 0"
//   "SetCommState 100"          "SetupComm 100 1200 1200"   "ClearCommError 100 -> 3"
//   "ReadFile 100 512 -> 476"   "WriteFile 100 7 -> 7"      "Sleep 300"
//   "SetCommBreak 100"          "ClearCommBreak 100"        "CloseHandle 100"
// A failed call ends in " -> failed".
const std::vector<std::string>& Calls();
// Only the calls whose line starts with `prefix`.
std::vector<std::string> CallsStartingWith(const std::string& prefix);

// Reads that would have waited without limit (all read time-outs 0 and not
// enough input ever scheduled): the fake returns what it has instead and
// counts them here, so a test can catch an unbounded wait.
unsigned UnboundedReads();

}  // namespace fake
