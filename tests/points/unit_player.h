// Plays the unit on a fake device: answers read requests with replies that
// carry a correct checksum, and acknowledges write requests.
#pragma once

#include <cstdint>
#include <functional>

#include "testing/fake_serial.h"

namespace unit {

// The checksum a frame's last byte must hold: bytes 1 to last add up to a
// multiple of 256. Computed here independently of the module.
inline std::uint8_t ChecksumFor(const fake::Bytes& frame) {
    unsigned sum = 0;
    for (std::size_t i = 1; i + 1 < frame.size(); ++i) {
        sum += frame[i];
    }
    return static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu);
}

// The frame with its last byte set to the right checksum.
inline fake::Bytes Sealed(fake::Bytes frame) {
    frame.back() = ChecksumFor(frame);
    return frame;
}

// A reply FF 07 F0 function byte4 equipment value checksum.
inline fake::Bytes Reply(std::uint8_t function, std::uint8_t equipment, std::uint8_t value,
                         std::uint8_t byte4 = 0x00) {
    return Sealed({0xFF, 0x07, 0xF0, function, byte4, equipment, value, 0x00});
}

// What the unit sends for its n-th read request (from 0), given the reply a
// correct unit would send. An empty answer is silence.
using Answer = std::function<fake::Bytes(unsigned n, const fake::Bytes& correct)>;

inline fake::Bytes Correctly(unsigned, const fake::Bytes& correct) {
    return correct;
}

class Player {
  public:
    // Replies arrive this long after the request has been written.
    static constexpr std::uint64_t kReplyDelayMs = 5;

    explicit Player(fake::Device& device) : device_(device) {
        device_.onWrite = [this](fake::Device& d, const fake::Bytes& frame) { Hear(d, frame); };
    }
    ~Player() { device_.onWrite = nullptr; }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    std::uint8_t value = 0;  // the gate's value in the unit
    Answer answer = Correctly;
    bool acknowledgeWrites = true;
    unsigned readRequests = 0;
    unsigned writeRequests = 0;

  private:
    void Hear(fake::Device& device, const fake::Bytes& frame) {
        if (frame.empty() || frame[0] != 0xFF || frame.back() != ChecksumFor(frame)) {
            return;  // not a frame the unit understands
        }
        if (frame.size() == 7 && frame[4] == 0x3C) {
            const fake::Bytes reply = answer(readRequests++, Reply(frame[3], frame[5], value));
            if (!reply.empty()) {
                device.QueueIn(reply, kReplyDelayMs);
            }
        } else if (frame.size() == 8 && frame[4] == 0x3E) {
            ++writeRequests;
            value = frame[6];
            // An acknowledgement that no confirmation check accepts (another
            // function and equipment), so a confirmation that reads it
            // instead of draining it fails.
            if (acknowledgeWrites) {
                device.QueueIn(Reply(0x00, 0xEE, value, 0x3E), kReplyDelayMs);
            }
        }
    }

    fake::Device& device_;
};

}  // namespace unit
