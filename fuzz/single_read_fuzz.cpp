// SingleRead against a unit that answers with arbitrary bytes. Besides
// memory safety, the oracle: a read that reports success has stored the
// value byte of a reply that is entirely right (header, function and
// equipment echo, checksum); a read that fails leaves the value alone.
#include <cstring>
#include <set>

#include "fuzz/fuzz_input.h"
#include "host/vpi_main.h"
#include "link/frames.h"
#include "points/gate_records.h"
#include "testing/fake_serial.h"

namespace {

bool ValidReply(const fake::Bytes& reply, std::uint8_t function, std::uint8_t equipment) {
    if (reply.size() < 8) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < 8; ++i) {
        sum += reply[i];
    }
    return reply[0] == 0xFF && reply[1] == 0x07 && reply[2] == 0xF0 && reply[3] == function &&
           reply[5] == equipment && (sum & 0xFF) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    fake::Reset();
    vpiEnded = 0;
    fake::Device& device = fake::AddDevice("COM1");

    ComChannel channel;
    std::memset(&channel, 0, sizeof channel);
    channel.portHandle = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    COMMTIMEOUTS timeouts{0, 0, 100, 0, 0};
    SetCommTimeouts(channel.portHandle, &timeouts);
    // Leftovers of an earlier frame in the reply area.
    for (std::uint8_t& byte : channel.frameBuffer) {
        byte = input.Byte();
    }

    std::set<std::uint16_t> goodValues;
    std::vector<fake::Bytes> replies;
    for (int attempt = 0; attempt < 4 && !input.Empty(); ++attempt) {
        fake::Bytes reply = input.Bytes(input.Byte() % 12);
        if (ValidReply(reply, 0x65, 0x03)) {
            goodValues.insert(reply[6]);
        }
        replies.push_back(reply);
    }
    device.ReplyToWrites(replies);

    GateValue value{0, 0xBEEF};
    GateRecord gate{};
    gate.address = "01_101_03";
    gate.MemType = 1;
    gate.gateValue = &value;
    VpiRequest request{&channel, function_code::kSingleRead, 0, 0, &gate};
    const std::uint32_t result = VpiMain(&request);

    if (result == kResultDone) {
        if (goodValues.count(value.value) == 0) {
            __builtin_trap();  // a value reported good that no valid reply carried
        }
    } else if (result != kResultFailed || value.value != 0xBEEF) {
        __builtin_trap();  // a failed read changed the value, or an unknown result
    }
    return 0;
}
