#include "host/vpi_main.h"

#include "host/vpi_info.h"

std::uint32_t vpiEnded = 0;

namespace {

// One slot per function code; empty slots answer 2.
constexpr Operation kOperations[function_code::kCount] = {
    nullptr,     // 0
    nullptr,     // 1 ColdStart
    nullptr,     // 2 WarmStart
    nullptr,     // 3 SingleAddressParser
    nullptr,     // 4
    nullptr,     // 5 SingleRead
    nullptr,     // 6
    nullptr,     // 7 SingleWrite
    nullptr,     // 8
    nullptr,     // 9
    nullptr,     // 10
    nullptr,     // 11 EndVpi
    nullptr,     // 12 CloseCom
    nullptr,     // 13 ReOpenCom
    GetVpiInfo,  // 14
    nullptr,     // 15 ChangeVpiParams
    nullptr,     // 16
};

}  // namespace

extern "C" std::uint32_t VPI_STDCALL VpiMain(const VpiRequest* request) {
    if (vpiEnded == 1) {
        return kResultDone;
    }
    if (request == nullptr) {
        return kResultFailed;
    }
    const std::uint32_t code = request->functionCode;
    if (code >= function_code::kCount) {
        return kResultFailed;
    }
    const Operation operation = kOperations[code];
    if (operation == nullptr) {
        return kResultFailed;
    }
    return operation(request);
}
