// On POSIX builds the embedding program plays the host and installs the sink.
// Deliberately never names err: the C library exports one that exits.
#include "host/log_sink.h"

namespace {
HostErrFunction installedSink = nullptr;
}  // namespace

HostErrFunction HostErrEntry() {
    return installedSink;
}

HostErrFunction SetHostLogSink(HostErrFunction sink) {
    HostErrFunction previous = installedSink;
    installedSink = sink;
    return previous;
}
