// Records shared with the host. Their layouts are the host's: every offset
// and size is checked below for targets whose pointers are 4 bytes wide.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32_serial.h"
#include "serial/line_settings.h"

// Result codes of VpiMain and of every operation.
constexpr std::uint32_t kResultDone = 0;     // done, or nothing to do
constexpr std::uint32_t kResultRefused = 1;  // refused, or a start-up step failed
constexpr std::uint32_t kResultFailed = 2;   // exchange or port operation failed

constexpr std::size_t kPortNameSize = 12;  // at most 11 characters and a NUL

// Describes a port to open: name, line settings and DTR/RTS control word.
struct PortConfig {
    char portName[kPortNameSize];
    LineSettings lineSettings;
    std::uint16_t lineControl;
};

constexpr std::size_t kFrameBufferSize = 14;
constexpr std::size_t kReplyOffset = 6;  // replies land at frameBuffer[6..13]

// Per-instance state, owned by the host and passed in every request.
struct ComChannel {
    std::uint32_t readTimeout;  // total read time-out, units of 10 ms
    HANDLE portHandle;          // 0 when no port is open
    PortConfig portConfig;
    std::uint8_t unused1e[2];
    std::uint16_t clearedWord;  // set to 0 by a cold start; nothing reads it
    std::uint8_t frameBuffer[kFrameBufferSize];
};

// The host's request: one per call of VpiMain.
struct VpiRequest {
    ComChannel* channel;
    std::uint32_t functionCode;
    std::uint32_t unused8;
    std::uint32_t unused12;
    void* dataRecord;
};

// Data record of GetVpiInfo: eight 32-bit words on the host's target.
struct VpiInfo {
    std::uint32_t word0;
    const char* shortName;
    const char* banner;
    std::uint32_t word3;
    std::uint32_t word4;
    std::uint32_t word5;
    std::uint32_t word6;
    std::uint32_t word7;
};

// Layout checks. On 64-bit native builds pointers widen the records, so only
// the pointer-free parts are checked there.
constexpr bool kHostPointerWidth = sizeof(void*) == 4;

static_assert(sizeof(PortConfig) == 22, "PortConfig is 22 bytes");
static_assert(offsetof(PortConfig, portName) == 0x00, "PortConfig.portName");
static_assert(offsetof(PortConfig, lineSettings) == 0x0C, "PortConfig.lineSettings");
static_assert(offsetof(PortConfig, lineControl) == 0x14, "PortConfig.lineControl");

static_assert(!kHostPointerWidth || offsetof(VpiRequest, channel) == 0, "VpiRequest.channel");
static_assert(!kHostPointerWidth || offsetof(VpiRequest, functionCode) == 4,
              "VpiRequest.functionCode");
static_assert(!kHostPointerWidth || offsetof(VpiRequest, dataRecord) == 16,
              "VpiRequest.dataRecord");
static_assert(!kHostPointerWidth || sizeof(VpiRequest) == 20, "VpiRequest is 20 bytes");

static_assert(!kHostPointerWidth || offsetof(ComChannel, readTimeout) == 0x00,
              "ComChannel.readTimeout");
static_assert(!kHostPointerWidth || offsetof(ComChannel, portHandle) == 0x04,
              "ComChannel.portHandle");
static_assert(!kHostPointerWidth || offsetof(ComChannel, portConfig) == 0x08,
              "ComChannel.portConfig");
static_assert(!kHostPointerWidth ||
                  offsetof(ComChannel, portConfig) + offsetof(PortConfig, lineSettings) == 0x14,
              "ComChannel LineSettings");
static_assert(!kHostPointerWidth ||
                  offsetof(ComChannel, portConfig) + offsetof(PortConfig, lineControl) == 0x1C,
              "ComChannel lineControl");
static_assert(!kHostPointerWidth || offsetof(ComChannel, clearedWord) == 0x20,
              "ComChannel word at 0x20");
static_assert(!kHostPointerWidth || offsetof(ComChannel, frameBuffer) == 0x22,
              "ComChannel.frameBuffer");
static_assert(!kHostPointerWidth || sizeof(ComChannel) == 48, "ComChannel is 48 bytes");

static_assert(!kHostPointerWidth || offsetof(VpiInfo, shortName) == 4, "VpiInfo word 1");
static_assert(!kHostPointerWidth || offsetof(VpiInfo, banner) == 8, "VpiInfo word 2");
static_assert(!kHostPointerWidth || offsetof(VpiInfo, word3) == 12, "VpiInfo word 3");
static_assert(!kHostPointerWidth || offsetof(VpiInfo, word5) == 20, "VpiInfo word 5");
static_assert(!kHostPointerWidth || offsetof(VpiInfo, word7) == 28, "VpiInfo word 7");
static_assert(!kHostPointerWidth || sizeof(VpiInfo) == 32, "VpiInfo is 32 bytes");
