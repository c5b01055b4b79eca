#include "link/frames.h"

#include "host/log.h"
#include "serial/com.h"

std::uint8_t FrameChecksum(const std::uint8_t* frame, std::uint32_t lastIndex) {
    std::uint32_t sum = 0;
    for (std::uint32_t i = 1; i < lastIndex; ++i) {
        sum += frame[i];
    }
    return static_cast<std::uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
}

void BuildReadRequest(std::uint8_t* frame, std::uint32_t slave, std::uint32_t function,
                      std::uint32_t equipment) {
    frame[0] = frame::kStart;
    frame[1] = static_cast<std::uint8_t>(frame::kReadRequestLast);
    frame[2] = static_cast<std::uint8_t>(slave & 0xFFu);
    frame[3] = static_cast<std::uint8_t>(function & 0xFFu);
    frame[4] = frame::kReadCommand;
    frame[5] = static_cast<std::uint8_t>(equipment & 0xFFu);
    frame[6] = FrameChecksum(frame, frame::kReadRequestLast);
}

void BuildWriteRequest(std::uint8_t* frame, std::uint32_t slave, std::uint32_t function,
                       std::uint32_t equipment, std::uint8_t data) {
    frame[0] = frame::kStart;
    frame[1] = static_cast<std::uint8_t>(frame::kWriteRequestLast);
    frame[2] = static_cast<std::uint8_t>(slave & 0xFFu);
    frame[3] = static_cast<std::uint8_t>(function & 0xFFu);
    frame[4] = frame::kWriteCommand;
    frame[5] = static_cast<std::uint8_t>(equipment & 0xFFu);
    frame[6] = data;
    frame[7] = FrameChecksum(frame, frame::kWriteRequestLast);
}

void BuildMasterInit(std::uint8_t* frame) {
    // Slave position F1, function CB, write, equipment 0, data 01 00.
    frame[0] = frame::kStart;
    frame[1] = static_cast<std::uint8_t>(frame::kMasterInitLast);
    frame[2] = 0xF1;
    frame[3] = 0xCB;
    frame[4] = frame::kWriteCommand;
    frame[5] = 0x00;
    frame[6] = 0x01;
    frame[7] = 0x00;
    frame[8] = FrameChecksum(frame, frame::kMasterInitLast);
}

std::uint32_t Send(const std::uint8_t* frame, std::uint32_t lastIndex, HANDLE handle) {
    const std::uint32_t expected = lastIndex + 1;
    // ComWrite reports a count only when the platform's write succeeded, so a
    // failed write leaves the last index here, one less than expected.
    std::uint32_t written = lastIndex;
    const std::uint32_t status = ComWrite(handle, frame, expected, &written);
    if (status == com_status::kDone && written == expected) {
        return 0;
    }
    Log(kLogTrace, "RUVAZI> Send() error: unable to send to com port, %d pour %d",
        static_cast<std::int32_t>(written), static_cast<std::int32_t>(expected));
    return 2;
}

std::uint32_t Receive(std::uint8_t* buffer, std::uint32_t* count, HANDLE handle) {
    const std::uint32_t expected = *count + 1;
    std::uint32_t received = 0;
    const std::uint32_t status = ComRead(handle, buffer, expected, &received);
    if (status == com_status::kDone && received == expected) {
        return 0;
    }
    *count = received;
    return 2;
}

std::uint32_t CheckReplyHeader(const std::uint8_t* reply) {
    if (reply[0] != frame::kStart) {
        Log(kLogTrace, "RUVAZI> Mauvais caractere de debut de trame, a: %x, r: %x",
            static_cast<std::uint32_t>(frame::kStart), static_cast<std::uint32_t>(reply[0]));
        return 2;
    }
    if (reply[1] != frame::kReplyLast) {
        Log(kLogTrace, "RUVAZI> Mauvais code de retour, a: OxO7, r: %x",
            static_cast<std::uint32_t>(reply[1]));
        return 2;
    }
    if (reply[2] != frame::kReplySlave) {
        Log(kLogTrace, "RUVAZI> Mauvais code de retour, a: OxF0, r: %x",
            static_cast<std::uint32_t>(reply[2]));
        return 2;
    }
    return 0;
}
