// The serial line library: eight stateless operations over the platform's
// serial calls, with small integer results. It keeps nothing between calls
// and writes no log; its callers log.
#pragma once

#include <cstdint>

#include "platform/win32_serial.h"
#include "serial/line_settings.h"

// Status codes of ComOpen, ComClose, ComWrite and ComRead.
namespace com_status {
constexpr std::uint32_t kDone = 0;
constexpr std::uint32_t kCannotOpen = 1;       // no device, held, or time-outs refused
constexpr std::uint32_t kShortWrite = 2;       // fewer bytes taken than asked
constexpr std::uint32_t kStateUnreadable = 4;  // GetCommState failed
constexpr std::uint32_t kSettingsRefused = 5;  // SetCommState failed
constexpr std::uint32_t kIoFailed = 7;         // close, write or read failed, or no byte read
}  // namespace com_status

// Opens and configures a port. The handle is stored in *handle right after
// the open, before any test; after a nonzero status it is no usable handle.
std::uint32_t ComOpen(const char* deviceName, const LineSettings& settings,
                      std::uint16_t lineControl, HANDLE* handle);

// Closes the port: 0, or 7 when the platform refuses (the port stays open).
std::uint32_t ComClose(HANDLE handle);

// Sets the total read time-out in units of 10 ms. Returns the time-out in
// force before the call, in the same units; 0 when a platform call failed.
std::uint32_t ComSetReadTimeout(HANDLE handle, std::uint32_t units);

// Drains pending input. 0, or 1 when the last read of the drain failed.
std::uint32_t ComPurge(HANDLE handle);

// Holds a break on the line for the duration. Always 0.
std::uint32_t ComBreak(std::uint32_t durationMs, HANDLE handle);

// Writes count bytes; *written (when not null) gets the count taken.
std::uint32_t ComWrite(HANDLE handle, const std::uint8_t* bytes, std::uint32_t count,
                       std::uint32_t* written);

// Reads count bytes (at most 65,535); *received (when not null) gets the
// number that arrived, also on failure.
std::uint32_t ComRead(HANDLE handle, std::uint8_t* buffer, std::uint32_t count,
                      std::uint32_t* received);

// Waits the duration. Always 0.
std::uint32_t ComPause(std::uint32_t durationMs);
