#include "serial/device_name.h"

namespace {

bool IsLetter(char c, char upper) {
    return c == upper || c == upper - 'A' + 'a';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "COM" and a number of 10 or more: two or more digits, the first not 0.
bool NamesComAbove9(const char* name) {
    if (!IsLetter(name[0], 'C') || !IsLetter(name[1], 'O') || !IsLetter(name[2], 'M')) {
        return false;
    }
    const char* digits = name + 3;
    if (digits[0] < '1' || digits[0] > '9') {
        return false;
    }
    std::size_t count = 0;
    while (IsDigit(digits[count])) {
        ++count;
    }
    return count >= 2 && digits[count] == '\0';
}

}  // namespace

const char* PrefixedComName(const char* name, char* buffer, std::size_t capacity) {
    if (name == nullptr || buffer == nullptr || !NamesComAbove9(name)) {
        return name;
    }
    static const char kPrefix[] = "\\\\.\\";
    constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
    std::size_t length = 0;
    while (name[length] != '\0') {
        ++length;
    }
    if (capacity < kPrefixLength + length + 1) {
        return name;
    }
    for (std::size_t i = 0; i < kPrefixLength; ++i) {
        buffer[i] = kPrefix[i];
    }
    for (std::size_t i = 0; i <= length; ++i) {
        buffer[kPrefixLength + i] = name[i];
    }
    return buffer;
}
