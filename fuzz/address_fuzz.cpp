// Gate address texts of any content and length through the parser and the
// read transaction. Besides memory safety, the oracles: the parser accepts
// exactly the texts of the address syntax, and a read sends a request only
// for an address of two, three and two decimal digits.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_input.h"
#include "host/vpi_main.h"
#include "points/gate_address.h"
#include "points/gate_records.h"
#include "testing/fake_serial.h"

namespace {

bool In(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool MatchesSyntax(const std::string& text) {
    static const char* const kSets[9] = {
        "0123456789ABCDEF", "0123456789ABCDEF", "_", "1", "0", "14", "_",
        "0123456789",       "0123456789"};
    if (text.size() != 9) {
        return false;
    }
    for (std::size_t i = 0; i < 9; ++i) {
        if (!In(text[i], kSets[i])) {
            return false;
        }
    }
    return true;
}

bool Decimal(const std::string& text) {
    const char* shape = "dd_ddd_dd";
    if (text.size() < 9) {
        return false;
    }
    for (std::size_t i = 0; i < 9; ++i) {
        const bool fits = shape[i] == 'd' ? (text[i] >= '0' && text[i] <= '9') : text[i] == '_';
        if (!fits) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint32_t gateType = input.Byte() % 8;
    const fake::Bytes bytes = input.Bytes(size);
    // The text up to its first NUL, kept in a buffer of exactly its size so
    // that any read past the NUL is caught by the address sanitizer.
    std::string text(bytes.begin(), bytes.end());
    text = text.substr(0, text.find('\0'));

    vpiEnded = 0;
    {
        std::unique_ptr<char[]> exact(new char[text.size() + 1]);
        std::memcpy(exact.get(), text.c_str(), text.size() + 1);
        AddressParseRecord record{};
        record.address = exact.get();
        record.gateType = gateType;
        VpiRequest request{nullptr, function_code::kSingleAddressParser, 0, 0, &record};
        const std::uint32_t result = VpiMain(&request);
        const bool syntax = MatchesSyntax(text);
        const bool typeOk =
            syntax && ((text[5] == '1' && gateType == 6) || (text[5] == '4' && gateType == 0));
        if ((result == kResultDone) != typeOk || (syntax != (record.outWord16 == 1))) {
            __builtin_trap();
        }
    }

    fake::Reset();
    fake::AddDevice("COM1");
    ComChannel channel;
    std::memset(&channel, 0, sizeof channel);
    channel.portHandle = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    COMMTIMEOUTS timeouts{0, 0, 10, 0, 0};
    SetCommTimeouts(channel.portHandle, &timeouts);
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    std::memcpy(exact.get(), text.c_str(), text.size() + 1);
    GateValue value{0, 0};
    GateRecord gate{};
    gate.address = exact.get();
    gate.MemType = 1;
    gate.gateValue = &value;
    VpiRequest request{&channel, function_code::kSingleRead, 0, 0, &gate};
    const std::uint32_t result = VpiMain(&request);
    const bool sent = !fake::FindDevice("COM1")->written.empty();
    if (sent != Decimal(text) || (!Decimal(text) && result != kResultRefused)) {
        __builtin_trap();
    }
    return 0;
}
