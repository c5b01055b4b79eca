#include "host/vpi_info.h"

#include "host/log.h"
#include "host/missing_record.h"

const char kVpiShortName[] = "Zad\xE9z Udivud EVUVA";
const char kVpiBanner[] =
    "\r\n"
    "--------------------------------          \r\n"
    "       Radiv Azevur ERAVU.                \r\n"
    "--------------------------------          \r\n";

static_assert(sizeof(kVpiShortName) == 18 + 1, "short name is 18 bytes");
static_assert(sizeof(kVpiBanner) == 134 + 1, "banner is 134 bytes");

std::uint32_t GetVpiInfo(const VpiRequest* request) {
    auto* info = static_cast<VpiInfo*>(request->dataRecord);
    if (info == nullptr) {
        return RefuseMissingRecord("GetVpiInfo", kResultRefused);
    }
    info->word0 = 70;
    info->shortName = kVpiShortName;
    info->banner = kVpiBanner;
    info->word3 = 47;
    info->word4 = 4;
    info->word7 = 3;
    Log(kLogTrace, "RUVAZI> GetVpiInfo() exited");
    return kResultDone;
}
