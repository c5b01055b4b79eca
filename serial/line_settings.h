// Line settings and modem-control word as the host stores them.
#pragma once

#include <cstdint>

// Four little-endian 16-bit slots; each low byte goes to its own DCB field.
struct LineSettings {
    std::uint16_t baudRate;  // bits per second
    std::uint16_t dataBits;  // low byte: ByteSize
    std::uint16_t stopBits;  // low byte: 0 one, 1 one and a half, 2 two
    std::uint16_t parity;    // low byte: 0 none, 1 odd, 2 even, 3 mark, 4 space
};
static_assert(sizeof(LineSettings) == 8, "LineSettings is four 16-bit slots");

// Bits of the lineControl word that select how DTR and RTS are driven.
namespace line_control {
constexpr std::uint16_t kDtrEnable = 0x0101;     // either bit: DTR held on
constexpr std::uint16_t kDtrHandshake = 0x8000;  // only without kDtrEnable
constexpr std::uint16_t kRtsEnable = 0x0202;     // either bit: RTS held on
constexpr std::uint16_t kRtsHandshake = 0x1000;  // only without kRtsEnable
constexpr std::uint16_t kRtsToggle = 0x2000;     // only without the two above
// DTR on and RTS on: what a cold start opens with.
constexpr std::uint16_t kDtrRtsOn = 0x0303;
}  // namespace line_control
