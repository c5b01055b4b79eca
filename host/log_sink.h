// For programs that embed the module on a POSIX build (tests, tools): they
// play the host and receive every log line here.
#pragma once

#include "host/log.h"

// Installs the sink that receives every log line; nullptr drops them.
// Returns the sink installed before.
HostErrFunction SetHostLogSink(HostErrFunction sink);
