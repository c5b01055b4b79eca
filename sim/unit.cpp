#include "sim/unit.h"

namespace sim {

namespace {
constexpr std::uint8_t kStart = 0xFF;
constexpr std::uint8_t kRead = 0x3C;
constexpr std::uint8_t kWrite = 0x3E;
constexpr std::uint8_t kMasterSlave = 0xF1;
constexpr std::uint8_t kReplySlave = 0xF0;
}  // namespace

std::uint8_t Unit::Checksum(const std::uint8_t* frame, std::size_t lastIndex) {
    unsigned sum = 0;
    for (std::size_t i = 1; i < lastIndex; ++i) {
        sum += frame[i];
    }
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::uint8_t Unit::Get(GateKey gate) const {
    auto found = gates_.find(gate);
    return found == gates_.end() ? 0 : found->second;
}

Bytes Unit::Feed(const std::uint8_t* bytes, std::size_t count) {
    pending_.insert(pending_.end(), bytes, bytes + count);
    Bytes out;
    for (;;) {
        // Resynchronise on a start byte followed by a plausible last index.
        std::size_t skip = 0;
        while (skip < pending_.size() &&
               (pending_[skip] != kStart || (skip + 1 < pending_.size() &&
                                             (pending_[skip + 1] < 6 || pending_[skip + 1] > 8)))) {
            ++skip;
        }
        counters_.discardedBytes += static_cast<unsigned>(skip);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(skip));
        if (pending_.size() < 2) {
            return out;
        }
        const std::size_t length = static_cast<std::size_t>(pending_[1]) + 1;
        if (pending_.size() < length) {
            return out;
        }
        Bytes frame(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
        Bytes reply = Handle(frame);
        out.insert(out.end(), reply.begin(), reply.end());
    }
}

Bytes Unit::Handle(const Bytes& frame) {
    const std::size_t last = frame.size() - 1;
    if (Checksum(frame.data(), last) != frame[last]) {
        ++counters_.badChecksums;
        return {};
    }
    const std::uint8_t slave = frame[2];
    const std::uint8_t function = frame[3];
    const std::uint8_t command = frame[4];
    const std::uint8_t equipment = frame[5];
    if (slave == kMasterSlave) {
        ++counters_.masterInits;
        return {};
    }
    if (command == kRead && last == 6) {
        ++counters_.readRequests;
        return Reply(slave, function, equipment, Get({slave, function, equipment}));
    }
    if (command == kWrite && last == 7) {
        ++counters_.writeRequests;
        Set({slave, function, equipment}, frame[6]);
        return Reply(slave, function, equipment, frame[6]);
    }
    return {};
}

Bytes Unit::Reply(std::uint8_t slave, std::uint8_t function, std::uint8_t equipment,
                  std::uint8_t value) {
    ++replies_;
    Bytes reply{kStart, 0x07, kReplySlave, function, slave, equipment, value, 0};
    reply[7] = Checksum(reply.data(), 7);
    if (faults_.silentEvery != 0 && replies_ % faults_.silentEvery == 0) {
        ++counters_.repliesSilenced;
        return {};
    }
    if (faults_.corruptValueEvery != 0 && replies_ % faults_.corruptValueEvery == 0) {
        ++counters_.repliesCorrupted;
        reply[6] ^= 0x10;
    }
    if (faults_.truncateEvery != 0 && replies_ % faults_.truncateEvery == 0) {
        ++counters_.repliesTruncated;
        reply.pop_back();
    }
    return reply;
}

}  // namespace sim
