// A tiny Win32 host for the real VEZIVADU.dll: loads it the way the host
// application does, finds VpiMain by name and by ordinal, asks for the module
// description and checks every word, both texts byte for byte and the trace
// line that reached the stand-in BELTOR.dll. Exits 0 only when all checks pass.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/records.h"
#include "platform/compiler.h"
#include "wine/beltor_standin.h"
#include "wine/checks.h"

namespace {

using VpiMainEntry = std::uint32_t(VPI_STDCALL*)(const VpiRequest* request);

constexpr std::uint32_t kGetVpiInfo = 14;
constexpr std::uint32_t kMarkerWord = 0xA5A5A5A5u;
constexpr unsigned char kChannelMarker = 0x5A;

// Literal copies of the module's two texts, with their terminating NULs.
const char kShortName[] = "Zad\xE9z Udivud EVUVA";
const char kBanner[] =
    "\r\n"
    "--------------------------------          \r\n"
    "       Radiv Azevur ERAVU.                \r\n"
    "--------------------------------          \r\n";
const char kTraceLine[] = "RUVAZI> GetVpiInfo() exited";
constexpr unsigned int kTraceCategory = 8;

using checks::Check;
using checks::Finish;

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

void PrintTrace() {
    for (int i = 0; i < BeltorCallCount(); ++i) {
        std::printf("  trace [%u] %s\n", BeltorCallCategory(i), BeltorCallText(i));
    }
}

// Whether `pointer` lies in memory that belongs to the loaded module image.
bool InModule(const void* pointer, HMODULE module) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(pointer, &info, sizeof info) == 0) {
        return false;
    }
    return info.AllocationBase == static_cast<void*>(module);
}

// Calls the entry through the plain asm call sequence of a host and reports
// how far the stack pointer moved: 0 when the callee removed its argument.
std::uint32_t CallMeasuringStack(VpiMainEntry entry, const VpiRequest* request,
                                 std::int32_t* stackDelta) {
    std::uint32_t result;
    std::uint32_t before;
    std::uint32_t after;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl %[request]\n\t"
        "call *%[entry]\n\t"
        "movl %%esp, %%edi\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "=&S"(before), "=&D"(after)
        : [entry] "r"(entry), [request] "r"(request)
        : "ecx", "edx", "memory", "cc");
    *stackDelta = static_cast<std::int32_t>(after - before);
    return result;
}

void FillMarker(VpiInfo& info) {
    std::memset(&info, 0xA5, sizeof info);
}

void CheckGetVpiInfo(VpiMainEntry vpiMain, HMODULE module) {
    ComChannel channel;
    std::memset(&channel, kChannelMarker, sizeof channel);
    ComChannel channelBefore = channel;
    VpiInfo info;
    FillMarker(info);
    VpiRequest request{&channel, kGetVpiInfo, 0, 0, &info};

    BeltorClear();
    std::uint32_t result = vpiMain(&request);
    Check(result == 0, "GetVpiInfo answers 0 (got " + std::to_string(result) + ")");
    Check(info.word0 == 70, "word 0 is 70 (got " + std::to_string(info.word0) + ")");
    Check(info.word3 == 47, "word 3 is 47 (got " + std::to_string(info.word3) + ")");
    Check(info.word4 == 4, "word 4 is 4 (got " + std::to_string(info.word4) + ")");
    Check(info.word5 == kMarkerWord, "word 5 keeps the marker (got " + Hex(info.word5) + ")");
    Check(info.word6 == kMarkerWord, "word 6 keeps the marker (got " + Hex(info.word6) + ")");
    Check(info.word7 == 3, "word 7 is 3 (got " + std::to_string(info.word7) + ")");
    Check(std::memcmp(&channel, &channelBefore, sizeof channel) == 0,
          "the ComChannel is left untouched");

    const char* shortName = info.shortName;
    bool shortNameUsable = shortName != nullptr && InModule(shortName, module);
    Check(shortNameUsable, "word 1 points into the module image");
    if (shortNameUsable) {
        Check(std::strlen(shortName) == 18,
              "short name is 18 bytes (got " + std::to_string(std::strlen(shortName)) + ")");
        Check(static_cast<unsigned char>(shortName[3]) == 0xE9, "short name byte 3 is 0xE9");
        Check(std::memcmp(shortName, kShortName, sizeof kShortName) == 0,
              "short name matches byte for byte");
    }

    const char* banner = info.banner;
    bool bannerUsable = banner != nullptr && InModule(banner, module);
    Check(bannerUsable, "word 2 points into the module image");
    if (bannerUsable) {
        std::size_t length = std::strlen(banner);
        Check(length == 134, "banner is 134 bytes (got " + std::to_string(length) + ")");
        Check(std::memcmp(banner, kBanner, sizeof kBanner) == 0, "banner matches byte for byte");
        // CR LF, then three lines of 42 characters, each followed by CR LF.
        bool linesOk = length == 134 && std::strncmp(banner, "\r\n", 2) == 0;
        for (int line = 0; linesOk && line < 3; ++line) {
            const char* start = banner + 2 + line * 44;
            linesOk =
                std::strncmp(start + 42, "\r\n", 2) == 0 && std::memchr(start, '\r', 42) == nullptr;
        }
        Check(linesOk, "banner has three text lines of 42 characters");
    }

    std::printf("Trace of GetVpiInfo:\n");
    PrintTrace();
    Check(BeltorCallCount() == 1 && BeltorDroppedCount() == 0,
          "GetVpiInfo wrote one trace line (got " + std::to_string(BeltorCallCount()) + ")");
    if (BeltorCallCount() >= 1) {
        Check(BeltorCallCategory(0) == kTraceCategory,
              "trace line has category 8 (got " + std::to_string(BeltorCallCategory(0)) + ")");
        Check(std::strcmp(BeltorCallText(0), kTraceLine) == 0,
              "trace line is \"RUVAZI> GetVpiInfo() exited\"");
    }
}

void CheckNoOperation(VpiMainEntry vpiMain, std::uint32_t code) {
    ComChannel channel;
    std::memset(&channel, kChannelMarker, sizeof channel);
    ComChannel channelBefore = channel;
    VpiInfo info;
    FillMarker(info);
    VpiInfo infoBefore = info;
    VpiRequest request{&channel, code, 0, 0, &info};

    BeltorClear();
    std::uint32_t result = vpiMain(&request);
    std::string name = "code " + Hex(code);
    Check(result == 2, name + " answers 2 (got " + std::to_string(result) + ")");
    Check(BeltorCallCount() == 0, name + " writes no trace line");
    Check(std::memcmp(&info, &infoBefore, sizeof info) == 0 &&
              std::memcmp(&channel, &channelBefore, sizeof channel) == 0,
          name + " touches no record");
    PrintTrace();
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("Loading VEZIVADU.dll\n");
    HMODULE module = LoadLibraryA("VEZIVADU.dll");
    DWORD loadError = module == nullptr ? GetLastError() : 0;
    Check(module != nullptr,
          "LoadLibraryA(\"VEZIVADU.dll\")" +
              (module == nullptr ? " (error " + std::to_string(loadError) + ")" : std::string()));
    if (module == nullptr) {
        return Finish();
    }

    FARPROC byName = GetProcAddress(module, "VpiMain");
    FARPROC byOrdinal = GetProcAddress(module, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(1)));
    Check(byName != nullptr, "VpiMain found by name");
    Check(byOrdinal != nullptr, "ordinal 1 found");
    Check(byName == byOrdinal, "name and ordinal 1 give the same address");
    if (byName == nullptr) {
        return Finish();
    }
    auto vpiMain = reinterpret_cast<VpiMainEntry>(reinterpret_cast<void (*)()>(byName));

    CheckGetVpiInfo(vpiMain, module);
    CheckNoOperation(vpiMain, 0);
    CheckNoOperation(vpiMain, 17);
    CheckNoOperation(vpiMain, 0xFFFFFFFFu);

    // The Win32 standard convention: VpiMain removes its one argument.
    ComChannel channel{};
    VpiRequest request{&channel, 17, 0, 0, nullptr};
    std::int32_t stackDelta = 0;
    std::uint32_t result = CallMeasuringStack(vpiMain, &request, &stackDelta);
    Check(result == 2 && stackDelta == 0, "VpiMain removes its argument from the stack (moved " +
                                              std::to_string(stackDelta) + " bytes)");

    Check(FreeLibrary(module) != 0, "FreeLibrary");
    return Finish();
}
