// Shared set-up of the device-link tests: a fresh fake platform, the module
// in service, a trace recorder and one channel filled with a marker.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/records.h"
#include "host/vpi_main.h"
#include "link/frames.h"
#include "testing/fake_serial.h"
#include "testing/trace_recorder.h"

namespace link_test {

constexpr std::uint8_t kMarker = 0xA5;

inline const std::vector<std::uint8_t> kMasterInit = {0xFF, 0x08, 0xF1, 0xCB, 0x3E,
                                                      0x00, 0x01, 0x00, 0xFD};

inline void SetName(char* field, const char* name) {
    std::memset(field, 0, kPortNameSize);
    std::memcpy(field, name, std::strlen(name));
}

inline HANDLE HandleOf(std::uint32_t number) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
}

// The four lines of a master initialisation frame that could not be sent.
inline std::vector<TraceLine> FailedInitFrame() {
    return {Trace("RUVAZI> Trame d'initialisation du mode MAITRE"),
            Trace("RUVAZI> Emision : ff 08 f1 cb 3e 00 01 00 fd"),
            Trace("RUVAZI> Send() error: unable to send to com port, 8 pour 9"),
            Trace("RUVAZI> Erreur emition de la trame d'initialisation, 2")};
}

// The two lines of a master initialisation frame that went out.
inline std::vector<TraceLine> SentInitFrame() {
    return {Trace("RUVAZI> Trame d'initialisation du mode MAITRE"),
            Trace("RUVAZI> Emision : ff 08 f1 cb 3e 00 01 00 fd")};
}

inline void Append(std::vector<TraceLine>& lines, const std::vector<TraceLine>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vpiEnded = 0;
        fake::Reset();
        std::memset(&channel, kMarker, sizeof channel);
        channel.portHandle = nullptr;
    }
    void TearDown() override {
        vpiEnded = 0;
        fake::Reset();
    }

    // A device that starts with DTR and RTS off, so that what an open sets
    // is visible.
    fake::Device& AddQuietDevice(const std::string& name) {
        fake::Device& device = fake::AddDevice(name);
        device.dcb.fDtrControl = DTR_CONTROL_DISABLE;
        device.dcb.fRtsControl = RTS_CONTROL_DISABLE;
        return device;
    }

    // Platform calls made since `mark` (an earlier size of fake::Calls()).
    static std::vector<std::string> CallsSince(std::size_t mark) {
        const std::vector<std::string>& calls = fake::Calls();
        return std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(mark),
                                        calls.end());
    }

    VpiRequest Request(std::uint32_t code, void* data = nullptr) {
        return VpiRequest{&channel, code, 0, 0, data};
    }

    ComChannel channel{};
    TraceRecorder trace;
};

}  // namespace link_test
