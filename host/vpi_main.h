// The single export and the function-code table behind it.
#pragma once

#include <cstdint>

#include "host/records.h"
#include "platform/compiler.h"

// Function codes with an operation.
namespace function_code {
constexpr std::uint32_t kColdStart = 1;
constexpr std::uint32_t kWarmStart = 2;
constexpr std::uint32_t kSingleAddressParser = 3;
constexpr std::uint32_t kSingleRead = 5;
constexpr std::uint32_t kSingleWrite = 7;
constexpr std::uint32_t kEndVpi = 11;
constexpr std::uint32_t kCloseCom = 12;
constexpr std::uint32_t kReOpenCom = 13;
constexpr std::uint32_t kGetVpiInfo = 14;
constexpr std::uint32_t kChangeVpiParams = 15;
constexpr std::uint32_t kCount = 17;  // table slots 0 to 16
}  // namespace function_code

// An operation: one function of the request, returning a result code.
using Operation = std::uint32_t (*)(const VpiRequest* request);

// Set by EndVpi; while it is 1, VpiMain serves nothing. The module's only
// state of its own, shared by every instance in the process.
extern std::uint32_t vpiEnded;

extern "C" std::uint32_t VPI_STDCALL VpiMain(const VpiRequest* request);
