#include "host/vpi_main.h"

#include "host/vpi_info.h"
#include "link/port_management.h"
#include "link/startup.h"
#include "points/gate_address.h"
#include "points/single_read.h"
#include "points/single_write.h"

std::uint32_t vpiEnded = 0;

namespace {

// One slot per function code; empty slots answer 2.
constexpr Operation kOperations[function_code::kCount] = {
    nullptr,              // 0
    ColdStart,            // 1
    WarmStart,            // 2
    SingleAddressParser,  // 3
    nullptr,              // 4
    SingleRead,           // 5
    nullptr,              // 6
    SingleWrite,          // 7
    nullptr,              // 8
    nullptr,              // 9
    nullptr,              // 10
    EndVpi,               // 11
    CloseCom,             // 12
    ReOpenCom,            // 13
    GetVpiInfo,           // 14
    ChangeVpiParams,      // 15
    nullptr,              // 16
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
