#include "points/single_write.h"

#include "host/log.h"
#include "host/missing_record.h"
#include "link/frames.h"
#include "points/gate_address.h"
#include "points/gate_records.h"
#include "serial/com.h"

namespace {

// Checks a complete confirmation reply: header, then the function and
// equipment echoes. 0, or 2 after one log line.
std::uint32_t CheckConfirmation(const std::uint8_t* reply, const GateNumbers& numbers) {
    if (CheckReplyHeader(reply) != 0) {
        return kResultFailed;
    }
    const std::uint32_t echoedFunction = reply[3];
    if (echoedFunction != numbers.function) {
        Log(kLogTrace, "RUVAZI> Mauvais code de retour, a: %x, r: %x", numbers.function,
            echoedFunction);
        return kResultFailed;
    }
    const std::uint32_t echoedEquipment = reply[5];
    if (echoedEquipment != numbers.equipment) {
        Log(kLogTrace, "RUVAZI> Mauvais code de retour, a: %x, r: %x", numbers.equipment,
            echoedEquipment);
        return kResultFailed;
    }
    return kResultDone;
}

}  // namespace

std::uint32_t SingleWrite(const VpiRequest* request) {
    ComChannel* channel = request->channel;
    if (channel == nullptr) {
        return RefuseMissingRecord("SingleWrite", kResultRefused);
    }
    const HANDLE handle = channel->portHandle;
    if (handle == nullptr) {
        return kResultRefused;
    }
    const auto* gate = static_cast<const GateRecord*>(request->dataRecord);
    if (gate == nullptr || gate->address == nullptr || gate->gateValue == nullptr) {
        return RefuseMissingRecord("SingleWrite", kResultRefused);
    }
    const std::uint16_t value = gate->gateValue->value;
    Log(kLogTrace, "RUVAZI> Data a forcer %d", static_cast<std::uint32_t>(value));
    char address[kAddressCopySize];
    CopyAddress(gate->address, address);
    GateNumbers numbers{};
    if (ConvertForExchange(address, &numbers) != kResultDone) {
        return kResultRefused;
    }
    if (numbers.function != kWritableFunction) {
        return kResultRefused;
    }
    const auto data = static_cast<std::uint8_t>(value & 0xFFu);

    std::uint8_t* const frame = channel->frameBuffer;
    std::uint8_t* const reply = frame + kReplyOffset;
    std::uint32_t failure = kResultFailed;
    for (std::uint32_t left = kWriteAttempts; left > 0;) {
        --left;
        const std::uint32_t attempt = kWriteAttempts - left;
        // Drains' results do not matter: what is left over is thrown away.
        static_cast<void>(ComPurge(handle));
        BuildWriteRequest(frame, numbers.slave, numbers.function, numbers.equipment, data);
        Log(kLogTrace, "RUVAZI> Ecriture : %02x %02x %02x %02x %02x %02x %02x %02x", frame[0],
            frame[1], frame[2], frame[3], frame[4], frame[5], frame[6], frame[7]);
        failure = Send(frame, frame::kWriteRequestLast, handle);
        if (failure != 0) {
            Log(kLogTrace, "RUVAZI> DoWrite() error sending write request, retry %d '%s'", attempt,
                address);
            continue;
        }
        ComPause(kWriteSettleMs);
        // Whatever the unit answered to the write request is discarded unread.
        static_cast<void>(ComPurge(handle));
        BuildReadRequest(frame, numbers.slave, numbers.function, numbers.equipment);
        Log(kLogTrace, "RUVAZI> Confirme %02x %02x %02x %02x %02x %02x %02x", frame[0], frame[1],
            frame[2], frame[3], frame[4], frame[5], frame[6]);
        failure = Send(frame, frame::kReadRequestLast, handle);
        if (failure != 0) {
            Log(kLogTrace, "RUVAZI> DoRead() error sending data, retry %d '%s'", attempt, address);
            continue;
        }
        std::uint32_t count = frame::kReplyLast;
        failure = Receive(reply, &count, handle);
        if (failure != 0) {
            Log(kLogTrace, "RUVAZI> DoRead() error receiving data, retry %d '%s'", attempt,
                address);
            continue;
        }
        Log(kLogTrace, "RUVAZI> Nombre de caracteres recus %d", count);
        Log(kLogTrace, "RUVAZI> Reponse %02x %02x %02x %02x %02x %02x %02x %02x", reply[0],
            reply[1], reply[2], reply[3], reply[4], reply[5], reply[6], reply[7]);
        // A complete reply settles the call, refused or not.
        return CheckConfirmation(reply, numbers);
    }
    Log(kLogTrace, "RUVAZI> SingleWrite() , ret val is %d", failure);
    return failure;
}
