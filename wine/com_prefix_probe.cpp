// Opens "COM12" under Wine through the serial library and through a plain
// CreateFileA, to show that the library reaches ports above COM9 where the
// plain name does not. The driver script links $WINEPREFIX/dosdevices/com12
// to a pseudo-terminal, reads what this program writes and answers it.
//
// Usage: com_prefix_probe.exe <text to write> <text to expect back>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "serial/com.h"
#include "serial/line_settings.h"
#include "wine/checks.h"

namespace {

using checks::Check;
using checks::Finish;

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) {
        std::printf("usage: com_prefix_probe <text to write> <text to expect back>\n");
        return 2;
    }
    const std::string toWrite = argv[1];
    const std::string toExpect = argv[2];

    // The fault: the plain name of a port above COM9 is no device name.
    HANDLE plain = CreateFileA("COM12", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD plainError = GetLastError();
    Check(plain == INVALID_HANDLE_VALUE,
          "plain CreateFileA(\"COM12\") fails (error " + std::to_string(plainError) + ")");
    if (plain != INVALID_HANDLE_VALUE) {
        CloseHandle(plain);
    }

    // The mend: ComOpen reaches the same port by its device name.
    LineSettings settings{};
    settings.baudRate = 9600;
    settings.dataBits = 8;
    settings.stopBits = 0;  // one stop bit
    settings.parity = 0;    // no parity
    HANDLE port = INVALID_HANDLE_VALUE;
    std::uint32_t status = ComOpen("COM12", settings, 0x0303, &port);
    Check(status == com_status::kDone, "ComOpen(\"COM12\") answers 0 (got " +
                                           std::to_string(status) + ", error " +
                                           std::to_string(GetLastError()) + ")");
    if (status != com_status::kDone) {
        return Finish();
    }

    std::uint32_t written = 0;
    status = ComWrite(port, reinterpret_cast<const std::uint8_t*>(toWrite.data()),
                      static_cast<std::uint32_t>(toWrite.size()), &written);
    Check(status == com_status::kDone && written == toWrite.size(),
          "ComWrite of " + std::to_string(toWrite.size()) + " bytes (status " +
              std::to_string(status) + ", written " + std::to_string(written) + ")");

    // Generous: the driver answers as soon as it has read our bytes.
    ComSetReadTimeout(port, 6000);
    char reply[64] = {};
    std::uint32_t received = 0;
    std::uint32_t wanted = static_cast<std::uint32_t>(toExpect.size());
    if (wanted > sizeof reply - 1) {
        wanted = sizeof reply - 1;
    }
    status = ComRead(port, reinterpret_cast<std::uint8_t*>(reply), wanted, &received);
    Check(status == com_status::kDone && received == wanted &&
              std::memcmp(reply, toExpect.data(), wanted) == 0,
          "ComRead got \"" + std::string(reply, received) + "\" (status " + std::to_string(status) +
              ")");

    status = ComClose(port);
    Check(status == com_status::kDone, "ComClose answers 0 (got " + std::to_string(status) + ")");
    return Finish();
}
