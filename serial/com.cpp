#include "serial/com.h"

#include <cstring>

#include "serial/device_name.h"

namespace {

constexpr DWORD kOpenReadTimeoutMs = 1000;
constexpr std::uint32_t kDrainTimeoutUnits = 5;  // 50 ms per drain read
constexpr DWORD kDrainReadSize = 512;
constexpr DWORD kQueueSize = 1200;
constexpr char kErrorChar = static_cast<char>(0xFC);

// DTR and RTS control from the lineControl word; enable wins over handshake,
// and for RTS handshake wins over toggle.
DWORD DtrControl(std::uint16_t lineControl) {
    if ((lineControl & line_control::kDtrEnable) != 0) {
        return DTR_CONTROL_ENABLE;
    }
    if ((lineControl & line_control::kDtrHandshake) != 0) {
        return DTR_CONTROL_HANDSHAKE;
    }
    return DTR_CONTROL_DISABLE;
}

DWORD RtsControl(std::uint16_t lineControl) {
    if ((lineControl & line_control::kRtsEnable) != 0) {
        return RTS_CONTROL_ENABLE;
    }
    if ((lineControl & line_control::kRtsHandshake) != 0) {
        return RTS_CONTROL_HANDSHAKE;
    }
    if ((lineControl & line_control::kRtsToggle) != 0) {
        return RTS_CONTROL_TOGGLE;
    }
    return RTS_CONTROL_DISABLE;
}

BYTE LowByte(std::uint16_t slot) {
    return static_cast<BYTE>(slot & 0xFFu);
}

// Changes the state read from the port into the line settings we run with;
// fields not named here keep the value the port reported.
void ApplySettings(DCB& dcb, const LineSettings& settings, std::uint16_t lineControl) {
    dcb.BaudRate = settings.baudRate;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DtrControl(lineControl) & 0x3u;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RtsControl(lineControl) & 0x3u;
    dcb.fAbortOnError = 0;
    dcb.ByteSize = LowByte(settings.dataBits);
    dcb.Parity = LowByte(settings.parity);
    dcb.StopBits = LowByte(settings.stopBits);
    dcb.ErrorChar = kErrorChar;
}

}  // namespace

std::uint32_t ComOpen(const char* deviceName, const LineSettings& settings,
                      std::uint16_t lineControl, HANDLE* handle) {
    const char* platformName = deviceName;
    char prefixed[kPlatformNameCapacity];
    if constexpr (kPlatformNeedsComPrefixAbove9) {
        platformName = PrefixedComName(deviceName, prefixed, sizeof prefixed);
    }

    // Share mode 0: the port is ours alone while it is open.
    HANDLE port = CreateFileA(platformName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    *handle = port;
    if (port == INVALID_HANDLE_VALUE) {
        return com_status::kCannotOpen;
    }
    // The null device has no line to configure.
    if (std::strcmp(deviceName, "NUL") == 0) {
        return com_status::kDone;
    }

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = static_cast<DWORD>(sizeof dcb);
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        return com_status::kStateUnreadable;
    }

    // Time-outs first, so that the port never runs the new settings with
    // the time-outs it had before.
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = kOpenReadTimeoutMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(port, &timeouts)) {
        CloseHandle(port);
        return com_status::kCannotOpen;
    }

    ApplySettings(dcb, settings, lineControl);
    if (!SetCommState(port, &dcb)) {
        CloseHandle(port);
        return com_status::kSettingsRefused;
    }

    // Queue sizes are a request the driver may round or ignore; the port
    // works either way, so the result is not looked at.
    SetupComm(port, kQueueSize, kQueueSize);
    return com_status::kDone;
}

std::uint32_t ComClose(HANDLE handle) {
    return CloseHandle(handle) ? com_status::kDone : com_status::kIoFailed;
}

std::uint32_t ComSetReadTimeout(HANDLE handle, std::uint32_t units) {
    COMMTIMEOUTS timeouts;
    if (!GetCommTimeouts(handle, &timeouts)) {
        return 0;
    }
    const DWORD previousMs = timeouts.ReadTotalTimeoutConstant;
    const DWORD wantedMs = units * 10u;
    if (previousMs != wantedMs) {
        timeouts.ReadTotalTimeoutConstant = wantedMs;
        if (!SetCommTimeouts(handle, &timeouts)) {
            return 0;
        }
    }
    return previousMs / 10u;
}

std::uint32_t ComPurge(HANDLE handle) {
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    // A failed clear still drains: whatever is waiting must not reach the
    // next reply.
    const BOOL cleared = ClearCommError(handle, &errors, &status);
    if (cleared && status.cbInQue == 0) {
        return 0;
    }

    const std::uint32_t previousUnits = ComSetReadTimeout(handle, kDrainTimeoutUnits);
    std::uint8_t scratch[kDrainReadSize];
    BOOL readOk = FALSE;
    DWORD got = 0;
    do {
        got = 0;
        readOk = ReadFile(handle, scratch, kDrainReadSize, &got, nullptr);
    } while (readOk && got == kDrainReadSize);
    // 0 means the previous time-out is unknown (or below 10 ms): keep 50 ms.
    if (previousUnits != 0) {
        ComSetReadTimeout(handle, previousUnits);
    }
    return readOk ? 0u : 1u;
}

std::uint32_t ComBreak(std::uint32_t durationMs, HANDLE handle) {
    SetCommBreak(handle);
    Sleep(durationMs);
    ClearCommBreak(handle);
    return 0;
}

std::uint32_t ComWrite(HANDLE handle, const std::uint8_t* bytes, std::uint32_t count,
                       std::uint32_t* written) {
    DWORD taken = 0;
    if (!WriteFile(handle, bytes, count, &taken, nullptr)) {
        return com_status::kIoFailed;
    }
    if (written != nullptr) {
        *written = taken;
    }
    return taken == count ? com_status::kDone : com_status::kShortWrite;
}

std::uint32_t ComRead(HANDLE handle, std::uint8_t* buffer, std::uint32_t count,
                      std::uint32_t* received) {
    if (received != nullptr) {
        *received = 0;
    }
    std::uint32_t total = 0;
    do {
        // Each platform read asks for the outstanding remainder, as a
        // 16-bit count.
        const std::uint16_t remainder = static_cast<std::uint16_t>(count - total);
        DWORD got = 0;
        if (!ReadFile(handle, buffer + total, remainder, &got, nullptr) || got == 0) {
            return com_status::kIoFailed;
        }
        total += got;
        if (received != nullptr) {
            *received = total;
        }
    } while (total < count);
    return com_status::kDone;
}

std::uint32_t ComPause(std::uint32_t durationMs) {
    Sleep(durationMs);
    return 0;
}
