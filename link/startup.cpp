#include "link/startup.h"

#include <cstring>

#include "host/log.h"
#include "host/missing_record.h"
#include "host/vpi_main.h"
#include "link/frames.h"
#include "serial/com.h"

namespace {

constexpr int kInitFrames = 3;
constexpr DWORD kInitFramePauseMs = 300;

// Logs, builds and sends one master initialisation frame; Send's result.
std::uint32_t SendMasterInit(ComChannel& channel) {
    std::uint8_t* frame = channel.frameBuffer;
    Log(kLogTrace, "RUVAZI> Trame d'initialisation du mode MAITRE");
    BuildMasterInit(frame);
    Log(kLogTrace, "RUVAZI> Emision : %02x %02x %02x %02x %02x %02x %02x %02x %02x", frame[0],
        frame[1], frame[2], frame[3], frame[4], frame[5], frame[6], frame[7], frame[8]);
    const std::uint32_t sent = Send(frame, frame::kMasterInitLast, channel.portHandle);
    if (sent != 0) {
        Log(kLogTrace, "RUVAZI> Erreur emition de la trame d'initialisation, %u", sent);
    }
    return sent;
}

}  // namespace

bool PortNameFits(const char* name) {
    return std::memchr(name, '\0', kPortNameSize) != nullptr;
}

bool IsNoCommunication(const char* name) {
    return std::strncmp(name, "NULLDEV", kPortNameSize) == 0 ||
           std::strncmp(name, "NUL", kPortNameSize) == 0;
}

void CopyPortName(char* destination, const char* source) {
    std::size_t i = 0;
    for (; i + 1 < kPortNameSize && source[i] != '\0'; ++i) {
        destination[i] = source[i];
    }
    destination[i] = '\0';
}

HANDLE OpenCom(const PortConfig& config) {
    HANDLE handle = nullptr;
    const std::uint32_t status =
        ComOpen(config.portName, config.lineSettings, config.lineControl, &handle);
    if (status != com_status::kDone) {
        Log(kLogOpenFailure, "RUVAZI> OpenCom() exited with error");
        return nullptr;
    }
    Log(kLogTrace, "RUVAZI> OpenCom() exited OK, file handle %u", HandleNumber(handle));
    return handle;
}

void SetOpenedReadTimeout(HANDLE handle, std::uint32_t units) {
    if (units == 0) {
        Log(kLogTrace, "RUVAZI> Read timeout 0 replaced by 100");
        units = kDefaultReadTimeout;
    }
    // Not looked at: a port whose time-out cannot be set keeps its default.
    static_cast<void>(ComSetReadTimeout(handle, units));
}

std::uint32_t ColdStart(const VpiRequest* request) {
    ComChannel* channel = request->channel;
    const auto* params = static_cast<const StartParams*>(request->dataRecord);
    if (channel == nullptr || params == nullptr) {
        return RefuseMissingRecord("ColdStart", kResultRefused);
    }
    vpiEnded = 0;

    channel->readTimeout = params->readTimeout;
    channel->portHandle = nullptr;
    channel->clearedWord = 0;

    if (params->comEnabled != 0) {
        if (!PortNameFits(params->portName)) {
            Log(kLogTrace, "RUVAZI> ColdStart() port name too long");
            return kResultRefused;
        }
        PortConfig config{};
        CopyPortName(config.portName, params->portName);
        config.lineSettings = params->lineSettings;
        config.lineControl = line_control::kDtrRtsOn;

        if (IsNoCommunication(params->portName)) {
            Log(kLogTrace, "RUVAZI> ColdStart() NULLDEV => no communication");
        } else {
            HANDLE handle = OpenCom(config);
            if (handle == nullptr) {
                Log(kLogTrace, "RUVAZI> ColdStart() unable to open %s port", params->portName);
                return kResultRefused;
            }
            Log(kLogTrace, "RUVAZI> ColdStart() port %s opened, file handle %u", params->portName,
                HandleNumber(handle));
            channel->portHandle = handle;
            SetOpenedReadTimeout(handle, params->readTimeout);
        }
        CopyPortName(channel->portConfig.portName, params->portName);
        channel->portConfig.lineSettings = params->lineSettings;
    }

    // Frames that cannot be sent are logged and do not stop the start-up.
    for (int i = 0; i < kInitFrames; ++i) {
        static_cast<void>(SendMasterInit(*channel));
        Sleep(kInitFramePauseMs);
    }
    Log(kLogTrace, "RUVAZI> ColdStart() exited, 0");
    return kResultDone;
}

std::uint32_t WarmStart(const VpiRequest* request) {
    ComChannel* channel = request->channel;
    if (channel == nullptr) {
        return RefuseMissingRecord("WarmStart", kResultRefused);
    }
    if (channel->portHandle != nullptr) {
        static_cast<void>(ComPurge(channel->portHandle));
    }
    for (int i = 0; i < kInitFrames; ++i) {
        if (SendMasterInit(*channel) != 0) {
            return kResultRefused;
        }
        Sleep(kInitFramePauseMs);
    }
    Log(kLogTrace, "RUVAZI> WarmStart() exited, 0");
    return kResultDone;
}
