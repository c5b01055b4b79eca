#include "points/gate_address.h"

#include <cstring>

#include "host/log.h"
#include "host/missing_record.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";
const char kSeparator[] = "_";
const char kDecimalDigits[] = "0123456789";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsAllowed(std::uint32_t position, char c) {
    return c != '\0' && std::strchr(kAllowedCharacters[position], c) != nullptr;
}

// One "%Nu" field: blanks skipped, then at most width characters of an
// optional sign and decimal digits. False when no digit was found.
bool ScanUnsigned(const char* text, std::size_t* at, std::size_t width, std::uint32_t* value) {
    std::size_t i = *at;
    while (IsBlank(text[i])) {
        ++i;
    }
    std::size_t used = 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
        ++used;
    }
    std::uint32_t number = 0;
    std::size_t digits = 0;
    while (used < width && IsDigit(text[i])) {
        number = number * 10u + static_cast<std::uint32_t>(text[i] - '0');
        ++i;
        ++used;
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    *value = negative ? 0u - number : number;
    *at = i;
    return true;
}

bool ScanLiteral(const char* text, std::size_t* at, char literal) {
    if (text[*at] != literal) {
        return false;
    }
    ++*at;
    return true;
}

}  // namespace

const char* const kAllowedCharacters[kGateAddressLength] = {
    kHexDigits, kHexDigits, kSeparator, "1", "0", "14", kSeparator, kDecimalDigits, kDecimalDigits,
};

std::size_t CopyAddress(const char* address, char (&copy)[kAddressCopySize]) {
    std::size_t length = 0;
    while (length < kAddressCopySize && address[length] != '\0') {
        ++length;
    }
    const std::size_t kept = length < kAddressCopySize ? length : kAddressCopySize - 1;
    std::memcpy(copy, address, kept);
    copy[kept] = '\0';
    return length;
}

std::uint32_t Parse(AddressParseRecord* record) {
    if (record == nullptr || record->address == nullptr) {
        return RefuseMissingRecord("Parse", kResultRefused);
    }
    char copy[kAddressCopySize];
    if (CopyAddress(record->address, copy) != kGateAddressLength) {
        Log(kLogTrace, "RUVAZI> Parse() wrong length address string '%s'", copy);
        return kResultRefused;
    }
    for (std::uint32_t position = 0; position < kGateAddressLength; ++position) {
        if (!IsAllowed(position, copy[position])) {
            Log(kLogTrace, "RUVAZI> Parse() Illegal character %d in '%s'", position, copy);
            return kResultRefused;
        }
    }
    record->outWord16 = 1;
    record->functionDigit = static_cast<std::uint32_t>(copy[5] - '0');
    record->outWord24 = 1;
    record->outWord28 = 0xFFFFFFFFu;
    record->outWord32 = 0xFFFFFFFFu;
    return kResultDone;
}

std::uint32_t SingleAddressParser(const VpiRequest* request) {
    auto* record = static_cast<AddressParseRecord*>(request->dataRecord);
    if (record == nullptr || record->address == nullptr) {
        return RefuseMissingRecord("SingleAddressParser", kResultRefused);
    }
    const std::uint32_t parsed = Parse(record);
    if (parsed != kResultDone) {
        return parsed;
    }
    const std::uint32_t digit = record->functionDigit;
    if ((digit == 1 && record->gateType != gate_type::kFunction101) ||
        (digit == 4 && record->gateType != gate_type::kFunction104)) {
        Log(kLogTrace, "RUVAZI> SingleParse() Gate type should be DIGITAL");
        return kResultRefused;
    }
    return kResultDone;
}

std::uint32_t ConvertAddress(const char* address, GateNumbers* numbers) {
    // Only the first 9 characters take part.
    char head[kGateAddressLength + 1];
    std::size_t length = 0;
    while (length < kGateAddressLength && address[length] != '\0') {
        head[length] = address[length];
        ++length;
    }
    head[length] = '\0';

    *numbers = GateNumbers{0, 0, 0};
    std::size_t at = 0;
    if (!ScanUnsigned(head, &at, 2, &numbers->slave)) {
        return 0;
    }
    if (!ScanLiteral(head, &at, '_') || !ScanUnsigned(head, &at, 3, &numbers->function)) {
        return 1;
    }
    if (!ScanLiteral(head, &at, '_') || !ScanUnsigned(head, &at, 2, &numbers->equipment)) {
        return 2;
    }
    return 3;
}

bool IsDecimalAddress(const char* address) {
    static const char kShape[] = "dd_ddd_dd";
    for (std::size_t i = 0; i < kGateAddressLength; ++i) {
        const bool fits = kShape[i] == 'd' ? IsDigit(address[i]) : address[i] == kShape[i];
        if (!fits) {
            return false;  // a NUL never fits, so the text is not read past it
        }
    }
    return true;
}

std::uint32_t ConvertForExchange(const char* addressCopy, GateNumbers* numbers) {
    if (!IsDecimalAddress(addressCopy)) {
        Log(kLogTrace, "RUVAZI> Adresse non convertible '%s'", addressCopy);
        return kResultRefused;
    }
    // A decimal address always fills all three fields.
    static_cast<void>(ConvertAddress(addressCopy, numbers));
    Log(kLogTrace, "RUVAZI> Numero d'esclave    : %d", numbers->slave);
    Log(kLogTrace, "RUVAZI> Numero de fonction  : %d", numbers->function);
    Log(kLogTrace, "RUVAZI> Numero d'equipement : %d", numbers->equipment);
    return kResultDone;
}
