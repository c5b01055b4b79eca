// Frames exchanged with the unit, built and received in a channel's
// frameBuffer, and the two exchange steps Send and Receive.
//
// Every frame: FF, last index, slave, function, command, equipment, data...,
// checksum. The checksum makes bytes 1 to last add up to a multiple of 256.
#pragma once

#include <cstdint>

#include "platform/win32_serial.h"

namespace frame {
constexpr std::uint8_t kStart = 0xFF;
constexpr std::uint8_t kReadCommand = 0x3C;   // '<'
constexpr std::uint8_t kWriteCommand = 0x3E;  // '>'
constexpr std::uint8_t kReplySlave = 0xF0;
constexpr std::uint32_t kReadRequestLast = 6;   // 7 bytes
constexpr std::uint32_t kWriteRequestLast = 7;  // 8 bytes
constexpr std::uint32_t kMasterInitLast = 8;    // 9 bytes
constexpr std::uint32_t kReplyLast = 7;         // 8 bytes
}  // namespace frame

// Two's complement of the low byte of the sum of bytes 1 to last - 1.
std::uint8_t FrameChecksum(const std::uint8_t* frame, std::uint32_t lastIndex);

// Build a frame from frame[0] on (the low byte of each number is sent).
// A read request writes bytes 0 to 6, a write request 0 to 7, the master
// initialisation frame 0 to 8; nothing beyond.
void BuildReadRequest(std::uint8_t* frame, std::uint32_t slave, std::uint32_t function,
                      std::uint32_t equipment);
void BuildWriteRequest(std::uint8_t* frame, std::uint32_t slave, std::uint32_t function,
                       std::uint32_t equipment, std::uint8_t data);
void BuildMasterInit(std::uint8_t* frame);

// Sends bytes 0 to lastIndex. 0 when all went out; otherwise logs the
// written and expected counts and returns 2.
std::uint32_t Send(const std::uint8_t* frame, std::uint32_t lastIndex, HANDLE handle);

// Receives *count + 1 bytes (*count is the expected last index on entry).
// 0 when all arrived (*count unchanged); otherwise 2 with *count replaced by
// the number of bytes that arrived. Logs nothing.
std::uint32_t Receive(std::uint8_t* buffer, std::uint32_t* count, HANDLE handle);

// Checks reply bytes 0 to 2 (FF, 07, F0), logs the first wrong one and
// returns 2; 0 when all three are right.
std::uint32_t CheckReplyHeader(const std::uint8_t* reply);
