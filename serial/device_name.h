// The name under which the platform opens a serial device.
#pragma once

#include <cstddef>

// Room for any port name the host can give (at most 11 characters) with the
// device namespace prefix and the terminating NUL.
constexpr std::size_t kPlatformNameCapacity = 32;

// Windows opens COM1 to COM9 by their plain names but COM10 and above only as
// "\\.\COMnn". When `name` is "COM" (in any letter case, as Windows device
// names are) followed by a decimal number of 10 or more written without a
// leading zero, writes the prefixed name into `buffer` and returns it. Every
// other name, and a name too long for the buffer, is returned unchanged.
// "COM010" stays as it is: the device is called COM10, so the prefix would
// not find it either.
const char* PrefixedComName(const char* name, char* buffer, std::size_t capacity);
