#include "link/port_management.h"

#include <cstring>

#include "host/log.h"
#include "host/missing_record.h"
#include "host/vpi_main.h"
#include "link/startup.h"
#include "serial/com.h"

namespace {

// The configuration to reopen with: as stored, except that a lineControl
// left at 0 gives DTR and RTS on, as a cold start does.
PortConfig ReopenConfig(const ComChannel& channel) {
    PortConfig config = channel.portConfig;
    if (config.lineControl == 0) {
        config.lineControl = line_control::kDtrRtsOn;
    }
    return config;
}

}  // namespace

std::uint32_t CloseCom(const VpiRequest* request) {
    ComChannel* channel = request->channel;
    if (channel == nullptr) {
        return RefuseMissingRecord("CloseCom", kResultFailed);
    }
    if (channel->portHandle == nullptr) {
        Log(kLogTrace, "RUVAZI> CloseCom() exited 0");
        return kResultDone;
    }
    if (ComClose(channel->portHandle) != com_status::kDone) {
        // The handle is kept, so that a later close can try again.
        Log(kLogTrace, "RUVAZI> CloseCom() exited 2");
        return kResultFailed;
    }
    channel->portHandle = nullptr;
    Log(kLogTrace, "RUVAZI> CloseCom() exited 0");
    return kResultDone;
}

std::uint32_t ReOpenCom(const VpiRequest* request) {
    ComChannel* channel = request->channel;
    if (channel == nullptr) {
        return RefuseMissingRecord("ReOpenCom", kResultFailed);
    }
    if (!PortNameFits(channel->portConfig.portName)) {
        Log(kLogTrace, "RUVAZI> ReOpenCom() port name too long");
        return kResultFailed;
    }
    if (IsNoCommunication(channel->portConfig.portName)) {
        Log(kLogTrace, "RUVAZI> ReOpenCom() NULLDEV => no communications");
    } else {
        // A port still open would be stranded by the new open: close it first.
        if (channel->portHandle != nullptr && CloseCom(request) != kResultDone) {
            Log(kLogOpenFailure, "RUVAZI> ReOpenCom() exited 2");
            return kResultFailed;
        }
        HANDLE handle = OpenCom(ReopenConfig(*channel));
        if (handle == nullptr) {
            Log(kLogOpenFailure, "RUVAZI> ReOpenCom() exited 2");
            return kResultFailed;
        }
        channel->portHandle = handle;
        SetOpenedReadTimeout(handle, channel->readTimeout);
    }
    Log(kLogTrace, "ReOpenCom() exited 0");
    return kResultDone;
}

std::uint32_t ChangeVpiParams(const VpiRequest* request) {
    ComChannel* channel = request->channel;
    const auto* params = static_cast<const VpiParams*>(request->dataRecord);
    if (channel == nullptr || params == nullptr) {
        return RefuseMissingRecord("ChangeVpiParams", kResultFailed);
    }
    if (!PortNameFits(params->portName)) {
        Log(kLogTrace, "RUVAZI> ChangeVpiParams() port name too long");
        return kResultFailed;
    }

    if (params->readTimeout != 0) {
        channel->readTimeout = params->readTimeout;
    }

    // The open port is closed when the name changes, and also under the same
    // name when it is to be opened again, so that no handle is stranded.
    const bool otherName =
        std::strncmp(params->portName, channel->portConfig.portName, kPortNameSize) != 0;
    const bool noCommunication = IsNoCommunication(params->portName);
    bool closeFailed = false;
    if (channel->portHandle != nullptr && (otherName || !noCommunication)) {
        closeFailed = CloseCom(request) != kResultDone;
    }

    CopyPortName(channel->portConfig.portName, params->portName);
    if (params->lineSettings.baudRate != 0) {
        channel->portConfig.lineSettings = params->lineSettings;
    }

    if (closeFailed) {
        // No other port is opened over the one that could not be closed.
        Log(kLogTrace, "RUVAZI> ChangeVpiParams() exited 2");
        return kResultFailed;
    }
    if (noCommunication) {
        Log(kLogTrace, "RUVAZI> ChangeVpiParams() NULLDEV => no communications");
        return kResultDone;
    }
    HANDLE handle = OpenCom(ReopenConfig(*channel));
    if (handle == nullptr) {
        Log(kLogTrace, "RUVAZI> ChangeVpiParams() exited 2");
        return kResultFailed;
    }
    channel->portHandle = handle;
    SetOpenedReadTimeout(handle, channel->readTimeout);
    return kResultDone;
}

std::uint32_t EndVpi(const VpiRequest* request) {
    // Set first and kept whatever the close gives.
    vpiEnded = 1;
    if (request->channel == nullptr) {
        return RefuseMissingRecord("EndVpi", kResultFailed);
    }
    const std::uint32_t closed = CloseCom(request);
    Log(kLogTrace, "RUVAZI> EndVpi() exited, %d", static_cast<std::int32_t>(closed));
    return closed;
}
