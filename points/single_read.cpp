#include "points/single_read.h"

#include "host/log.h"
#include "host/missing_record.h"
#include "link/frames.h"
#include "points/gate_address.h"
#include "serial/com.h"

std::uint32_t CheckReadReply(const GateRecord& gate, const std::uint8_t* reply,
                             std::uint32_t function, std::uint32_t equipment, bool complete) {
    Log(kLogTrace, "RUVAZI> Recep. : %02x %02x %02x %02x %02x %02x %02x %02x", reply[0], reply[1],
        reply[2], reply[3], reply[4], reply[5], reply[6], reply[7]);
    if (CheckReplyHeader(reply) != 0) {
        return read_reply::kRefused;
    }
    const std::uint32_t echoedFunction = reply[3];
    if (echoedFunction != function) {
        Log(kLogTrace, "RUVAZI> Mauvais code fonction, a: %x, r: %x", function, echoedFunction);
        return read_reply::kRefused;
    }
    // The unit echoes the equipment; another one means the reply is not for
    // this gate.
    const std::uint32_t echoedEquipment = reply[5];
    if (echoedEquipment != equipment) {
        Log(kLogTrace, "RUVAZI> Mauvais code de retour, a: %x, r: %x", equipment, echoedEquipment);
        return read_reply::kRefused;
    }
    // Bytes that did not arrive still hold an earlier frame's: neither the
    // checksum nor the value can be trusted.
    if (!complete) {
        return read_reply::kIncomplete;
    }
    const std::uint32_t expectedChecksum = FrameChecksum(reply, frame::kReplyLast);
    const std::uint32_t receivedChecksum = reply[frame::kReplyLast];
    if (receivedChecksum != expectedChecksum) {
        Log(kLogTrace, "RUVAZI> Mauvais checksum, a: %x, r: %x", expectedChecksum,
            receivedChecksum);
        return read_reply::kRefused;
    }
    const std::uint8_t value = reply[6];
    if (gate.MemType == mem_type::kStoreA || gate.MemType == mem_type::kStoreB) {
        gate.gateValue->value = value;
    }
    Log(kLogTrace, "RUVAZI> Valeur lue : %x, MemType : %x", value, gate.MemType);
    return read_reply::kAccepted;
}

std::uint32_t SingleRead(const VpiRequest* request) {
    ComChannel* channel = request->channel;
    if (channel == nullptr) {
        return RefuseMissingRecord("SingleRead", kResultRefused);
    }
    const HANDLE handle = channel->portHandle;
    if (handle == nullptr) {
        return kResultRefused;
    }
    const auto* gate = static_cast<const GateRecord*>(request->dataRecord);
    if (gate == nullptr || gate->address == nullptr || gate->gateValue == nullptr) {
        return RefuseMissingRecord("SingleRead", kResultRefused);
    }
    char address[kAddressCopySize];
    CopyAddress(gate->address, address);
    GateNumbers numbers{};
    if (ConvertForExchange(address, &numbers) != kResultDone) {
        return kResultRefused;
    }

    std::uint8_t* const frame = channel->frameBuffer;
    std::uint8_t* const reply = frame + kReplyOffset;
    std::uint32_t result = kResultFailed;
    for (std::uint32_t left = kReadAttempts; left > 0 && result != kResultDone;) {
        --left;
        const std::uint32_t attempt = kReadAttempts - left;
        // The drain's result does not matter: the reply is checked anyway.
        static_cast<void>(ComPurge(handle));
        BuildReadRequest(frame, numbers.slave, numbers.function, numbers.equipment);
        // Reply byte 1: a receive of fewer than two bytes leaves this 0,
        // which the header check refuses.
        frame[frame::kReadRequestLast + 1] = 0;
        Log(kLogTrace, "RUVAZI> Emission %02x %02x %02x %02x %02x %02x %02x", frame[0], frame[1],
            frame[2], frame[3], frame[4], frame[5], frame[6]);
        if (Send(frame, frame::kReadRequestLast, handle) != 0) {
            Log(kLogTrace, "RUVAZI> DoRead() error sending data, retry %d '%s'", attempt, address);
            continue;
        }
        std::uint32_t count = frame::kReplyLast;
        const bool complete = Receive(reply, &count, handle) == 0;
        const std::uint32_t checked =
            CheckReadReply(*gate, reply, numbers.function, numbers.equipment, complete);
        if (checked == read_reply::kRefused) {
            Log(kLogTrace, "RUVAZI> DoRead() error receiving data, retry %d '%s'", attempt,
                address);
        } else if (checked == read_reply::kIncomplete) {
            Log(kLogTrace, "RUVAZI> Nombre de caracteres recus insuffisant");
        } else {
            result = kResultDone;
        }
    }
    return result;
}
