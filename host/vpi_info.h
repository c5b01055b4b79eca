// GetVpiInfo: describes the module to the host.
#pragma once

#include <cstdint>

#include "host/records.h"

// Latin-1 short name (0xE9 at index 3) and the three-line banner.
extern const char kVpiShortName[];
extern const char kVpiBanner[];

std::uint32_t GetVpiInfo(const VpiRequest* request);
